#include "platform/PublicDocuments.h"

#include "platform/Environment.h"

namespace orvale::platform {
namespace {

std::string Env(const char* name) {
    return EnvironmentVariable(name);
}

std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

std::string PublicDocumentsFolder() {
    if (std::string dir = Env("OSTREL_PUBLIC_DIR"); !dir.empty()) {
        return WithoutTrailingSlash(dir);
    }
    if (std::string data = Env("XDG_DATA_HOME"); !data.empty()) {
        return WithoutTrailingSlash(data) + "/ostrel";
    }
    if (std::string home = Env("HOME"); !home.empty()) {
        return WithoutTrailingSlash(home) + "/.local/share/ostrel";
    }
    return {};
}

}  // namespace orvale::platform
