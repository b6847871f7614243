// The playback medium's interface side: opening, the control commands, the
// queued answers, starting and stopping reading, and what the container
// calls. Reading windows, delivery and backups live in the files beside.
#include "recorder/playback/PlaybackMediaImpl.h"

#include <chrono>
#include <exception>
#include <mutex>
#include <utility>

#include "common/AsioThreadPool.h"
#include "common/Log.h"
#include "recorder/playback/PlaybackPacing.h"

namespace orvale::recorder {

using common::kLogDebug;
using common::kLogError;
using common::kLogFatal;
using common::kLogInfo;

namespace {

int64_t SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Forward(int speed) {
    return speed >= 0;
}

bool Holding(int32_t state) {
    return state == PLAYBACK_CONTROL_STEP || state == PLAYBACK_CONTROL_PAUSE;
}

bool UsesSpeed(unsigned controlType) {
    switch (controlType) {
        case PLAYBACK_CONTROL_PLAY:
        case PLAYBACK_CONTROL_SEEK:
        case PLAYBACK_CONTROL_STEP:
        case PLAYBACK_CONTROL_PROFILE:
        case PLAYBACK_CONTROL_PROFILE_SESSION:
            return true;
        default:
            return false;
    }
}

}  // namespace

PlaybackMediaImpl::PlaybackMediaImpl(uint32_t mediaId, uint32_t trackId,
                                     std::shared_ptr<Channel> channel, std::string session,
                                     common::AsioThreadPool* pool,
                                     std::shared_ptr<BufferPool> bufferPool, SteadyClock clock,
                                     common::AsioThreadPool* openPool)
    : mediaId_(mediaId),
      trackId_(trackId),
      threadPool_(pool),
      openPool_(openPool),
      channel_(std::move(channel)),
      session_(std::move(session)),
      bufferPool_(std::move(bufferPool)),
      clock_(clock ? std::move(clock) : SteadyClock(SteadyNow)) {
    OLOG(kLogInfo) << "MID[" << mediaId_ << "], trackId=" << trackId_
                   << ", channel=" << channel_->GetId();
}

PlaybackMediaImpl::~PlaybackMediaImpl() {
    // Buffers still reading are left to their reads; the rest go back.
    for (auto& buffer : readBuffers_) bufferPool_->PutReadBuffer(std::move(buffer));
}

std::string PlaybackMediaImpl::GetChannelId() {
    return channel_->GetId();
}

int32_t PlaybackMediaImpl::GetState() const {
    std::lock_guard lock(mutex_);
    return state_;
}

int64_t PlaybackMediaImpl::GetPosition() const {
    std::lock_guard lock(mutex_);
    return position_;
}

int64_t PlaybackMediaImpl::GetPlayTime() const {
    std::lock_guard lock(mutex_);
    return position_ != 0 ? position_ : startTime_;
}

int32_t PlaybackMediaImpl::GetSpeed() const {
    std::lock_guard lock(mutex_);
    return speed_;
}

bool PlaybackMediaImpl::IsReadPending() const {
    std::lock_guard lock(mutex_);
    for (const auto& buffer : readBuffers_) {
        if (!IsFinished(*buffer) && buffer->retryCount == 0) return true;
    }
    return false;
}

void PlaybackMediaImpl::Stop() {
    OutsideLock lock(*this);
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], Stop()";
    for (auto& buffer : readBuffers_) buffer->resized = 1;
    if (backup_ && opened_) EndBackup(0);
    StopReading();
}

void PlaybackMediaImpl::Retire() {
    OutsideLock lock(*this);
    Stop();
    retired_ = true;
    pending_.clear();
}

