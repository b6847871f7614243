// The kernel's table of mounted filesystems (/proc/self/mountinfo) and the
// letters that discovery gives them: "/" is C; every other local, writable
// filesystem on a block device gets D, E, ... in the order of its mount point.
// Bind mounts of a sub-folder, a second mount of one device, read-only and
// pseudo filesystems and everything under /boot get no letter.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DriveMap.h"

namespace orvale::platform {

struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;        // folder of the filesystem that is mounted ("/" unless a bind mount)
    std::string mountPoint;  // escapes decoded ("\040" is a space)
    std::string fsType;
    std::string source;  // "/dev/sdb1", "tmpfs", "server:/export", ...
    bool readOnly = false;
};

// The entries of a mountinfo text in table order; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The entry whose mount point holds `folder` most closely (the longest
// matching mount point, the later one on a tie); nullptr when none does.
const MountEntry* MountOf(const std::vector<MountEntry>& mounts, const std::string& folder);

// Answers whether the block device under a mount is removable media.
using RemovableProbe = std::function<bool(const MountEntry&)>;

// Letters for the mounted filesystems. Kinds: CD/DVD filesystems are cdrom,
// RAM block devices ramdisk, removable media removable, the rest fixed.
std::vector<DriveMapping> DiscoverDrives(const std::vector<MountEntry>& mounts,
                                         const RemovableProbe& isRemovable);

}  // namespace orvale::platform
