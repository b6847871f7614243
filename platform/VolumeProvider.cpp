#include "platform/VolumeProvider.h"

#include <mutex>
#include <utility>

#include "platform/LinuxVolumeProvider.h"

namespace orvale::platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<VolumeProvider> g_installed;

// The default lives for the whole process: it remembers how each root
// looked when first seen.
std::shared_ptr<VolumeProvider> DefaultProvider() {
    static const std::shared_ptr<VolumeProvider> provider = std::make_shared<LinuxVolumeProvider>();
    return provider;
}

}  // namespace

std::shared_ptr<VolumeProvider> CurrentVolumeProvider() {
    {
        std::lock_guard lock(g_mutex);
        if (g_installed) return g_installed;
    }
    return DefaultProvider();
}

void InstallVolumeProvider(std::shared_ptr<VolumeProvider> provider) {
    std::lock_guard lock(g_mutex);
    g_installed = std::move(provider);
}

}  // namespace orvale::platform
