// The playback medium: plays one channel and track back to one caller. It
// finds the hour and data file of a time through the channel, reads the data
// file in windows of whole seconds into at most three read buffers (front:
// being delivered; behind it the next windows, read one after the other by
// the drive's read queue, the next data file's only once the reads of this
// one have landed), walks their frame records and hands each frame to the
// caller's data callback when the pacing of the current speed allows it; a
// backup (export) delivers everything of its range on a worker thread
// without pacing and ends with one final header.
//
// Who drives it: whoever calls Process (the engine's playback timer, tests
// with their own clock); a backup drives itself on the worker pool. One step
// delivers at most one video frame; Process repeats steps only while they
// have more to do now, and passes over a medium whose lock another thread
// holds, so it never waits for a caller. With an open pool, the start of
// reading that answers an open (finding the hour, reading its index and
// metadata rows from their databases) runs there, not on the driving thread:
// the step posts it, answers nothing else and delivers nothing until it is
// done, then answers the open with its outcome. One timer thread drives
// every medium, and a database read on it would hold all of them. For the
// same reason the open has the buffer pool keep as many buffers as a medium
// reads into, so that the read-ahead takes kept ones (a new buffer maps
// memory).
//
// Locks: `mutex_` (recursive) guards every member but the atomics; callbacks
// run with it held, so a callback may call OpenMedia/ControlMedia/Stop (its
// effect shows from the next step: a generation count tells the step that
// called out that its buffer or pacing state were replaced). Lock order:
// the container's, then this one. So a callback runs with `mutex_` held only
// on a thread that took the container's lock first (the timer's tick) or on
// a backup's worker (the container never waits for a backup's lock); the
// STOP answer, given on the caller's thread, comes after `mutex_` is let go.
// An open's start runs on the open pool holding `mutex_` and no other lock,
// and calls no callback. The atomics are read by the engine's container
// without the lock. A read completes on the drive's read queue and touches
// only its buffer: a buffer with a read in flight is never resized or given
// back to the pool (dropping it leaves it to the read, whose last reference
// frees it).
//
// Owned by the engine through a shared pointer; posted work holds weak ones.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/api/Interfaces.h"
#include "recorder/api/MediaTypes.h"
#include "recorder/playback/PlaybackPacing.h"
#include "recorder/storage/Channel.h"
#include "recorder/store/BufferPool.h"
#include "recorder/store/FileReader.h"
#include "recorder/store/IndexRecords.h"
#include "recorder/store/MetaDataFrame.h"
#include "recorder/store/ReadBuffer.h"

namespace orvale::common {
class AsioThreadPool;
}

