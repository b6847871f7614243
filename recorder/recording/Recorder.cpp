#include "recorder/recording/Recorder.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>
#include <utility>

#include <boost/asio/post.hpp>

#include "common/Log.h"

namespace orvale::recorder {

using common::kLogDebug;
using common::kLogFatal;
using common::kLogInfo;
using common::kLogWarning;

namespace {

int64_t SystemUtcSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t SystemSteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Recorder::Recorder(int32_t trackId, std::shared_ptr<Channel> channel,
                   const media_encrypt_s& encryption, std::string scheduleId,
                   int64_t maxDataFileSize, common::AsioThreadPool* pool,
                   std::shared_ptr<QzDatabase> catalogue, uint32_t recordTime, Clocks clocks)
    : channelId_(channel->GetId()),
      clocks_(std::move(clocks)),
      statusStrand_(pool->IoService()),
      writeStrand_(pool->IoService()),
      trackId_(trackId),
      encryption_(encryption),
      scheduleId_(std::move(scheduleId)),
      maxDataFileSize_(maxDataFileSize),
      catalogue_(std::move(catalogue)),
      channel_(std::move(channel)) {
    const ProfileChunk::Clock chunkClock = clocks_.utcSeconds;
    normal_.number = 1;
    normal_.chunk = std::make_shared<ProfileChunk>(channelId_, 1, chunkClock);
    normal_.pending = &pendingNormal_;
    normal_.writtenStatus = RECORDER_STATUS_NORMAL_WRITTEN;
    normal_.idleStatus = RECORDER_STATUS_NORMAL_IDLE;
    low_.number = 2;
    low_.chunk = std::make_shared<ProfileChunk>(channelId_, 2, chunkClock);
    low_.pending = &pendingLow_;
    low_.writtenStatus = RECORDER_STATUS_LOW_WRITTEN;
    low_.idleStatus = RECORDER_STATUS_LOW_IDLE;
    normal_.pacer.SetOffset(recordTime);
    low_.pacer.SetOffset(recordTime);
    OLOG(kLogInfo) << "CH=[" << channelId_ << "], trackId = " << trackId
                   << ", recordTime = " << recordTime;
    for (Profile* profile : {&normal_, &low_}) {
        profile->chunk->SetTrackId(static_cast<uint32_t>(trackId));
        profile->trackId = trackId;
    }
}

Recorder::~Recorder() = default;

int64_t Recorder::NowUtc() const {
    return clocks_.utcSeconds ? clocks_.utcSeconds() : SystemUtcSeconds();
}

int64_t Recorder::NowSteadyNs() const {
    return clocks_.steadyNanoseconds ? clocks_.steadyNanoseconds() : SystemSteadyNanoseconds();
}

std::string Recorder::GetChannelId() {
    return channelId_;
}

bool Recorder::StartRecording() {
    std::lock_guard lock(mainLock_);
    if (recording_) {
        OLOG(kLogInfo) << "CH=[" << channelId_ << "]Already Started Recording ";
        return true;
    }
    recording_ = true;
    for (Profile* profile : {&normal_, &low_}) {
        profile->lastFrameTime = 0;
        profile->lastSecond = 0;
        profile->written = false;
        // A change made while stopped is not left waiting for a key frame:
        // nothing of the old track is being recorded any more.
        if (profile->trackPending.exchange(false)) ApplyPendingTrack(*profile);
        profile->handOverDue = false;
        profile->videoCount = 0;
        profile->audioCount = 0;
        std::lock_guard pacer(profile->pacerLock);
        profile->pacer.Reset();
    }
    active_ = false;
    errorLatched_ = false;
    noSpaceLatched_ = false;
    metaCount_ = 0;
    metaBytesPerSecond_ = 0;
    ApplyMediaChannel(GetMediaChannel());
    normal_.chunk->RestartClock();
    low_.chunk->RestartClock();
    // The first frame opens an arena; it finds one ready.
    normal_.chunk->PrepareArena();
    {
        std::lock_guard metaLock(metaLock_);
        currentMeta_.reset();
        lastQueuedMetaSecond_ = 0;
    }
    OLOG(kLogInfo) << "CH=[" << channelId_ << "]Started Recording ";
    return true;
}

void Recorder::StopRecording() {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "] Ready for stop Recording.";
    // Outside the main lock, so that a callback that touches the recorder
    // meanwhile cannot hold the wait up.
    if (Stop()) WaitForStatusReports();
}

bool Recorder::Stop() {
    std::lock_guard lock(mainLock_);
    if (!recording_) {
        OLOG(kLogInfo) << "CH=[" << channelId_ << "]Already Stoped Recording ";
        return false;
    }
    recording_ = false;
    WakeWaiters();
    // Frame input that saw `recording_` set finishes its frame first.
    while (pushing_.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (Profile* profile : {&normal_, &low_}) {
        profile->chunk->Flush();
        // Each job takes one track and one hour; bounded so a chunk that keeps
        // refilling cannot hold the stop.
        size_t rounds = profile->chunk->GetFinishedSecondCount() + 1;
        do {
            WriteProfile(*profile);
        } while (profile->chunk->GetFinishedSecondCount() > 0 && rounds-- > 0);
    }
    OLOG(kLogDebug) << "CH=[" << channelId_ << "] Writed Normal&Low";
    normal_.chunk->Reset();
    low_.chunk->Reset();

    WaitForPending(normal_, "Normal");
    CloseWriter(normal_);
    OLOG(kLogDebug) << "CH=[" << channelId_ << "] End Normal File Writer";
    WaitForPending(low_, "Low");
    CloseWriter(low_);
    OLOG(kLogDebug) << "CH=[" << channelId_ << "] End Low File Writer";

    {
        // The second being filled is the last one: it is written too.
        std::lock_guard metaLock(metaLock_);
        if (currentMeta_ && !currentMeta_->Empty() &&
            currentMeta_->Second() != lastQueuedMetaSecond_ &&
            !metaQueue_.Contains(currentMeta_->Second())) {
            metaQueue_.Insert(currentMeta_->Second(), currentMeta_);
        }
        currentMeta_.reset();
    }
    WriteMetaData();
    DropMetaWriter();
    metaQueue_.Clear();
    OLOG(kLogDebug) << "CH=[" << channelId_ << "] End Meta";

    const int64_t now = NowUtc();
    PostStatus(RECORDER_STATUS_LOW_IDLE, now);
    PostStatus(RECORDER_STATUS_NORMAL_IDLE, now);
    OLOG(kLogInfo) << "CH=[" << channelId_ << "]Stoped Recording ";
    return true;
}

// Every status of the stop was posted before this point (the write results
// before their buffers left the pending queues), so once a job posted now
// has run on the status strand, the callback has heard them all. A stop from
// inside the callback cannot wait for its own strand.
void Recorder::WaitForStatusReports() {
    if (statusStrand_.running_in_this_thread()) return;
    auto reached = std::make_shared<std::promise<void>>();
    std::future<void> heard = reached->get_future();
    boost::asio::post(statusStrand_, [reached] { reached->set_value(); });
    if (heard.wait_for(std::chrono::milliseconds(kStatusWaitMs)) != std::future_status::ready) {
        OLOG(kLogWarning) << "CH=[" << channelId_
                          << "] the statuses of the stop were not heard within "
                          << kStatusWaitMs / 1000 << " s";
    }
}

void Recorder::WaitForPending(Profile& profile, const char* what) {
    // Results arrive from the drive's threads, not from a strand, so a stop
    // from inside the status callback still sees them. Each result wakes the
    // wait, so the stop goes on as soon as the last write has ended; the
    // seconds of a failed write are written again from here, since the
    // writing jobs wait for the stop.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    do {
        std::unique_lock lock(pendingMutex_);
        pendingDone_.wait_until(lock, deadline, [&profile] {
            return profile.pending->Size() == 0 || profile.rewriting > 0;
        });
    } while (profile.rewriting > 0 && Rewrite(profile));
    if (profile.pending->Size() > 0) {
        OLOG(kLogWarning) << "CH=[" << channelId_ << "] " << profile.pending->Size() << " " << what
                          << " buffers still writing after " << kStopWaitMs / 1000
                          << " s; closing the writer waits for them";
    }
    OLOG(kLogDebug) << "CH=[" << channelId_ << "] End " << what << " Writing Buffer";
}

void Recorder::WaitForPendingBelow(Profile& profile, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    do {
        std::unique_lock lock(pendingMutex_);
        pendingDone_.wait_until(lock, deadline, [&profile, count] {
            return profile.pending->Size() < count || profile.rewriting > 0;
        });
    } while (profile.rewriting > 0 && Rewrite(profile));
}

void Recorder::SetEventCallback(RecorderEventCallback callback) {
    std::lock_guard lock(mainLock_);
    std::lock_guard settings(settingsMutex_);
    callback_ = std::move(callback);
}

media_channel_s Recorder::GetMediaChannel() {
    media_channel_s record;
    record.id = channelId_;
    const auto table = catalogue_ ? catalogue_->GetChannelTable() : nullptr;
    if (!table || !table->Select(record)) {
        OLOG(kLogFatal) << "CH[" << channelId_ << "], Faild to find MEDIA_CHANNEL in db.";
        media_channel_s fallback;
        fallback.id = channelId_;
        return fallback;
    }
    return record;
}

void Recorder::SetMediaChannel(const media_channel_s& channel) {
    std::lock_guard lock(mainLock_);
    const auto table = catalogue_ ? catalogue_->GetChannelTable() : nullptr;
    if (table && table->Update(channel)) {
        ApplyMediaChannel(channel);
        return;
    }
    OLOG(kLogFatal) << "CH[" << channelId_ << "],Faild to find MEDIA_CHANNEL in db.";
}

void Recorder::ApplyMediaChannel(const media_channel_s& record) {
    useAudioRecord_ = record.audioRecord;
    useEncrypt_ = record.encrypt;
    useArb_ = record.arb;
    {
        std::lock_guard settings(settingsMutex_);
        scheduleId_ = record.scheduleId;
    }
    SetUseContinuousOnlyForLow(record.continuousOnlyForLow);
    event_duration_s durations;
    durations.slots[kSlotMotion] = record.motion;
    durations.slots[kSlotAlarm] = record.alarm;
    durations.slots[kSlotVideoLoss] = record.videoLoss;
    durations.slots[kSlotAnalytics] = record.iv;
    durations.slots[kSlotAudio] = record.audio;
    SetEventRecordDuration(durations);
    channel_->SetRetentionPeriod(record.retentionTime);
}

std::string Recorder::GetScheduleId() {
    std::lock_guard settings(settingsMutex_);
    return scheduleId_;
}

bool Recorder::SetSchedule(std::string& scheduleId, const media_schedule_s& schedule,
                           const std::vector<media_holiday_s>& holidays) {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "], Set Scheudle ID = " << scheduleId;
    normal_.chunk->SetSchedule(schedule);
    low_.chunk->SetSchedule(schedule);
    normal_.chunk->SetHolidays(holidays);
    low_.chunk->SetHolidays(holidays);
    const auto table = catalogue_ ? catalogue_->GetChannelTable() : nullptr;
    if (!table || !table->UpdateScheduleId(channelId_, scheduleId)) return false;
    std::lock_guard settings(settingsMutex_);
    scheduleId_ = scheduleId;
    return true;
}

void Recorder::ResetSchedule() {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "], ResetSchedule.";
    const media_schedule_s none{};
    const std::vector<media_holiday_s> noHolidays;
    normal_.chunk->SetSchedule(none);
    low_.chunk->SetSchedule(none);
    normal_.chunk->SetHolidays(noHolidays);
    low_.chunk->SetHolidays(noHolidays);
    const auto table = catalogue_ ? catalogue_->GetChannelTable() : nullptr;
    if (!table || !table->UpdateScheduleId(channelId_, "0")) return;
    std::lock_guard settings(settingsMutex_);
    scheduleId_ = "0";
}

void Recorder::GetNormalSchedule(media_schedule_s& schedule,
                                 std::vector<media_holiday_s>& holidays) {
    normal_.chunk->GetSchedule(schedule);
    normal_.chunk->GetHolidays(holidays);
}

bool Recorder::SetEventRecordDuration(const event_duration_s& durations) {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "], " << durations.ToString();
    normal_.chunk->SetEventRecordDuration(durations);
    low_.chunk->SetEventRecordDuration(durations);
    uint32_t keep = maxPreRecordSeconds_;
    for (int slot = 0; slot < kSlotContinuous; ++slot) {
        keep = std::max(keep, durations.slots[slot].preRecTime);
    }
    if (keep > kPreRecordCeiling) {
        OLOG(kLogWarning) << "CH=[" << channelId_ << "], pre-record time " << keep
                          << " s is kept at " << kPreRecordCeiling << " s";
        keep = kPreRecordCeiling;
    }
    maxPreRecordSeconds_ = keep;
    // The seconds kept back never count as waiting for the disk.
    normal_.chunk->SetKeepSeconds(keep);
    low_.chunk->SetKeepSeconds(keep);
    return true;
}

void Recorder::SetEncryptType(const media_encrypt_s& encryption) {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "],Encrypt Type = " << encryption.type
                   << ", Algorithm = " << encryption.algorithm;
    std::lock_guard settings(settingsMutex_);
    encryption_ = encryption;
}

void Recorder::SetUseLowProfile(bool on) {
    OLOG(kLogInfo) << "useLowProfile = " << on;
    std::lock_guard lock(mainLock_);
    const bool was = useLowProfile_.exchange(on);
    if (on) {
        low_.chunk->RestartClock();
    } else {
        low_.chunk->Reset();
        if (was) CloseWriter(low_);
    }
    // Which profile keeps continuous recording depends on both switches.
    normal_.chunk->SetUseContinuousOnlyForLow(!(continuousOnlyForLow_ && useLowProfile_));
}

void Recorder::SetUseContinuousOnlyForLow(bool on) {
    std::lock_guard lock(mainLock_);
    OLOG(kLogInfo) << "CH=[" << channelId_ << "], SetUseContinuousOnlyForLow = " << on;
    if (on == continuousOnlyForLow_) return;
    continuousOnlyForLow_ = on;
    normal_.chunk->SetUseContinuousOnlyForLow(!(continuousOnlyForLow_ && useLowProfile_));
}

void Recorder::ChangeTrackId(int32_t trackId) {
    trackId_ = trackId;
    normal_.trackPending = true;
    low_.trackPending = true;
}

void Recorder::SetUseFrameTime(bool use) {
    normal_.chunk->SetUseFrameTime(use);
    low_.chunk->SetUseFrameTime(use);
}

uint16_t Recorder::NotifyEvent(int32_t type, int32_t value, bool flag) {
    if (!recording_) return kRefused;
    const auto eventType = static_cast<uint32_t>(type);
    const auto eventValue = static_cast<uint32_t>(value);
    if (type == RECORD_VIDEOLOSS) {
        OLOG(kLogDebug) << "CH[" << channelId_ << "] VIDEO LOSS";
        for (Profile* profile : {&normal_, &low_}) {
            profile->chunk->StartEvent(eventType, eventValue, flag);
            profile->chunk->StopEvent(RECORD_MANUAL, 0);
        }
        PostStatus(RECORDER_STATUS_VIDEO_LOSS, normal_.lastFrameTime + 1);
        StopRecording();
        StartRecording();
        return 0;
    }
    if (type == RECORD_MANUAL) {
        std::lock_guard manual(manualLock_);
        if (!channel_->HasWritableDrive()) return kRefused;
        if (noSpaceLatched_) return kNoSpace;
        manualStartTime_ = NowSteadyNs();
        normal_.chunk->StartEvent(eventType, eventValue, flag);
        low_.chunk->StartEvent(eventType, eventValue, flag);
        return 0;
    }
    normal_.chunk->StartEvent(eventType, eventValue, flag);
    low_.chunk->StartEvent(eventType, eventValue, flag);
    return 0;
}

uint16_t Recorder::NotifyEventEnd(int32_t type, int32_t value) {
    if (!recording_) return kRefused;
    const auto eventType = static_cast<uint32_t>(type);
    const auto eventValue = static_cast<uint32_t>(value);
    if (type == RECORD_MANUAL) {
        std::lock_guard manual(manualLock_);
        const int64_t elapsed = (NowSteadyNs() - manualStartTime_) / 1'000'000'000;
        if (elapsed < 30) return kRefused;
    }
    normal_.chunk->StopEvent(eventType, eventValue);
    low_.chunk->StopEvent(eventType, eventValue);
    return 0;
}

uint32_t Recorder::GetBitrate(int32_t profile) {
    uint32_t bytes = (profile == 2 ? low_ : normal_).chunk->AverageSecondBytes();
    if (metaCount_ != 0) bytes += metaBytesPerSecond_;
    return bytes * 8;
}

void Recorder::LogRecordStatus() {
    OLOG(kLogInfo) << "CH[" << channelId_
                   << "],Record Frame Status: Normal(V = " << normal_.videoCount
                   << ", A = " << normal_.audioCount << ", M = " << metaCount_
                   << "), Low(V = " << low_.videoCount << ", A = " << low_.audioCount << ")"
                   << "Buffer Status: Normal(F =" << normal_.chunk->GetFinishedSecondCount()
                   << ",W =" << pendingNormal_.Size()
                   << "), Low(F = " << low_.chunk->GetFinishedSecondCount()
                   << ",W =" << pendingLow_.Size() << "),"
                   << "Meta(W = " << metaQueue_.Size() << ")";
    if (recording_) {
        const int64_t now = NowUtc();
        if (normal_.videoCount == 0 && normal_.written)
            PostStatus(RECORDER_STATUS_NORMAL_IDLE, now);
        if (low_.videoCount == 0 && low_.written) PostStatus(RECORDER_STATUS_LOW_IDLE, now);
    }
    for (Profile* profile : {&normal_, &low_}) {
        profile->videoCount = 0;
        profile->audioCount = 0;
    }
    metaCount_ = 0;
}

// --- status state ---

void Recorder::PostStatus(int32_t code, int64_t time) {
    std::weak_ptr<Recorder> weak = weak_from_this();
    boost::asio::post(statusStrand_, [weak, code, time] {
        if (const auto self = weak.lock()) self->OnStatus(code, time);
    });
}

void Recorder::OnStatus(int32_t code, int64_t time) {
    switch (code) {
        case RECORDER_STATUS_NORMAL_WRITTEN:
        case RECORDER_STATUS_LOW_WRITTEN:
            (code == RECORDER_STATUS_NORMAL_WRITTEN ? normal_ : low_).written = true;
            if (!active_ && recording_ && !errorLatched_ && !noSpaceLatched_) {
                active_ = true;
                CallBack(RECORDER_STATUS_RECORDING, time);
            }
            break;
        case RECORDER_STATUS_NORMAL_IDLE:
        case RECORDER_STATUS_LOW_IDLE:
            (code == RECORDER_STATUS_NORMAL_IDLE ? normal_ : low_).written = false;
            if (active_ && !normal_.written && !low_.written) {
                active_ = false;
                CallBack(RECORDER_STATUS_NOT_RECORDING, time);
            }
            break;
        case RECORDER_STATUS_WRITE_OK:
            errorLatched_ = false;
            break;
        case RECORDER_STATUS_NO_WRITABLE_DRIVE:
        case RECORDER_STATUS_VIDEO_LOSS:
        case RECORDER_STATUS_FOLDER_MISSING:
        case RECORDER_STATUS_NO_FILE:
        case RECORDER_STATUS_WRITE_FAILED:
            if (!errorLatched_.exchange(true)) CallBack(code, time);
            break;
        case RECORDER_STATUS_SPACE_OK:
            noSpaceLatched_ = false;
            break;
        case RECORDER_STATUS_NO_SPACE:
            if (!noSpaceLatched_.exchange(true)) CallBack(code, time);
            break;
        default:
            break;
    }
}

void Recorder::CallBack(int32_t code, int64_t time) {
    RecorderEventCallback callback;
    {
        std::lock_guard settings(settingsMutex_);
        callback = callback_;
    }
    if (callback) callback(channelId_, code, time);
}

}  // namespace orvale::recorder
