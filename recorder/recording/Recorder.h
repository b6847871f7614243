// The recording of one camera channel: frames pushed by the caller go into
// the two profile chunks (normal and low), paced writing jobs hand their
// finished seconds to the channel's file writers, metadata seconds go to the
// hour's metadata writer, and the state of it all reaches the caller as
// status codes through one callback.
//
// Owned by the engine's recorder registry through a shared pointer; jobs hold
// weak references and do nothing once it is gone. The recorder owns its
// chunks and its current writers; the channel, the catalogue and the pool are
// shared with the engine.
//
// Locks: `mainLock_` (recursive) serialises start, stop, settings and the
// writing jobs; `metaLock_` guards the metadata second being filled;
// `manualLock_` the manual event; `writerLock_` only the writer pointers, so
// readers of the current drive never wait for a job. Order: mainLock_ before
// writerLock_, metaLock_, the pending queues and the chunks; manualLock_ is
// never held with mainLock_ or metaLock_; `pendingMutex_` is taken only to
// wake or wait for the end of pending writes, and under it a waiter reads
// nothing but the pending queues, the counts of buffers to write again, the
// metadata queue and the chunk's counts; a profile's `rewriteLock` is a leaf.
// Frame input takes no lock but metaLock_, and never waits for a disk nor for
// fresh memory of an arena (the next one is made ready on the pool): a
// metadata second that finds the queue full is dropped; a caller that must
// lose nothing waits on the write buffer count, which counts queued metadata
// seconds too. A stop waits for the frame inputs in progress (`pushing_`).
//
// The metadata of a second goes to the track its video went to (noted per
// second in `videoTracks_`), so a track change, which the video takes at its
// next key frame or at the next start, never parts the two. Status jobs and the callback run on
// `statusStrand_` with no recorder lock held, so the callback may stop the
// recorder. A stop returns once the callback has heard every status of the
// writes made up to and inside it (a stop from the callback itself excepted).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context_strand.hpp>

#include "common/AsioThreadPool.h"
#include "common/ConcurrentMap.h"
#include "common/ConcurrentVector.h"
#include "recorder/api/Interfaces.h"
#include "recorder/api/MediaTypes.h"
#include "recorder/database/QzDatabase.h"
#include "recorder/recording/ProfileChunk.h"
#include "recorder/recording/VideoTracks.h"
#include "recorder/recording/WritePacer.h"
#include "recorder/storage/Channel.h"
#include "recorder/store/FileWriter.h"
#include "recorder/store/MetaDataFrame.h"
#include "recorder/store/MetaDataWriter.h"

namespace orvale::recorder {

class Recorder : public IRecorder, public std::enable_shared_from_this<Recorder> {
  public:
    // Injectable for tests: seconds since 1970 (UTC) and monotonic
    // nanoseconds.
    struct Clocks {
        std::function<int64_t()> utcSeconds;
        std::function<int64_t()> steadyNanoseconds;
    };

    static constexpr uint32_t kMaxFrameSize = 0x25A000;
    // The pre-record keep never exceeds this, whatever a set-up asks.
    static constexpr uint32_t kPreRecordCeiling = 600;
    static constexpr int64_t kMinDataFileSize = 0x3200000;
    static constexpr int64_t kMetaBytesPerSecond = 0x7000;
    // How long a stop waits for outstanding writes before closing anyway.
    static constexpr int kStopWaitMs = 30'000;
    // Writes a stop queues on a writer at a time (a writer logs more than
    // five as too many).
    static constexpr size_t kStopQueuedWrites = 5;
    // How long a stop waits for the callback to hear the stop's statuses.
    static constexpr int kStatusWaitMs = 10'000;
    static constexpr uint16_t kRefused = 0xFFFF;
    static constexpr uint16_t kNoSpace = 1063;
    // Writes a buffer gets, on writers of the drives the channel gives,
    // before its seconds are given up.
    static constexpr int kMaxFailedWrites = 3;

