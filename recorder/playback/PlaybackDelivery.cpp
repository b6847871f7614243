// One step of a playback medium: the queued answer, the live-edge retry, the
// read-ahead, and the walk of the front buffer's records with the pacing of
// the current speed and the headers that go with each frame.
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "common/Log.h"
#include "recorder/playback/PlaybackMediaImpl.h"
#include "recorder/playback/PlaybackRecord.h"

namespace orvale::recorder {

using common::kLogDebug;
using common::kLogError;
using common::kLogFatal;
using common::kLogWarning;

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr double kNsPerMs = 1e6;

bool Holding(int32_t state) {
    return state == PLAYBACK_CONTROL_STEP || state == PLAYBACK_CONTROL_PAUSE;
}

bool ShowsEveryFrame(int speed) {
    return speed == 1 || speed == 2 || speed == -1 || speed == -2;
}

// The part of the array that the buffer's window covers: from the first
// requested byte to the window's end, within the bytes read.
uint64_t WindowFirst(const ReadBuffer& buffer) {
    return static_cast<uint64_t>(buffer.windowStart) % kSectorSize;
}
uint64_t WindowLimit(const ReadBuffer& buffer) {
    const auto length = static_cast<uint64_t>(buffer.windowEnd - buffer.windowStart);
    return std::min<uint64_t>(buffer.bytesRead, WindowFirst(buffer) + length);
}

}  // namespace

bool PlaybackMediaImpl::IsFinished(const ReadBuffer& buffer) {
    return buffer.ready.load(std::memory_order_acquire) ||
           buffer.failed.load(std::memory_order_acquire);
}

bool PlaybackMediaImpl::Step(int64_t syncTime) {
    if (retired_) return false;
    if (!pending_.empty() && (AwaitsPreparedOpen() || !AnswerFront())) return false;
    if (!opened_) return false;
    if (readBuffers_.empty()) {
        if (backup_) EndBackup(3);
        return false;
    }
    const ReadBuffer& front = *readBuffers_.front();
    if (backup_) {
        if (!IsFinished(front)) {
            backupWait_ = readBuffers_.front();
            return true;
        }
    } else {
        if (!IsFinished(front) && front.retryCount == 0) return false;
        if (Holding(state_) && !pause_) return false;
    }
    awaitingNext_ = false;
    if (readBuffers_.back()->retryCount != 0) {
        RetryBack();
    } else {
        PrefetchIfDue();
    }
    if (!opened_ || readBuffers_.empty()) return false;
    return DeliverFront(syncTime);
}

void PlaybackMediaImpl::RetryBack() {
    const std::shared_ptr<ReadBuffer>& back = readBuffers_.back();
    const int64_t now = NowNs();
    if (now - back->lastTryTime < kNsPerSecond) return;
    const int32_t count = back->retryCount;
    if (SetReadBufferOffset(*back, back->windowStart, true)) {
        OLOG(kLogDebug) << "MID[" << mediaId_ << "] Retry success=" << count;
        back->retryCount = 0;
        if (!PostRead(back)) {
            ReleaseReadBuffer(back.get(), 0);
            OLOG(kLogWarning) << "MID[" << mediaId_
                              << "], Read failed, readBuffers=" << readBuffers_.size();
        }
        return;
    }
    OLOG(kLogDebug) << "MID[" << mediaId_ << "] Retry count=" << count;
    back->lastTryTime = now;
    if (--back->retryCount <= 0) {
        OLOG(kLogDebug) << "MID[" << mediaId_ << "] Retry Failed. count=" << 0;
        ReleaseReadBuffer(back.get(), 0);
    }
}

