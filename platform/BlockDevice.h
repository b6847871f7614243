// What the system tells about the block device under a folder: whether it is
// removable media and which storage bus it hangs on. The facts come from
// sysfs (/sys/dev/block/MAJOR:MINOR) and from udev's database
// (/run/udev/data/bMAJOR:MINOR, properties ID_BUS and ID_PATH); a device that
// neither knows (virtual disks, loop devices, containers) reads as fixed on an
// unknown bus.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MountTable.h"

namespace orvale::platform {

struct BlockDeviceFacts {
    bool removable = false;
    uint32_t busType = kBusUnknown;
};

// Bus number from udev's ID_BUS and ID_PATH and the resolved sysfs path of
// the device; any of them may be empty.
uint32_t BusTypeOf(std::string_view idBus, std::string_view idPath, std::string_view sysfsPath);

// Facts of the block device MAJOR:MINOR (a partition answers for its disk).
BlockDeviceFacts ProbeBlockDevice(unsigned major, unsigned minor);

// Facts of the device that holds the filesystem mounted at `mount`.
BlockDeviceFacts ProbeMount(const MountEntry& mount);

// Facts of the device that holds `folder`, found through `mounts`.
BlockDeviceFacts ProbeFolder(const std::string& folder, const std::vector<MountEntry>& mounts);

}  // namespace orvale::platform
