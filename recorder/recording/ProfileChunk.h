// The intake buffer of one recording profile of one channel: pushed frames
// become frame records of the current recording second; closed seconds wait
// in `finished` until the owner's writing job takes them as a write buffer.
// Whether a second is written is decided at hand-over by the event bits its
// summary carries.
//
// The chunk owns its record decisions, its recording clock, its pools of
// frame buffers and write buffers, and every queued second. One recursive
// lock serialises frame input, events, settings and the choice of seconds at
// hand-over; bytes are moved outside it, after the chosen seconds have left
// `finished`, so the pre-record walk and the continuous re-marking only ever
// touch seconds still queued.
//
// Frames are recorded straight into write buffers ("arenas"): each second is
// a frame buffer placed behind the last one in the open arena. At a new
// second the open arena is closed when the owner asked for a hand-over, when
// the track or hour changes, or when it is about full (it holds about
// kWriteSeconds at the profile's rate). A closed arena whose seconds are all
// due is handed over as it is, so a frame's bytes are copied once on their
// way to the disk; seconds are copied again only when they cannot go whole:
// seconds kept back for pre-record, or a second that outgrew its arena. When
// no pre-record can reach a closed second, one without event bits is dropped
// at once and its place reused (unless switching continuous recording back on
// could still mark it).
//
// A write buffer handed out belongs to the caller until it comes back through
// ReleaseWriteBuffer. Arenas and the write buffers of copied seconds are one
// kind of buffer, reused through a pool of kWritePoolLength while their size
// still fits the rate. No operation throws.
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
    // An arena opened before the rate is known.
    static constexpr uint64_t kFirstArenaCapacity = 0x800000;
    static constexpr uint32_t kFramePoolLength = 32;
    static constexpr uint32_t kWritePoolLength = 1;
    // A write buffer holds about this many seconds at the profile's rate.
    static constexpr uint32_t kWriteSeconds = 16;
    // Seconds waiting are counted in units of this many seconds: one less
    // than a buffer holds, so that a caller that waits does so before the
    // arena being filled must be closed.
    static constexpr uint32_t kCountSeconds = 15;
    // Seconds into an arena (recorded, and on the chunk's clock) after which
    // an empty pool asks for the next one:
    // by then the arena written before is normally back in the pool. An
    // arena opened before the rate was known (the first after a start) has
    // none written before it: it asks after its first second, before the
    // first hand-over (five seconds in).
    static constexpr uint32_t kPrepareAfterSeconds = 5;
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

    // Closes the current second and the open arena.
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

    // Packs the oldest queued seconds but the newest `keep` into one write
    // buffer of one track and one hour, of about kWriteSeconds at most;
    // seconds without event bits are dropped. Empty when fewer than `keep`
    // seconds are queued. With `leaveOpen`, seconds of the open arena stay
    // queued (empty pointer when they are the first due) for the arena to be
    // handed over whole once closed; a buffer without seconds still says that
    // nothing due was recorded.
    std::shared_ptr<WriteBuffer> TakeWriteBuffer(uint32_t keep, bool leaveOpen = false);
    void ReleaseWriteBuffer(std::shared_ptr<WriteBuffer> buffer);

    // Asks that the seconds finished by the next new second be handed over:
    // the open arena is closed there, unless seconds are kept back for
    // pre-record (they go by copy).
    void RequestHandOver();
    // True, once, after a new second made a writing job worth posting: an
    // arena was closed, a requested hand-over fell due, or the seconds waiting
    // reached two whole buffers.
    bool TakeHandOverReady() { return handOverReady_.exchange(false); }
    // Puts a write buffer for the next arena into the pool, its memory
    // touched, unless one waits there already: the push that opens the next
    // arena then neither maps nor faults in fresh memory (which can hold a
    // camera thread for tens of milliseconds while the system finds pages).
    // Runs off the push path: at a start, and on the owner's pool when
    // TakeArenaWanted says so.
    void PrepareArena();
    // True, once per arena, when a new second found the pool empty after the
    // open arena had filled for kPrepareAfterSeconds, recorded and on the
    // clock (the first arena: one second): the last written one is not back
    // yet, so PrepareArena is due.
    bool TakeArenaWanted() { return arenaWanted_.exchange(false); }
    // The newest `seconds` finished seconds are kept back for pre-record by
    // the owner's hand-overs; they never count as waiting.
    void SetKeepSeconds(uint32_t seconds);
    // Finished seconds beyond those kept back that no hand-over has taken,
    // as whole write buffers: a closed arena (without pre-record) counts as
    // the one it is, other seconds in whole units of kCountSeconds at the
    // profile's rate (rounded down).
    uint32_t WholeBuffersWaiting() const;

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

    // Arenas and hand-over (ProfileChunkHandOver.cpp).
    bool DropsAtClose(const FrameBuffer& second) const;
    void PlaceSecond(int64_t second);
    bool ShouldCloseArena(int64_t second) const;
    void CloseArena();
    uint64_t ArenaCapacity() const;
    bool FitsRate(const WriteBuffer& buffer) const;
    uint64_t CountUnit() const;  // bytes of kCountSeconds at the rate
    std::shared_ptr<WriteBuffer> TakeArena();
    void RecountWaiting();

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
    std::shared_ptr<WriteBuffer> open_;  // the arena being filled
    uint64_t openFill_ = 0;              // bytes of the finished seconds in it
    uint32_t openSeconds_ = 0;           // finished seconds in it
    int64_t openFirstSecond_ = 0;        // the first second placed in it
    uint32_t openTrack_ = 0;
    bool closeArena_ = false;         // a second left the arena: close it at the next
    bool handOverRequested_ = false;  // until the next new second
    bool arenaAsked_ = false;         // PrepareArena asked for while this arena is open
    bool firstArena_ = false;         // the open arena was opened before the rate was known
    int64_t arenaOpenedAt_ = 0;       // the clock's second when the open arena opened
    std::atomic<bool> arenaWanted_{false};
    std::atomic<bool> handOverReady_{false};
    std::atomic<uint32_t> keepSeconds_{0};
    std::atomic<uint32_t> waitingBuffers_{0};
    std::atomic<uint32_t> averageSecondBytes_{0};
    int32_t msTotal_ = 0;
    int32_t lastMsDelta_ = 0;
    uint32_t lastFrameMs_ = 0;
    record_header_s scratchHeader_;
    video_frame_info_s scratchVideo_;
    audio_frame_info_s scratchAudio_;
};

}  // namespace orvale::recorder
