// The engine's settings and its drive registry: MediaRecorderImpl's
// operations that the caller reaches through the exported setters and the
// drive methods.
#include <map>

#include "common/GlobalNames.h"
#include "common/Log.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/database/ChannelTable.h"
#include "recorder/database/CommonTable.h"
#include "recorder/database/DriveTable.h"

namespace orvale::recorder {
using common::kLogError;
using common::kLogInfo;

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

}  // namespace

void MediaRecorderImpl::SetUseOverwrite(bool value) {
    OLOG(kLogInfo) << "UseOverwrite(" << (value ? 1 : 0) << ")";
    std::lock_guard lock(mutex_);
    if (value == useOverwrite_) return;
    useOverwrite_ = value;
    if (auto common = catalogue_->GetCommonTable())
        common->SetValue(common::kOverwriteSetting, value);
}

void MediaRecorderImpl::SetUseDualRecord(bool value) {
    std::lock_guard lock(mutex_);
    if (value == useDualRecord_) return;
    if (auto common = catalogue_->GetCommonTable()) {
        common->SetValue(common::kDualRecordSetting, value);
    }
    useDualRecord_ = value;
}

void MediaRecorderImpl::SetMinFreeSpace(unsigned mib) {
    OLOG(kLogInfo) << "MinFreeSpace(" << mib << " MB)";
    const uint64_t bytes = uint64_t{mib} * kMiB;
    minFreeSpace_ = bytes;
    drives_->ForEach([bytes](const std::shared_ptr<Drive>& drive) { drive->SetMinFreeSpace(bytes); });
}

unsigned MediaRecorderImpl::GetMinFreeSpace() const {
    return static_cast<unsigned>(minFreeSpace_.load() / kMiB);
}

void MediaRecorderImpl::SetDataFileSize(int64_t mib) {
    OLOG(kLogInfo) << "Data File Size(" << mib << " MB)";
    dataFileSize_ = mib * static_cast<int64_t>(kMiB);
}

int64_t MediaRecorderImpl::GetDataFileSize() const {
    return dataFileSize_.load() / static_cast<int64_t>(kMiB);
}

void MediaRecorderImpl::SetEncryptionInfo(const media_encrypt_s& info) {
    OLOG(kLogInfo) << "Algorithm(" << info.algorithm << "),Type(" << info.type << ")";
    std::lock_guard lock(encryptMutex_);
    encryptInfo_ = info;
}

media_encrypt_s MediaRecorderImpl::GetEncryptionInfo() const {
    std::lock_guard lock(encryptMutex_);
    return encryptInfo_;
}

unsigned MediaRecorderImpl::GetMaxPreRecordTimeForSetUp() const {
    const auto table = catalogue_ ? catalogue_->GetChannelTable() : nullptr;
    ChannelTable::ChannelMap channels;
    if (!table || !table->SelectNotFailOver(channels)) return 120;
    if (channels.size() > 64) return 30;
    if (channels.size() > 16) return 60;
    return 120;
}

void MediaRecorderImpl::RegisterEventHandler(ConfigEventHandler handler) {
    std::lock_guard lock(mutex_);
    eventHandler_ = std::move(handler);
}

// --- drives ---

void MediaRecorderImpl::AddDrive(const media_drive_s& record) {
    if (drives_->Contains(record.name)) return;
    drives_->Insert(record.name, MakeDrive(record, minFreeSpace_.load()));
    OLOG(kLogInfo) << "Insert into Drives : " << record.ToString();
}

void MediaRecorderImpl::RefreshDrives() {
    std::lock_guard lock(mutex_);
    std::vector<media_drive_s> found;
    Drive::EnumerateLocalDrives(found, minFreeSpace_.load());
    std::map<std::string, media_drive_s> stored;
    const auto driveTable = catalogue_->GetDriveTable();
    if (driveTable) driveTable->SelectAll(stored);

    for (auto& drive : found) {
        const auto row = stored.find(drive.name);
        if (row == stored.end()) {
            // A new drive other than the system disk records at once.
            if (drive.status == MEDIA_DRIVE_STATUS_RELEASE)
                drive.status = MEDIA_DRIVE_STATUS_ALLOCATE;
            OLOG(kLogInfo) << "New Drive : " << drive.ToString();
            if (driveTable) driveTable->Insert(drive);
        } else {
            drive.status = row->second.status;
            stored.erase(row);
        }
        AddDrive(drive);
    }
    if (!stored.empty()) ForgetVanishedDrives(stored);
}

// Drives the machine no longer shows stay while a channel's disk list names
// them; the others are forgotten.
void MediaRecorderImpl::ForgetVanishedDrives(std::map<std::string, media_drive_s>& stored) {
    ChannelTable::ChannelMap channels;
    if (auto table = catalogue_->GetChannelTable()) table->SelectAll(channels);
    const auto driveTable = catalogue_->GetDriveTable();
    for (const auto& [name, record] : stored) {
        bool named = false;
        for (const auto& [id, channel] : channels) {
            named = named || (!name.empty() && channel.disk.find(name) != std::string::npos);
        }
        if (named) {
            AddDrive(record);
            continue;
        }
        OLOG(kLogInfo) << "Delete Drive : " << record.ToString();
        if (driveTable) driveTable->Delete(name);
        drives_->Erase(name);
    }
}

bool MediaRecorderImpl::GetMediaDrive(std::vector<media_drive_s>& out) {
    RefreshDrives();
    drives_->ForEach([&out](const std::shared_ptr<Drive>& drive) { out.push_back(drive->GetRecord()); });
    return true;
}

bool MediaRecorderImpl::SetMediaDrive(const std::string& name, media_drive_status_e status) {
    OLOG(kLogInfo) << "Name=" << name << ",Status =" << static_cast<uint32_t>(status);
    std::lock_guard lock(mutex_);
    const auto drive = drives_->Find(name);
    if (!drive) {
        OLOG(kLogError) << "Failed to find Drive Object. Drive = " << name;
        return false;
    }
    if (drive->GetStatus() == status) return true;
    drive->ChangeStatus(status);
    if (auto table = catalogue_->GetDriveTable()) table->Update(drive->GetRecord());

    const auto channelTable = catalogue_->GetChannelTable();
    if (!channelTable) return true;
    ChannelTable::ChannelMap channels;
    if (status == MEDIA_DRIVE_STATUS_RELEASE && channelTable->SelectAll(channels)) {
        for (const auto& [id, channel] : channels) {
            std::string disk;
            for (const char letter : channel.disk) {
                if (std::string(1, letter) != name) disk += letter;
            }
            if (disk == channel.disk) continue;
            channelTable->UpdateDisk(id, disk);
            OLOG(kLogInfo) << "CH[" << id << "] Update Drive list. Drives = " << disk;
        }
    } else if (status == MEDIA_DRIVE_STATUS_ALLOCATE && channelTable->SelectFailOver(channels)) {
        for (const auto& [id, channel] : channels) {
            const std::string disk = channel.disk + name;
            channelTable->UpdateDisk(id, disk);
            OLOG(kLogInfo) << "CH[" << id << "] Update Drive list. Drives = " << disk;
        }
    }
    return true;
}

media_drive_info_s MediaRecorderImpl::GetMediaDriveSpace(const std::string& name) const {
    media_drive_info_s info;
    if (const auto drive = drives_->Find(name)) drive->GetSpace(info);
    return info;
}

}  // namespace orvale::recorder