namespace orvale::recorder {

struct FrameRecordView;

class PlaybackMediaImpl : public PlaybackMedia,
                          public std::enable_shared_from_this<PlaybackMediaImpl> {
  public:
    // Monotonic nanoseconds; injectable so that tests own the pacing clock.
    using SteadyClock = std::function<int64_t()>;

    // Profile types of the playback side.
    static constexpr uint32_t kMainProfile = 4;
    static constexpr uint32_t kLowProfile = 6;
    // Tries of a read at the live edge of a recording, one a second.
    static constexpr int32_t kRetryCount = 15;
    // Read buffers a reading medium holds at most (the front and two
    // windows read ahead).
    static constexpr size_t kMostReadBuffers = 3;

    // `pool` (the engine's first worker pool, used for backups) and
    // `openPool` (where opens start reading; none: on the driving thread)
    // must outlive the medium; `clock` defaults to the steady clock.
    PlaybackMediaImpl(uint32_t mediaId, uint32_t trackId, std::shared_ptr<Channel> channel,
                      std::string session, common::AsioThreadPool* pool,
                      std::shared_ptr<BufferPool> bufferPool, SteadyClock clock = {},
                      common::AsioThreadPool* openPool = nullptr);
    ~PlaybackMediaImpl() override;

    PlaybackMediaImpl(const PlaybackMediaImpl&) = delete;
    PlaybackMediaImpl& operator=(const PlaybackMediaImpl&) = delete;

    // --- PlaybackMedia ---
    std::string GetChannelId() override;
    bool IsOpened() override { return opened_.load(); }
    void Stop() override;
    bool OpenMedia(int seqID, int64_t start, int64_t end, int speed, bool pause, bool backup,
                   unsigned profileType, OpenMediaCallback data,
                   OpenMediaResponseCallback response) override;
    bool ControlMedia(int seqID, unsigned controlType, int64_t time, int speed,
                      unsigned profileType, ControlMediaResponseCallback response) override;

    // --- what the engine's container uses ---
    // One tick's work: answers at most one queued response per step and
    // delivers what is due. `syncTime` (seconds, 0 = none) is the session
    // time: frames before it are passed over, frames after it wait. Returns
    // at once, without taking the lock, for a backup medium and for one not
    // yet opened or controlled, and at once when another thread holds it.
    void Process(int64_t syncTime);
    // The queued answers only, nothing delivered: for a medium of a session
    // that has no time yet (an open answered now may still fail).
    void AnswerQueued();
    // The key-frame time at which playing from `time` in the direction of
    // `speed` (forward when >= 0) would start; 0 when there is none.
    int64_t FindStartTime(int64_t time, int speed);

    uint32_t GetMediaId() const { return mediaId_; }
    const std::string& GetSession() const { return session_; }
    bool IsBackup() const { return backup_.load(); }
    bool IsWaitingForSync() const { return waitingForSync_.load(); }
    void ClearWaitingForSync() { waitingForSync_.store(false); }
    // Seconds; set when a session medium waits at a frame more than 5 s
    // past its position, 0 otherwise.
    int64_t GetNextFrameTime() const { return nextFrameTime_.load(); }
    // Under the lock: what a session takes over from its first medium.
    int32_t GetState() const;
    int64_t GetPosition() const;
    // Where a session taking this medium over plays from: its position, or
    // before its first frame the time it was opened or repositioned at.
    int64_t GetPlayTime() const;
    int32_t GetSpeed() const;
    uint32_t GetRequestedProfile() const { return requestedProfile_.load(); }
    // True while a read that was posted has not landed yet (tests wait for
    // it before the next tick, so that delivery does not depend on the disk).
    bool IsReadPending() const;
    // The end of a medium the engine has let go of: stopped (a running
    // backup ends with its final header 0), queued answers dropped, and no
    // callback from then on; a backup not yet started never starts.
    void Retire();
    // Retire's promise without its lock, for a thread that may not wait for
    // it: no callback starts after this returns. Retire follows.
    void Mute() { retired_.store(true); }
    bool IsRetired() const { return retired_.load(); }

  private:
    // Tests hold a medium's lock as a slow caller (an open reading its index
    // from a busy disk) would, or its channel's as a drive change would, and
    // look at the buffers its pool had to make.
    friend class PlaybackMediaInternals;

    // The lock as the caller's threads take it (open, control, stop): while
    // one waits, a backup's worker lets it in between two steps, which it
    // would otherwise take back at once.
    class OutsideLock {
      public:
        explicit OutsideLock(const PlaybackMediaImpl& medium) : medium_(medium) {
            ++medium_.lockWaiters_;
            medium_.mutex_.lock();
            --medium_.lockWaiters_;
        }
        ~OutsideLock() { medium_.mutex_.unlock(); }
        OutsideLock(const OutsideLock&) = delete;
        OutsideLock& operator=(const OutsideLock&) = delete;

      private:
        const PlaybackMediaImpl& medium_;
    };

    struct PendingResponse {
        uint32_t seqID = 0;
        bool isOpen = false;
        bool isControl = false;
        bool startReading = false;  // an open that is to start reading
        uint64_t ticket = 0;        // ... its start posted to the open pool (0: not yet)
        bool prepared = false;      // ... and has run there (`result` is its outcome)
        uint32_t result = 0;        // a control's outcome
        OpenMediaResponseCallback openResponse;
        ControlMediaResponseCallback controlResponse;
    };

    // --- open and control (PlaybackMediaImpl.cpp) ---
    void StopReading();
    bool StartReading(int64_t time);
    // The range and data callback of an open that is taken.
    void TakeRequest(int64_t start, int64_t end, OpenMediaCallback data);
    // Answers the front queued response; false ends the step.
    bool AnswerFront();
    // True while the front response is an open whose start of reading runs
    // on the open pool (posted here when it is not yet).
    bool AwaitsPreparedOpen();
    // The open pool's job: starts reading for the open `ticket` names, if it
    // is still the front response.
    void PrepareOpen(uint64_t ticket);
    void AdvanceCounter();
    void LogControl(int seqID, unsigned controlType, int64_t time, int speed,
                    unsigned profileType) const;
    // STOP's work under the lock; false when no answer is to be given.
    bool StopFromControl(int seqID, uint8_t& counter);
    void ApplyControl(unsigned controlType, int64_t time, int speed, unsigned profileType,
                      uint32_t& result);
    void ApplyPlay(int64_t time, int speed, uint32_t& result);
    void ApplyStep(int64_t time, int speed, uint32_t& result);
    void Reposition(int64_t time, int speed, bool pause, uint32_t& result);
    // The time a repositioning without a time of its own goes to.
    int64_t CurrentTime(int64_t time) const;
    int64_t NowNs() const { return clock_(); }
    void CallData(playback_media_header_s& header, long size, const uint8_t* data);
    void StopAfterException(const char* what);

    // --- reading windows (PlaybackOpen.cpp, PlaybackWindow.cpp) ---
    bool OpenMediaInternal(int64_t time);
    bool OpenFirst(ReadBuffer& buffer, int64_t time);
    bool OpenPrevious(ReadBuffer& buffer);
    bool OpenNext(ReadBuffer& buffer);
    bool PostRead(const std::shared_ptr<ReadBuffer>& buffer);
    bool LoadIndexRows(const char* zeroLine);
    bool LoadDualTrackRows(FileReader& reader, std::vector<dual_track_row_s>& rows);
    // Keeps the entries before `from` and appends the rows of [from, to].
    void LoadMetadata(int64_t from, int64_t to);
    int64_t RowEnd(size_t row, const ReadBuffer& buffer) const;
    bool SetReadBufferOffset(ReadBuffer& buffer, int64_t offset, bool forward);
    bool SetForwardWindow(ReadBuffer& buffer, int64_t start, int64_t switchTime);
    bool SetLastRowWindow(ReadBuffer& buffer, int64_t start, int64_t switchTime, bool& again);
    bool SetReverseWindow(ReadBuffer& buffer, int64_t end, int64_t switchTime);
    void EndWindowAt(ReadBuffer& buffer, size_t row);
    void TakeOpenRowWhole(ReadBuffer& buffer, int64_t start, const char* resizeLine);
    void MarkSwitch(ReadBuffer& buffer, int64_t switchTime, int64_t rowTime);
    // Grows the buffer to hold `need` bytes of window and the partial
    // sectors around it; false when that is beyond the largest buffer.
    bool GrowFor(ReadBuffer& buffer, int64_t need, const char* line);
    int64_t Room(const ReadBuffer& buffer) const;
    int64_t FindSwitchTime(bool forward) const;
    bool HasData(const dual_track_row_s& row, uint32_t profile) const;
    bool HasNextRecording();
    bool IsSwitchAhead(int64_t switchTime, bool rowEnd, int64_t rowEndTime, int64_t rowTime);
    bool IsSwitchBehind(int64_t switchTime, int64_t fileStart);
    // A second in [from, to] without data in the profile in use.
    bool HasDataGap(int64_t from, int64_t to) const;

    // --- delivery and pacing (PlaybackDelivery.cpp) ---
    bool Step(int64_t syncTime);
    // Where the hour lookups of a prefetch report a held channel: a medium
    // that a timer drives does not wait for a drive change or an overwrite.
    bool* ChannelBusyFlag() { return openPool_ != nullptr && !backup_ ? &channelBusy_ : nullptr; }
    void RetryBack();
    void PrefetchIfDue();
    bool DeliverFront(int64_t syncTime);
    // An exhausted front that is the only buffer while the prefetch waits
    // for its channel stays: letting it go would end the reading.
    bool KeepsLastFront() const { return awaitingNext_ && readBuffers_.size() == 1; }
    // `buffer` is the front of the queue; once a buffer is released or a
    // callback has replaced the reading, it is not touched again.
    bool DeliverRecord(const std::shared_ptr<ReadBuffer>& buffer, const FrameRecordView& record,
                       int64_t syncTime);
    bool DeliverVideo(const std::shared_ptr<ReadBuffer>& buffer, const FrameRecordView& record,
                      int64_t syncTime);
    bool DeliverAudio(const std::shared_ptr<ReadBuffer>& buffer, const FrameRecordView& record);
    // Calls the data callback with the buffer kept alive; false when the
    // callback replaced the reading.
    bool CallDataFor(const std::shared_ptr<ReadBuffer>& buffer, playback_media_header_s& header,
                     long size, const uint8_t* data);
    // False when a callback replaced what the step works on.
    bool DeliverMetadata(int64_t time, uint32_t stamp);
    uint32_t CheckContinuity(ReadBuffer& buffer, int64_t time, uint32_t stamp, bool forward);
    void RestartPacing();
    PaceResult Pace(uint32_t interval, bool keyFrame) const;
    void AdvanceReadOffset(ReadBuffer& buffer, uint64_t length);
    // Gives the buffer back and takes it out of the queue; with the queue
    // empty, reading ends (a backup sends its final header).
    void ReleaseReadBuffer(const ReadBuffer* buffer, int32_t status);
    static bool IsFinished(const ReadBuffer& buffer);

    // --- backup (PlaybackBackup.cpp) ---
    void RunBackup(int seqID, OpenMediaResponseCallback response);
    void WaitForRead(const ReadBuffer& buffer);
    void EndBackup(int32_t marker);
    void FailBackup(const char* what);
    bool EndBrokenBackup();

    mutable std::recursive_mutex mutex_;
    mutable std::atomic<int> lockWaiters_{0};  // callers and the tick waiting for mutex_
    const uint32_t mediaId_;
    const uint32_t trackId_;
    common::AsioThreadPool* const threadPool_;
    common::AsioThreadPool* const openPool_;
    uint64_t nextTicket_ = 0;
    const std::shared_ptr<Channel> channel_;
    std::shared_ptr<FileReader> reader_;
    std::vector<dual_track_row_s> dualTrackRows_;  // of the hour read, in time order
    std::atomic<uint32_t> requestedProfile_{kMainProfile};
    uint32_t profileInUse_ = kMainProfile;
    const std::string session_;
    std::atomic<bool> opened_{false};
    bool readingStarted_ = false;
    bool pause_ = false;
    std::atomic<bool> backup_{false};
    std::atomic<bool> waitingForSync_{false};
    std::atomic<bool> retired_{false};
    std::atomic<bool> awake_{false};  // opened (not as a backup) or controlled once
    const std::shared_ptr<BufferPool> bufferPool_;
    std::deque<std::shared_ptr<ReadBuffer>> readBuffers_;
    std::shared_ptr<OpenMediaCallback> dataCallback_;
    int64_t startTime_ = 0;
    int64_t endTime_ = 0;
    int64_t lastFrameTime_ = 0;
    int64_t position_ = 0;
    std::atomic<int64_t> nextFrameTime_{0};
    int32_t speed_ = 1;
    uint32_t lastDeliveredStamp_ = 0;
    uint32_t lastSeenStamp_ = 0;
    int64_t lastDeliveryNs_ = 0;
    bool deliveredOnce_ = false;
    uint8_t responseCounter_ = 0;
    int32_t gopCounter_ = 0;
    int32_t state_ = 0;
    std::vector<index_row_s> indexRows_;  // of the current data file, in time order
    size_t currentRow_ = 0;
    std::deque<PendingResponse> pending_;
    std::deque<std::shared_ptr<MetaDataFrame>> metadata_;

    // Bookkeeping of this implementation.
    const SteadyClock clock_;
    uint64_t generation_ = 0;                  // moves whenever reading stops or restarts
    const ReadBuffer* firstBuffer_ = nullptr;  // the buffer a start of reading took
    int64_t prefetchNotBeforeNs_ = 0;          // after a failed prefetch
    bool lastVideoShown_ = false;              // audio goes only with the video frames shown
    bool awaitingNext_ = false;                // this step's prefetch could not be made now
    bool channelBusy_ = false;                 // the last hour lookup found the channel held
    bool finalHeaderSent_ = false;             // of the current backup
    bool secondLost_ = false;                  // the current backup could not read a second
    bool holdFinalHeader_ = false;             // while an open is being answered
    int32_t heldFinalMarker_ = -1;
    std::shared_ptr<ReadBuffer> backupWait_;  // the read a backup step waits for
    struct ReadSignal {
        std::mutex mutex;
        std::condition_variable landed;
    };
    const std::shared_ptr<ReadSignal> readSignal_ = std::make_shared<ReadSignal>();
};

}  // namespace orvale::recorder
