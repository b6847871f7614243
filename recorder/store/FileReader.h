// Read access to one recorded hour of one channel on one drive and track:
// the hour's index and metadata databases and the data files the index
// names, in the order of the first second indexed to each. Follows one
// profile at a time (1 normal, 2 low) and can switch to the other one where
// only it has data.
//
// The opening, stepping and query operations take no lock: one thread drives
// a reader. `mutex_` guards what the read path shares with that thread: the
// queued read requests, the opened flag and the current data file. Reads run
// through the drive's read command handler, one at a time per channel. Every
// log line starts with "MID[" + the media id. Registers its hour folder as in
// use. Held by shared pointers (queued reads keep it alive).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "common/ConcurrentLock.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/BufferPool.h"
#include "recorder/store/DataFile.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/MetaDataFile.h"
#include "recorder/store/ReadBuffer.h"
#include "recorder/store/ReadCommandHandler.h"

namespace orvale::recorder {

class FileReader : public std::enable_shared_from_this<FileReader> {
  public:
    static std::shared_ptr<FileReader> Create(std::filesystem::path trackFolder, int profile,
                                              std::string driveName, boost::asio::io_context& io,
                                              std::shared_ptr<BufferPool> bufferPool,
                                              std::shared_ptr<FolderInUseContainer> folders);

    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    void SetMediaId(uint32_t mediaId) { mediaId_ = mediaId; }
    uint32_t GetMediaId() const { return mediaId_; }
    int GetProfile() const { return profile_; }

    bool OpenIndexFile(int64_t time);
    bool OpenMetaDataFile(int64_t time);
    // Caches the hour's first recorded second; true when there is one.
    bool LoadStartTime();
    int64_t GetStartTime(bool allowSwitch);
    int64_t GetEndTime(bool allowSwitch);
    int64_t GetLastIndexTime(bool anyProfile);

    // Time of the key-frame row nearest to `time` in the direction (0: none).
    int64_t FindIndexAt(int64_t time, bool forward);
    // As FindIndexAt in the low profile for profile type 6, else the normal one.
    int64_t FindIndexAtProfile(int64_t time, bool forward, int profileType);
    // The nearer row of both profiles; the reader follows its profile.
    int64_t FindNearestIndex(int64_t time, bool forward);

    // Makes the data file holding `time` current (0: the first file when
    // forward, else the last).
    bool OpenDataFileAt(int64_t time, bool forward);
    bool OpenNextDataFile();
    bool OpenPreviousDataFile();
    bool HasNextDataFile();
    std::shared_ptr<DataFile> GetNextDataFile();
    std::shared_ptr<DataFile> GetPreviousDataFile();
    void CloseDataFile();

    bool GetIFrameIndex(std::vector<index_row_s>& rows);
    bool GetDualTrackInfos(std::vector<dual_track_row_s>& rows);
    std::shared_ptr<IndexFile> GetIndexFile() const { return indexFile_; }
    std::shared_ptr<MetaDataFile> GetMetaDataFile() const { return metaDataFile_; }
    std::shared_ptr<DataFile> GetCurrentDataFile() const;
    const std::filesystem::path& GetFolderPath() const { return folderPath_; }
    const std::string& GetDriveName() const { return driveName_; }

    // Queues one read request. Always true.
    bool QueueRead(std::shared_ptr<ReadBuffer> request);
    // Takes back a queued request whose read command could not be posted.
    void CancelRead(const std::shared_ptr<ReadBuffer>& request);
    // The start function of the reader's read command: reads the oldest
    // queued request into its buffer (one command is posted per request). A request that cannot be read gets its
    // `failed` flag.
    void OnReadCommand(unsigned queue, ReadCommandHandler::Done done);

    static std::string MakeIndexFileName(int64_t time);

  private:
    FileReader(std::filesystem::path trackFolder, int profile, std::string driveName,
               boost::asio::io_context& io, std::shared_ptr<BufferPool> bufferPool,
               std::shared_ptr<FolderInUseContainer> folders);

    bool RefreshDataFileNames(std::vector<std::string>& names);
    // Opens the data file of the list entry `index` (not made current).
    std::shared_ptr<DataFile> OpenListedFile(size_t index);
    // Opens entry `index` and makes it current.
    bool MakeCurrent(size_t index);
    bool IsDataFileOpened() const;
    void OnRead(const std::shared_ptr<ReadBuffer>& request, const std::error_code& error);

    mutable ContainerMutex mutex_;
    boost::asio::io_context& io_;
    std::shared_ptr<BufferPool> bufferPool_;
    std::vector<std::shared_ptr<ReadBuffer>> readRequests_;
    const std::filesystem::path folderPath_;
    const std::string driveName_;
    bool dataFileOpened_ = false;
    int64_t startTime_ = 0;
    std::shared_ptr<IndexFile> indexFile_;
    std::shared_ptr<DataFile> dataFile_;
    std::shared_ptr<MetaDataFile> metaDataFile_;
    std::vector<std::string> dataFileNames_;
    size_t dataFileIndex_ = 0;
    int profile_;
    uint32_t mediaId_ = 0;
    std::shared_ptr<FolderInUseContainer> folders_;
    FolderInUseRegistration hour_;
};

}  // namespace orvale::recorder
