#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "platform/HostFolder.h"

namespace orvale::platform {

DynamicLibrary::DynamicLibrary(void* handle, std::string file)
    : handle_(handle), file_(std::move(file)) {}

DynamicLibrary::~DynamicLibrary() {
    ::dlclose(handle_);
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& file, std::string* error) {
    // An empty name would give the main program's handle.
    if (file.empty()) {
        if (error != nullptr) *error = "no library file named";
        return nullptr;
    }
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (error != nullptr) {
            const char* text = ::dlerror();
            *error = text != nullptr ? text : "cannot load " + file;
        }
        return nullptr;
    }
    return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, file));
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::OpenBesideHost(const std::string& fileName,
                                                               const char* overrideVariable,
                                                               std::string* error) {
    if (const char* named = std::getenv(overrideVariable); named != nullptr && *named != '\0') {
        return Open(named, error);
    }
    const std::string host = HostFolder();
    if (!host.empty()) {
        const std::filesystem::path beside = std::filesystem::path(host) / fileName;
        std::error_code ignored;
        if (std::filesystem::exists(beside, ignored)) {
            if (auto library = Open(beside.string(), error)) return library;
        }
    }
    return Open(fileName, error);
}

void* DynamicLibrary::Symbol(const char* name) const {
    return ::dlsym(handle_, name);
}

}  // namespace orvale::platform
