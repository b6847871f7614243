// The ARB recorder of one channel: frames that reach the engine late, each
// with its own time, are buffered per second in a chunk of profile 3, and
// only the seconds that the channel's recording lacks are written, through
// file writers of profile 3 whose hour index is merged into the hour's index
// when the writer closes.
//
// Invariants: one writer at a time, of one track and one hour; a write
// buffer never holds seconds of two hours or a second the channel already
// holds; an ARB data file never takes the name of an existing data file.
// Stop writes every second received before it.
//
// Ownership and threads: the engine holds the recorder by a shared pointer;
// queued jobs hold weak references. Frame input runs on the caller's thread
// without the recorder's lock (the chunk locks itself). The writing job runs
// on `writeStrand_`, status reports on `statusStrand_`, both on the pool the
// recorder was made with, which must outlive it. `mutex_` serialises Start,
// Stop, the settings and the writing job; write results never take it, so
// Stop may wait for them while holding it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context_strand.hpp>

#include "common/ConcurrentVector.h"
#include "recorder/api/Interfaces.h"
#include "recorder/recording/ProfileChunk.h"
#include "recorder/storage/Channel.h"
#include "recorder/store/FileWriter.h"
#include "recorder/store/WriteBuffer.h"

namespace orvale::common {
class AsioThreadPool;
}

namespace orvale::recorder {

class ArbRecorder : public IArbRecorder, public std::enable_shared_from_this<ArbRecorder> {
  public:
    using Timeline = std::vector<std::vector<timeline_record_s>>;

    // A job is posted once more than this many seconds wait, and writes at
    // most this many.
    static constexpr size_t kSecondsPerWrite = 10;
    // Half the window of recorded seconds looked up around a write.
    static constexpr int64_t kLookupMargin = 1800;

    ArbRecorder(std::shared_ptr<Channel> channel, int64_t maxFileBytes,
                common::AsioThreadPool* pool);
    ~ArbRecorder() override;

    ArbRecorder(const ArbRecorder&) = delete;
    ArbRecorder& operator=(const ArbRecorder&) = delete;

    bool IsStarted() override { return started_.load(); }
    bool Start(uint32_t trackId) override;
    void Stop(bool notify) override;
    void SetRecordCallback(RecorderEventCallback callback) override;
    bool PushVideoFrame(const video_frame_header_s& header, const void* data,
                        uint32_t size) override;
    bool PushAudioFrame(const audio_frame_header_s& header, const void* data,
                        uint32_t size) override;

    void UseAudioRecord(bool use);
    void UseEncrypt(bool use);
    bool SetSchedule(const media_schedule_s& schedule);
    bool SetHoliday(const std::vector<media_holiday_s>& holidays);
    void SetEncryptType(const media_encrypt_s& encrypt);
    void LogFrameStatus();

    // The channel's recorded spans of [start, end], per track.
    void GetTimeline(int64_t start, int64_t end, Timeline& out);
    static bool IsNotRecorded(int64_t second, const Timeline& timeline);

  private:
    void WriteQueuedSeconds();
    // Takes up to ten queued seconds of one hour that the channel lacks.
    std::shared_ptr<WriteBuffer> GatherSeconds();
    // True when a data file named for `second` exists in its track folder.
    bool DataFileNameTaken(int64_t second) const;
    // Keeps the current writer or makes one for the buffer; false when none.
    bool PrepareWriter(const WriteBuffer& buffer, int64_t first);
    void OnWriteDone(int32_t errorCode);
    void PostStatus(int32_t code, int64_t value);
    void ReportStatus(int32_t code, int64_t value);
    void CloseWriter();
    void WaitForWrites();

    std::recursive_mutex mutex_;
    common::AsioThreadPool* const pool_;
    boost::asio::io_context::strand statusStrand_;
    boost::asio::io_context::strand writeStrand_;
    uint32_t trackId_ = 1;
    int32_t algorithm_ = 0;
    int32_t type_ = 0;
    std::string key_;
    std::atomic<bool> useEncrypt_{false};
    std::atomic<bool> useAudio_{false};
    const int64_t maxFileBytes_;
    const std::shared_ptr<Channel> channel_;
    const std::string channelId_;
    std::shared_ptr<FileWriter> writer_;
    std::atomic<bool> started_{false};
    std::mutex callbackMutex_;  // guards callback_ alone
    RecorderEventCallback callback_;
    std::atomic<bool> writing_{false};
    std::atomic<bool> writeError_{false};
    std::atomic<bool> noWriter_{false};
    std::atomic<int64_t> lastPushSecond_{0};
    const std::shared_ptr<ProfileChunk> chunk_;
    ConcurrentVector<std::shared_ptr<WriteBuffer>> inFlight_;
    std::mutex inFlightMutex_;  // with writesDone_: Stop waits for the writes
    std::condition_variable writesDone_;
    std::atomic<uint32_t> videoCount_{0};
    std::atomic<uint32_t> audioCount_{0};
};

}  // namespace orvale::recorder
