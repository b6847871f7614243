#include "recorder/store/TrackFolder.h"

#include "platform/VolumeProvider.h"

namespace orvale::recorder {

bool MakeTrackFolder(const std::filesystem::path& folder, const std::string& driveName) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    if (!driveName.empty() && !platform::CurrentVolumeProvider()->IsPresent(driveName.front())) {
        return false;
    }
    std::filesystem::create_directories(folder, error);
    return !error && std::filesystem::is_directory(folder, error);
}

}  // namespace orvale::recorder
