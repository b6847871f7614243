// Making the track folder of a channel hour. Folders are made only while the
// drive they belong to is present, so nothing is ever written into the empty
// mount-point folder of an unmounted volume on the system disk.
#pragma once

#include <filesystem>
#include <string>

namespace orvale::recorder {

// True when `folder` exists or was made. `driveName` is the letter of the
// drive the folder lies on; an empty name (a folder outside the drive map)
// skips the presence test.
bool MakeTrackFolder(const std::filesystem::path& folder, const std::string& driveName);

}  // namespace orvale::recorder
