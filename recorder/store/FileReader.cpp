#include "recorder/store/FileReader.h"

#include <algorithm>

#include <boost/asio/post.hpp>

#include "common/Log.h"
#include "recorder/store/RecordFileInfo.h"

namespace orvale::recorder {
namespace fs = std::filesystem;
using common::kLogDebug;
using common::kLogError;
using common::kLogFatal;

namespace {

constexpr int kLowProfileType = 6;

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error) && !error;
}

}  // namespace

std::shared_ptr<FileReader> FileReader::Create(fs::path trackFolder, int profile,
                                               std::string driveName, boost::asio::io_context& io,
                                               std::shared_ptr<BufferPool> bufferPool,
                                               std::shared_ptr<FolderInUseContainer> folders) {
    return std::shared_ptr<FileReader>(new FileReader(std::move(trackFolder), profile,
                                                      std::move(driveName), io,
                                                      std::move(bufferPool), std::move(folders)));
}

FileReader::FileReader(fs::path trackFolder, int profile, std::string driveName,
                       boost::asio::io_context& io, std::shared_ptr<BufferPool> bufferPool,
                       std::shared_ptr<FolderInUseContainer> folders)
    : io_(io),
      bufferPool_(std::move(bufferPool)),
      folderPath_(std::move(trackFolder)),
      driveName_(std::move(driveName)),
      profile_(profile),
      folders_(std::move(folders)),
      hour_(folders_, HourFolderKeyOfTrackFolder(folderPath_)) {}

std::string FileReader::MakeIndexFileName(int64_t time) {
    return IndexFile::MakeFileName(time);
}

bool FileReader::OpenIndexFile(int64_t time) {
    const fs::path path = folderPath_ / MakeIndexFileName(time);
    indexFile_ = std::make_shared<IndexFile>(path, folders_);
    if (!Exists(path)) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Not exists a index file. path = " << path;
        return false;
    }
    if (!indexFile_->EnsureOpen()) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Failed to open a index file. path = " << path;
        return false;
    }
    return true;
}

bool FileReader::OpenMetaDataFile(int64_t time) {
    const fs::path path = folderPath_ / MetaDataFile::MakeFileName(time);
    metaDataFile_ = MetaDataFile::Create(path, folders_);
    if (!Exists(path)) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Not exists a metadata file. path = " << path;
        return false;
    }
    if (!metaDataFile_->Open(0)) {
        OLOG(kLogFatal) << "MID[" << mediaId_
                        << "] Failed to open a metadata file. path = " << path;
        return false;
    }
    return true;
}

bool FileReader::LoadStartTime() {
    if (!indexFile_) {
        OLOG(kLogError) << "MID[" << mediaId_ << "], Not found index file.";
        return false;
    }
    auto profile = static_cast<unsigned>(profile_);
    startTime_ = indexFile_->GetFirstRecordTime(profile, false);
    return startTime_ > 0;
}

int64_t FileReader::GetStartTime(bool allowSwitch) {
    if (startTime_ != 0) return startTime_;
    if (!indexFile_) return 0;
    auto profile = static_cast<unsigned>(profile_);
    const int64_t time = indexFile_->GetFirstRecordTime(profile, allowSwitch);
    if (time <= 0) return 0;
    if (allowSwitch) profile_ = static_cast<int>(profile);
    startTime_ = time;
    return time;
}

int64_t FileReader::GetEndTime(bool allowSwitch) {
    if (!indexFile_) return 0;
    int profile = profile_;
    const int64_t time = indexFile_->GetDualTrackBound(profile, allowSwitch);
    if (time <= 0) return 0;
    if (allowSwitch) profile_ = profile;
    return time;
}

int64_t FileReader::GetLastIndexTime(bool anyProfile) {
    if (!indexFile_) return 0;
    index_row_s row;
    if (!anyProfile) return indexFile_->GetLastIndexRow(profile_, row) ? row.keyTime : 0;
    const int64_t normal = indexFile_->GetLastIndexRow(kProfileNormal, row) ? row.keyTime : 0;
    const int64_t low = indexFile_->GetLastIndexRow(kProfileLow, row) ? row.keyTime : 0;
    if (normal == low) return normal;
    profile_ = normal > low ? kProfileNormal : kProfileLow;
    return std::max(normal, low);
}

int64_t FileReader::FindIndexAt(int64_t time, bool forward) {
    return FindIndexAtProfile(time, forward, profile_ == kProfileLow ? kLowProfileType : 0);
}

