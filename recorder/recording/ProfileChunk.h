// The intake buffer of one recording profile of one channel: pushed frames
// become frame records in the frame buffer of the current recording second;
// closed seconds wait in `finished` until the owner's writing job takes them
// packed into a write buffer. Whether a second is written is decided at
// hand-over by the event bits its summary carries.
//
// The chunk owns its record decisions, its recording clock, its pools of
// frame buffers and write buffers, and every queued second. One recursive
// lock serialises frame input, events, settings and the choice of seconds at
// hand-over; the bytes of the chosen seconds are copied into the write buffer
// outside it, after they have left `finished`, so the pre-record walk and the
// continuous re-marking only ever touch seconds still queued.
//
// A write buffer handed out belongs to the caller until it comes back through
// ReleaseWriteBuffer. No operation throws.
//
// Spare buffers are kept so that steady recording touches no fresh memory
// (a first touch costs a page fault per 4096 bytes): up to kFramePoolLength
// frame buffers, enough for the seconds of one hand-over (sixteen by the
// write pacing, more when the writing job starts late), each at most 1.2
// times its last second, and up to kWritePoolLength write buffers, one being
// written while the next is packed, each about 1.2 times its last hand-over.
// At 4 Mbit/s that is at most about 19 MB of frame buffers and 20 MB of write
// buffers per chunk, the memory a hand-over of that size needs anyway; Reset
// gives it all back.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/ConcurrentQueue.h"
#include "common/ConcurrentVector.h"
#include "recorder/api/MediaTypes.h"
#include "recorder/recording/RecordDecisions.h"
#include "recorder/store/FrameBuffer.h"
#include "recorder/store/FrameRecord.h"
#include "recorder/store/WriteBuffer.h"

namespace orvale::recorder {

class ProfileChunk {
  public:
    // Seconds since 1970, UTC; injectable for tests.
    using Clock = std::function<int64_t()>;

    static constexpr uint32_t kWriteBufferCapacity = 0x80000;
    static constexpr uint32_t kFramePoolLength = 32;
    static constexpr uint32_t kWritePoolLength = 2;
    // Above these a second is reported (once) as too large but kept.
    static constexpr uint32_t kLargeSecondBytes = 0xA00000;
    static constexpr uint32_t kLargeSecondFrames = 120;
    // Beyond this a second takes no more frames: a stuck frame time must not
    // grow one buffer without bound. What it refuses is counted and logged
    // in one line when the second ends.
    static constexpr uint32_t kSecondByteLimit = 0x4000000;

    ProfileChunk(std::string channelId, int32_t kind, Clock clock = nullptr);

    ProfileChunk(const ProfileChunk&) = delete;
    ProfileChunk& operator=(const ProfileChunk&) = delete;

    // Always true; a refused frame is only logged.
    bool AddVideoFrame(const video_frame_header_s& header, const void* data, int32_t size,
                       uint32_t eventFlags);
    bool AddAudioFrame(const audio_frame_header_s& header, const void* data, int32_t size);

    void Flush();
    void Reset();
    void SetTrackId(uint32_t trackId);
    void RestartClock();
    void SetUseFrameTime(bool use) { useFrameTime_ = use; }

    bool SetSchedule(const media_schedule_s& schedule);
    void GetSchedule(media_schedule_s& out);
    bool SetHolidays(const std::vector<media_holiday_s>& holidays);
    void GetHolidays(std::vector<media_holiday_s>& out);
    bool SetEventRecordDuration(const event_duration_s& durations);
    bool SetUseContinuousOnlyForLow(bool enable);

    bool StartEvent(uint32_t type, uint32_t value, bool momentary);
    uint8_t StopEvent(uint32_t type, uint32_t value);

    // Packs the queued seconds but the newest `keep` into one write buffer of
    // one track and one hour; seconds without event bits are dropped. Empty
    // when fewer than `keep` seconds are queued.
    std::shared_ptr<WriteBuffer> TakeWriteBuffer(uint32_t keep);
    void ReleaseWriteBuffer(std::shared_ptr<WriteBuffer> buffer);

    std::shared_ptr<FrameBuffer> PopFinishedSecond();
    std::shared_ptr<second_frame_info_s> GetOldestSecondInfo();
    size_t GetFinishedSecondCount() const { return finished_.Size(); }

    uint32_t AverageSecondBytes() const { return averageSecondBytes_; }
    int32_t Kind() const { return kind_; }

    static bool IsSameHour(int64_t a, int64_t b);
    // Seconds of `time`'s UTC hour after `time`, 0..3599.
    static int64_t SecondsLeftInHour(int64_t time);
    // The timeline bits a pushed frame's event flags stand for.
    static timeline_flags_s EventFlagsToTimeline(uint32_t eventFlags);

  private:
    int64_t Now() const;
    int64_t RecordingSecond(const video_frame_header_s& header);
    void StartSecond(int64_t second, timeline_flags_s& flags);
    void ReportOverflow();
    void CloseCurrent();
    void RefreshAverage();
    void Recycle(std::shared_ptr<FrameBuffer> buffer);
    std::vector<second_frame_info_s*> QueuedSummaries() const;

    mutable std::recursive_mutex mutex_;
    const int32_t kind_;
    const std::string channelId_;
    const Clock clock_;
    uint32_t trackId_ = 1;
    std::atomic<bool> useFrameTime_{false};
    int64_t clockSecond_ = 0;
    int64_t lastCameraSecond_ = 0;
    RecordDecisions decisions_;
    bool started_ = false;
    int64_t currentSecond_ = 0;
    // What the current second refused, reported once when it ends.
    uint32_t droppedVideo_ = 0;
    uint32_t droppedAudio_ = 0;
    bool largeReported_ = false;
    ConcurrentQueue<std::shared_ptr<FrameBuffer>> framePool_{kFramePoolLength};
    std::shared_ptr<FrameBuffer> current_;
    ConcurrentVector<std::shared_ptr<FrameBuffer>> finished_;
    ConcurrentQueue<std::shared_ptr<WriteBuffer>> writePool_{kWritePoolLength};
    std::atomic<uint32_t> averageSecondBytes_{0};
    int32_t msTotal_ = 0;
    int32_t lastMsDelta_ = 0;
    uint32_t lastFrameMs_ = 0;
    record_header_s scratchHeader_;
    video_frame_info_s scratchVideo_;
    audio_frame_info_s scratchAudio_;
};

}  // namespace orvale::recorder
