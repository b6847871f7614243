// The engine's registry of playback media and the place where they advance:
// media by media id, either without a session or grouped under a session
// name, whose media play in lock-step on one session time (several channels
// recorded at one moment shown together).
//
// Invariants: a media id names at most one medium in the whole container; a
// session name is a key while it holds at least one medium, and its row
// lives and dies with it; the empty name means "no session" and is never a
// key.
//
// Locking: one recursive mutex guards the maps. Tick holds it for the whole
// step, so the media's callbacks run on the timer thread with it held and
// may call back into the container (create, open, control, move, delete);
// walks that call into media go over a snapshot, so such calls never upset
// them. The order is always container lock, then a medium's lock, with one
// exception: a backup runs on a worker thread and calls its callbacks under
// its own lock, and a callback may call into the engine. Hence calls that
// wait for a backup's lock (control, stop), and every stop of a medium taken
// out of the container, are made without the container lock; a thread that
// holds it already (a callback on the timer thread) has them made when it
// lets go (AfterUnlock), and a medium it removes is muted at once (no
// callback starts after the removal).
//
// The container owns the media it holds through shared references; a
// snapshot keeps a medium alive while a walk works on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {

class PlaybackMediaImpl;

// The state of one session.
struct playback_session_s {
    int32_t controlType = 0;  // the control last applied (playback_control_type_e)
    int64_t time = 0;         // seconds since 1970 (UTC) being played; 0: not started
    int32_t speed = 0;        // signed; 0 counts as forward
    int32_t profileType = 0;  // 4 main, other values low
};

class PlaybackMediaContainer {
  public:
    using Medium = std::shared_ptr<PlaybackMediaImpl>;

    // Holds the lock across several operations, so that they are one step
    // to the tick and to other callers.
    class Hold {
      public:
        explicit Hold(PlaybackMediaContainer& container) : container_(container) {
            container_.Lock();
        }
        ~Hold() { container_.Unlock(); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        PlaybackMediaContainer& container_;
    };

    static std::shared_ptr<PlaybackMediaContainer> Create();

    // False (logged) when the media id is registered anywhere already.
    bool Insert(uint32_t mediaId, const std::string& session, Medium medium);
    // True also when nothing was found; the empty session looks everywhere.
    // The medium is not stopped.
    bool Erase(uint32_t mediaId, const std::string& session);
    // Removes and retires every medium of the channel.
    bool EraseByChannel(const std::string& channel);
    // Empties every map; the media are not stopped.
    void Clear();
    bool Contains(uint32_t mediaId, const std::string& session);
    Medium Find(uint32_t mediaId, const std::string& session);
    uint64_t Size();
    uint64_t SessionSize(const std::string& session);
    // Stops every opened medium.
    void StopAll();
    // One step of every medium and session (the playback timer's).
    void Tick();

    // --- sessions ---
    // The time the session moves to when every opened medium has finished
    // the current second (false: some has not, or none is opened).
    bool GetSessionNextTime(const std::string& session, int32_t speed, int64_t& time);
    bool SetSessionState(const std::string& session, int32_t controlType, int64_t time,
                         int32_t speed, int32_t profileType);
    int32_t GetSessionSpeed(const std::string& session);
    int64_t GetSessionTime(const std::string& session);
    bool IsBackupRunning();
    // The command to every medium of the session (the addressed one answers
    // through `callback`), or to the session-less medium of that id.
    bool ControlSession(int32_t seqId, const std::string& session, uint32_t controlType,
                        uint32_t mediaId, int64_t time, int32_t speed, uint32_t profileType,
                        ControlMediaResponseCallback callback);
    // Moves the medium into the session (out of any for the empty name); a
    // medium that cannot go there stays where it was. Joining a playing
    // session it takes the session's time and speed, unless it already
    // plays as the session does (KeepsPace): then it goes on as it is.
    bool ChangeSession(uint32_t mediaId, const std::string& session);
    // The earliest start (latest in reverse) over the session's media, or
    // the session-less medium's; 0 when none. Asked without the lock.
    int64_t FindStartTime(uint32_t mediaId, const std::string& session, int64_t time,
                          int32_t speed);

    // --- what the engine adds ---
    // Stops media taken out of the container for good (Retire), without the
    // lock; a thread that holds it mutes them now and retires them when it
    // lets go.
    void RetireMedia(const std::vector<Medium>& media);
    // Every medium retired (the engine's last step before Clear).
    void RetireAll();
    // Runs `work` now when this thread does not hold the lock, else just
    // after its outermost hold ends.
    void AfterUnlock(std::function<void()> work);

  private:
    using MediaMap = std::unordered_map<uint32_t, Medium>;

    PlaybackMediaContainer() = default;

    void Lock();
    void Unlock();
    bool HeldHere() const { return owner_.load() == std::this_thread::get_id(); }

    // Under the lock.
    const std::string* SessionOf(uint32_t mediaId) const;
    std::vector<Medium> SessionMedia(const std::string& session) const;
    std::vector<Medium> AllMedia() const;
    void RemoveFromSession(uint32_t mediaId, const std::string& session);
    void Retire(const std::vector<Medium>& media, bool nested);
    void TickSession(const std::string& session);
    void Control(const Medium& medium, int32_t seqId, uint32_t controlType, int64_t time,
                 int32_t speed, uint32_t profileType, ControlMediaResponseCallback callback);
    void TakeStateFrom(const Medium& medium, playback_session_s& row);
    // A session without a time takes it from its first medium that has one.
    bool StartFromMedia(const std::vector<Medium>& media, playback_session_s& row);

    static bool NextTime(const std::vector<Medium>& media, int32_t speed, int64_t& time);
    // True when `medium` already plays as the session does, within a second
    // of its time: it joins without being read afresh.
    static bool KeepsPace(PlaybackMediaImpl& medium, const playback_session_s& state);
    static void ProcessGuarded(const Medium& medium, int64_t syncTime);

    std::recursive_mutex mutex_;
    std::unordered_map<std::string, MediaMap> sessions_;
    MediaMap sessionLess_;
    std::unordered_map<std::string, playback_session_s> rows_;

    // The lock's holder and depth (depth_ and deferred_ under the lock).
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;
    std::vector<std::function<void()>> deferred_;
};

}  // namespace orvale::recorder
