// A backup (export): the whole range delivered on a worker thread without
// pacing, one step per lock, waiting for each read outside the lock, and one
// final header at the end.
#include <chrono>
#include <exception>
#include <string>
#include <thread>

#include "common/Log.h"
#include "recorder/playback/PlaybackMediaImpl.h"

namespace orvale::recorder {

using common::kLogDebug;

namespace {

// How long a backup sleeps at most before it looks at its read again, should
// a completion's wake-up be missed.
constexpr auto kReadPoll = std::chrono::milliseconds(1);

}  // namespace

void PlaybackMediaImpl::RunBackup(int seqID, OpenMediaResponseCallback response) {
    {
        std::lock_guard lock(mutex_);
        if (retired_) return;
        PendingResponse answer;
        answer.seqID = static_cast<uint32_t>(seqID);
        answer.isOpen = true;
        answer.startReading = true;
        answer.openResponse = std::move(response);
        pending_.push_back(std::move(answer));
    }
    try {
        for (;;) {
            // Whoever waits for the lock goes first (a caller's thread, or a
            // tick that came before this medium became a backup).
            while (lockWaiters_.load() > 0) std::this_thread::yield();
            std::shared_ptr<ReadBuffer> waitFor;
            bool more = false;
            {
                std::lock_guard lock(mutex_);
                more = Step(0);
                waitFor = std::move(backupWait_);
            }
            if (!more) break;
            if (waitFor) WaitForRead(*waitFor);
        }
    } catch (const std::exception& e) {
        std::lock_guard lock(mutex_);
        FailBackup(e.what());
        return;
    } catch (...) {
        std::lock_guard lock(mutex_);
        FailBackup("unknown");
        return;
    }
    std::lock_guard lock(mutex_);
    StopReading();
    // What was asked while the export ran (refused opens, controls) is
    // answered here: the ticks never come to a backup medium.
    while (backup_ && !retired_ && !pending_.empty()) AnswerFront();
}

// An export cut short by an exception (a callback that threw) still ends
// with one final header, which says that it failed.
void PlaybackMediaImpl::FailBackup(const char* what) {
    holdFinalHeader_ = false;
    heldFinalMarker_ = -1;
    try {
        EndBackup(4);
    } catch (...) {
        finalHeaderSent_ = true;  // a callback that throws again is not called again
    }
    StopAfterException(what);
}

void PlaybackMediaImpl::WaitForRead(const ReadBuffer& buffer) {
    std::unique_lock lock(readSignal_->mutex);
    readSignal_->landed.wait_for(lock, kReadPoll, [&buffer] { return IsFinished(buffer); });
}

void PlaybackMediaImpl::EndBackup(int32_t marker) {
    if (finalHeaderSent_) return;
    if (holdFinalHeader_) {
        // The open is being answered: the header follows the answer.
        heldFinalMarker_ = marker;
        return;
    }
    finalHeaderSent_ = true;
    // An export that left out a second is no complete export.
    if (marker == 3 && secondLost_) marker = 4;
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], backup end"
                    << (marker == 3 ? std::string() : ", backup_status=" + std::to_string(marker));
    playback_media_header_s header;
    header.mediaId = mediaId_;
    header.kind = 1;
    header.backup = 1;
    header.video.endMarker = marker;
    CallData(header, 0, nullptr);
}

}  // namespace orvale::recorder
