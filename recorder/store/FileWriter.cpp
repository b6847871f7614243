#include "recorder/store/FileWriter.h"

#include <cstdio>

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
    const fs::path path = folderPath_ / MakeDataFileName(location.startTime, location.profile);
    std::error_code error;
    const bool existed = fs::exists(path, error);
    dataFile_ = std::make_shared<DataFile>(path, io_);
    boost::timer::cpu_timer timer;
    if (!dataFile_->Create(location.channelId, location.trackId, requiredSize)) {
        OLOG(kLogFatal) << "Failed to create a data file. path = " << path;
        // Only what this call made goes; a refused file that holds records stays.
        if (!existed) fs::remove(path, error);
        dataFile_.reset();
        return false;
    }
    opened_ = true;
    OLOG(kLogTrace) << "Create DATA FILE TIME: " << timer.format();
    return true;
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

bool FileWriter::Write(std::shared_ptr<WriteBuffer> buffer, ResultCallback callback) {
    writeBuffers_.Add(std::move(buffer));
    WriteCommandHandler::Command command;
    command.start = [self = shared_from_this()](unsigned queue, WriteCommandHandler::Done done) {
        self->OnWriteCommand(queue, std::move(done));
    };
    command.completion = std::move(callback);
    commandHandler_->Enqueue(location_.channelId, std::move(command));
    if (const size_t queued = writeBuffers_.Size(); queued > kTooManyBuffers) {
        OLOG(kLogFatal) << "Path[" << folderPath_
                        << "], Write Buffer is too much. size = " << queued;
    }
    return true;
}

void FileWriter::OnWriteCommand(unsigned queue, WriteCommandHandler::Done done) {
    std::shared_ptr<DataFile> dataFile;
    std::shared_ptr<WriteBuffer> front;
    int32_t trackId = 0;
    {
        std::lock_guard lock(mutex_);
        dataFile = dataFile_;
        front = writeBuffers_.Front();
        trackId = location_.trackId;
    }
    std::weak_ptr<FileWriter> weak = weak_from_this();
    auto completion = [weak, done = std::move(done), queue, trackId](
                          const std::error_code& error, uint64_t bytes, int64_t lastTime) {
        if (auto self = weak.lock()) {
            self->OnWriteDone(error, bytes, lastTime);
        } else {
            OLOG(kLogTrace) << "Already Deleted a object of the RecordFile";
        }
        // The queue moves on whatever happened to the writer.
        done(queue, error.value(), error ? error.message() : std::string(), bytes, lastTime,
             trackId);
    };
    if (!dataFile || !front || !FolderExists()) {
        // A removed hour folder or a lost drive: stop with an error rather
        // than write into a file that nobody can find any more.
        const auto error = std::make_error_code(std::errc::no_such_file_or_directory);
        boost::asio::post(io_,
                          [completion = std::move(completion), error] { completion(error, 0, 0); });
        return;
    }
    dataFile->Write(std::move(front), std::move(completion));
}

void FileWriter::OnWriteDone(const std::error_code& error, uint64_t /*bytes*/,
                             int64_t /*lastTime*/) {
    if (!error) WriteIndexRows();
    writeBuffers_.PopFront();
    std::lock_guard lock(drainedMutex_);
    drained_.notify_all();
}

void FileWriter::WriteIndexRows() {
    std::lock_guard lock(mutex_);
    const auto front = writeBuffers_.Front();
    if (!front || front->GetSeconds().empty()) {
        OLOG(kLogWarning) << "_writeBuffers is empty. Path = " << folderPath_;
        return;
    }
    if (!indexFile_ || !dataFile_) return;
    std::vector<dual_track_row_s> seconds;
    std::vector<index_row_s> rows;
    std::vector<timeline_flags_s> timeline;
    seconds.reserve(front->GetSeconds().size());
    timeline.reserve(front->GetSeconds().size());
    for (const auto& second : front->GetSeconds()) {
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
    indexFile_->WriteSeconds(IndexProfile(location_.profile), seconds, rows,
                             dataFile_->GetFileName(), timeline);
}

void FileWriter::Close() {
    if (!opened_ || !FolderExists()) return;
    {
        std::unique_lock lock(drainedMutex_);
        drained_.wait(lock, [this] { return writeBuffers_.Size() == 0; });
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
