#include "platform/FileRename.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace orvale::platform {

bool SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fdatasync(fd) == 0;
    ::close(fd);
    return synced;
}

RenameResult RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return RenameResult::kDone;
    }
    if (errno == EEXIST) return RenameResult::kTargetExists;
    if (errno != EINVAL && errno != ENOSYS) return RenameResult::kFailed;
    // The file system cannot rename without replacing: a hard link fails
    // just as atomically when the target exists.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno == EEXIST ? RenameResult::kTargetExists : RenameResult::kFailed;
    }
    ::unlink(from.c_str());
    return RenameResult::kDone;
}

}  // namespace orvale::platform