    Recorder(int32_t trackId, std::shared_ptr<Channel> channel, const media_encrypt_s& encryption,
             std::string scheduleId, int64_t maxDataFileSize, common::AsioThreadPool* pool,
             std::shared_ptr<QzDatabase> catalogue, uint32_t recordTime, Clocks clocks = {});
    ~Recorder() override;

    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // --- IRecorder ---
    std::string GetChannelId() override;
    bool IsRecording() override { return recording_; }
    bool StartRecording() override;
    void StopRecording() override;
    void SetEventCallback(RecorderEventCallback callback) override;
    bool UseArb() override { return useArb_; }
    media_channel_s GetMediaChannel() override;
    void SetMediaChannel(const media_channel_s& channel) override;
    bool UseLowProfile() override { return useLowProfile_; }
    std::string GetScheduleId() override;
    bool SetSchedule(std::string& scheduleId, const media_schedule_s& schedule,
                     const std::vector<media_holiday_s>& holidays) override;
    bool SetEventRecordDuration(const event_duration_s& durations) override;
    uint16_t NotifyEvent(int32_t type, int32_t value, bool flag) override;
    uint16_t NotifyEventEnd(int32_t type, int32_t value) override;
    void SetUseFrameTime(bool use) override;
    bool PushVideoFrame(const video_frame_header_s& header, const void* data, uint32_t size,
                        uint32_t eventFlags) override;
    bool PushAudioFrame(const audio_frame_header_s& header, const void* data,
                        uint32_t size) override;
    bool PushMetaFrame(const meta_frame_header_s& header, const void* data, uint32_t size) override;
    std::string GetCurrentDrive() override;
    uint32_t GetBitrate(int32_t profile) override;
    uint32_t GetWriteBufferCount() override;
    uint32_t WaitWriteBufferCount(uint32_t count, uint32_t timeoutMs) override;

    // --- engine side ---
    void SetEncryptType(const media_encrypt_s& encryption);
    void ResetSchedule();
    void ReleaseDrive(const std::string& drive);
    void LogRecordStatus();
    void SetUseLowProfile(bool on);
    void SetUseContinuousOnlyForLow(bool on);
    void ChangeTrackId(int32_t trackId);
    bool UseAudioRecord() const { return useAudioRecord_; }
    bool UseEncrypt() const { return useEncrypt_; }
    // The normal chunk's schedule and holidays, for the channel's ARB recorder.
    void GetNormalSchedule(media_schedule_s& schedule, std::vector<media_holiday_s>& holidays);
    uint32_t MetaBytesPerSecond() const { return metaBytesPerSecond_; }
    uint32_t MaxPreRecordSeconds() const { return maxPreRecordSeconds_; }
    bool HasMetaFrames() const { return metaCount_ != 0; }

  private:
    class PushGuard;
    static constexpr uint64_t kNoHandOverYet = ~uint64_t{0};

    // What differs between the two data profiles.
    struct Profile {
        int32_t number;  // 1 normal, 2 low
        std::shared_ptr<ProfileChunk> chunk;
        std::shared_ptr<FileWriter> writer;  // under writerLock_
        ConcurrentVector<std::shared_ptr<WriteBuffer>>* pending;
        std::atomic<bool> written{false};
        std::atomic<bool> trackPending{false};
        std::atomic<int32_t> trackId{0};  // the track the chunk records on
        std::atomic<int64_t> lastSecond{0};
        std::atomic<int64_t> lastFrameTime{0};
        std::atomic<uint32_t> queuedJobs{0};   // writing jobs posted and not yet run
        std::atomic<uint64_t> handOvers{0};    // write buffers taken from the chunk
        std::atomic<uint32_t> inHand{0};       // taken by a job, not yet pending
        std::atomic<bool> handOverDue{false};  // the pacer's write waits for the last
        std::mutex pacerLock;                  // leaf lock: frame input and start
        WritePacer pacer;
        std::atomic<uint32_t> videoCount{0};
        std::atomic<uint32_t> audioCount{0};
        // Buffers whose write failed, to be written again by the next job
        // (or a waiting stop) on the writer the channel gives then, with the
        // writes each has had. Under `rewriteLock` (a leaf lock).
        std::mutex rewriteLock;
        std::deque<std::shared_ptr<WriteBuffer>> rewrites;
        std::map<const WriteBuffer*, int> failedWrites;
        std::atomic<uint32_t> rewriting{0};  // rewrites.size()
        int32_t writtenStatus;
        int32_t idleStatus;
    };

    int64_t NowUtc() const;
    int64_t NowSteadyNs() const;
    void ApplyMediaChannel(const media_channel_s& record);
    // False when the recorder was not recording.
    bool Stop();
    void WaitForStatusReports();
    void PostStatus(int32_t code, int64_t time);
    void OnStatus(int32_t code, int64_t time);
    void CallBack(int32_t code, int64_t time);