void PlaybackMediaImpl::StopReading() {
    opened_ = false;
    for (auto& buffer : readBuffers_) bufferPool_->PutReadBuffer(std::move(buffer));
    readBuffers_.clear();
    metadata_.clear();
    if (reader_) {
        reader_->CloseDataFile();
        reader_.reset();
    }
    startTime_ = 0;
    endTime_ = 0;
    lastFrameTime_ = 0;
    position_ = 0;
    nextFrameTime_ = 0;
    speed_ = 1;
    lastDeliveredStamp_ = 0;
    lastSeenStamp_ = 0;
    gopCounter_ += 2;
    pause_ = false;
    deliveredOnce_ = false;
    lastVideoShown_ = false;
    readingStarted_ = false;
    waitingForSync_ = false;
    indexRows_.clear();
    dualTrackRows_.clear();
    currentRow_ = 0;
    ++generation_;
    firstBuffer_ = nullptr;
    prefetchNotBeforeNs_ = 0;
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], Stopped Playback ";
}

bool PlaybackMediaImpl::StartReading(int64_t time) {
    // Reading always starts afresh: a buffer of an earlier start may still
    // be reading, and a new window must never share it.
    if (!readBuffers_.empty() || reader_) StopReading();
    ++generation_;
    readBuffers_.push_back(bufferPool_->GetReadBuffer());
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], add readBuffer=" << readBuffers_.size();
    ReadBuffer* buffer = readBuffers_.back().get();
    firstBuffer_ = buffer;
    if (speed_ < 0) buffer->reverse = 1;
    if (!OpenMediaInternal(time) && buffer->retryCount == 0) {
        ReleaseReadBuffer(buffer, 4);
        OLOG(kLogFatal) << "MID[" << mediaId_ << "] Read failed.";
        return false;
    }
    state_ = pause_ ? PLAYBACK_CONTROL_PAUSE : PLAYBACK_CONTROL_PLAY;
    AdvanceCounter();
    opened_ = true;
    readingStarted_ = true;
    return true;
}

void PlaybackMediaImpl::AdvanceCounter() {
    if (responseCounter_ >= 127) responseCounter_ = 0;
    ++responseCounter_;
}

bool PlaybackMediaImpl::OpenMedia(int seqID, int64_t start, int64_t end, int speed, bool pause,
                                  bool backup, unsigned profileType, OpenMediaCallback data,
                                  OpenMediaResponseCallback response) {
    OutsideLock lock(*this);
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], OpenMedia() STIME=" << start << ", ETIME=" << end
                    << ", Pause=" << (pause ? 1 : 0) << ", ProfileType=" << profileType;
    PendingResponse answer;
    answer.seqID = static_cast<uint32_t>(seqID);
    answer.isOpen = true;
    answer.openResponse = std::move(response);
    if (opened_ && (backup || backup_)) {
        // A backup cannot be made of a medium that plays, nor an export
        // taken over: refused, and nothing of the medium changes.
        answer.result = MEDIA_ERROR_OPEN_FAILED;
        pending_.push_back(std::move(answer));
    } else if (opened_) {
        // Reading goes on from where it is, to the new caller; the new start
        // counts from the next repositioning.
        TakeRequest(start, end, std::move(data));
        pending_.push_back(std::move(answer));
    } else if (!IsPlayableSpeed(speed)) {
        // Refused through the ticks; nothing of the medium changes.
        backup_ = false;
        answer.result = MEDIA_ERROR_OPEN_FAILED;
        pending_.push_back(std::move(answer));
    } else {
        TakeRequest(start, end, std::move(data));
        speed_ = speed;
        pause_ = pause;
        backup_ = backup;
        requestedProfile_ = profileType;
        profileInUse_ = profileType;
        finalHeaderSent_ = false;
        holdFinalHeader_ = false;
        heldFinalMarker_ = -1;
        secondLost_ = false;
        answer.startReading = true;
        if (backup && threadPool_ == nullptr) {
            // No worker to export on: refused through the ticks instead.
            backup_ = false;
            answer.result = MEDIA_ERROR_OPEN_FAILED;
            answer.startReading = false;
            pending_.push_back(std::move(answer));
        } else if (backup) {
            threadPool_->Post([weak = weak_from_this(), seqID,
                               response = std::move(answer.openResponse)]() mutable {
                if (auto self = weak.lock()) self->RunBackup(seqID, std::move(response));
            });
        } else {
            pending_.push_back(std::move(answer));
        }
    }
    if (!backup_) awake_ = true;
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], OpenMedia End";
    return true;
}

