// Writes one data file of one channel, hour and profile, with that hour's
// index database.
//
// The owner hands it finished write buffers; the drive's write command
// handler runs one asynchronous data-file write per buffer, in order, under
// the channel id (so all writers of a channel on a drive take turns). Once a
// write's transfer is over the writer releases the channel's queue, so the
// next write is on its way while this one's seconds go into the index
// database (one transaction per buffer, committed in file order); the owner
// hears of each write, in order, only after its rows are committed. The data
// file is flushed before the rows of its writes are committed, and the
// index's log is made durable every IndexFile::kDurableEvery on the same job,
// so a power cut loses at most the last seconds and never leaves a row
// pointing at bytes the device does not hold. A failed write or flush adds
// no rows, and the writer takes no more seconds (HasFailed). Close waits for every result, marks
// the data file's last index row, trims the file and, for an ARB writer, merges its
// ".kvtarb" index into the hour's ".kvtidx".
//
// Lock order: the handler's lock, then `mutex_`, then the queue's lock. The
// writer never calls into the handler while it holds `mutex_`, and commits
// the rows of a write without it (a start waits for `mutex_` under the
// handler's lock); Close waits for its results without it. Registers its hour folder as in use.
// Held by shared pointers (queued commands keep it alive).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/io_context.hpp>

#include "common/ConcurrentVector.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/DataFile.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/RecordFileInfo.h"
#include "recorder/store/WriteBuffer.h"
#include "recorder/store/WriteCommandHandler.h"

namespace orvale::recorder {

class FileWriter : public std::enable_shared_from_this<FileWriter> {
  public:
    // (queue index, error code (0 = success), error text, bytes written,
    // time of the last written second, track id).
    using ResultCallback = WriteCommandHandler::Done;

    // `driveName` is the letter of the drive the track folder lies on; an
    // empty name means a folder outside the drive map (no presence check).
    static std::shared_ptr<FileWriter> Create(int32_t trackId, std::filesystem::path trackFolder,
                                              std::string driveName, boost::asio::io_context& io,
                                              std::shared_ptr<WriteCommandHandler> handler,
                                              std::shared_ptr<FolderInUseContainer> folders);

    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Creates the track folder and the preallocated data file, named by the
    // location's start second, or by the next second of its hour whose name
    // no file holding records has taken.
    bool CreateDataFile(const record_file_info_s& location, int64_t requiredSize);
    // Creates the track folder and the hour's index database when missing.
    bool CreateIndexFile(const record_file_info_s& location);
    // Queues one buffer; the callback gets the write's result. Always true.
    bool Write(const std::shared_ptr<WriteBuffer>& buffer, ResultCallback callback);
    // Waits for the queued buffers, then finishes the index and the data file.
    void Close();

    // Bytes still free in the data file after the queued buffers.
    int64_t GetRemainingSize() const;
    int64_t GetStartTime() const;
    int32_t GetTrackId() const { return trackId_; }
    int32_t GetProfile() const;
    // Whether a write of this writer failed: it takes no more seconds.
    bool HasFailed() const { return failed_; }
    // Whether the writer's track folder still exists (a removed hour or an
    // unmounted drive stops the writer).
    bool FolderExists() const;
    const std::string& GetDriveName() const { return driveName_; }
    const std::filesystem::path& GetFolderPath() const { return folderPath_; }
    std::shared_ptr<DataFile> GetDataFile() const;
    std::shared_ptr<IndexFile> GetIndexFile() const;

    // "YYYYMMDDHH0000" + ".kvtidx" (".kvtarb" for the ARB profile).
    static std::string MakeIndexFileName(int64_t time, int profile);
    // "YYYYMMDDhhmmss" + ".kvtldt" for the low profile, ".kvthdt" otherwise.
    static std::string MakeDataFileName(int64_t time, int profile);

    // The start of the write command of `buffer`; `release` lets the next
    // command start once the transfer is over.
    void OnWriteCommand(unsigned queue, WriteCommandHandler::Done done,
                        WriteCommandHandler::Release release,
                        const std::shared_ptr<WriteBuffer>& buffer);

  private:
    FileWriter(int32_t trackId, std::filesystem::path trackFolder, std::string driveName,
               boost::asio::io_context& io, std::shared_ptr<WriteCommandHandler> handler,
               std::shared_ptr<FolderInUseContainer> folders);

    // A write whose transfer is over, on its way to its owner: the buffer
    // whose rows are to be committed (none when the write failed), then the
    // report of its result (the write's error, or the flush's).
    struct Finishing {
        std::shared_ptr<WriteBuffer> indexed;
        std::error_code error;
        std::function<void(const std::error_code&)> report;
    };

    bool MakeFolder() const;
    void OnWriteDone(const std::shared_ptr<WriteBuffer>& buffer, const std::error_code& error,
                     const WriteCommandHandler::Release& release,
                     std::function<void(const std::error_code&)> report);
    // Commits and reports the finished writes in file order, on a job of the
    // I/O service (so the next write's transfer is not held up by it).
    void FinishInOrder(Finishing finishing);
    bool HasIndex() const;
    void RunFinishing();
    // Forces the data of the writes about to be indexed to the device.
    std::error_code FlushData();
    void MakeIndexDurable(bool now);
    void WriteIndexRows(const WriteBuffer& buffer);
    void OnResultReported();
    void MergeArbIndex();

    mutable std::recursive_mutex mutex_;
    boost::asio::io_context& io_;
    const int32_t trackId_;
    // Buffers handed to Write whose transfer is not over, in order.
    ConcurrentVector<std::shared_ptr<WriteBuffer>> writeBuffers_;
    std::shared_ptr<IndexFile> indexFile_;
    std::shared_ptr<DataFile> dataFile_;
    record_file_info_s location_;
    const std::filesystem::path folderPath_;
    const std::string driveName_;
    std::atomic<bool> opened_{false};
    std::atomic<bool> failed_{false};
    std::shared_ptr<WriteCommandHandler> commandHandler_;
    std::shared_ptr<FolderInUseContainer> folders_;
    FolderInUseRegistration hour_;

    std::mutex stateMutex_;  // guards what follows
    std::deque<Finishing> finishing_;
    bool finishingRuns_ = false;
    size_t unreported_ = 0;             // buffers whose owner has not had the result
    std::condition_variable reported_;  // Close waits for unreported_ == 0
};

}  // namespace orvale::recorder