void PlaybackMediaImpl::PrefetchIfDue() {
    if (!readingStarted_ || readBuffers_.size() >= kMostReadBuffers) return;
    const ReadBuffer& back = *readBuffers_.back();
    if (IsFinished(back)) {
        // A read that failed ends a backup, and a start whose first read failed.
        if (back.failed && (backup_ || &back == firstBuffer_)) return;
    } else if (back.lastWindow != 0 || back.switchTime != 0) {
        // The next window lies in another file: its reader may only move
        // on once this read has landed.
        return;
    }
    // Otherwise the next window of the same file is queued behind the read
    // still on its way, so that the drive's read queue starts it as soon as
    // that one lands.
    if (prefetchNotBeforeNs_ != 0 && NowNs() < prefetchNotBeforeNs_) return;
    const int32_t lastWindow = back.lastWindow;
    const int64_t switchTime = back.switchTime;
    readBuffers_.push_back(bufferPool_->GetReadBuffer());
    ReadBuffer& next = *readBuffers_.back();
    next.lastWindow = lastWindow;
    if (speed_ < 0) next.reverse = 1;
    if (switchTime != 0) {
        // The other profile's reader is found afresh at the switch time.
        reader_.reset();
        indexRows_.clear();
        currentRow_ = 0;
    }
    channelBusy_ = false;
    if (OpenMediaInternal(switchTime)) {
        prefetchNotBeforeNs_ = 0;
        return;
    }
    if (next.retryCount != 0) return;
    ReleaseReadBuffer(&next, 0);
    if (std::exchange(channelBusy_, false)) {
        awaitingNext_ = true;  // tried again at the next step
        return;
    }
    OLOG(kLogWarning) << "MID[" << mediaId_
                      << "], Read failed, readBuffers=" << readBuffers_.size();
    // At the end of a recording nothing new appears within a step.
    prefetchNotBeforeNs_ = NowNs() + kNsPerSecond;
}

bool PlaybackMediaImpl::DeliverFront(int64_t syncTime) {
    const std::shared_ptr<ReadBuffer>& buffer = readBuffers_.front();
    if (!IsFinished(*buffer)) return false;
    if (buffer->failed) {
        if (backup_) {
            // An export with a hole is no export: it ends here.
            EndBackup(4);
            return false;
        }
        ReleaseReadBuffer(buffer.get(), buffer.get() == firstBuffer_ ? 4 : 3);
        return !readBuffers_.empty();
    }
    const uint8_t* bytes = buffer->Data();
    const uint64_t limit = WindowLimit(*buffer);
    FrameRecordView record;
    if (buffer->reverse != 0) {
        // Key frames outside the window belong to other windows.
        auto& keys = buffer->keyFrames;
        while (!keys.empty() &&
               (keys.back().keyOffset < WindowFirst(*buffer) ||
                ViewRecord(bytes, keys.back().keyOffset, limit, record) != RecordCheck::kRecord ||
                record.type != RECORD_TYPE_VIDEO)) {
            keys.pop_back();
        }
        if (keys.empty()) {
            if (KeepsLastFront()) return false;
            ReleaseReadBuffer(buffer.get(), 0);
            return true;
        }
        buffer->readPosition = keys.back().keyOffset;
        return DeliverRecord(buffer, record, syncTime);
    }
    if (buffer->readPosition >= limit) {
        if (KeepsLastFront()) return false;
        ReleaseReadBuffer(buffer.get(), 3);
        return !readBuffers_.empty() || !backup_;
    }
    switch (ViewRecord(bytes, buffer->readPosition, limit, record)) {
        case RecordCheck::kRecord:
            return DeliverRecord(buffer, record, syncTime);
        case RecordCheck::kNotRecord:
            OLOG(kLogError) << "MID[" << mediaId_ << "], Not datafile info";
            if (backup_) return EndBrokenBackup();
            ReleaseReadBuffer(buffer.get(), 3);
            return false;
        case RecordCheck::kIncomplete:
            if (KeepsLastFront()) return false;
            ReleaseReadBuffer(buffer.get(), 3);
            return !readBuffers_.empty() || !backup_;
        case RecordCheck::kInvalid:
            break;
    }
    OLOG(kLogFatal) << "MID[" << mediaId_ << "], Invalid frame";
    if (backup_) return EndBrokenBackup();
    ReleaseReadBuffer(buffer.get(), 3);
    return false;
}

// The rest of a window whose records cannot be walked is lost: an export
// that goes on past it would not be whole.
bool PlaybackMediaImpl::EndBrokenBackup() {
    EndBackup(4);
    return false;
}

bool PlaybackMediaImpl::DeliverRecord(const std::shared_ptr<ReadBuffer>& buffer,
                                      const FrameRecordView& record, int64_t syncTime) {
    switch (record.type) {
        case RECORD_TYPE_VIDEO:
            return DeliverVideo(buffer, record, syncTime);
        case RECORD_TYPE_AUDIO:
            return DeliverAudio(buffer, record);
        case RECORD_TYPE_SKIP:
            buffer->readPosition += record.length;
            return true;
        default:
            OLOG(kLogDebug) << "MID[" << mediaId_ << "], End of frame";
            ReleaseReadBuffer(buffer.get(), 3);
            return !(readBuffers_.empty() && backup_);
    }
}

