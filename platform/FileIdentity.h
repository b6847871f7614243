// The identity of a file: its device and inode numbers.
//
// A path names a file only at the moment it is looked up. A connection that
// stays open keeps the file it opened, even after that file was removed or
// another file was moved to its path; comparing identities tells the two
// apart, so that an owner can reopen the file that the path names now.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvale::platform {

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path` (links followed); empty when there is no
// such file or it cannot be examined.
std::optional<FileIdentity> IdentifyFile(const std::string& path);

}  // namespace orvale::platform
