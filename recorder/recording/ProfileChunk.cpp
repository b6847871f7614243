#include "recorder/recording/ProfileChunk.h"

#include <array>
#include <ctime>
#include <utility>

#include "common/Log.h"

namespace orvale::recorder {
namespace {

struct FlagMapping {
    uint32_t eventFlag;
    uint32_t eventBits;
    uint32_t analyticsBits;
    uint32_t audioBits;
};

constexpr uint32_t kIvFlag = 0x20;

constexpr std::array<FlagMapping, 20> kFlagMappings = {{
    {0x1, RECORD_ALARM, 0, 0},
    {0x2, RECORD_MOTION, 0, 0},
    {0x4, RECORD_VIDEOLOSS, 0, 0},
    {0x8, RECORD_MANUAL, 0, 0},
    {0x10, RECORD_CONTINUOUS, 0, 0},
    {kIvFlag, RECORD_IV, 0, 0},
    {0x40, RECORD_ARB, 0, 0},
    {0x4000, RECORD_IV, 0x80, 0},
    {0x8000, RECORD_AUDIODETECT, 0, 0},
    {0x10000, 0x1000, 0, 0},
    {0x20000, RECORD_USERDEFINED, 0, 0},
    {0x40000, RECORD_IV, 0x200, 0},
    {0x80000, 0x1000, 0, 0},
    {0x100000, RECORD_IV, 0x400, 0},
    {0x200000, RECORD_IV, 0x800, 0},
    {0x400000, RECORD_FOGDETECTION, 0, 0},
    {0x800000, RECORD_AUDIOANALYTICS, 0, 0x1},
    {0x1000000, RECORD_AUDIOANALYTICS, 0, 0x2},
    {0x2000000, RECORD_AUDIOANALYTICS, 0, 0x4},
    {0x4000000, RECORD_AUDIOANALYTICS, 0, 0x8},
}};

// Analytics kinds that count only together with the IV flag: 0x100 -> 0x1
// (passing) up to 0x2000 -> 0x20 (scene change).
constexpr uint32_t kIvKindFirst = 0x100;
constexpr int kIvKindCount = 6;

int64_t WallClock() {
    return static_cast<int64_t>(std::time(nullptr));
}

int64_t FloorHour(int64_t second) {
    const int64_t hour = second / 3600;
    return (second % 3600 < 0) ? hour - 1 : hour;
}

}  // namespace

ProfileChunk::ProfileChunk(std::string channelId, int32_t kind, Clock clock)
    : kind_(kind), channelId_(std::move(channelId)), clock_(std::move(clock)) {}

int64_t ProfileChunk::Now() const {
    return clock_ ? clock_() : WallClock();
}

timeline_flags_s ProfileChunk::EventFlagsToTimeline(uint32_t eventFlags) {
    timeline_flags_s flags;
    for (const FlagMapping& m : kFlagMappings) {
        if ((eventFlags & m.eventFlag) == 0) continue;
        flags.eventBits |= m.eventBits;
        flags.analyticsBits |= m.analyticsBits;
        flags.audioBits |= m.audioBits;
    }
    if ((eventFlags & kIvFlag) != 0) {
        for (int i = 0; i < kIvKindCount; ++i) {
            if ((eventFlags & (kIvKindFirst << i)) != 0) flags.analyticsBits |= 1u << i;
        }
    }
    return flags;
}

bool ProfileChunk::IsSameHour(int64_t a, int64_t b) {
    return FloorHour(a) == FloorHour(b);
}

int64_t ProfileChunk::SecondsLeftInHour(int64_t time) {
    return 3599 - (time - FloorHour(time) * 3600);
}

int64_t ProfileChunk::RecordingSecond(const video_frame_header_s& header) {
    const auto t = static_cast<int64_t>(header.time);
    const uint32_t ms = header.timeMs;
    if (!started_) {
        started_ = true;
        currentSecond_ = 0;
        msTotal_ = lastMsDelta_ = 0;
        lastFrameMs_ = 0;
        clockSecond_ = Now();
        lastCameraSecond_ = t;
    }
    if (useFrameTime_) {
        lastCameraSecond_ = t;
        return t;
    }
    if (lastFrameMs_ == 0) {
        msTotal_ = lastMsDelta_ = 0;
    } else {
        int32_t step = static_cast<int32_t>(ms - lastFrameMs_);
        if (step < 0) {
            step = lastMsDelta_;
        } else {
            lastMsDelta_ = step;
        }
        msTotal_ += step;
    }
    const int64_t last = lastCameraSecond_;
    if (t != last) {
        if (last < t && t < last + 60) {
            clockSecond_ += t - last;
        } else {
            const int64_t now = Now();
            clockSecond_ = clockSecond_ < now ? now : clockSecond_ + 1;
        }
        lastCameraSecond_ = t;
        msTotal_ = 0;
    } else if (static_cast<uint32_t>(msTotal_ - 1000) <= 499) {
        if (clockSecond_ + 1 <= Now()) {
            ++clockSecond_;
            ++lastCameraSecond_;
            msTotal_ = 0;
        }
    }
    lastFrameMs_ = ms;
    return clockSecond_;
}

void ProfileChunk::StartSecond(int64_t second, timeline_flags_s& flags) {
    ReportOverflow();
    uint8_t slots[kSlotCount] = {};
    if (decisions_.IsRecordingTime(second, slots)) {
        flags.time = second;
        decisions_.CollectSecondEvents(slots, flags);
    }
    currentSecond_ = second;
    if (current_) CloseCurrent();
    PlaceSecond(second);
}

// Queues the current second, or drops it at once when nothing can mark it
// any more: it is still the last thing in its arena, whose place the next
// second then takes.
void ProfileChunk::CloseCurrent() {
    std::shared_ptr<FrameBuffer> closed = std::move(current_);
    current_.reset();
    if (DropsAtClose(*closed)) {
        Recycle(std::move(closed));
        return;
    }
    if (open_ && closed->Arena() == open_) {
        openFill_ = closed->ArenaOffset() + closed->Length();
        ++openSeconds_;
    } else {
        // It outgrew its arena: the seconds after it start another.
        closeArena_ = true;
    }
    finished_.Add(std::move(closed));
    RefreshAverage();
    RecountWaiting();
}

void ProfileChunk::RefreshAverage() {
    uint32_t average = averageSecondBytes_;
    finished_.ForEach([&average](const std::shared_ptr<FrameBuffer>& second) {
        average = average == 0 ? second->Length() : (average + second->Length()) / 2;
    });
    averageSecondBytes_ = average;
}

bool ProfileChunk::AddVideoFrame(const video_frame_header_s& header, const void* data, int32_t size,
                                 uint32_t eventFlags) {
    std::lock_guard lock(mutex_);
    if (size < 0 || static_cast<uint32_t>(size) > kSecondByteLimit) {
        OLOG(common::kLogError) << "CH[" << channelId_
                                << "], Frame size is invalid. size = " << size;
        return true;
    }
    const int64_t second = RecordingSecond(header);
    timeline_flags_s flags;
    if (second != currentSecond_) StartSecond(second, flags);
    if (!current_) return true;

    const timeline_flags_s frameFlags = EventFlagsToTimeline(eventFlags);
    flags.eventBits |= frameFlags.eventBits;
    flags.analyticsBits |= frameFlags.analyticsBits;
    flags.audioBits |= frameFlags.audioBits;

    const auto bytes = static_cast<uint32_t>(size);
    if (uint64_t{current_->Length()} + bytes > kSecondByteLimit) {
        ++droppedVideo_;
        return true;
    }
    scratchHeader_.type = RECORD_TYPE_VIDEO;
    scratchHeader_.infoLength = kVideoInfoLength;
    scratchHeader_.payloadLength = bytes + kVideoInfoLength;
    scratchVideo_ = video_frame_info_s();
    scratchVideo_.codec = static_cast<uint32_t>(header.codec);
    scratchVideo_.time = static_cast<uint64_t>(second);
    scratchVideo_.timeMs = header.timeMs;
    scratchVideo_.width = header.width;
    scratchVideo_.height = header.height;
    scratchVideo_.frameType = static_cast<uint8_t>(header.frameType);
    current_->AddVideoFrame(scratchHeader_, scratchVideo_, data, bytes, flags);

    const second_frame_info_s& info = current_->Summary();
    if (!largeReported_ &&
        (current_->Length() > kLargeSecondBytes || info.videoFrameCount > kLargeSecondFrames)) {
        largeReported_ = true;
        OLOG(common::kLogFatal) << "CH[" << channelId_
                                << "], Size of Buffer is too much. size = " << current_->Length()
                                << ", Video Frame = " << info.videoFrameCount
                                << "Audio Frame = " << info.audioFrameCount;
    }
    return true;
}

bool ProfileChunk::AddAudioFrame(const audio_frame_header_s& header, const void* data,
                                 int32_t size) {
    std::lock_guard lock(mutex_);
    if (!started_ || !current_) return true;
    if (size < 0 || uint64_t{current_->Length()} + static_cast<uint32_t>(size) > kSecondByteLimit) {
        ++droppedAudio_;
        return true;
    }
    const auto bytes = static_cast<uint32_t>(size);
    scratchHeader_.type = RECORD_TYPE_AUDIO;
    scratchHeader_.infoLength = kAudioInfoLength;
    scratchHeader_.payloadLength = bytes + kAudioInfoLength;
    scratchAudio_ = audio_frame_info_s();
    scratchAudio_.codec = static_cast<uint32_t>(header.codec);
    scratchAudio_.timeMs = header.timeMs;
    scratchAudio_.format0 = header.format0;
    scratchAudio_.format1 = header.format1;
    scratchAudio_.format2 = header.format2;
    current_->AddAudioFrame(scratchHeader_, scratchAudio_, data, bytes);
    return true;
}

// One line for a second that overflowed, when it ends, however many frames
// it refused: a stuck frame time must not flood the log.
void ProfileChunk::ReportOverflow() {
    if (droppedVideo_ != 0 || droppedAudio_ != 0) {
        OLOG(common::kLogError) << "CH[" << channelId_ << "], Second " << currentSecond_
                                << " is full, " << droppedVideo_ << " video and " << droppedAudio_
                                << " audio frames dropped";
    }
    droppedVideo_ = 0;
    droppedAudio_ = 0;
    largeReported_ = false;
}

void ProfileChunk::Flush() {
    std::lock_guard lock(mutex_);
    ReportOverflow();
    if (current_ && current_->Summary().firstFrameTime > 0) {
        CloseCurrent();
    } else if (current_) {
        Recycle(std::move(current_));
        current_.reset();
    }
    if (open_ && openSeconds_ > 0) CloseArena();
    RecountWaiting();
}

void ProfileChunk::Reset() {
    std::lock_guard lock(mutex_);
    ReportOverflow();
    if (decisions_.ResetEvents()) {
        OLOG(common::kLogInfo) << "CH[" << channelId_ << "] Manual Record Duration is inserted.";
    }
    finished_.Clear();
    framePool_.Clear();
    writePool_.Clear();
    current_.reset();
    open_.reset();
    openFill_ = 0;
    openSeconds_ = 0;
    closeArena_ = false;
    handOverRequested_ = false;
    handOverReady_ = false;
    waitingBuffers_ = 0;
    averageSecondBytes_ = 0;
}

void ProfileChunk::SetTrackId(uint32_t trackId) {
    std::lock_guard lock(mutex_);
    trackId_ = trackId;
    started_ = false;
}

void ProfileChunk::RestartClock() {
    std::lock_guard lock(mutex_);
    started_ = false;
    clockSecond_ = 0;
    lastCameraSecond_ = 0;
    currentSecond_ = 0;
    averageSecondBytes_ = 0;
}

bool ProfileChunk::SetSchedule(const media_schedule_s& schedule) {
    std::lock_guard lock(mutex_);
    decisions_.SetSchedule(schedule);
    return true;
}

void ProfileChunk::GetHolidays(std::vector<media_holiday_s>& out) {
    std::lock_guard lock(mutex_);
    out = decisions_.Holidays();
}

void ProfileChunk::GetSchedule(media_schedule_s& out) {
    std::lock_guard lock(mutex_);
    decisions_.GetSchedule(out);
}

bool ProfileChunk::SetHolidays(const std::vector<media_holiday_s>& holidays) {
    std::lock_guard lock(mutex_);
    decisions_.SetHolidays(holidays);
    return true;
}

bool ProfileChunk::SetEventRecordDuration(const event_duration_s& durations) {
    std::lock_guard lock(mutex_);
    decisions_.SetEventRecordDuration(durations);
    return true;
}

std::vector<second_frame_info_s*> ProfileChunk::QueuedSummaries() const {
    std::vector<second_frame_info_s*> summaries;
    summaries.reserve(finished_.Size());
    finished_.ForEach([&summaries](const std::shared_ptr<FrameBuffer>& second) {
        summaries.push_back(second->GetFrameInfo().get());
    });
    return summaries;
}

bool ProfileChunk::SetUseContinuousOnlyForLow(bool enable) {
    std::lock_guard lock(mutex_);
    const bool was = decisions_.UseContinuous();
    decisions_.SetUseContinuous(enable);
    if (was || !enable) return true;
    const auto remark = [this](second_frame_info_s* info) {
        if (info != nullptr &&
            decisions_.IsContinuousSecond(static_cast<int64_t>(info->firstFrameTime))) {
            info->eventBits |= RECORD_CONTINUOUS;
        }
    };
    if (current_) remark(current_->GetFrameInfo().get());
    for (second_frame_info_s* info : QueuedSummaries()) remark(info);
    return true;
}

bool ProfileChunk::StartEvent(uint32_t type, uint32_t value, bool momentary) {
    std::lock_guard lock(mutex_);
    // Until the first frame after a start (a video-loss restart included)
    // there is no recording second: the event is judged by the current time.
    const int64_t second = currentSecond_ != 0 ? currentSecond_ : Now();
    const RecordDecisions::EventStart start = decisions_.StartEvent(type, value, momentary, second);
    if (start.markRecent) {
        const std::vector<second_frame_info_s*> queued = QueuedSummaries();
        AddEventToRecentSeconds(start.preSeconds, start.flags, queued,
                                current_ ? current_->GetFrameInfo().get() : nullptr);
    }
    return start.accepted;
}

uint8_t ProfileChunk::StopEvent(uint32_t type, uint32_t value) {
    std::lock_guard lock(mutex_);
    return decisions_.StopEvent(type, value);
}

}  // namespace orvale::recorder