bool PlaybackMediaImpl::CallDataFor(const std::shared_ptr<ReadBuffer>& buffer,
                                    playback_media_header_s& header, long size,
                                    const uint8_t* data) {
    const uint64_t generation = generation_;
    {
        // A callback that stops or repositions the medium drops the buffer
        // from the queue; the bytes it was handed stay valid until it returns.
        // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the copy is the point
        const std::shared_ptr<ReadBuffer> hold = buffer;
        CallData(header, size, data);
    }
    return generation == generation_;
}

bool PlaybackMediaImpl::DeliverVideo(const std::shared_ptr<ReadBuffer>& buffer,
                                     const FrameRecordView& record, int64_t syncTime) {
    const int64_t time = record.VideoTime();
    const uint32_t stamp = record.VideoStamp();
    const bool keyFrame = record.IsKeyFrame();
    const bool forward = buffer->reverse == 0;
    const int64_t switchTime = buffer->switchTime;
    if (switchTime != 0 && (forward ? time >= switchTime : time <= switchTime)) {
        OLOG(kLogDebug) << "MID[" << mediaId_ << "], Move profile!";
        ReleaseReadBuffer(buffer.get(), 0);
        return true;
    }
    if (syncTime > 0 && time != syncTime) {
        if (forward ? time < syncTime : time > syncTime) {
            // Behind the session: passed over, with its audio.
            lastVideoShown_ = false;
            position_ = time;
            lastSeenStamp_ = stamp;
            AdvanceReadOffset(*buffer, record.length);
            return true;
        }
        if (forward ? time > position_ + 5 : time < position_ - 5) nextFrameTime_ = time;
        waitingForSync_ = true;
        return false;
    }
    nextFrameTime_ = 0;
    const uint32_t interval = CheckContinuity(*buffer, time, stamp, forward);
    switch (Pace(interval, keyFrame)) {
        case PaceResult::kSkip:
            lastVideoShown_ = false;
            position_ = time;
            lastSeenStamp_ = stamp;
            AdvanceReadOffset(*buffer, record.length);
            return true;
        case PaceResult::kWait:
            return false;
        case PaceResult::kDeliver:
            break;
    }
    if (backup_ && time > endTime_) {
        EndBackup(3);
        return false;
    }
    gopCounter_ = keyFrame ? 1 : gopCounter_ + 1;
    playback_media_header_s header;
    header.mediaId = mediaId_;
    header.kind = 1;
    header.value = stamp;
    header.backup = backup_ ? 1 : 0;
    header.video.time = time;
    header.video.width = record.InfoField<uint16_t>(16);
    header.video.height = record.InfoField<uint16_t>(18);
    header.video.codec = static_cast<int32_t>(record.InfoField<uint32_t>(0));
    header.video.gopCount = gopCounter_;
    header.video.keyFrame = keyFrame ? 1 : 0;
    header.video.endMarker = 0;
    header.video.responseCounter = responseCounter_;
    const bool paused = pause_ || Holding(state_);
    const int64_t now = NowNs();
    if (!CallDataFor(buffer, header, static_cast<long>(record.mediaSize), record.media)) {
        return false;
    }
    if (forward) {
        buffer->readPosition += record.length;
    } else {
        buffer->PopKeyFrame();
    }
    lastDeliveryNs_ = now;
    deliveredOnce_ = true;
    lastVideoShown_ = true;
    position_ = lastFrameTime_ = time;
    lastSeenStamp_ = lastDeliveredStamp_ = stamp;
    if (pause_) {
        pause_ = false;
        state_ = PLAYBACK_CONTROL_PAUSE;
    }
    if (!paused && forward && ShowsEveryFrame(speed_) && !DeliverMetadata(time, stamp)) {
        return false;
    }
    if (!forward && buffer->keyFrames.empty()) ReleaseReadBuffer(buffer.get(), 0);
    return backup_;
}

bool PlaybackMediaImpl::DeliverAudio(const std::shared_ptr<ReadBuffer>& buffer,
                                     const FrameRecordView& record) {
    if (ShowsEveryFrame(speed_) && lastVideoShown_) {
        playback_media_header_s header;
        header.mediaId = mediaId_;
        header.kind = 2;
        header.value = record.InfoField<uint32_t>(4);
        header.backup = backup_ ? 1 : 0;
        header.audio = {};
        header.audio.codec = record.InfoField<uint32_t>(0);
        header.audio.audioValue1 = record.InfoField<uint32_t>(10);
        header.audio.audioValue2 = record.InfoField<uint32_t>(14);
        header.audio.audioValue3 = record.InfoField<uint16_t>(8);
        header.audio.responseCounter = responseCounter_;
        if (!CallDataFor(buffer, header, static_cast<long>(record.mediaSize), record.media)) {
            return false;
        }
    }
    buffer->readPosition += record.length;
    return true;
}

