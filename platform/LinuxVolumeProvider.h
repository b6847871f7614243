// The volumes of this machine. The letters come from, in this order:
//   1. the variable OSTREL_DRIVES ("D=/srv/rec1;E=/srv/rec2"),
//   2. the section [drives] of ostrel.ini in the host folder,
//   3. discovery from the mount table, which writes what it found into that
//      section, so that letters stay put when disks come and go later.
// The mapping is read anew at every call, so an edited file or variable takes
// effect without a restart. The system disk is the volume whose root is "/";
// buses and removable media come from sysfs and udev; space from statvfs.
//
// The provider remembers how each root folder looked when it first saw it
// (in this process): a root that was a mount point and no longer is counts as
// not present.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/DriveMap.h"
#include "platform/VolumeProvider.h"

namespace orvale::platform {

// How a root folder looks on the system.
struct RootIdentity {
    bool exists = false;      // a folder is there
    bool mountPoint = false;  // "/", or on another device than its parent folder
    uint64_t device = 0;
};

RootIdentity IdentifyRoot(const std::string& root);

// Whether a volume whose root looked like `first` when first seen is present
// now that it looks like `now`.
bool StillPresent(const RootIdentity& first, const RootIdentity& now);

class LinuxVolumeProvider final : public VolumeProvider {
  public:
    // Gives the text of the mount table; the default reads /proc/self/mountinfo.
    using TextSource = std::function<std::string()>;

    explicit LinuxVolumeProvider(TextSource mountTable = {});

    std::vector<VolumeInfo> ListVolumes() override;
    std::string RootFolder(char letter) override;
    bool IsPresent(char letter) override;
    int GetSpace(char letter, VolumeSpace& space) override;

    // The letters in force, discovering (and recording) them when neither
    // the variable nor the INI file names any.
    std::vector<DriveMapping> Mapping();

  private:
    struct Sighting {
        std::string root;
        RootIdentity identity;
    };

    std::optional<DriveMapping> Find(char letter);
    bool Present(const DriveMapping& mapping);
    std::vector<DriveMapping> Discover(const std::string& iniPath);

    TextSource mountTable_;
    std::mutex mutex_;  // guards firstSeen_ and the writing of the INI file
    std::map<char, Sighting> firstSeen_;
};

}  // namespace orvale::platform