int64_t FileReader::FindIndexAtProfile(int64_t time, bool forward, int profileType) {
    index_row_s row;
    const int profile = profileType == kLowProfileType ? kProfileLow : kProfileNormal;
    if (indexFile_ && indexFile_->FindIndexRow(profile, row, time, forward)) return row.keyTime;
    OLOG(kLogFatal) << "MID[" << mediaId_ << "] Not exists a data file. request time=" << time;
    return 0;
}

int64_t FileReader::FindNearestIndex(int64_t time, bool forward) {
    if (!indexFile_) return 0;
    index_row_s row;
    const int64_t normal =
        indexFile_->FindIndexRow(kProfileNormal, row, time, forward) ? row.keyTime : 0;
    const int64_t low = indexFile_->FindIndexRow(kProfileLow, row, time, forward) ? row.keyTime : 0;
    if (normal == low) return normal;
    bool takeNormal = low == 0;
    if (normal != 0 && low != 0) takeNormal = forward ? normal < low : normal > low;
    profile_ = takeNormal ? kProfileNormal : kProfileLow;
    return takeNormal ? normal : low;
}

bool FileReader::RefreshDataFileNames(std::vector<std::string>& names) {
    names.clear();
    // In the order of their seconds, which a name need not give (a second
    // stored again goes to a file named after the one that kept the rest).
    return indexFile_ && indexFile_->ListDataFilesInTimeOrder(profile_, names);
}

std::shared_ptr<DataFile> FileReader::OpenListedFile(size_t index) {
    if (index >= dataFileNames_.size()) return nullptr;
    const fs::path path = folderPath_ / dataFileNames_[index];
    auto file = std::make_shared<DataFile>(path, io_);
    if (!file->Open()) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Failed to open a data file. path = " << path;
        return nullptr;
    }
    return file;
}

bool FileReader::MakeCurrent(size_t index) {
    auto file = OpenListedFile(index);
    if (!file) return false;
    ExclusiveLock lock(mutex_);
    dataFile_ = std::move(file);
    dataFileIndex_ = index;
    dataFileOpened_ = true;
    return true;
}

bool FileReader::IsDataFileOpened() const {
    SharedLock lock(mutex_);
    return dataFileOpened_;
}

bool FileReader::OpenDataFileAt(int64_t time, bool forward) {
    if (time != 0) {
        index_row_s row;
        if (!indexFile_ || !indexFile_->FindIndexRow(profile_, row, time, forward)) {
            OLOG(kLogFatal) << "MID[" << mediaId_
                            << "] Not exists a data file. request time=" << time;
            return false;
        }
        auto file = std::make_shared<DataFile>(folderPath_ / row.name, io_);
        if (!file->Open()) {
            OLOG(kLogFatal) << "MID[" << mediaId_ << "] Failed to open a data file";
            return false;
        }
        if (!RefreshDataFileNames(dataFileNames_)) {
            OLOG(kLogFatal) << "MID[" << mediaId_ << "] Failed to GetDataFileName().";
            return false;
        }
        const auto found = std::find(dataFileNames_.begin(), dataFileNames_.end(), row.name);
        ExclusiveLock lock(mutex_);
        dataFile_ = std::move(file);
        dataFileIndex_ =
            found == dataFileNames_.end() ? 0 : static_cast<size_t>(found - dataFileNames_.begin());
        dataFileOpened_ = true;
        return true;
    }
    if (!RefreshDataFileNames(dataFileNames_)) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Failed to GetDataFileName().";
        return false;
    }
    if (dataFileNames_.empty()) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Not exists a data file. request time=0";
        return false;
    }
    return MakeCurrent(forward ? 0 : dataFileNames_.size() - 1);
}

bool FileReader::OpenNextDataFile() {
    if (IsDataFileOpened()) CloseDataFile();
    if (!dataFileNames_.empty() && dataFileIndex_ + 1 == dataFileNames_.size()) {
        std::vector<std::string> names;
        if (!RefreshDataFileNames(names)) {
            OLOG(kLogDebug) << "MID[" << mediaId_ << "] Failed to GetDataFileName().";
            return false;
        }
        if (names.size() <= dataFileNames_.size()) return false;
        // Find the current file again by name: the list is sorted anew.
        const std::string current = dataFileNames_[dataFileIndex_];
        dataFileNames_ = std::move(names);
        const auto found = std::find(dataFileNames_.begin(), dataFileNames_.end(), current);
        if (found != dataFileNames_.end()) {
            dataFileIndex_ = static_cast<size_t>(found - dataFileNames_.begin());
        }
        OLOG(kLogDebug) << "MID[" << mediaId_ << "] Update DataFileNames";
    }
    if (dataFileIndex_ + 1 >= dataFileNames_.size()) return false;
    ++dataFileIndex_;
    return MakeCurrent(dataFileIndex_);
}