void PlaybackMediaImpl::TakeRequest(int64_t start, int64_t end, OpenMediaCallback data) {
    startTime_ = start;
    endTime_ = end;
    dataCallback_ = std::make_shared<OpenMediaCallback>(std::move(data));
}

bool PlaybackMediaImpl::AnswerFront() {
    PendingResponse answer = std::move(pending_.front());
    pending_.pop_front();
    if (answer.isOpen) {
        OLOG(kLogDebug) << "MID[" << mediaId_ << "] OpenMedia() Response. SeqID=" << answer.seqID;
        uint32_t result = answer.result;
        if (answer.startReading && !answer.prepared && !opened_) {
            // The answer tells whether reading could start; it still comes
            // before any frame, the final header of a backup included.
            holdFinalHeader_ = true;
            try {
                result = StartReading(startTime_) ? MEDIA_ERROR_NONE : MEDIA_ERROR_OPEN_FAILED;
            } catch (...) {
                // No header stays held for a later export of this medium.
                holdFinalHeader_ = false;
                heldFinalMarker_ = -1;
                throw;
            }
            holdFinalHeader_ = false;
        }
        if (answer.openResponse) answer.openResponse(answer.seqID, result);
        if (heldFinalMarker_ >= 0) EndBackup(std::exchange(heldFinalMarker_, -1));
        // A refused open leaves the medium as it was: the step goes on.
        return !answer.startReading || result == MEDIA_ERROR_NONE;
    }
    if (answer.isControl && answer.controlResponse) {
        OLOG(kLogDebug) << "MID[" << mediaId_
                        << "] ControlMedia() Response. SeqID=" << answer.seqID;
        answer.controlResponse(answer.seqID, answer.result, responseCounter_);
    }
    return true;
}

bool PlaybackMediaImpl::AwaitsPreparedOpen() {
    if (openPool_ == nullptr || backup_ || pending_.empty()) return false;
    PendingResponse& front = pending_.front();
    if (!front.isOpen || !front.startReading || front.prepared || opened_) return false;
    if (front.ticket == 0) {
        front.ticket = ++nextTicket_;
        openPool_->Post([weak = weak_from_this(), ticket = front.ticket] {
            if (auto self = weak.lock()) self->PrepareOpen(ticket);
        });
    }
    return true;
}

void PlaybackMediaImpl::PrepareOpen(uint64_t ticket) {
    OutsideLock lock(*this);
    const auto front = [this, ticket]() -> PendingResponse* {
        if (retired_ || backup_ || pending_.empty() || pending_.front().ticket != ticket)
            return nullptr;
        return &pending_.front();
    };
    if (front() == nullptr) return;
    // Started meanwhile (a control repositioned it): answered as it stands.
    uint32_t result = MEDIA_ERROR_NONE;
    if (!opened_) {
        try {
            bufferPool_->Reserve(kMostReadBuffers);
            result = StartReading(startTime_) ? MEDIA_ERROR_NONE : MEDIA_ERROR_OPEN_FAILED;
        } catch (const std::exception& e) {
            StopAfterException(e.what());
            result = MEDIA_ERROR_OPEN_FAILED;
        } catch (...) {
            StopAfterException("unknown");
            result = MEDIA_ERROR_OPEN_FAILED;
        }
    }
    if (PendingResponse* answer = front()) {
        answer->prepared = true;
        answer->result = result;
    }
}

int64_t PlaybackMediaImpl::CurrentTime(int64_t time) const {
    if (time != 0) return time;
    return position_ != 0 ? position_ : startTime_;
}

void PlaybackMediaImpl::Reposition(int64_t time, int speed, bool pause, uint32_t& result) {
    StopReading();
    startTime_ = time;
    pause_ = pause;
    speed_ = speed;
    if (!StartReading(time)) {
        OLOG(kLogError) << "MID[" << mediaId_ << "], OpenMediaInternal() fail!";
        StopReading();
        result = MEDIA_ERROR_OPEN_FAILED;
    }
}

