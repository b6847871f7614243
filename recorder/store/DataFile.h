// A data file: the frame records of one channel, one profile and one stretch
// of time (at most an hour), in a file named by its first second
// (YYYYMMDDhhmmss + extension).
//
// Layout: an 83-byte header and a skip record fill the first 4096-byte
// sector; records follow from offset 4096, written in whole sectors; after
// the data of every write stand a skip record up to the sector boundary and
// an end record at the start of the next sector, which the next write
// overwrites. So the file always ends its data with an end record.
//
// The writing side (Create, Write..., FinishWrite) has one write in flight
// at a time: every write ends with the sector of its end record, where the
// next one begins, so a second write started meanwhile is refused. The
// reading side (Open, Read..., Close) runs one read at a time per buffer.
// Transfers are unbuffered and asynchronous; completions run on the I/O
// service given at construction and keep the object and the buffer alive;
// a transfer started from a transfer's completion runs on the same thread
// right after it (no other thread is woken for it). Offsets, times and the size are atomics, read
// by other threads. The object is held by shared pointers (Write and Read need one).
//
// A file that holds records is never overwritten: Create reuses an existing
// file only when nothing was written past its header.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include <boost/asio/io_context.hpp>

#include "platform/DirectFile.h"
#include "recorder/store/ReadBuffer.h"
#include "recorder/store/WriteBuffer.h"

namespace orvale::recorder {

#pragma pack(push, 1)
struct data_file_header_s {
    char magic[4] = {'Q', 'Z', 'D', 'F'};
    uint32_t version = 1;
    char channelId[68] = {};  // cut to 68 bytes, NUL-filled, no NUL when full
    int32_t trackId = 0;
    uint8_t zero[3] = {};
};
#pragma pack(pop)

static_assert(sizeof(data_file_header_s) == 83);

class DataFile : public std::enable_shared_from_this<DataFile> {
  public:
    using WriteCompletion =
        std::function<void(const std::error_code& error, uint64_t transferred, int64_t lastTime)>;
    using ReadCompletion = std::function<void(const std::error_code& error, uint64_t transferred)>;

    // Where the first record goes.
    static constexpr int64_t kDataStart = kSectorSize;
    // What FinishWrite leaves behind the written data.
    static constexpr int64_t kTrimMargin = int64_t{1024} * 1024;

    DataFile(std::filesystem::path path, boost::asio::io_context& io);

    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // The file name with its extension, without the folder.
    std::string GetFileName() const;
    const std::filesystem::path& GetPath() const { return path_; }

    // Makes the file ready for writing: allocated to `allocSize` bytes, the
    // header written, the end record at 4096.
    bool Create(const std::string& channelId, int trackId, int64_t allocSize);
    // Whether the last Create refused the file because it holds records.
    bool HeldRecords() const { return heldRecords_.load(); }
    // True when Create made the file on disk (it was not there before):
    // only such a file may go when the create fails. One that appeared
    // meanwhile is another writer's, perhaps another process's.
    bool MadeFile() const { return madeFile_.load(); }
    // Writes the buffer's seconds at the write offset (finalizing the buffer
    // for it). On success the offsets and the last time advance; on failure
    // nothing does. A write started while another is in flight is refused
    // (EBUSY): the two would share a sector. The completion gets the error,
    // the bytes transferred and the time of the last second written to the
    // file.
    void Write(std::shared_ptr<WriteBuffer> buffer, WriteCompletion completion);
    // Forces the data written so far to the device (with the allocation
    // that makes it readable after a power cut).
    std::error_code Flush();
    // Ends writing: the data forced to the device, the handle closed, the file
    // trimmed to the written end + 1 MiB when it is longer. Always true.
    bool FinishWrite();

    // Makes the file ready for reading and takes the start time from its name.
    bool Open();
    // Reads the sectors that cover the buffer's window [windowStart,
    // windowEnd), as far as the file has them. A window whose sectors do not
    // fit in the buffer is refused (EINVAL). A failed read sets the buffer's
    // `failed` flag.
    void Read(std::shared_ptr<ReadBuffer> buffer, ReadCompletion completion);
    // Ends reading. Always true.
    bool Close();

    int64_t GetFileSize() const { return fileSize_.load(); }
    int64_t GetWriteOffset() const { return writeOffset_.load(); }
    int64_t GetWrittenEnd() const { return writtenEnd_.load(); }
    int64_t GetLastTime() const { return lastTime_.load(); }
    int64_t GetStartTime() const { return startTime_.load(); }

    // The start time (seconds since 1970, UTC) named by a 14-digit stem
    // YYYYMMDDhhmmss; false for any other text or an impossible time.
    static bool StartTimeFromName(std::string_view stem, int64_t& time);

  private:
    bool CreateFailed(const char* what, const std::string& error);
    void OnWritten(const std::error_code& error, uint64_t transferred, int64_t offset,
                   uint64_t advance, uint64_t length, int64_t lastTime,
                   const WriteCompletion& completion);
    void OnRead(const std::error_code& error, uint64_t transferred, ReadBuffer& buffer,
                int64_t start, const ReadCompletion& completion);

    const std::filesystem::path path_;
    boost::asio::io_context& io_;
    data_file_header_s header_;
    platform::DirectFile writeFile_;
    platform::DirectFile readFile_;
    std::atomic<int64_t> fileSize_{0};
    std::atomic<int64_t> writeOffset_{0};
    std::atomic<int64_t> writtenEnd_{0};
    std::atomic<int64_t> lastTime_{0};
    std::atomic<int64_t> startTime_{0};
    std::atomic<bool> created_{false};
    std::atomic<bool> writing_{false};  // a write is in flight
    std::atomic<bool> heldRecords_{false};
    std::atomic<bool> madeFile_{false};
};

}  // namespace orvale::recorder
