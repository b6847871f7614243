#include "platform/FileIdentity.h"

#include <sys/stat.h>

namespace orvale::platform {

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

}  // namespace orvale::platform
