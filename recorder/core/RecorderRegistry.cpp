// The engine's recorder registry: creating, finding and deleting the
// recorders of channels, deleting channels, schedules, the track id and the
// retention estimate.
#include <filesystem>
#include <vector>

#include "common/Log.h"
#include "recorder/core/ChannelIdCheck.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/core/RegistryWalk.h"
#include "recorder/database/ArbTable.h"
#include "recorder/database/BookmarkTable.h"
#include "recorder/database/ChannelTable.h"

namespace orvale::recorder {

using common::kLogError;
using common::kLogInfo;
using common::kLogWarning;

IRecorder* MediaRecorderImpl::CreateRecorder(const std::string& channelId,
                                             const std::string& scheduleId, int protocol,
                                             bool failover) {
    if (!CheckChannelId(channelId, "CreateRecorder")) return nullptr;
    std::lock_guard lock(mutex_);
    if (const auto existing = recorders_->Find(channelId)) return existing.get();
    const auto table = catalogue_->GetChannelTable();
    if (!table || !bufferPool_) return nullptr;

    media_channel_s record;
    record.id = channelId;
    if (!table->Select(record)) {
        record = media_channel_s{};
        record.id = channelId;
        drives_->ForEach([&record](const std::shared_ptr<Drive>& drive) {
            if (drive->GetStatus() == MEDIA_DRIVE_STATUS_ALLOCATE) record.disk += drive->GetName();
        });
        record.scheduleId = scheduleId;
        record.protocol = protocol;
        record.failoverStatus = failover;
        if (!table->Insert(record)) return nullptr;
    }

    Channel::Drives named;
    for (const char letter : record.disk) {
        if (auto drive = drives_->Find(std::string(1, letter))) named.push_back(std::move(drive));
    }
    std::shared_ptr<Channel> channel = channels_->Find(channelId);
    if (channel) {
        channel->AddDrives(named);
        channel->SetRetentionPeriod(record.retentionTime);
    } else {
        channel = std::make_shared<Channel>(channelId, record.retentionTime, useOverwrite_.load(),
                                            drivePool_.get(), bufferPool_);
        channel->AddDrives(named);
        channels_->Insert(channelId, channel);
    }

    const uint32_t recordTime = recorderCounter_;
    recorderCounter_ = (recorderCounter_ + 1) % 10;
    auto recorder = std::make_shared<Recorder>(
        static_cast<int32_t>(trackId_.load()), channel, GetEncryptionInfo(), record.scheduleId,
        dataFileSize_.load(), recorderPool_.get(), catalogue_, recordTime);
    // The engine's dual-record switch holds for recorders made after it changed.
    if (!useDualRecord_) recorder->SetUseLowProfile(false);
    recorders_->Insert(channelId, recorder);
    return recorder.get();
}

IRecorder* MediaRecorderImpl::GetRecorder(const std::string& channelId) {
    return recorders_->Find(channelId).get();
}

void MediaRecorderImpl::DeleteRecorder(const std::string& channelId) {
    const auto recorder = recorders_->Find(channelId);
    if (recorder && recorder->IsRecording()) recorder->StopRecording();
    recorders_->Erase(channelId);
}

bool MediaRecorderImpl::DeleteChannel(const std::string& channelId, bool removeData) {
    OLOG(kLogInfo) << "ready for delete channel[" << channelId << "]";
    if (!CheckChannelId(channelId, "DeleteChannel")) return false;
    // Before the engine lock, which a playback callback holding the
    // container's lock may be waiting for.
    playbackMedia_->EraseByChannel(channelId);
    std::lock_guard lock(mutex_);
    if (const auto arb = arbRecorders_->Find(channelId)) {
        // One never started has nothing to write and nothing to report.
        if (arb->IsStarted()) arb->Stop(true);
        arbRecorders_->Erase(channelId);
    }
    if (const auto recorder = recorders_->Find(channelId)) {
        recorder->StopRecording();
        recorders_->Erase(channelId);
    }
    // The object kept by an earlier delete without data, which playback and
    // searches still reach.
    const auto kept = unlistedChannels_->Find(channelId);
    if (const auto channel = channels_->Find(channelId)) {
        // Space kept for its next files is no longer needed by anyone.
        channel->ReleaseReservedSpace();
        if (removeData) {
            channel->RemoveAllMediaData();
            if (kept && kept != channel) kept->RemoveAllMediaData();
            unlistedChannels_->Erase(channelId);
        } else {
            // It takes the place of the kept one and knows its drives too.
            if (kept) {
                Channel::Drives recorded;
                kept->GetRecordedDrives(recorded);
                for (const auto& drive : recorded) channel->AddRecordedDrive(drive);
            }
            unlistedChannels_->Erase(channelId);
            unlistedChannels_->Insert(channelId, channel);
        }
        channels_->Erase(channelId);
    } else if (removeData) {
        unlistedChannels_->Erase(channelId);
        std::vector<std::shared_ptr<Drive>> all;
        drives_->Values(all);
        try {
            for (const auto& drive : all) drive->RemoveChannel(channelId);
        } catch (const std::filesystem::filesystem_error& e) {
            OLOG(kLogError) << "CH[" << channelId
                            << "] Failed to delete record data. exception = " << e.what();
        }
    }
    if (const auto arbs = catalogue_->GetArbTable()) arbs->DeleteByCameraId(channelId);
    if (const auto bookmarks = catalogue_->GetBookmarkTable()) bookmarks->DeleteByGuid(channelId);
    if (const auto table = catalogue_->GetChannelTable()) table->Delete(channelId);
    OLOG(kLogInfo) << "Deleted channel[" << channelId << "]";
    return true;
}

bool MediaRecorderImpl::SetSchedule(const std::string& scheduleId, const media_schedule_s& schedule,
                                    const std::vector<media_holiday_s>& holidays) {
    WalkRegistry(*recorders_, "SetSchedule", [&](const std::shared_ptr<Recorder>& recorder) {
        std::string id = scheduleId;
        if (recorder->GetScheduleId() == id) recorder->SetSchedule(id, schedule, holidays);
    });
    return true;
}

bool MediaRecorderImpl::ResetSchedule(const std::string& scheduleId) {
    WalkRegistry(*recorders_, "ResetSchedule", [&](const std::shared_ptr<Recorder>& recorder) {
        if (recorder->GetScheduleId() == scheduleId) recorder->ResetSchedule();
    });
    return true;
}

void MediaRecorderImpl::ChangeTrackId(int trackId) {
    WalkRegistry(
        *recorders_, "ChangeTrackId",
        [trackId](const std::shared_ptr<Recorder>& recorder) { recorder->ChangeTrackId(trackId); });
}

void MediaRecorderImpl::StopAllRecorders() {
    WalkRegistry(*recorders_, "StopRecording",
                 [](const std::shared_ptr<Recorder>& recorder) { recorder->StopRecording(); });
}

void MediaRecorderImpl::StopStartedArbRecorders() {
    WalkRegistry(*arbRecorders_, "Stop ARB recorder", [](const std::shared_ptr<ArbRecorder>& arb) {
        if (arb->IsStarted()) arb->Stop(true);
    });
}

IArbRecorder* MediaRecorderImpl::CreateArbRecorder(const std::string& channelId) {
    if (!CheckChannelId(channelId, "CreateArbRecorder")) return nullptr;
    if (const auto existing = arbRecorders_->Find(channelId)) return existing.get();
    const auto channel = channels_->Find(channelId);
    if (!channel) {
        OLOG(kLogError) << "CH[" << channelId << "] Not found channel object.";
        return nullptr;
    }
    const auto recorder = recorders_->Find(channelId);
    if (!recorder) {
        OLOG(kLogError) << "CH[" << channelId << "] Not found recorder object.";
        return nullptr;
    }
    arbRecorders_->Insert(channelId, std::make_shared<ArbRecorder>(channel, dataFileSize_.load(),
                                                                   servicePool_.get()));
    // Of two racing calls both configure and hand out the one registered.
    const auto arb = arbRecorders_->Find(channelId);
    if (!arb) return nullptr;
    arb->UseAudioRecord(recorder->UseAudioRecord());
    arb->UseEncrypt(recorder->UseEncrypt());
    media_schedule_s schedule{};
    std::vector<media_holiday_s> holidays;
    recorder->GetNormalSchedule(schedule, holidays);
    arb->SetSchedule(schedule);
    arb->SetHoliday(holidays);
    arb->SetEncryptType(GetEncryptionInfo());
    OLOG(kLogInfo) << "CH[" << channelId << "] Created ARB recorder.";
    return arb.get();
}

IArbRecorder* MediaRecorderImpl::GetArbRecorder(const std::string& channelId) {
    return arbRecorders_->Find(channelId).get();
}

void MediaRecorderImpl::DeleteArbRecorder(const std::string& channelId) {
    const auto arb = arbRecorders_->Find(channelId);
    if (arb && arb->IsStarted()) arb->Stop(true);
    arbRecorders_->Erase(channelId);
}

unsigned MediaRecorderImpl::GetExpectedRetention(const std::string& channelId) {
    try {
        const auto channel = channels_->Find(channelId);
        if (!channel) {
            OLOG(kLogWarning) << "Failed to find the record channel.  channel = " << channelId;
            return 0;
        }
        Channel::Drives writable;
        channel->GetWritableDrives(writable);
        ChannelTableRows rows;
        if (const auto table = Catalogue()->GetChannelTable()) table->SelectAll(rows);
        uint64_t total = 0;
        for (const auto& drive : writable) {
            const uint64_t capacity = drive->GetCapacity();
            const uint64_t keep = drive->GetMinFreeSize();
            if (capacity <= keep) continue;
            const uint64_t rate = DriveRecordRate(*drive, rows);
            if (rate > 0) total += (capacity - keep) / rate;
        }
        const uint64_t hours = total / 3600;
        return hours >= 1 ? static_cast<unsigned>(hours - 1) : 0;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Channel = " << channelId
                        << ", Expected Retention Time Exception : " << e.what();
        return 0;
    }
}

// Bytes per second the registered recorders of the drive's channels write.
uint64_t MediaRecorderImpl::DriveRecordRate(const Drive& drive,
                                            const ChannelTableRows& rows) const {
    uint64_t rate = 0;
    for (const auto& [id, row] : rows) {
        if (row.disk.find(drive.GetName()) == std::string::npos) continue;
        const auto recorder = recorders_->Find(id);
        if (!recorder) continue;
        uint32_t bits = recorder->GetBitrate(1) + recorder->GetBitrate(2);
        if (recorder->HasMetaFrames() && bits != 0) bits -= recorder->MetaBytesPerSecond();
        rate += 86 + bits / 8;
    }
    return rate;
}

}  // namespace orvale::recorder