bool FileReader::OpenPreviousDataFile() {
    if (IsDataFileOpened()) CloseDataFile();
    if (dataFileIndex_ == 0 || dataFileNames_.empty()) return false;
    --dataFileIndex_;
    return MakeCurrent(dataFileIndex_);
}

bool FileReader::HasNextDataFile() {
    if (dataFileNames_.empty()) return false;
    if (dataFileIndex_ + 1 < dataFileNames_.size()) return true;
    std::vector<std::string> names;
    if (!RefreshDataFileNames(names)) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Failed to GetDataFileName().";
        return false;
    }
    return names.size() > dataFileNames_.size();
}

std::shared_ptr<DataFile> FileReader::GetNextDataFile() {
    if (!indexFile_) return nullptr;
    return OpenListedFile(dataFileIndex_ + 1);
}

std::shared_ptr<DataFile> FileReader::GetPreviousDataFile() {
    if (!indexFile_ || dataFileIndex_ == 0) return nullptr;
    return OpenListedFile(dataFileIndex_ - 1);
}

void FileReader::CloseDataFile() {
    ExclusiveLock lock(mutex_);
    if (!dataFileOpened_ || !dataFile_) return;
    if (dataFile_->Close()) {
        dataFileOpened_ = false;
    } else {
        OLOG(kLogFatal) << "MID[" << mediaId_
                        << "] Failed to close a data file. path = " << folderPath_;
    }
}

std::shared_ptr<DataFile> FileReader::GetCurrentDataFile() const {
    SharedLock lock(mutex_);
    return dataFile_;
}

bool FileReader::GetIFrameIndex(std::vector<index_row_s>& rows) {
    const auto file = GetCurrentDataFile();
    if (!indexFile_ || !file ||
        !indexFile_->ReadIndexRowsByName(profile_, rows, file->GetFileName())) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Failed to GetIFrameIndex().";
        return false;
    }
    return true;
}

bool FileReader::GetDualTrackInfos(std::vector<dual_track_row_s>& rows) {
    if (!indexFile_ || !indexFile_->ReadDualTrackRows(rows)) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Failed to GetDualTrackInfos().";
        return false;
    }
    return true;
}

bool FileReader::QueueRead(std::shared_ptr<ReadBuffer> request) {
    ExclusiveLock lock(mutex_);
    readRequests_.push_back(std::move(request));
    return true;
}

void FileReader::CancelRead(const std::shared_ptr<ReadBuffer>& request) {
    ExclusiveLock lock(mutex_);
    const auto found = std::find(readRequests_.begin(), readRequests_.end(), request);
    if (found != readRequests_.end()) readRequests_.erase(found);
}

void FileReader::OnReadCommand(unsigned queue, ReadCommandHandler::Done done) {
    std::shared_ptr<ReadBuffer> request;
    std::shared_ptr<DataFile> file;
    {
        SharedLock lock(mutex_);
        // Oldest first: requests are windows in reading order.
        if (!readRequests_.empty()) request = readRequests_.front();
        if (dataFileOpened_) file = dataFile_;
    }
    std::weak_ptr<FileReader> weak = weak_from_this();
    auto completion = [weak, done = std::move(done), queue, request, mediaId = mediaId_](
                          const std::error_code& error, uint64_t bytes) {
        if (auto self = weak.lock()) {
            self->OnRead(request, error);
        } else {
            OLOG(kLogDebug) << "MID[" << mediaId << "] Already Deleted a object of the RecordFile";
        }
        // The queue moves on whatever happened to the reader.
        done(queue, static_cast<uint32_t>(error.value()), bytes);
    };
    if (!request || !file) {
        const auto error = std::make_error_code(std::errc::bad_file_descriptor);
        boost::asio::post(io_,
                          [completion = std::move(completion), error] { completion(error, 0); });
        return;
    }
    file->Read(request, std::move(completion));
}

void FileReader::OnRead(const std::shared_ptr<ReadBuffer>& request, const std::error_code& error) {
    if (error) {
        OLOG(kLogFatal) << "MID[" << mediaId_
                        << "] Failed to read a data. error = " << error.message();
        if (request) request->failed.store(true, std::memory_order_release);
    }
    // Exactly the request that was read goes, wherever it stands now.
    ExclusiveLock lock(mutex_);
    const auto found = std::find(readRequests_.begin(), readRequests_.end(), request);
    if (found != readRequests_.end()) readRequests_.erase(found);
}

}  // namespace orvale::recorder
