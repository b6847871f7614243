// The registry side of the playback media container: the lock with its
// deferred work, adding, finding, removing and stopping media. The session
// side (tick, session rows, control, moves) is PlaybackSessions.cpp.
#include "recorder/playback/PlaybackMediaContainer.h"

#include <exception>
#include <utility>

#include "common/Log.h"
#include "recorder/playback/PlaybackMediaImpl.h"

namespace orvale::recorder {

using common::kLogDebug;
using common::kLogError;
using common::kLogFatal;

namespace {

void LogException(const std::exception& e) {
    OLOG(kLogFatal) << "Exception: " << e.what();
}

}  // namespace

std::shared_ptr<PlaybackMediaContainer> PlaybackMediaContainer::Create() {
    return std::shared_ptr<PlaybackMediaContainer>(new PlaybackMediaContainer());
}

// --- the lock ---

void PlaybackMediaContainer::Lock() {
    mutex_.lock();
    if (depth_++ == 0) owner_.store(std::this_thread::get_id());
}

// Work deferred by this thread's holds runs once its outermost hold ends,
// without the lock; work it defers in turn waits for that work's own hold.
void PlaybackMediaContainer::Unlock() {
    std::vector<std::function<void()>> work;
    if (--depth_ == 0) {
        owner_.store(std::thread::id());
        work.swap(deferred_);
    }
    mutex_.unlock();
    for (auto& call : work) {
        try {
            call();
        } catch (const std::exception& e) {
            LogException(e);
        } catch (...) {
            OLOG(kLogFatal) << "Exception: unknown";
        }
    }
}

void PlaybackMediaContainer::AfterUnlock(std::function<void()> work) {
    if (HeldHere()) {
        deferred_.push_back(std::move(work));  // this thread holds the lock
        return;
    }
    work();
}

// --- registry ---

bool PlaybackMediaContainer::Insert(uint32_t mediaId, const std::string& session, Medium medium) {
    Hold hold(*this);
    try {
        if (Contains(mediaId, "")) {
            OLOG(kLogError)
                << "Failed to insert new PlaybackMediaImpl. Error : Duplicated mediaID = "
                << mediaId;
            return false;
        }
        if (session.empty()) {
            sessionLess_.emplace(mediaId, std::move(medium));
            return true;
        }
        auto& media = sessions_[session];
        media.emplace(mediaId, std::move(medium));
        rows_.try_emplace(session);  // a new session's row starts at zero
        return true;
    } catch (const std::exception& e) {
        LogException(e);
        return false;
    }
}

void PlaybackMediaContainer::RemoveFromSession(uint32_t mediaId, const std::string& session) {
    const auto found = sessions_.find(session);
    if (found == sessions_.end()) return;
    found->second.erase(mediaId);
    if (!found->second.empty()) return;
    OLOG(kLogDebug) << "Erase SESSION[" << session << "]";
    rows_.erase(session);
    sessions_.erase(found);
}

bool PlaybackMediaContainer::Erase(uint32_t mediaId, const std::string& session) {
    Hold hold(*this);
    try {
        if (!session.empty()) {
            const auto found = sessions_.find(session);
            if (found == sessions_.end() || found->second.count(mediaId) == 0) return true;
            OLOG(kLogDebug) << "Erase MID[" << mediaId << "], SESSION[" << session << "], CNT["
                            << found->second.size() << "]";
            RemoveFromSession(mediaId, session);
            return true;
        }
        if (sessionLess_.erase(mediaId) != 0) {
            OLOG(kLogDebug) << "Erase MID[" << mediaId << "]";
            return true;
        }
        const std::string* name = SessionOf(mediaId);
        if (name == nullptr) return true;
        const std::string owner = *name;
        OLOG(kLogDebug) << "Erase MID[" << mediaId << "], SESSION[" << owner << "], CNT["
                        << sessions_[owner].size() - 1 << "]";
        RemoveFromSession(mediaId, owner);
        return true;
    } catch (const std::exception& e) {
        LogException(e);
        return false;
    }
}

bool PlaybackMediaContainer::EraseByChannel(const std::string& channel) {
    Hold hold(*this);
    const bool nested = depth_ > 1;
    std::vector<Medium> removed;
    try {
        for (auto it = sessionLess_.begin(); it != sessionLess_.end();) {
            if (it->second->GetChannelId() != channel) {
                ++it;
                continue;
            }
            OLOG(kLogDebug) << "Erase MID[" << it->first << "], CHANNEL[" << channel << "]";
            removed.push_back(it->second);
            it = sessionLess_.erase(it);
        }
        std::vector<std::string> names;
        for (const auto& [name, media] : sessions_) names.push_back(name);
        for (const auto& name : names) {
            for (const auto& medium : SessionMedia(name)) {
                if (medium->GetChannelId() != channel) continue;
                OLOG(kLogDebug) << "Erase MID[" << medium->GetMediaId() << "], SESSION[" << name
                                << "], CNT[" << sessions_[name].size() << "]";
                removed.push_back(medium);
                RemoveFromSession(medium->GetMediaId(), name);
            }
        }
    } catch (const std::exception& e) {
        LogException(e);
        Retire(removed, nested);
        return false;
    }
    Retire(removed, nested);
    return true;
}

void PlaybackMediaContainer::Clear() {
    Hold hold(*this);
    sessions_.clear();
    sessionLess_.clear();
    rows_.clear();
}

bool PlaybackMediaContainer::Contains(uint32_t mediaId, const std::string& session) {
    Hold hold(*this);
    try {
        if (!session.empty()) {
            const auto found = sessions_.find(session);
            return found != sessions_.end() && found->second.count(mediaId) != 0;
        }
        return sessionLess_.count(mediaId) != 0 || SessionOf(mediaId) != nullptr;
    } catch (const std::exception& e) {
        LogException(e);
        return true;
    }
}

PlaybackMediaContainer::Medium PlaybackMediaContainer::Find(uint32_t mediaId,
                                                            const std::string& session) {
    Hold hold(*this);
    try {
        if (!session.empty()) {
            const auto found = sessions_.find(session);
            if (found == sessions_.end()) return {};
            const auto medium = found->second.find(mediaId);
            return medium == found->second.end() ? Medium{} : medium->second;
        }
        if (const auto found = sessionLess_.find(mediaId); found != sessionLess_.end()) {
            return found->second;
        }
        const std::string* name = SessionOf(mediaId);
        return name == nullptr ? Medium{} : sessions_[*name][mediaId];
    } catch (const std::exception& e) {
        LogException(e);
        return {};
    }
}

uint64_t PlaybackMediaContainer::Size() {
    Hold hold(*this);
    uint64_t count = sessionLess_.size();
    for (const auto& [name, media] : sessions_) count += media.size();
    return count;
}

uint64_t PlaybackMediaContainer::SessionSize(const std::string& session) {
    Hold hold(*this);
    const auto found = sessions_.find(session);
    return found == sessions_.end() ? 0 : found->second.size();
}

bool PlaybackMediaContainer::IsBackupRunning() {
    Hold hold(*this);
    for (const auto& medium : AllMedia()) {
        if (medium->IsBackup()) return true;
    }
    return false;
}

void PlaybackMediaContainer::StopAll() {
    Hold hold(*this);
    try {
        for (auto& medium : AllMedia()) {
            AfterUnlock([medium = std::move(medium)] {
                if (medium->IsOpened()) medium->Stop();
            });
        }
    } catch (const std::exception& e) {
        LogException(e);
    }
}

void PlaybackMediaContainer::RetireMedia(const std::vector<Medium>& media) {
    Hold hold(*this);
    Retire(media, depth_ > 1);
}

// `nested`: the operation was called with the lock held already (a callback
// on the timer thread), and a medium may be waiting for this very lock
// inside a callback of its own: it is muted now and stopped later.
void PlaybackMediaContainer::Retire(const std::vector<Medium>& media, bool nested) {
    for (const auto& medium : media) {
        if (nested) medium->Mute();
        AfterUnlock([medium] { medium->Retire(); });
    }
}

void PlaybackMediaContainer::RetireAll() {
    std::vector<Medium> media;
    {
        Hold hold(*this);
        media = AllMedia();
    }
    RetireMedia(media);
}

// --- lookups under the lock ---

const std::string* PlaybackMediaContainer::SessionOf(uint32_t mediaId) const {
    for (const auto& [name, media] : sessions_) {
        if (media.count(mediaId) != 0) return &name;
    }
    return nullptr;
}

std::vector<PlaybackMediaContainer::Medium> PlaybackMediaContainer::SessionMedia(
    const std::string& session) const {
    std::vector<Medium> media;
    const auto found = sessions_.find(session);
    if (found == sessions_.end()) return media;
    media.reserve(found->second.size());
    for (const auto& [id, medium] : found->second) media.push_back(medium);
    return media;
}

std::vector<PlaybackMediaContainer::Medium> PlaybackMediaContainer::AllMedia() const {
    std::vector<Medium> media;
    for (const auto& [id, medium] : sessionLess_) media.push_back(medium);
    for (const auto& [name, session] : sessions_) {
        for (const auto& [id, medium] : session) media.push_back(medium);
    }
    return media;
}

}  // namespace orvale::recorder
