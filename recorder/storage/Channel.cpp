// Drive membership, drive selection and the writers of a channel.
#include "recorder/storage/Channel.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <utility>

#include "common/AsioThreadPool.h"
#include "common/Log.h"

namespace orvale::recorder {

namespace fs = std::filesystem;
using common::kLogError;
using common::kLogInfo;

namespace {

int64_t SystemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool Exists(const fs::path& path) {
    std::error_code error;
    return !path.empty() && fs::exists(path, error);
}

// Removes a file or an empty folder; anything else stays.
void RemoveIfPresent(const fs::path& path) {
    std::error_code error;
    fs::remove(path, error);
}

}  // namespace

Channel::Channel(std::string id, uint32_t retentionPeriod, bool useOverwrite,
                 common::AsioThreadPool* pool, std::shared_ptr<BufferPool> bufferPool, Clock clock)
    : pool_(pool),
      bufferPool_(std::move(bufferPool)),
      id_(std::move(id)),
      clock_(clock ? std::move(clock) : Clock(SystemNow)),
      retentionPeriod_(retentionPeriod),
      useOverwrite_(useOverwrite),
      overwriteMargin_(useOverwrite ? kOverwriteMargin : 0),
      folders_(FolderInUseContainer::Create()),
      recordedDrives_(std::make_shared<DriveMap>()),
      writableDrives_(std::make_shared<DriveMap>()) {}

Channel::~Channel() {
    try {
        recordedDrives_->Clear();
        writableDrives_->Clear();
    } catch (...) {  // a lock error: the maps go with the channel anyway
    }
}

void Channel::AddRecordedDriveUnlocked(const std::shared_ptr<Drive>& drive) {
    const std::string name = drive->GetName();
    if (recordedDrives_->Contains(name)) return;
    OLOG(kLogInfo) << "CH[" << id_ << "], Added a recorded drive(" << name << ")";
    recordedDrives_->Insert(name, drive);
}

void Channel::AddDrives(const Drives& drives) {
    ExclusiveLock lock(mutex_);
    for (const auto& drive : drives) {
        if (!drive) continue;
        AddRecordedDriveUnlocked(drive);
        if (drive->GetStatus() != MEDIA_DRIVE_STATUS_ALLOCATE) continue;
        const std::string name = drive->GetName();
        if (!writableDrives_->Contains(name)) {
            OLOG(kLogInfo) << "CH[" << id_ << "], Added a Writable Drive(" << name << ")";
            writableDrives_->Insert(name, drive);
        }
        drive->GetWriteCommandHandler()->SelectQueue(id_);
        drive->GetReadCommandHandler()->AssignQueue(id_);
    }
}

void Channel::AddRecordedDrive(const std::shared_ptr<Drive>& drive) {
    if (!drive) return;
    ExclusiveLock lock(mutex_);
    AddRecordedDriveUnlocked(drive);
}

void Channel::DeleteDrive(const std::string& name) {
    ExclusiveLock lock(mutex_);
    if (const auto recorded = recordedDrives_->Find(name);
        recorded && !recorded->HasChannelFolder(id_)) {
        OLOG(kLogInfo) << "CH[" << id_ << "], Deleted a Drive(" << name
                       << "). This drive dosen't have any record data.";
        recordedDrives_->Erase(name);
    }
    if (!writableDrives_->Contains(name)) return;
    OLOG(kLogInfo) << "CH[" << id_ << "], Deleted a Writable Drive(" << name << ").";
    writableDrives_->Erase(name);
    std::lock_guard current(currentMutex_);
    if (currentDrive_ && currentDrive_->GetName() == name) {
        currentDrive_->Reservations().Release(id_);
        currentDrive_.reset();
    }
}

bool Channel::HasWritableDrive() const {
    const size_t count = writableDrives_->Size();
    if (count > 0) {
        OLOG(kLogInfo) << "CH[" << id_ << "], have some writable drives. drive num =" << count;
        return true;
    }
    OLOG(kLogInfo) << "CH[" << id_ << "],  dosen't have any writable drive.";
    return false;
}

bool Channel::HasRoomForFile(int64_t requiredSize) const {
    Drives drives;
    writableDrives_->Values(drives);
    return std::any_of(drives.begin(), drives.end(), [&](const std::shared_ptr<Drive>& drive) {
        return SizeOnDrive(*drive, requiredSize) > 0;
    });
}

void Channel::GetWritableDrives(Drives& drives) const {
    SharedLock lock(mutex_);
    writableDrives_->Values(drives);
}

void Channel::GetRecordedDrives(Drives& drives) const {
    SharedLock lock(mutex_);
    recordedDrives_->Values(drives);
}

std::shared_ptr<Drive> Channel::GetCurrentDrive() const {
    std::lock_guard lock(currentMutex_);
    return currentDrive_;
}

bool Channel::HasRoom(const Drive& drive, int64_t requiredSize) const {
    return drive.GetFreeSizeForChannel(id_) > requiredSize + overwriteMargin_.load();
}

bool Channel::IsResting(const std::string& name) const {
    const int64_t now = clock_();
    std::lock_guard rest(restMutex_);
    const auto found = restingUntil_.find(name);
    return found != restingUntil_.end() && now < found->second;
}

Channel::Drives Channel::HealthyWritableDrives() const {
    Drives drives;
    writableDrives_->Values(drives);
    Drives healthy;
    for (const auto& drive : drives) {
        if (!IsResting(drive->GetName())) healthy.push_back(drive);
    }
    return healthy.empty() ? drives : healthy;
}

bool Channel::HasHealthyWritableDrive() const {
    Drives drives;
    writableDrives_->Values(drives);
    for (const auto& drive : drives) {
        if (!IsResting(drive->GetName())) return true;
    }
    return false;
}

void Channel::LeaveFailingDrive(const std::string& name) {
    {
        std::lock_guard current(currentMutex_);
        if (currentDrive_ && currentDrive_->GetName() == name) {
            currentDrive_->Reservations().Release(id_);
            currentDrive_.reset();
        }
        std::lock_guard rest(restMutex_);
        restingUntil_[name] = clock_() + kFailedDriveRestSeconds;
    }
    OLOG(kLogError) << "CH[" << id_ << "], a write on drive(" << name
                    << ") failed; new files go to the other drives for " << kFailedDriveRestSeconds
                    << " s";
}

std::shared_ptr<Drive> Channel::PickDrive(int32_t trackId, int64_t time, int64_t requiredSize) {
    std::lock_guard lock(currentMutex_);
    if (currentDrive_ && !IsResting(currentDrive_->GetName()) &&
        currentDrive_->GetFreeSizeForChannel(id_) >= requiredSize) {
        return currentDrive_;
    }
    if (currentDrive_) currentDrive_->Reservations().Release(id_);
    const Drives drives = HealthyWritableDrives();
    currentDrive_ =
        drives.size() == 1 ? drives.front() : SelectDrive(trackId, time, requiredSize, drives);
    return currentDrive_;
}

std::shared_ptr<Drive> Channel::SelectDrive(int32_t trackId, int64_t time, int64_t requiredSize,
                                            const Drives& drives) const {
    // An hour started on a drive goes on there.
    std::shared_ptr<Drive> started;
    for (const auto& drive : drives) {
        if (Exists(drive->GetTrackPath(id_, time, trackId))) started = drive;
    }
    if (started && HasRoom(*started, requiredSize)) return started;

    if (auto newest = GetNewestRecordedDrive(drives)) {
        if (HasRoom(*newest, requiredSize)) return newest;
    } else {
        for (const auto& drive : drives) {
            if (HasRoom(*drive, requiredSize)) return drive;
        }
    }
    for (const auto& drive : drives) {
        if (!drive->ChannelHasFolders(id_) && HasRoom(*drive, requiredSize)) return drive;
    }
    if (auto oldest = GetOldestRecordedDrive(drives)) return oldest;
    return drives.empty() ? nullptr : drives.front();
}

std::shared_ptr<Drive> Channel::GetNewestRecordedDrive(const Drives& drives) const {
    std::shared_ptr<Drive> found;
    int64_t newest = 0;
    for (const auto& drive : drives) {
        const int64_t time = drive->GetNewestTime(id_);
        if (time > newest) {
            newest = time;
            found = drive;
        }
    }
    return found;
}

std::shared_ptr<Drive> Channel::GetOldestRecordedDrive(const Drives& drives) const {
    std::shared_ptr<Drive> found;
    int64_t oldest = 0;
    for (const auto& drive : drives) {
        const int64_t time = drive->GetOldestTime(id_);
        if (time > 0 && (oldest == 0 || time < oldest)) {
            oldest = time;
            found = drive;
        }
    }
    return found;
}

int64_t Channel::SizeOnDrive(const Drive& drive, int64_t requiredSize) const {
    const int64_t free = drive.GetFreeSizeForChannel(id_);
    if (free >= requiredSize) return requiredSize;
    return free >= kSmallestDataFile ? free : 0;
}

std::shared_ptr<FileWriter> Channel::GetFileWriter(int32_t profile, int32_t trackId, int64_t time,
                                                   int64_t requiredSize) {
    SharedLock lock(mutex_);
    return MakeFileWriter(profile, trackId, time, requiredSize);
}

std::shared_ptr<FileWriter> Channel::GetFileWriterOverwriting(int32_t profile, int32_t trackId,
                                                              int64_t time, int64_t requiredSize) {
    ExclusiveLock lock(mutex_);
    if (useOverwrite_.load()) DeleteFirstDay(time);
    return MakeFileWriter(profile, trackId, time, requiredSize);
}

std::shared_ptr<MetaDataWriter> Channel::GetMetaDataWriter(int32_t trackId, int64_t time,
                                                           int64_t requiredSize) {
    SharedLock lock(mutex_);
    return MakeMetaDataWriter(trackId, time, requiredSize);
}

std::shared_ptr<MetaDataWriter> Channel::GetMetaDataWriterOverwriting(int32_t trackId, int64_t time,
                                                                      int64_t requiredSize) {
    ExclusiveLock lock(mutex_);
    if (useOverwrite_.load()) DeleteFirstDay(time);
    return MakeMetaDataWriter(trackId, time, requiredSize);
}

std::optional<std::pair<std::shared_ptr<Drive>, int64_t>> Channel::PlaceFile(int32_t trackId,
                                                                             int64_t time,
                                                                             int64_t requiredSize) {
    if (writableDrives_->Size() == 0) return std::nullopt;
    auto drive = PickDrive(trackId, time, requiredSize);
    if (!drive) return std::nullopt;
    const int64_t size = SizeOnDrive(*drive, requiredSize);
    if (size == 0) return std::nullopt;
    return std::make_pair(std::move(drive), size);
}

template <class Writer, class Make>
std::shared_ptr<Writer> Channel::PlaceWriter(int32_t trackId, int64_t time, int64_t requiredSize,
                                             Make&& make) {
    // Each failing drive is left once, so the request ends.
    const size_t drives = writableDrives_->Size();
    for (size_t attempt = 0; attempt < drives; ++attempt) {
        const auto place = PlaceFile(trackId, time, requiredSize);
        if (!place) return nullptr;
        const auto& [drive, size] = *place;
        WriterRefusal refusal = WriterRefusal::kFailed;
        if (auto writer = make(*drive, size, refusal)) return writer;
        // The space may have moved since this channel looked: only the
        // drive's own verdict tells a short room (overwrite's to mend) from
        // a failure, and a look taken now may contradict it.
        if (refusal == WriterRefusal::kNoRoom) return nullptr;
        LeaveFailingDrive(drive->GetName());
    }
    return nullptr;
}

std::shared_ptr<FileWriter> Channel::MakeFileWriter(int32_t profile, int32_t trackId, int64_t time,
                                                    int64_t requiredSize) {
    try {
        return PlaceWriter<FileWriter>(
            trackId, time, requiredSize, [&](Drive& drive, int64_t size, WriterRefusal& refusal) {
                return MakeFileWriterOn(drive, profile, trackId, time, size, refusal);
            });
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH[" << id_ << "] Exception : " << e.what();
        return nullptr;
    }
}

std::shared_ptr<FileWriter> Channel::MakeFileWriterOn(Drive& drive, int32_t profile,
                                                      int32_t trackId, int64_t time, int64_t size,
                                                      WriterRefusal& refusal) {
    // What this request is about to create, so that a failure below takes
    // away only that: earlier hours, the other profile's files and ARB files
    // in the same folder stay.
    const fs::path track = drive.GetTrackPath(id_, time, trackId);
    const fs::path index = track / FileWriter::MakeIndexFileName(time, profile);
    const bool hourExisted = Exists(track.parent_path());
    const bool trackExisted = Exists(track);
    const bool indexExisted = Exists(index);

    const file_location_s location{id_, trackId, time, profile};
    auto writer = drive.CreateFileWriter(location, size, pool_->IoService(), folders_, &refusal);
    if (!writer || writer->CreateIndexFile(location)) return writer;
    refusal = WriterRefusal::kFailed;

    const auto dataFile = writer->GetDataFile();
    const fs::path data = dataFile ? dataFile->GetPath() : fs::path();
    writer.reset();
    OLOG(kLogInfo) << "CH[" << id_ << "] Delete a wrong Index File. Path = " << track;
    if (!data.empty()) RemoveIfPresent(data);
    if (!indexExisted) {
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
            RemoveIfPresent(index.string() + suffix);
        }
    }
    if (!trackExisted) RemoveIfPresent(track);
    if (!hourExisted) RemoveIfPresent(track.parent_path());
    return nullptr;
}

std::shared_ptr<MetaDataWriter> Channel::MakeMetaDataWriter(int32_t trackId, int64_t time,
                                                            int64_t requiredSize) {
    try {
        return PlaceWriter<MetaDataWriter>(
            trackId, time, requiredSize, [&](Drive& drive, int64_t size, WriterRefusal& refusal) {
                const file_location_s location{id_, trackId, time, kProfileNormal};
                return drive.CreateMetaDataWriter(location, size, folders_, &refusal);
            });
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH[" << id_ << "] Exception : " << e.what();
        return nullptr;
    }
}

}  // namespace orvale::recorder
