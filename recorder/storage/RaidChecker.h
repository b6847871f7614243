// The health of a RAID controller's logical (virtual) and physical disks, as
// its vendor library "libi2bdg.so" reports them. The checker loads the
// library when it is made and unloads it when it is destroyed; the library's
// functions are looked up anew at every query. Without the library every
// query answers false and appends nothing.
//
// The library's answers are not trusted: entry counts are clamped to what
// its buffer holds, and status texts are read only within their fields.
// Queries append to the caller's lists; entries appended before a failure
// stay there. A checker has no lock: one thread queries it at a time.
#pragma once

#include <list>
#include <memory>

#include "platform/DynamicLibrary.h"
#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {

class RaidChecker : public std::enable_shared_from_this<RaidChecker> {
  public:
    RaidChecker();
    ~RaidChecker();
    RaidChecker(const RaidChecker&) = delete;
    RaidChecker& operator=(const RaidChecker&) = delete;

    // Appends one entry per logical drive; true on success.
    bool getVirtualDiskStatus(std::list<media_raid_virtual_disk_s>& disks);

    // Appends one entry per used physical-disk slot; true on success.
    bool getPhysicalDiskStatus(std::list<media_raid_physical_disk_s>& disks);

  private:
    std::unique_ptr<platform::DynamicLibrary> library_;  // null when not loaded
};

}  // namespace orvale::recorder
