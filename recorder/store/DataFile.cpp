#include "recorder/store/DataFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

#include <boost/asio/post.hpp>

#include "common/Log.h"

namespace orvale::recorder {
namespace {

using common::kLogDebug;
using common::kLogError;
using common::kLogFatal;
using common::kLogWarning;
using platform::DirectFile;

constexpr int64_t kSector = static_cast<int64_t>(kSectorSize);

std::error_code ErrorCode(int code) {
    return {code, std::system_category()};
}

// Logs, once per process, that unbuffered transfers were refused.
void NoteBufferedFallback(const DirectFile& file, const std::filesystem::path& path) {
    static std::atomic<bool> noted{false};
    if (file.IsDirect() || noted.exchange(true)) return;
    OLOG(kLogWarning)
        << "Unbuffered file access is refused; data files use buffered access. path = " << path;
}

// Whether the first bytes of the data area hold anything but nothing (zero
// bytes of a fresh allocation) or an end record.
bool HoldsRecords(const uint8_t* bytes, size_t length) {
    if (length < kRecordHeaderSize) return false;
    const record_header_s end = EndRecord();
    if (std::memcmp(bytes, &end, kRecordHeaderSize) == 0) return false;
    return std::any_of(bytes, bytes + kRecordHeaderSize, [](uint8_t byte) { return byte != 0; });
}

// What a failed write of the file's head says: a position the file cannot
// take is a file pointer that could not be set, anything else the write's.
const char* WriteFailure(const std::error_code& error, const char* write) {
    if (error == std::errc::file_too_large || error == std::errc::value_too_large ||
        error == std::errc::invalid_seek) {
        return "Failed to set a file pointer of a data file. path = ";
    }
    return write;
}

// Set while a thread calls a transfer's completion: a transfer started from
// it is that job's continuation (the job returns once the completion does).
thread_local bool g_inCompletion = false;

// Marks the calling thread as inside a transfer's completion for its life.
class InCompletion {
  public:
    InCompletion() : outer_(std::exchange(g_inCompletion, true)) {}
    ~InCompletion() { g_inCompletion = outer_; }
    InCompletion(const InCompletion&) = delete;
    InCompletion& operator=(const InCompletion&) = delete;

