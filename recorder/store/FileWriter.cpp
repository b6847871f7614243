#include "recorder/store/FileWriter.h"

#include <cstdio>

#include <boost/asio/defer.hpp>
#include <boost/asio/post.hpp>
#include <boost/timer/timer.hpp>

#include "common/GlobalNames.h"
#include "common/Log.h"
#include "platform/Time.h"
#include "recorder/database/DatabaseFile.h"
#include "recorder/store/HourFileName.h"
#include "recorder/store/TrackFolder.h"

namespace orvale::recorder {
namespace fs = std::filesystem;
using common::kLogFatal;
using common::kLogInfo;
using common::kLogTrace;
using common::kLogWarning;

namespace {

constexpr size_t kTooManyBuffers = 5;

// The table and dual-track column a profile writes (the low profile, or the
// normal one for every other value).
int IndexProfile(int profile) {
    return profile == kProfileLow ? kProfileLow : kProfileNormal;
}

// Whether two times lie in the same UTC hour.
bool IsSameHour(int64_t a, int64_t b) {
    return HourStart(a) == HourStart(b);
}

}  // namespace

std::shared_ptr<FileWriter> FileWriter::Create(int32_t trackId, fs::path trackFolder,
                                               std::string driveName, boost::asio::io_context& io,
                                               std::shared_ptr<WriteCommandHandler> handler,
                                               std::shared_ptr<FolderInUseContainer> folders) {
    return std::shared_ptr<FileWriter>(new FileWriter(trackId, std::move(trackFolder),
                                                      std::move(driveName), io, std::move(handler),
                                                      std::move(folders)));
}

FileWriter::FileWriter(int32_t trackId, fs::path trackFolder, std::string driveName,
                       boost::asio::io_context& io, std::shared_ptr<WriteCommandHandler> handler,
                       std::shared_ptr<FolderInUseContainer> folders)
    : io_(io),
      trackId_(trackId),
      folderPath_(std::move(trackFolder)),
      driveName_(std::move(driveName)),
      commandHandler_(std::move(handler)),
      folders_(std::move(folders)),
      hour_(folders_, HourFolderKeyOfTrackFolder(folderPath_)) {}

std::string FileWriter::MakeIndexFileName(int64_t time, int profile) {
    return HourFileName(
        time, profile == kProfileArb ? common::kArbIndexExtension : common::kIndexExtension);
}

std::string FileWriter::MakeDataFileName(int64_t time, int profile) {
    const std::tm utc = platform::UtcTime(time);
    char name[32];
    std::snprintf(name, sizeof(name), "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return name +
           (profile == kProfileLow ? common::kLowDataExtension : common::kNormalDataExtension);
}

bool FileWriter::MakeFolder() const {
    if (MakeTrackFolder(folderPath_, driveName_)) return true;
    OLOG(kLogFatal) << "Failed to create a directory. path = " << folderPath_;
    return false;
}

bool FileWriter::FolderExists() const {
    std::error_code error;
    return fs::is_directory(folderPath_, error);
}

bool FileWriter::CreateDataFile(const record_file_info_s& location, int64_t requiredSize) {
    std::lock_guard lock(mutex_);
    if (!MakeFolder()) return false;
    location_ = location;
    // A name taken by a file that holds records (an hour recorded or
    // converted before) is never reused: the file goes on under the next
    // free name of the hour, so that the index rows of its seconds point at
    // the new bytes and the old file keeps what is still indexed to it.
    for (int64_t second = location.startTime; IsSameHour(second, location.startTime); ++second) {
        const fs::path path = folderPath_ / MakeDataFileName(second, location.profile);
        std::error_code error;
        dataFile_ = std::make_shared<DataFile>(path, io_);
        boost::timer::cpu_timer timer;
        if (dataFile_->Create(location.channelId, location.trackId, requiredSize)) {
            opened_ = true;
            OLOG(kLogTrace) << "Create DATA FILE TIME: " << timer.format();
            return true;
        }
        // Only what this call made goes; a refused file that holds records stays.
        if (dataFile_->MadeFile()) fs::remove(path, error);
        if (!dataFile_->HeldRecords()) break;
        OLOG(kLogInfo) << "A data file of the hour holds records; the next name is tried. path = "
                       << path;
    }
    OLOG(kLogFatal) << "Failed to create a data file. path = "
                    << folderPath_ / MakeDataFileName(location.startTime, location.profile);
    dataFile_.reset();
    return false;
}

bool FileWriter::CreateIndexFile(const record_file_info_s& location) {
    std::lock_guard lock(mutex_);
    if (!MakeFolder()) return false;
    location_ = location;
    const fs::path path = folderPath_ / MakeIndexFileName(location.startTime, location.profile);
    indexFile_ = std::make_shared<IndexFile>(path, folders_);
    boost::timer::cpu_timer timer;
    // An existing file (the other profile's writer, or an earlier data file
    // of the hour) keeps its rows; one that a crash left without its
    // pre-filled rows is completed, or its seconds could never be found.
    if (!indexFile_->Open(HourStart(location.startTime))) {
        OLOG(kLogFatal) << "Failed to open a index file. path = " << path;
        indexFile_.reset();
        return false;
    }
    OLOG(kLogTrace) << "Create INDEX FILE TIME: " << timer.format();
    opened_ = true;
    return true;
}

bool FileWriter::Write(const std::shared_ptr<WriteBuffer>& buffer, ResultCallback callback) {
    {
        std::lock_guard lock(stateMutex_);
        ++unreported_;
    }
    writeBuffers_.Add(buffer);
    const std::shared_ptr<FileWriter> self = shared_from_this();
    WriteCommandHandler::Command command;
    command.startOverlapping = [self, buffer](unsigned queue, WriteCommandHandler::Done done,
                                              WriteCommandHandler::Release release) {
        self->OnWriteCommand(queue, std::move(done), std::move(release), buffer);
    };
    command.completion = [self, buffer, callback = std::move(callback)](
                             uint32_t queue, int32_t error, const std::string& message,
                             uint64_t bytes, int64_t lastTime, int32_t trackId) {
        // Whatever the callback does, Close must hear of the result.
        struct Reported {
            FileWriter& writer;
            ~Reported() { writer.OnResultReported(); }
        } reported{*self};
        // Still queued only when its command never started.
        self->writeBuffers_.EraseFirst(buffer);
        if (callback) callback(queue, error, message, bytes, lastTime, trackId);
    };
    commandHandler_->Enqueue(location_.channelId, std::move(command));
    if (const size_t queued = writeBuffers_.Size(); queued > kTooManyBuffers) {
        OLOG(kLogFatal) << "Path[" << folderPath_
                        << "], Write Buffer is too much. size = " << queued;
    }
    return true;
}

void FileWriter::OnWriteCommand(unsigned queue, WriteCommandHandler::Done done,
                                WriteCommandHandler::Release release,
                                const std::shared_ptr<WriteBuffer>& buffer) {
    std::shared_ptr<DataFile> dataFile;
    int32_t trackId = 0;
    {
        std::lock_guard lock(mutex_);
        dataFile = dataFile_;
        trackId = location_.trackId;
    }
    std::weak_ptr<FileWriter> weak = weak_from_this();
    auto completion = [weak, buffer, done = std::move(done), release = std::move(release), queue,
                       trackId](const std::error_code& error, uint64_t bytes, int64_t lastTime) {
        std::function<void(const std::error_code&)> report =
            [done, queue, bytes, lastTime, trackId](const std::error_code& result) {
                done(queue, result.value(), result ? result.message() : std::string(),
                     result ? 0 : bytes, lastTime, trackId);
            };
        if (auto self = weak.lock()) {
            self->OnWriteDone(buffer, error, release, std::move(report));
        } else {
            // The queue moves on whatever happened to the writer.
            OLOG(kLogTrace) << "Already Deleted a object of the RecordFile";
            report(error);
        }
    };
    if (!dataFile || !FolderExists()) {
        // A removed hour folder or a lost drive: stop with an error rather
        // than write into a file that nobody can find any more.
        const auto error = std::make_error_code(std::errc::no_such_file_or_directory);
        boost::asio::post(io_,
                          [completion = std::move(completion), error] { completion(error, 0, 0); });
        return;
    }
    dataFile->Write(buffer, std::move(completion));
}

void FileWriter::OnWriteDone(const std::shared_ptr<WriteBuffer>& buffer,
                             const std::error_code& error,
                             const WriteCommandHandler::Release& release,
                             std::function<void(const std::error_code&)> report) {
    writeBuffers_.EraseFirst(buffer);
    if (error) failed_ = true;
    // The transfer is over: the next write may start while this one's rows
    // are committed. Failed writes add none.
    if (release) release();
    FinishInOrder({error ? nullptr : buffer, error, std::move(report)});
}

// Called only from a write's completion, whose job returns right after: the
// commit job is its continuation, behind the next write it may have started.
// A write with no rows to commit (failed, or a writer without an index) is
// reported at once; the handler keeps the reports in queue order.
void FileWriter::FinishInOrder(Finishing finishing) {
    if (!finishing.indexed || !HasIndex()) {
        finishing.report(finishing.error);
        return;
    }
    {
        std::lock_guard lock(stateMutex_);
        finishing_.push_back(std::move(finishing));
        if (finishingRuns_) return;
        finishingRuns_ = true;
    }
    boost::asio::defer(io_, [self = shared_from_this()] { self->RunFinishing(); });
}

bool FileWriter::HasIndex() const {
    std::lock_guard lock(mutex_);
    return indexFile_ != nullptr;
}

void FileWriter::RunFinishing() {
    for (;;) {
        std::deque<Finishing> batch;
        {
            std::lock_guard lock(stateMutex_);
            if (finishing_.empty()) {
                finishingRuns_ = false;
                return;
            }
            batch.swap(finishing_);
        }
        // The bytes reach the device before any row that points at them can
        // (the log of the index may reach it at any time); one flush serves
        // every write finished meanwhile. Unflushed bytes get no rows: their
        // write is reported failed.
        const std::error_code flushed = FlushData();
        if (!flushed) {
            for (const Finishing& next : batch) WriteIndexRows(*next.indexed);
            // Before the reports: once the owner has heard them, Close may
            // use the index.
            MakeIndexDurable(false);
        }
        for (Finishing& next : batch) next.report(flushed ? flushed : next.error);
    }
}

std::error_code FileWriter::FlushData() {
    std::shared_ptr<DataFile> dataFile;
    {
        std::lock_guard lock(mutex_);
        dataFile = dataFile_;
    }
    if (!dataFile) return std::make_error_code(std::errc::bad_file_descriptor);
    const std::error_code error = dataFile->Flush();
    if (error) {
        failed_ = true;
        OLOG(kLogFatal) << "Failed to flush a data file. path = " << dataFile->GetPath() << ", "
                        << error.message();
    }
    return error;
}

void FileWriter::MakeIndexDurable(bool now) {
    std::shared_ptr<IndexFile> indexFile;
    {
        std::lock_guard lock(mutex_);
        indexFile = indexFile_;
    }
    if (indexFile) indexFile->MakeDurable(now);
}

void FileWriter::OnResultReported() {
    std::lock_guard lock(stateMutex_);
    --unreported_;
    reported_.notify_all();
}

void FileWriter::WriteIndexRows(const WriteBuffer& buffer) {
    std::shared_ptr<IndexFile> indexFile;
    std::string dataFileName;
    int profile = kProfileNormal;
    {
        std::lock_guard lock(mutex_);
        if (!indexFile_ || !dataFile_) return;
        indexFile = indexFile_;
        dataFileName = dataFile_->GetFileName();
        profile = IndexProfile(location_.profile);
    }
    if (buffer.GetSeconds().empty()) {
        OLOG(kLogWarning) << "_writeBuffers is empty. Path = " << folderPath_;
        return;
    }
    std::vector<dual_track_row_s> seconds;
    std::vector<index_row_s> rows;
    std::vector<timeline_flags_s> timeline;
    seconds.reserve(buffer.GetSeconds().size());
    timeline.reserve(buffer.GetSeconds().size());
    for (const auto& second : buffer.GetSeconds()) {
        const auto time = static_cast<int64_t>(second->firstFrameTime);
        seconds.push_back({time, false, false});
        if (second->hasKeyFrame != 0) rows.push_back(second->indexRow);
        timeline_flags_s flags;
        flags.time = time;
        flags.eventBits = second->eventBits;
        flags.analyticsBits = second->analyticsBits;
        flags.audioBits = second->audioBits;
        timeline.push_back(flags);
    }
    // A failed index write is logged by the index database; the data stays.
    indexFile->WriteSeconds(profile, seconds, rows, dataFileName, timeline);
}

void FileWriter::Close() {
    if (!opened_ || !FolderExists()) return;
    {
        std::unique_lock lock(stateMutex_);
        reported_.wait(lock, [this] { return unreported_ == 0; });
    }
    std::lock_guard lock(mutex_);
    if (!opened_.exchange(false)) return;
    OLOG(kLogInfo) << "Close: " << folderPath_;
    if (indexFile_ && dataFile_) {
        indexFile_->CloseIndexRow(IndexProfile(location_.profile), dataFile_->GetFileName(),
                                  static_cast<uint64_t>(dataFile_->GetWrittenEnd()),
                                  static_cast<uint64_t>(dataFile_->GetLastTime()));
    }
    if (dataFile_) dataFile_->FinishWrite();
    if (location_.profile == kProfileArb) MergeArbIndex();
}

// Moves the ARB recording's index rows into the hour's index database in one
// transaction; the ".kvtarb" file goes only after that committed.
void FileWriter::MergeArbIndex() {
    if (!indexFile_) return;
    std::vector<index_row_s> rows;
    if (!indexFile_->ReadAllIndexRows(rows) || rows.empty()) return;
    std::vector<dual_track_row_s> high;
    if (!indexFile_->ReadHighTrackRows(high)) return;

    const fs::path target = folderPath_ / MakeIndexFileName(location_.startTime, kProfileNormal);
    auto hourIndex = std::make_shared<IndexFile>(target, folders_);
    if (!hourIndex->Open(HourStart(location_.startTime))) {
        OLOG(kLogFatal) << "Failed to open a index file. path = " << target;
        return;
    }
    if (!hourIndex->MergeArbRows(rows, high)) return;
    const fs::path arbPath = indexFile_->GetPath();
    indexFile_.reset();
    RemoveDatabaseFiles(arbPath);
    std::error_code error;
    if (fs::exists(arbPath, error)) {
        OLOG(kLogWarning) << "Failed to remove file = " << arbPath << ", Exeption: still there";
    }
}

int64_t FileWriter::GetRemainingSize() const {
    std::lock_guard lock(mutex_);
    if (!dataFile_) return 0;
    int64_t remaining = dataFile_->GetFileSize() - dataFile_->GetWrittenEnd();
    writeBuffers_.ForEach([&remaining](const std::shared_ptr<WriteBuffer>& buffer) {
        remaining -= static_cast<int64_t>(buffer->UsedLength());
    });
    return remaining;
}

int64_t FileWriter::GetStartTime() const {
    std::lock_guard lock(mutex_);
    return location_.startTime;
}

int32_t FileWriter::GetProfile() const {
    std::lock_guard lock(mutex_);
    return location_.profile;
}

std::shared_ptr<DataFile> FileWriter::GetDataFile() const {
    std::lock_guard lock(mutex_);
    return dataFile_;
}

std::shared_ptr<IndexFile> FileWriter::GetIndexFile() const {
    std::lock_guard lock(mutex_);
    return indexFile_;
}

}  // namespace orvale::recorder