void PlaybackMediaImpl::ApplyPlay(int64_t time, int speed, uint32_t& result) {
    if (speed == 0) {
        // No rate to play at: a repositioning that shows one frame and holds
        // there, so that a later PLAY without a time resumes.
        Reposition(CurrentTime(time), speed, true, result);
        return;
    }
    const bool sameDirection = Forward(speed) == Forward(speed_);
    if (opened_ && time != 0 && time == position_ && state_ == PLAYBACK_CONTROL_PLAY &&
        speed != speed_ && sameDirection) {
        speed_ = speed;  // faster or slower from where it is
        return;
    }
    // A medium without a rate holds as a paused one does.
    if (opened_ && time == 0 && (Holding(state_) || speed_ == 0) && sameDirection) {
        speed_ = speed;  // resume
        pause_ = false;
        return;
    }
    // A turn without a time of its own turns where the medium stands.
    Reposition(sameDirection ? time : CurrentTime(time), speed, false, result);
}

void PlaybackMediaImpl::ApplyStep(int64_t time, int speed, uint32_t& result) {
    const bool sameDirection = Forward(speed) == Forward(speed_);
    if (opened_ && (sameDirection || speed == 0)) {
        // One more frame from where it stands; the buffers being read or
        // delivered are left as they are. Speed 0 keeps the rate it has.
        pause_ = true;
        if (speed != 0) speed_ = speed;
        return;
    }
    Reposition(sameDirection ? time : CurrentTime(time), speed, true, result);
}

bool PlaybackMediaImpl::ControlMedia(int seqID, unsigned controlType, int64_t time, int speed,
                                     unsigned profileType, ControlMediaResponseCallback response) {
    LogControl(seqID, controlType, time, speed, profileType);
    if (controlType == PLAYBACK_CONTROL_STOP) {
        // Answered at once, but with the lock let go: the answer may call
        // the engine, whose tick holds the container and waits for this lock.
        uint8_t counter = 0;
        if (!StopFromControl(seqID, counter)) response = nullptr;
        if (response) response(static_cast<unsigned>(seqID), MEDIA_ERROR_NONE, counter);
        return true;
    }
    OutsideLock lock(*this);
    AdvanceCounter();
    awake_ = true;
    uint32_t result = MEDIA_ERROR_NONE;
    if (UsesSpeed(controlType) && !IsPlayableSpeed(speed)) {
        // Refused: the medium goes on as it was; only the answer tells.
        OLOG(kLogError) << "MID[" << mediaId_ << "], ControlMedia() fail!";
        result = MEDIA_ERROR_OPEN_FAILED;
    } else {
        try {
            ApplyControl(controlType, time, speed, profileType, result);
        } catch (const std::exception& e) {
            StopAfterException(e.what());
            result = MEDIA_ERROR_OPEN_FAILED;
        }
        state_ = static_cast<int32_t>(controlType);
    }
    PendingResponse answer;
    answer.seqID = static_cast<uint32_t>(seqID);
    answer.isControl = true;
    answer.result = result;
    answer.controlResponse = std::move(response);
    pending_.push_back(std::move(answer));
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], ControlMedia End";
    return true;
}

void PlaybackMediaImpl::LogControl(int seqID, unsigned controlType, int64_t time, int speed,
                                   unsigned profileType) const {
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], ControlMedia(), SeqID=" << seqID
                    << ", controlType=" << controlType << ", Time=" << time << ", Speed=" << speed
                    << ", ProfileType=" << profileType;
}

bool PlaybackMediaImpl::StopFromControl(int seqID, uint8_t& counter) {
    OutsideLock lock(*this);
    AdvanceCounter();
    awake_ = true;
    try {
        if (backup_ && opened_) EndBackup(0);
        StopReading();
        state_ = PLAYBACK_CONTROL_STOP;
    } catch (const std::exception& e) {
        StopAfterException(e.what());
        return false;
    }
    counter = responseCounter_;
    if (retired_) return false;
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], ControlMedia() Response, SeqID=" << seqID;
    return true;
}