  private:
    const bool outer_;
};

int Digits(std::string_view text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

}  // namespace

DataFile::DataFile(std::filesystem::path path, boost::asio::io_context& io)
    : path_(std::move(path)), io_(io), writeFile_(io), readFile_(io) {}

std::string DataFile::GetFileName() const {
    return path_.filename().string();
}

bool DataFile::CreateFailed(const char* what, const std::string& error) {
    OLOG(kLogFatal) << what << path_ << ", GetLastError = " << error;
    writeFile_.Close();
    return false;
}

bool DataFile::Create(const std::string& channelId, int trackId, int64_t allocSize) {
    if (writeFile_.IsOpen()) {
        OLOG(kLogFatal) << "Failed to open a data file. paht = " << path_
                        << ", error = Already open";
        return false;
    }
    std::error_code error;
    const bool existed = std::filesystem::exists(path_, error);
    if (!existed) {
        error = platform::CreatePreallocatedFile(path_, allocSize);
        if (error) {
            OLOG(kLogFatal) << "Failed to open a data file. path = " << path_
                            << ", GetLastError = " << error.message();
            return false;
        }
        madeFile_ = true;
    }
    error = writeFile_.Open(path_, DirectFile::Access::kReadWrite);
    if (error) {
        // Another process took the file between its making and this open:
        // it is that process's file now, and must not be removed as ours.
        if (error == std::errc::device_or_resource_busy) madeFile_ = false;
        return CreateFailed("Failed to open a data file. path = ", error.message());
    }
    NoteBufferedFallback(writeFile_, path_);

    AlignedBytes image(2 * kSectorSize);
    if (existed) {
        size_t read = 0;
        error = writeFile_.ReadAt(kDataStart, image.Data(), kSectorSize, read);
        if (error) return CreateFailed("Failed to open a data file. path = ", error.message());
        // Recorded data is never overwritten, whatever the clock says.
        if (HoldsRecords(image.Data(), read)) {
            heldRecords_ = true;
            return CreateFailed("Failed to open a data file. path = ",
                                "the file already holds records");
        }
        error = writeFile_.Reserve(allocSize);
        if (error) return CreateFailed("Failed to open a data file. path = ", error.message());
    }

    // The header sector, then the sector of the first end record.
    std::memset(image.Data(), 0, 2 * kSectorSize);
    std::memset(header_.channelId, 0, sizeof(header_.channelId));
    std::memcpy(header_.channelId, channelId.data(),
                std::min(channelId.size(), sizeof(header_.channelId)));
    header_.trackId = trackId;
    std::memcpy(image.Data(), &header_, sizeof(header_));
    const record_header_s skip = SkipRecord(static_cast<uint32_t>(kSectorSize - sizeof(header_)));
    std::memcpy(image.Data() + sizeof(header_), &skip, kRecordHeaderSize);
    const record_header_s end = EndRecord();
    std::memcpy(image.Data() + kDataStart, &end, kRecordHeaderSize);
    error = writeFile_.WriteAt(0, image.Data(), kSectorSize);
    if (error) {
        return CreateFailed(WriteFailure(error, "Failed to write a header of a data file. path = "),
                            error.message());
    }
    error = writeFile_.WriteAt(kDataStart, image.Data() + kDataStart, kSectorSize);
    if (error) {
        return CreateFailed(
            WriteFailure(error, "Failed to write a EOF header of a data file. path = "),
            error.message());
    }

    writeOffset_ = kDataStart;
    writtenEnd_ = kDataStart + kSector;
    fileSize_ = allocSize;
    created_ = true;
    OLOG(kLogDebug) << "Create File. path = " << path_;
    return true;
}

void DataFile::Write(std::shared_ptr<WriteBuffer> buffer, WriteCompletion completion) {
    const auto refuse = [&](int code, const char* why) {
        OLOG(kLogFatal) << "Failed to write a data. error = " << why;
        boost::asio::post(io_, [self = shared_from_this(), completion = std::move(completion),
                                code] { completion(ErrorCode(code), 0, self->lastTime_.load()); });
    };
    if (!buffer || buffer->GetSeconds().empty()) return refuse(EINVAL, "no second to write");
    // The write in flight ends with the sector where this one would begin.
    if (writing_.exchange(true)) return refuse(EBUSY, "a write in flight shares its sector");

    const int64_t offset = writeOffset_.load();
    int64_t lastTime = lastTime_.load();
    buffer->Finalize(static_cast<uint64_t>(offset), lastTime);
    const auto advance = static_cast<uint64_t>(buffer->Length());
    const uint64_t length = advance + kSectorSize;
    const uint8_t* data = buffer->Data();
    writeFile_.AsyncWriteAt(
        offset, data, length,
        [self = shared_from_this(), buffer = std::move(buffer), completion = std::move(completion),
         offset, advance, length, lastTime](const std::error_code& error, size_t transferred) {
            self->OnWritten(error, transferred, offset, advance, length, lastTime, completion);
        },
        g_inCompletion);
}

void DataFile::OnWritten(const std::error_code& error, uint64_t transferred, int64_t offset,
                         uint64_t advance, uint64_t length, int64_t lastTime,
                         const WriteCompletion& completion) {
    std::error_code result = error;
    if (!result && transferred != length) result = ErrorCode(EIO);
    if (result) {
        OLOG(kLogFatal) << "Failed to write a data. error = " << result.message();
    } else {
        writtenEnd_ = offset + static_cast<int64_t>(transferred);
        writeOffset_ = offset + static_cast<int64_t>(advance);
        lastTime_ = lastTime;
    }
    writing_ = false;
    const InCompletion inCompletion;
    completion(result, transferred, lastTime_.load());
}

std::error_code DataFile::Flush() {
    return writeFile_.Sync();
}

bool DataFile::FinishWrite() {
    if (writeFile_.IsOpen()) {
        if (const auto error = writeFile_.Sync()) {
            OLOG(kLogError) << "Failed to flush a data file. path = " << path_
                            << ", error = " << error.message();
        }
        writeFile_.Close();
    }
    // Only a file this object created and wrote is trimmed.
    const int64_t keep = writtenEnd_.load() + kTrimMargin;
    if (created_.load() && keep < fileSize_.load()) {
        if (const auto error = platform::TruncateFile(path_, keep)) {
            OLOG(kLogError) << "Failed to trim a data file. path = " << path_
                            << ", error = " << error.message();
        } else {
            fileSize_ = keep;
        }
    }
    return true;
}

bool DataFile::StartTimeFromName(std::string_view stem, int64_t& time) {
    if (stem.size() != 14 ||
        !std::all_of(stem.begin(), stem.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    using namespace std::chrono;
    const year_month_day date{year(Digits(stem, 0, 4)),
                              month(static_cast<unsigned>(Digits(stem, 4, 2))),
                              day(static_cast<unsigned>(Digits(stem, 6, 2)))};
    const int hour = Digits(stem, 8, 2);
    const int minute = Digits(stem, 10, 2);
    const int second = Digits(stem, 12, 2);
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return false;
    time = duration_cast<seconds>(sys_days(date).time_since_epoch()).count() +
           hour * int64_t{3600} + minute * int64_t{60} + second;
    return true;
}

bool DataFile::Open() {
    std::error_code error;
    const auto size = std::filesystem::file_size(path_, error);
    if (error) {
        OLOG(kLogFatal) << "Failed to get a size of file. path = " << path_
                        << ",error = " << error.message();
        return false;
    }
    fileSize_ = static_cast<int64_t>(size);

    if (readFile_.IsOpen()) {
        OLOG(kLogFatal) << "Failed to open a data file. paht = " << path_
                        << ", error =Already open, error.value=" << EALREADY;
    } else {
        error = readFile_.Open(path_, DirectFile::Access::kRead);
        if (error) {
            OLOG(kLogFatal) << "Failed to open a data file. paht = " << path_
                            << ", error =" << error.message() << ", error.value=" << error.value();
            return false;
        }
        NoteBufferedFallback(readFile_, path_);
    }

    const std::string name = GetFileName();
    const std::string stem = name.substr(0, name.find('.'));
    int64_t start = 0;
    if (!StartTimeFromName(stem, start)) {
        OLOG(kLogFatal) << "Invalid file name. name=" << stem;
        readFile_.Close();
        return false;
    }
    startTime_ = start;
    OLOG(kLogDebug) << "Open handle. paht = " << path_;
    return true;
}

void DataFile::Read(std::shared_ptr<ReadBuffer> buffer, ReadCompletion completion) {
    const int64_t start = buffer ? buffer->windowStart : -1;
    const int64_t end = buffer ? buffer->windowEnd : -1;
    const int64_t alignedStart = start - start % kSector;
    const int64_t alignedEnd = (end + kSector - 1) / kSector * kSector;
    // A window the array cannot hold is refused whole: a cut read would hand
    // its reader records that end nowhere.
    if (start < 0 || end < start || alignedEnd - alignedStart > buffer->Capacity()) {
        OLOG(kLogFatal) << "MID[" << (buffer ? buffer->mediaId : 0)
                        << "]Read a data. error = invalid window " << start << ".." << end;
        if (buffer) {
            buffer->ready = false;
            buffer->failed = true;
        }
        boost::asio::post(
            io_, [completion = std::move(completion)] { completion(ErrorCode(EINVAL), 0); });
        return;
    }
    const auto length = static_cast<size_t>(alignedEnd - alignedStart);
    buffer->ready = false;
    buffer->failed = false;
    uint8_t* data = buffer->Data();
    readFile_.AsyncReadAt(
        alignedStart, data, length,
        [self = shared_from_this(), buffer = std::move(buffer), completion = std::move(completion),
         start](const std::error_code& error, size_t transferred) {
            self->OnRead(error, transferred, *buffer, start, completion);
        },
        g_inCompletion);
}

void DataFile::OnRead(const std::error_code& error, uint64_t transferred, ReadBuffer& buffer,
                      int64_t start, const ReadCompletion& completion) {
    if (error) {
        OLOG(kLogFatal) << "MID[" << buffer.mediaId << "]Read a data. error = " << error.message()
                        << ", bytes_transferred = " << transferred << ", EOF=" << buffer.lastWindow;
        buffer.failed.store(true, std::memory_order_release);
    } else {
        buffer.readPosition = static_cast<uint64_t>(start % kSector);
        buffer.bytesRead = transferred;
        buffer.keyFrames.clear();
        if (buffer.scanKeyFrames != 0 || buffer.reverse != 0) buffer.BuildKeyFrameList();
        buffer.ready.store(true, std::memory_order_release);
    }
    const InCompletion inCompletion;
    completion(error, transferred);
}

bool DataFile::Close() {
    if (readFile_.IsOpen()) {
        OLOG(kLogDebug) << "Close handle. paht = " << path_;
        readFile_.Close();
    }
    return true;
}

}  // namespace orvale::recorder
