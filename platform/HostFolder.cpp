#include "platform/HostFolder.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <system_error>

namespace orvale::platform {
namespace {

std::mutex g_mutex;
std::string g_override;

std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string ExecutableFolder() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string HostFolder() {
    {
        std::lock_guard lock(g_mutex);
        if (!g_override.empty()) return g_override;
    }
    if (const char* env = std::getenv("OSTREL_HOST_DIR"); env != nullptr && *env != '\0') {
        return WithoutTrailingSlash(env);
    }
    return ExecutableFolder();
}

void SetHostFolder(const std::string& folder) {
    std::lock_guard lock(g_mutex);
    g_override = folder.empty() ? std::string() : WithoutTrailingSlash(folder);
}

}  // namespace orvale::platform