    // Frame input and writing (RecorderWriting.cpp).
    bool PushProfileVideo(Profile& profile, const video_frame_header_s& header, const void* data,
                          uint32_t size, uint32_t eventFlags);
    bool RefuseFrameTime(uint64_t time);
    bool ShouldWrite(Profile& profile);
    void PostWrite(Profile& profile);
    void PostPrepareArena(Profile& profile);
    // `postedAfter`: the profile's hand-overs when the job was posted; a job
    // that finds nothing reports the profile idle unless another job has
    // taken its seconds since.
    void WriteProfile(Profile& profile, uint64_t postedAfter = kNoHandOverYet);
    bool WriteBufferOut(Profile& profile, std::shared_ptr<WriteBuffer> buffer);
    void WakeWaiters();
    std::shared_ptr<FileWriter> WriterFor(Profile& profile, const WriteBuffer& buffer,
                                          bool& renewed);
    int64_t RequiredDataSize(const WriteBuffer& buffer) const;
    void OnFileResult(Profile& profile, const std::shared_ptr<WriteBuffer>& buffer,
                      int32_t errorCode, const std::string& drive);
    void ApplyPendingTrack(Profile& profile);
    // Keeps a buffer whose write failed for another writer; false once it
    // failed kMaxFailedWrites times.
    bool KeepForRewrite(Profile& profile, const std::shared_ptr<WriteBuffer>& buffer);
    // Hands the kept buffers to writers again; false when there were none.
    // The caller holds mainLock_.
    bool Rewrite(Profile& profile);
    void QueueMetaSecond(std::shared_ptr<MetaDataFrameBuffer> second);
    int32_t MetaTrackOf(const MetaDataFrameBuffer& second) const;
    void PostWriteMetaData();
    bool WriteMetaData();
    bool WriteMetaSecond(const MetaDataFrameBuffer& second);
    // The metadata writer of the track and hour of `time`; empty when none
    // could be had.
    std::shared_ptr<MetaDataWriter> MetaWriterFor(int32_t trackId, int64_t time);
    void CloseFiles();
    void CloseWriter(Profile& profile);
    void DropMetaWriter();
    void WaitForPending(Profile& profile, const char* what);
    void WaitForPendingBelow(Profile& profile, size_t count);

    const std::string channelId_;
    const Clocks clocks_;
    std::recursive_mutex mainLock_;
    std::recursive_mutex manualLock_;
    std::recursive_mutex metaLock_;
    mutable std::mutex writerLock_;
    boost::asio::io_context::strand statusStrand_;
    boost::asio::io_context::strand writeStrand_;
    std::atomic<int32_t> trackId_;
    std::mutex settingsMutex_;  // encryption_, scheduleId_, callback_
    media_encrypt_s encryption_;
    std::string scheduleId_;
    RecorderEventCallback callback_;
    std::atomic<bool> useEncrypt_{false};
    std::atomic<bool> useLowProfile_{true};
    std::atomic<bool> useAudioRecord_{true};
    std::atomic<bool> useArb_{false};
    std::atomic<bool> continuousOnlyForLow_{false};
    std::atomic<uint32_t> maxPreRecordSeconds_{0};
    const int64_t maxDataFileSize_;
    std::atomic<int64_t> manualStartTime_{0};
    std::shared_ptr<QzDatabase> catalogue_;
    std::shared_ptr<Channel> channel_;
    std::shared_ptr<MetaDataWriter> metaWriter_;  // under writerLock_
    std::atomic<bool> recording_{false};
    std::atomic<int> pushing_{0};  // frame inputs in progress
    // Status state: touched only by status jobs on statusStrand_ and cleared
    // by StartRecording.
    std::atomic<bool> active_{false};
    std::atomic<bool> errorLatched_{false};
    std::atomic<bool> noSpaceLatched_{false};
    ConcurrentVector<std::shared_ptr<WriteBuffer>> pendingNormal_;
    ConcurrentVector<std::shared_ptr<WriteBuffer>> pendingLow_;
    // With pendingDone_: each write result, hand-over and stop wakes a stop or
    // a caller waiting for the write buffer count.
    std::mutex pendingMutex_;
    std::condition_variable pendingDone_;
    Profile normal_;
    Profile low_;
    ConcurrentMap<int64_t, std::shared_ptr<MetaDataFrameBuffer>> metaQueue_;
    std::shared_ptr<MetaDataFrameBuffer> currentMeta_;  // under metaLock_
    int64_t lastQueuedMetaSecond_ = 0;                  // under metaLock_
    std::atomic<uint32_t> metaInHand_{0};               // taken from the queue, being stored
    VideoTracks videoTracks_;
    std::atomic<uint32_t> metaCount_{0};
    std::atomic<uint32_t> metaBytesPerSecond_{0};
};

}  // namespace orvale::recorder
