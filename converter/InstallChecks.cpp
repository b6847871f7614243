#include "converter/InstallChecks.h"

#include "platform/RegistryValues.h"
#include "platform/VolumeProvider.h"

namespace orvale::converter {

bool IsSupportedHostVersion(uint32_t major, uint32_t minor) {
    return major > 2 || (major == 2 && minor >= 10);
}

bool CheckInstalledVersion() {
    uint32_t major = 0;
    if (!platform::ReadRegistryDword(kHostProductKey, "VersionMajor", major)) return false;
    uint32_t minor = 0;
    if (major == 2 && !platform::ReadRegistryDword(kHostProductKey, "VersionMinor", minor)) {
        return false;
    }
    return IsSupportedHostVersion(major, minor);
}

uint64_t FreeGiB(const std::vector<std::string>& driveNames) {
    const auto volumes = platform::CurrentVolumeProvider();
    uint64_t sum = 0;
    for (const std::string& name : driveNames) {
        platform::VolumeSpace space;
        if (name.size() != 1 || volumes->GetSpace(name[0], space) != 0) continue;
        sum += space.free >> 30;
    }
    return sum;
}

bool CheckFreeSpace(const std::vector<std::string>& driveNames) {
    return FreeGiB(driveNames) >= kMinFreeGiB;
}

}  // namespace orvale::converter