void PlaybackMediaImpl::ApplyControl(unsigned controlType, int64_t time, int speed,
                                     unsigned profileType, uint32_t& result) {
    switch (controlType) {
        case PLAYBACK_CONTROL_PLAY:
            ApplyPlay(time, speed, result);
            break;
        case PLAYBACK_CONTROL_SEEK: {
            const bool pause = speed == 0 || state_ == PLAYBACK_CONTROL_STOP || Holding(state_);
            Reposition(time, speed, pause, result);
            break;
        }
        case PLAYBACK_CONTROL_STEP:
            ApplyStep(time, speed, result);
            break;
        case PLAYBACK_CONTROL_PAUSE:
            pause_ = true;
            break;
        case PLAYBACK_CONTROL_PROFILE:
        case PLAYBACK_CONTROL_PROFILE_SESSION: {
            const bool pause = speed == 0 || state_ == PLAYBACK_CONTROL_STOP || Holding(state_);
            requestedProfile_ = profileType;
            profileInUse_ = profileType;
            Reposition(time, speed, pause, result);
            break;
        }
        default:
            OLOG(kLogError) << "MID[" << mediaId_ << "], ControlMedia() fail!";
            break;
    }
}

void PlaybackMediaImpl::CallData(playback_media_header_s& header, long size, const uint8_t* data) {
    // The callback may replace the medium's callback; this call keeps its own.
    const std::shared_ptr<OpenMediaCallback> callback = dataCallback_;
    if (callback && *callback && !retired_)
        (*callback)(&header, size, const_cast<unsigned char*>(data));
}

void PlaybackMediaImpl::StopAfterException(const char* what) {
    OLOG(kLogError) << "MID[" << mediaId_ << "], Exception: " << what;
    finalHeaderSent_ = true;  // the callbacks are not called again
    StopReading();
}

void PlaybackMediaImpl::Process(int64_t syncTime) {
    // A medium never opened nor controlled has nothing to do, and one that
    // is about to become a backup is never locked by the ticking thread.
    if (retired_ || !awake_) return;
    // Counted among the waiters before it looks at the backup flag: a
    // backup's worker, which calls out under the lock, lets it in first.
    ++lockWaiters_;
    if (backup_) {
        --lockWaiters_;
        return;
    }
    // One timer thread drives every medium: one whose lock another thread
    // holds (opening, controlling or stopping it) is passed over until a
    // later tick, never waited for.
    const std::unique_lock lock(mutex_, std::try_to_lock);
    --lockWaiters_;
    if (!lock.owns_lock()) return;
    try {
        while (!backup_ && Step(syncTime)) {
        }
    } catch (const std::exception& e) {
        StopAfterException(e.what());
    } catch (...) {
        StopAfterException("unknown");
    }
}

void PlaybackMediaImpl::AnswerQueued() {
    if (backup_ || retired_ || !awake_) return;
    std::lock_guard lock(mutex_);
    try {
        while (!backup_ && !retired_ && !pending_.empty() && !AwaitsPreparedOpen()) AnswerFront();
    } catch (const std::exception& e) {
        StopAfterException(e.what());
    } catch (...) {
        StopAfterException("unknown");
    }
}

int64_t PlaybackMediaImpl::FindStartTime(int64_t time, int speed) {
    if (time < 1) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "], Start time=" << time;
        return 0;
    }
    const bool forward = Forward(speed);
    const uint32_t profile = requestedProfile_.load();
    if (backup_) {
        if (auto reader = channel_->FindFileReader(mediaId_, trackId_, time, profile, forward)) {
            return reader->FindIndexAt(time, forward);
        }
    } else if (auto reader =
                   channel_->FindFileReader2(mediaId_, trackId_, time, profile, forward)) {
        return reader->FindNearestIndex(time, forward);
    }
    OLOG(kLogError) << "MID[" << mediaId_ << "], Not found file reader";
    return 0;
}

}  // namespace orvale::recorder
