// The engine's settings and its drive registry: MediaRecorderImpl's
// operations that the caller reaches through the exported setters and the
// drive methods.
#include <map>

#include <boost/asio/post.hpp>

#include "common/GlobalNames.h"
#include "common/Log.h"
#include "recorder/core/ChannelIdCheck.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/core/RegistryWalk.h"
#include "recorder/database/ChannelTable.h"
#include "recorder/database/CommonTable.h"
#include "recorder/database/DriveTable.h"
#include "recorder/store/FrameRecord.h"

namespace orvale::recorder {
using common::kLogError;
using common::kLogInfo;
using common::kLogWarning;

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
// The largest data file size whose byte count a signed 64-bit number holds.
constexpr int64_t kLargestDataFileMiB = INT64_MAX / static_cast<int64_t>(kMiB);
// The largest buffer size whose whole sectors a 32-bit size holds.
constexpr unsigned kLargestBufferSize = 0xFFFFFFFFU / kSectorSize * kSectorSize;

}  // namespace

// Channels made before the change follow it too: the next overwriting writer
// request of each one deletes, or keeps, as the setting now says.
void MediaRecorderImpl::SetUseOverwrite(bool value) {
    OLOG(kLogInfo) << "UseOverwrite(" << (value ? 1 : 0) << ")";
    std::lock_guard lock(mutex_);
    if (value == useOverwrite_) return;
    useOverwrite_ = value;
    if (auto common = catalogue_->GetCommonTable())
        common->SetValue(common::kOverwriteSetting, value);
    WalkRegistry(*channels_, "SetUseOverwrite", [value](const std::shared_ptr<Channel>& channel) {
        channel->SetUseOverwrite(value);
    });
}

void MediaRecorderImpl::SetUseDualRecord(bool value) {
    std::lock_guard lock(mutex_);
    if (value == useDualRecord_) return;
    if (auto common = catalogue_->GetCommonTable()) {
        common->SetValue(common::kDualRecordSetting, value);
    }
    useDualRecord_ = value;
    WalkRegistry(
        *recorders_, "SetUseDualRecord",
        [value](const std::shared_ptr<Recorder>& recorder) { recorder->SetUseLowProfile(value); });
}

void MediaRecorderImpl::SetMinFreeSpace(unsigned mib) {
    OLOG(kLogInfo) << "MinFreeSpace(" << mib << " MB)";
    const uint64_t bytes = uint64_t{mib} * kMiB;  // at most 2^52: never overflows
    minFreeSpace_ = bytes;
    WalkRegistry(*drives_, "SetMinFreeSpace",
                 [bytes](const std::shared_ptr<Drive>& drive) { drive->SetMinFreeSpace(bytes); });
}

unsigned MediaRecorderImpl::GetMinFreeSpace() const {
    return static_cast<unsigned>(minFreeSpace_.load() / kMiB);
}

// A size of no bytes, or one whose byte count does not fit, would leave every
// later recorder without a data file while its pushes still answer true.
void MediaRecorderImpl::SetDataFileSize(int64_t mib) {
    OLOG(kLogInfo) << "Data File Size(" << mib << " MB)";
    if (mib < 1 || mib > kLargestDataFileMiB) {
        OLOG(kLogError) << "Data File Size(" << mib << " MB) is refused: it must lie within 1 to "
                        << kLargestDataFileMiB << " MB; it stays " << GetDataFileSize() << " MB";
        return;
    }
    dataFileSize_ = mib * static_cast<int64_t>(kMiB);
}

// Buffers are whole sectors: a size whose sectors do not fit 32 bits would
// make buffers that hold nothing, as would a size of 0.
void MediaRecorderImpl::SetBufferSize(unsigned bytes) {
    if (bytes == 0 || bytes > kLargestBufferSize) {
        OLOG(kLogError) << "Buffer Size(" << bytes << ") is refused: it must lie within 1 to "
                        << kLargestBufferSize << " bytes; it stays " << bufferSize_.load();
        return;
    }
    bufferSize_ = bytes;
}

int64_t MediaRecorderImpl::GetDataFileSize() const {
    return dataFileSize_.load() / static_cast<int64_t>(kMiB);
}

void MediaRecorderImpl::SetEncryptionInfo(const media_encrypt_s& info) {
    OLOG(kLogInfo) << "Algorithm(" << info.algorithm << "),Type(" << info.type << ")";
    {
        std::lock_guard lock(encryptMutex_);
        encryptInfo_ = info;
    }
    WalkRegistry(
        *recorders_, "SetEncryptionInfo",
        [&info](const std::shared_ptr<Recorder>& recorder) { recorder->SetEncryptType(info); });
    // An ARB recorder was handed the setting when it was made: it follows too.
    WalkRegistry(*arbRecorders_, "SetEncryptionInfo",
                 [&info](const std::shared_ptr<ArbRecorder>& arb) { arb->SetEncryptType(info); });
}

media_encrypt_s MediaRecorderImpl::GetEncryptionInfo() const {
    std::lock_guard lock(encryptMutex_);
    return encryptInfo_;
}

unsigned MediaRecorderImpl::GetMaxPreRecordTimeForSetUp() const {
    const auto table = Catalogue()->GetChannelTable();
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
    ScanChannelFolders();
}

