#include "recorder/store/MetaDataWriter.h"

#include <boost/timer/timer.hpp>

#include "common/Log.h"
#include "recorder/store/TrackFolder.h"

namespace orvale::recorder {
namespace fs = std::filesystem;
using common::kLogFatal;
using common::kLogTrace;

MetaDataWriter::MetaDataWriter(int32_t trackId, fs::path folder,
                               std::shared_ptr<FolderInUseContainer> folders, std::string driveName)
    : trackId_(trackId),
      folder_(std::move(folder)),
      driveName_(std::move(driveName)),
      folders_(std::move(folders)),
      hour_(folders_, HourFolderKeyOfTrackFolder(folder_)) {}

bool MetaDataWriter::Open(const record_file_info_s& location, int64_t preallocSize) {
    if (!MakeTrackFolder(folder_, driveName_)) {
        OLOG(kLogFatal) << "Failed to create a directory. path = " << folder_;
        return false;
    }
    location_ = location;
    const fs::path path = folder_ / MetaDataFile::MakeFileName(location.startTime);
    file_ = MetaDataFile::Create(path, folders_);
    boost::timer::cpu_timer timer;
    if (!file_->Open(preallocSize)) {
        OLOG(kLogFatal) << "Failed to open a metadata file. path = " << path;
        return false;
    }
    OLOG(kLogTrace) << "Create METADATA FILE TIME: " << timer.format();
    return true;
}

void MetaDataWriter::Close() {
    file_.reset();
}

}  // namespace orvale::recorder
