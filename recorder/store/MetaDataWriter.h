// Opens the metadata database of the hour a channel is recording, in the
// channel's track folder for that hour. Made by the drive; the recorder uses
// the current file and drops the writer when it changes hours. Registers its
// hour folder as in use while it lives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/MetaDataFile.h"
#include "recorder/store/RecordFileInfo.h"

namespace orvale::recorder {

class MetaDataWriter {
  public:
    // `driveName`: the letter of the drive the folder lies on (empty: a
    // folder outside the drive map).
    MetaDataWriter(int32_t trackId, std::filesystem::path folder,
                   std::shared_ptr<FolderInUseContainer> folders, std::string driveName = {});

    MetaDataWriter(const MetaDataWriter&) = delete;
    MetaDataWriter& operator=(const MetaDataWriter&) = delete;

    // Creates the track folder when missing and opens the hour's database.
    bool Open(const record_file_info_s& location, int64_t preallocSize);
    void Close();

    int32_t TrackId() const { return trackId_; }
    int64_t StartTime() const { return location_.startTime; }
    const std::shared_ptr<MetaDataFile>& File() const { return file_; }
    const std::string& DriveName() const { return driveName_; }

  private:
    int32_t trackId_;
    std::filesystem::path folder_;
    std::string driveName_;
    record_file_info_s location_;
    std::shared_ptr<MetaDataFile> file_;
    std::shared_ptr<FolderInUseContainer> folders_;
    FolderInUseRegistration hour_;
};

}  // namespace orvale::recorder