// Every channel folder on a registered drive gets a channel object: in the
// catalogue's registry when the catalogue knows the channel, else in the
// registry of unlisted channels.
void MediaRecorderImpl::ScanChannelFolders() {
    const auto table = catalogue_->GetChannelTable();
    std::vector<std::shared_ptr<Drive>> drives;
    drives_->Values(drives);
    for (const auto& drive : drives) {
        std::vector<std::string> ids;
        drive->ListChannels(ids);
        for (const auto& id : ids) {
            const bool listed = table && table->Exists(id);
            auto& registry = listed ? *channels_ : *unlistedChannels_;
            if (auto channel = registry.Find(id)) {
                channel->AddRecordedDrive(drive);
                continue;
            }
            media_channel_s row;
            row.id = id;
            if (listed) table->Select(row);
            auto channel =
                std::make_shared<Channel>(id, listed ? row.retentionTime : 0, useOverwrite_.load(),
                                          drivePool_.get(), bufferPool_);
            channel->AddRecordedDrive(drive);
            registry.Insert(id, channel);
        }
    }
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
        WalkRegistry(*channels_, "DeleteDrive",
                     [&name = name](const std::shared_ptr<Channel>& channel) {
                         channel->DeleteDrive(name);
                     });
        drives_->Erase(name);
    }
}

bool MediaRecorderImpl::GetMediaDrive(std::vector<media_drive_s>& out) {
    RefreshDrives();
    drives_->ForEach(
        [&out](const std::shared_ptr<Drive>& drive) { out.push_back(drive->GetRecord()); });
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

    if (status == MEDIA_DRIVE_STATUS_RELEASE) ReleaseDriveFromChannels(name);
    if (status == MEDIA_DRIVE_STATUS_ALLOCATE) AddDriveToFailoverChannels(name);
    return true;
}

namespace {

std::string Letters(const Channel::Drives& drives, const std::string& except) {
    std::string letters;
    for (const auto& drive : drives) {
        if (drive->GetName() != except) letters += drive->GetName();
    }
    return letters;
}

}  // namespace

// A released drive leaves every channel that writes to it, and every
// channel's disk list; the host hears once that the configuration changed.
void MediaRecorderImpl::ReleaseDriveFromChannels(const std::string& name) {
    const auto table = catalogue_->GetChannelTable();
    ChannelTable::ChannelMap rows;
    if (!table || !table->SelectAll(rows)) return;
    bool eventDue = false;
    for (const auto& [id, row] : rows) {
        if (const auto channel = channels_->Find(id)) {
            Channel::Drives writable;
            channel->GetWritableDrives(writable);
            const std::string disk = Letters(writable, name);
            if (disk.size() == writable.size()) continue;
            channel->DeleteDrive(name);
            if (const auto recorder = recorders_->Find(id)) recorder->ReleaseDrive(name);
            table->UpdateDisk(id, disk);
            eventDue = true;
            continue;
        }
        std::string disk;
        for (const char letter : row.disk) {
            if (std::string(1, letter) != name) disk += letter;
        }
        if (disk == row.disk) continue;
        table->UpdateDisk(id, disk);
        OLOG(kLogInfo) << "CH[" << id << "] Update Drive list. Drives = " << disk;
    }
    if (eventDue) PostConfigEvent();
}

// An allocated drive joins every failover channel.
void MediaRecorderImpl::AddDriveToFailoverChannels(const std::string& name) {
    const auto table = catalogue_->GetChannelTable();
    ChannelTable::ChannelMap rows;
    if (!table || !table->SelectFailOver(rows)) return;
    const auto drive = drives_->Find(name);
    for (const auto& [id, row] : rows) {
        const std::string disk = row.disk + name;
        if (const auto channel = channels_->Find(id); channel && drive) {
            Channel::Drives writable;
            channel->GetWritableDrives(writable);
            writable.push_back(drive);
            channel->AddDrives(writable);
        }
        table->UpdateDisk(id, disk);
        OLOG(kLogInfo) << "CH[" << id << "] Update Drive list. Drives = " << disk;
    }
}

void MediaRecorderImpl::PostConfigEvent() {
    boost::asio::post(servicePool_->IoService(), [this] {
        std::lock_guard lock(mutex_);
        try {
            if (eventHandler_) eventHandler_(MEDIA_CONFIG_TYPE_DRIVE);
        } catch (const std::exception& e) {
            OLOG(kLogError) << "The configuration event handler failed, Exception: " << e.what();
        }
    });
}

bool MediaRecorderImpl::SetRecordDrives(const std::string& channelId,
                                        const std::string& driveLetters) {
    OLOG(kLogInfo) << "CH[" << channelId << "], Set Record drives =" << driveLetters;
    if (!CheckChannelId(channelId, "SetRecordDrives")) return false;
    std::lock_guard lock(mutex_);
    const auto channel = channels_->Find(channelId);
    if (!channel) {
        OLOG(kLogError) << "Failed to set record drive. Error: Not found channel. ";
        return false;
    }
    Channel::Drives named;
    for (const char letter : driveLetters) {
        if (auto drive = drives_->Find(std::string(1, letter))) {
            named.push_back(std::move(drive));
        } else {
            OLOG(kLogWarning) << "Not found a Drive(" << letter << ")";
        }
    }
    if (!named.empty()) channel->AddDrives(named);
    Channel::Drives writable;
    channel->GetWritableDrives(writable);
    for (const auto& drive : writable) {
        if (driveLetters.find(drive->GetName()) == std::string::npos) {
            channel->DeleteDrive(drive->GetName());
            if (const auto recorder = recorders_->Find(channelId)) {
                recorder->ReleaseDrive(drive->GetName());
            }
        }
    }
    const auto table = catalogue_->GetChannelTable();
    if (table && !table->UpdateDisk(channelId, driveLetters)) {
        OLOG(kLogError) << "Failed to update Disk information.";
        return false;
    }
    return true;
}

media_drive_info_s MediaRecorderImpl::GetMediaDriveSpace(const std::string& name) const {
    media_drive_info_s info;
    if (const auto drive = drives_->Find(name)) drive->GetSpace(info);
    return info;
}

}  // namespace orvale::recorder
