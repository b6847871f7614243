// The engine's playback media: creating, opening, controlling and deleting
// them, and the timer thread that drives them.
//
// The container keeps every medium and its own lock; the engine lock is never
// held while the container's is taken (a callback on the timer thread holds
// the container's and may call anything of the engine). A medium taken out
// of the container is stopped for good, a running backup included, before
// the delete returns; from inside a callback on the timer thread, it is
// muted at once and stopped when the tick ends.
#include <exception>
#include <memory>
#include <utility>

#include "common/Log.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/playback/PlaybackPacing.h"

namespace orvale::recorder {

using common::kLogError;
using common::kLogInfo;
using common::kLogWarning;

using Hold = PlaybackMediaContainer::Hold;

std::shared_ptr<BufferPool> MediaRecorderImpl::ReadBufferPool() const {
    std::lock_guard lock(mutex_);
    return bufferPool_;
}

std::shared_ptr<PlaybackMediaImpl> MediaRecorderImpl::RegisterMedium(
    unsigned mediaId, unsigned trackId, const std::string& channelId, const std::string& session,
    const std::shared_ptr<BufferPool>& buffers) {
    const auto channel = FindRecordedChannel(channelId);
    if (!channel) {
        OLOG(kLogWarning) << "Not registered a channel(" << channelId << ")";
        return {};
    }
    if (!buffers) {
        // Before Initialize there is nothing to read into.
        OLOG(kLogError) << "Failed to create a PlaybackMediaImpl";
        return {};
    }
    auto medium = std::make_shared<PlaybackMediaImpl>(
        mediaId, trackId, channel, session, drivePool_.get(), buffers,
        PlaybackMediaImpl::SteadyClock{}, openPool_.get());
    if (!playbackMedia_->Insert(mediaId, session, medium)) return {};
    OLOG(kLogInfo) << "Added a PlaybackMedia. Channel=" << channel->GetId()
                   << ", mediaID = " << mediaId;
    if (playbackMedia_->Size() == 1) OLOG(kLogInfo) << "Playback Timer Start.";
    try {
        playbackTimer_->Start();
    } catch (...) {
        playbackMedia_->Erase(mediaId, session);  // nothing would drive it
        throw;
    }
    return medium;
}

PlaybackMedia* MediaRecorderImpl::CreatePlaybackMedia(unsigned mediaId, unsigned trackId,
                                                      const std::string& channelId,
                                                      const std::string& session) {
    const auto buffers = ReadBufferPool();
    Hold hold(*playbackMedia_);
    return RegisterMedium(mediaId, trackId, channelId, session, buffers).get();
}

PlaybackMedia* MediaRecorderImpl::GetPlaybackMedia(unsigned mediaId) {
    const auto medium = playbackMedia_->Find(mediaId, "");
    if (!medium) OLOG(kLogWarning) << "Not Found a playbackmedia. mediaID = " << mediaId;
    return medium.get();
}

void MediaRecorderImpl::DeletePlaybackMedia(unsigned mediaId) {
    std::shared_ptr<PlaybackMediaImpl> removed;
    bool awaitStop = false;
    {
        // Emptied and told to stop in one step: a create in between starts
        // the thread again.
        Hold hold(*playbackMedia_);
        removed = playbackMedia_->Find(mediaId, "");
        playbackMedia_->Erase(mediaId, "");
        if (playbackMedia_->Size() == 0) {
            OLOG(kLogInfo) << "Playback Timer End.";
            awaitStop = playbackTimer_->RequestStop();
        }
    }
    if (removed) playbackMedia_->RetireMedia({removed});
    if (awaitStop) playbackMedia_->AfterUnlock([this] { playbackTimer_->AwaitStop(); });
}

media_error_e MediaRecorderImpl::OpenMedia(unsigned seqId, long long start, long long end,
                                           int trackId, unsigned mediaId,
                                           const std::string& channelId, bool pause, bool backup,
                                           unsigned profileType, const std::string& session,
                                           OpenMediaCallback data,
                                           OpenMediaResponseCallback response) {
    const auto buffers = ReadBufferPool();
    const unsigned track = trackId < 0 ? trackId_.load() : static_cast<unsigned>(trackId);
    std::shared_ptr<PlaybackMediaImpl> medium;
    {
        // The count and the registration are one step.
        Hold hold(*playbackMedia_);
        if (playbackMedia_->Size() < kMaxPlaybackMedia) {
            if (backup && playbackMedia_->IsBackupRunning()) return MEDIA_ERROR_BACKUP_REFUSED;
            medium = RegisterMedium(mediaId, track, channelId, session, buffers);
            if (!medium) return MEDIA_ERROR_OPEN_FAILED;
        }
    }
    if (!medium) {
        if (response) response(seqId, MEDIA_ERROR_TOO_MANY_MEDIA);
        return MEDIA_ERROR_NONE;
    }
    int64_t at = start;
    int speed = 1;
    if (!session.empty()) {
        // A medium joining a running session starts at its time and speed.
        at = playbackMedia_->GetSessionTime(session);
        if (at == 0) {
            at = playbackMedia_->FindStartTime(mediaId, session, start, 1);
            if (at == 0) at = start;
            playbackMedia_->SetSessionState(session, PLAYBACK_CONTROL_PLAY, at, 1,
                                            static_cast<int32_t>(profileType));
        }
        speed = playbackMedia_->GetSessionSpeed(session);
    }
    const bool opened = medium->OpenMedia(static_cast<int>(seqId), at, end, speed, pause, backup,
                                          profileType, std::move(data), std::move(response));
    return opened ? MEDIA_ERROR_NONE : MEDIA_ERROR_OPEN_FAILED;
}

bool MediaRecorderImpl::ControlMedia(unsigned seqId, unsigned controlType, unsigned mediaId,
                                     int speed, long long time, unsigned profileType,
                                     const std::string& session,
                                     ControlMediaResponseCallback response) {
    const auto seq = static_cast<int32_t>(seqId);
    if (controlType == PLAYBACK_CONTROL_SESSION) {
        playbackMedia_->ChangeSession(mediaId, session);
        return true;
    }
    if (GetPlaybackMedia(mediaId) == nullptr) return true;
    if (controlType == PLAYBACK_CONTROL_PROFILE_SESSION) {
        Hold hold(*playbackMedia_);
        if (!playbackMedia_->Contains(mediaId, session)) return false;
        const int64_t now = playbackMedia_->GetSessionTime(session);
        playbackMedia_->ControlSession(seq, session, controlType, mediaId, now != 0 ? now : time,
                                       speed, profileType, std::move(response));
        return true;
    }
    // Where the session starts from, asked outside the hold (the media read
    // their index files); without a time of its own (pause, resume) or
    // without a recording there, it keeps its time.
    int64_t from = 0;
    if (!session.empty() && time >= 1) {
        from = playbackMedia_->FindStartTime(mediaId, session, time, speed);
    }
    Hold hold(*playbackMedia_);
    // A speed the media refuse leaves the session as it is.
    if (!session.empty() && IsPlayableSpeed(speed)) {
        if (from == 0) from = playbackMedia_->GetSessionTime(session);
        playbackMedia_->SetSessionState(session, static_cast<int32_t>(controlType), from, speed,
                                        static_cast<int32_t>(profileType));
    }
    playbackMedia_->ControlSession(seq, session, controlType, mediaId, time, speed, profileType,
                                   std::move(response));
    return true;
}

void MediaRecorderImpl::EndPlayback() {
    playbackTimer_->Shutdown();
    playbackMedia_->RetireAll();
    playbackMedia_->Clear();
}

}  // namespace orvale::recorder