bool PlaybackMediaImpl::DeliverMetadata(int64_t time, uint32_t stamp) {
    while (!metadata_.empty()) {
        if (metadata_.front()->utc < time) {
            metadata_.pop_front();
            continue;
        }
        if (metadata_.front()->utc > time) break;
        const std::shared_ptr<MetaDataFrame> frame = std::move(metadata_.front());
        metadata_.pop_front();
        playback_media_header_s header;
        header.mediaId = mediaId_;
        header.kind = 3;
        header.value = stamp;
        header.backup = backup_ ? 1 : 0;
        header.metadata = {};
        const uint64_t generation = generation_;
        CallData(header, static_cast<long>(frame->ContentSize()), frame->content.data());
        if (generation != generation_) return false;
    }
    return true;
}

uint32_t PlaybackMediaImpl::CheckContinuity(ReadBuffer& buffer, int64_t time, uint32_t stamp,
                                            bool forward) {
    if (lastDeliveredStamp_ == 0) {
        // Nothing to continue from: the first frame is shown as it comes.
        // A pass asked for (a reverse open) still holds for the next one.
        return 0;
    }
    const uint32_t last = lastSeenStamp_;
    const char* restart = nullptr;
    if (stamp == last || (forward ? stamp < last : stamp > last)) {
        restart = "], reverse or equal timestamp, LastTimestamp=";
    } else if (forward && stamp - last > 2000) {
        restart = "], Timestamp Gap, LastTimestamp=";
    } else if (buffer.pass != 0) {
        buffer.pass = 0;
        restart = "], pass, LastTimestamp=";
    } else if (!forward && last - stamp > 3000) {
        if (!HasDataGap(time, lastFrameTime_)) return 0;
        restart = "], Timestamp Gap, LastTimestamp=";
    }
    if (restart != nullptr) {
        OLOG(kLogDebug) << "MID[" << mediaId_ << restart << last << ", CurrentTimestamp=" << stamp;
        RestartPacing();
        return 0;
    }
    return stamp > lastDeliveredStamp_ ? stamp - lastDeliveredStamp_ : lastDeliveredStamp_ - stamp;
}

void PlaybackMediaImpl::RestartPacing() {
    lastSeenStamp_ = 0;
    lastDeliveredStamp_ = 0;
    position_ = 0;
    lastFrameTime_ = 0;
}

PaceResult PlaybackMediaImpl::Pace(uint32_t interval, bool keyFrame) const {
    if (!deliveredOnce_ || lastDeliveredStamp_ == 0 || backup_) return PaceResult::kDeliver;
    // Without a rate (a SEEK or PLAY at speed 0) only the frame asked for goes.
    if (speed_ == 0) return pause_ ? PaceResult::kDeliver : PaceResult::kWait;
    const double elapsedMs = static_cast<double>(NowNs() - lastDeliveryNs_) / kNsPerMs;
    return PaceFrame(speed_, keyFrame, interval, elapsedMs);
}

void PlaybackMediaImpl::AdvanceReadOffset(ReadBuffer& buffer, uint64_t length) {
    if (buffer.reverse == 0) {
        buffer.readPosition += length;
        return;
    }
    buffer.PopKeyFrame();
    if (buffer.keyFrames.empty()) ReleaseReadBuffer(&buffer, 0);
}

void PlaybackMediaImpl::ReleaseReadBuffer(const ReadBuffer* buffer, int32_t status) {
    const auto found =
        std::find_if(readBuffers_.begin(), readBuffers_.end(),
                     [buffer](const std::shared_ptr<ReadBuffer>& b) { return b.get() == buffer; });
    if (found == readBuffers_.end()) return;
    std::shared_ptr<ReadBuffer> released = std::move(*found);
    readBuffers_.erase(found);
    if (released.get() == firstBuffer_) firstBuffer_ = nullptr;
    bufferPool_->PutReadBuffer(std::move(released));
    ++generation_;
    if (!readBuffers_.empty()) return;
    if (backup_) {
        EndBackup(status == 4 ? 4 : 3);
    } else {
        StopReading();
    }
}

}  // namespace orvale::recorder
