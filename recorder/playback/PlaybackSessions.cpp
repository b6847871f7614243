// The session side of the playback media container: the tick, the session
// rows, control of a session's media and moves between sessions.
//
// A session's time moves one second (back in reverse) only once every opened
// medium of the session has finished the current second and waits at a
// frame after it; when each of them also announced the time of that frame
// (a gap of more than 5 s lies ahead), the session jumps to the earliest of
// them (the latest in reverse). A session without an opened medium holds its
// time: nothing plays that could finish a second. A session without a time
// takes the time of its first medium that has one (its position, or before
// its first frame the time it was opened or repositioned at); until then
// nothing is paced, but every request of its media is answered.
#include <algorithm>
#include <exception>
#include <utility>

#include "common/Log.h"
#include "recorder/playback/PlaybackMediaContainer.h"
#include "recorder/playback/PlaybackMediaImpl.h"

namespace orvale::recorder {

using common::kLogError;
using common::kLogFatal;

namespace {

void LogException(const std::exception& e) {
    OLOG(kLogFatal) << "Exception: " << e.what();
}

// Runs `call` on `medium`; what escapes a medium stops that medium only.
template <class Call>
void Guarded(const PlaybackMediaContainer::Medium& medium, Call&& call) {
    try {
        call();
        return;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "MID[" << medium->GetMediaId() << "], Exception: " << e.what();
    } catch (...) {
        OLOG(kLogError) << "MID[" << medium->GetMediaId() << "], Exception: unknown";
    }
    try {
        medium->Stop();
    } catch (...) {
    }
}

}  // namespace

void PlaybackMediaContainer::ProcessGuarded(const Medium& medium, int64_t syncTime) {
    Guarded(medium, [&] { medium->Process(syncTime); });
}

void PlaybackMediaContainer::Tick() {
    Hold hold(*this);
    try {
        std::vector<Medium> alone;
        alone.reserve(sessionLess_.size());
        for (const auto& [id, medium] : sessionLess_) alone.push_back(medium);
        std::vector<std::string> names;
        names.reserve(sessions_.size());
        for (const auto& [name, media] : sessions_) names.push_back(name);
        // Exports run on their own threads.
        for (const auto& medium : alone) {
            if (!medium->IsBackup()) ProcessGuarded(medium, 0);
        }
        for (const auto& name : names) {
            try {
                TickSession(name);
            } catch (const std::exception& e) {
                LogException(e);
            }
        }
    } catch (const std::exception& e) {
        LogException(e);
    }
}

void PlaybackMediaContainer::TickSession(const std::string& session) {
    const auto row = rows_.find(session);
    if (row == rows_.end()) return;
    const std::vector<Medium> media = SessionMedia(session);
    if (row->second.time == 0 && !StartFromMedia(media, row->second)) {
        // Not started: nothing is paced, but every request is answered.
        for (const auto& medium : media) Guarded(medium, [&] { medium->AnswerQueued(); });
        return;
    }
    const playback_session_s state = row->second;
    int64_t next = 0;
    if (!NextTime(media, state.speed, next)) {
        for (const auto& medium : media) ProcessGuarded(medium, state.time);
        return;
    }
    if (next == 0) next = state.speed < 0 ? state.time - 1 : state.time + 1;
    SetSessionState(session, state.controlType, next, state.speed, state.profileType);
    for (const auto& medium : media) {
        medium->ClearWaitingForSync();
        ProcessGuarded(medium, next);
    }
}

bool PlaybackMediaContainer::NextTime(const std::vector<Medium>& media, int32_t speed,
                                      int64_t& time) {
    int64_t candidate = 0;
    bool allKnown = true;
    bool anyOpened = false;
    for (const auto& medium : media) {
        if (!medium->IsOpened() || medium->IsBackup()) continue;
        anyOpened = true;
        if (!medium->IsWaitingForSync()) return false;
        if (!allKnown) continue;
        const int64_t next = medium->GetNextFrameTime();
        if (next == 0) {
            allKnown = false;
        } else if (candidate == 0) {
            candidate = next;
        } else {
            candidate = speed < 0 ? std::max(candidate, next) : std::min(candidate, next);
        }
    }
    if (!anyOpened) return false;
    if (allKnown) time = candidate;
    return true;
}

bool PlaybackMediaContainer::GetSessionNextTime(const std::string& session, int32_t speed,
                                                int64_t& time) {
    Hold hold(*this);
    try {
        return NextTime(SessionMedia(session), speed, time);
    } catch (const std::exception& e) {
        LogException(e);
        return true;
    }
}

bool PlaybackMediaContainer::SetSessionState(const std::string& session, int32_t controlType,
                                             int64_t time, int32_t speed, int32_t profileType) {
    Hold hold(*this);
    const auto row = rows_.find(session);
    if (row == rows_.end()) return false;
    row->second = {controlType, time, speed, profileType};
    return true;
}

int32_t PlaybackMediaContainer::GetSessionSpeed(const std::string& session) {
    Hold hold(*this);
    const auto row = rows_.find(session);
    return row == rows_.end() ? 0 : row->second.speed;
}

int64_t PlaybackMediaContainer::GetSessionTime(const std::string& session) {
    Hold hold(*this);
    const auto row = rows_.find(session);
    return row == rows_.end() ? 0 : row->second.time;
}

// A backup's lock may be held by its worker inside a callback that waits for
// the container: it is controlled once the lock is let go.
void PlaybackMediaContainer::Control(const Medium& medium, int32_t seqId, uint32_t controlType,
                                     int64_t time, int32_t speed, uint32_t profileType,
                                     ControlMediaResponseCallback callback) {
    auto call = [medium, seqId, controlType, time, speed, profileType,
                 callback = std::move(callback)] {
        Guarded(medium, [&] {
            medium->ControlMedia(seqId, controlType, time, speed, profileType, callback);
        });
    };
    if (medium->IsBackup()) {
        AfterUnlock(std::move(call));
    } else {
        call();
    }
}

bool PlaybackMediaContainer::ControlSession(int32_t seqId, const std::string& session,
                                            uint32_t controlType, uint32_t mediaId, int64_t time,
                                            int32_t speed, uint32_t profileType,
                                            ControlMediaResponseCallback callback) {
    Hold hold(*this);
    try {
        if (session.empty()) {
            // Without a session the command reaches the one medium of that id.
            const auto found = sessionLess_.find(mediaId);
            if (found != sessionLess_.end()) {
                Control(found->second, seqId, controlType, time, speed, profileType,
                        std::move(callback));
            }
            return true;
        }
        for (const auto& medium : SessionMedia(session)) {
            if (medium->GetMediaId() == mediaId) {
                Control(medium, seqId, controlType, time, speed, profileType, callback);
            } else if (controlType != PLAYBACK_CONTROL_PROFILE_SESSION) {
                Control(medium, seqId, controlType, time, speed, profileType, {});
            }
        }
    } catch (const std::exception& e) {
        LogException(e);
    }
    return true;
}

bool PlaybackMediaContainer::StartFromMedia(const std::vector<Medium>& media,
                                            playback_session_s& row) {
    for (const auto& medium : media) {
        if (medium->IsBackup() || medium->GetPlayTime() == 0) continue;
        TakeStateFrom(medium, row);
        return row.time != 0;
    }
    return false;
}

void PlaybackMediaContainer::TakeStateFrom(const Medium& medium, playback_session_s& row) {
    row.controlType = medium->GetState();
    row.time = medium->GetPlayTime();
    row.speed = medium->GetSpeed();
    row.profileType = static_cast<int32_t>(medium->GetRequestedProfile());
}

// A medium moved in from a session in lock-step with this one stands where
// this one does, give or take the second being finished: repositioning it
// would read it afresh from the key frame of the session's second, show that
// second again, and hold the session's other media at the next second until
// it had. Within a second it is simply paced by the session from now on: a
// second behind, it passes over the rest of that second at once; a second
// ahead, it waits at its next frame until the session gets there.
bool PlaybackMediaContainer::KeepsPace(PlaybackMediaImpl& medium, const playback_session_s& state) {
    if (!medium.IsOpened() || medium.GetState() != state.controlType ||
        medium.GetSpeed() != state.speed ||
        medium.GetRequestedProfile() != static_cast<uint32_t>(state.profileType)) {
        return false;
    }
    const int64_t apart = medium.GetPosition() - state.time;
    return apart >= -1 && apart <= 1;
}

bool PlaybackMediaContainer::ChangeSession(uint32_t mediaId, const std::string& session) {
    Hold hold(*this);
    try {
        const Medium medium = Find(mediaId, "");
        if (!medium) return true;
        const std::string* at = SessionOf(mediaId);
        const std::string from = at == nullptr ? std::string() : *at;
        if (from == session) return true;
        // Its old session's row goes with its last medium; should the move
        // fail, both come back.
        const auto oldRow = rows_.find(from);
        const playback_session_s kept =
            oldRow == rows_.end() ? playback_session_s{} : oldRow->second;
        Erase(mediaId, from);
        if (!Insert(mediaId, session, medium)) {
            Insert(mediaId, from, medium);
            if (!from.empty()) rows_[from] = kept;
            return true;
        }
        const auto row = rows_.find(session);
        // An export is not paced by a session.
        if (row == rows_.end() || medium->IsBackup()) return true;
        if (SessionSize(session) == 1) {
            TakeStateFrom(medium, row->second);
        } else if (row->second.time != 0 && !KeepsPace(*medium, row->second)) {
            const playback_session_s state = row->second;
            medium->ControlMedia(0, static_cast<unsigned>(state.controlType), state.time,
                                 state.speed, static_cast<unsigned>(state.profileType), {});
        }
    } catch (const std::exception& e) {
        LogException(e);
    }
    return true;
}

// The media answer from their index files, which may take a while: the
// container's lock is not held meanwhile (they take no lock of their own).
int64_t PlaybackMediaContainer::FindStartTime(uint32_t mediaId, const std::string& session,
                                              int64_t time, int32_t speed) {
    std::vector<Medium> media;
    try {
        Hold hold(*this);
        if (!session.empty()) {
            media = SessionMedia(session);
        } else if (const auto found = sessionLess_.find(mediaId); found != sessionLess_.end()) {
            media.push_back(found->second);
        }
    } catch (const std::exception& e) {
        LogException(e);
        return 0;
    }
    int64_t kept = 0;
    try {
        for (const auto& medium : media) {
            const int64_t start = medium->FindStartTime(time, speed);
            if (start == 0) continue;
            if (kept == 0 || (speed < 0 ? start >= kept : start <= kept)) kept = start;
        }
    } catch (const std::exception& e) {
        LogException(e);
        return 0;
    }
    return kept;
}

}  // namespace orvale::recorder
