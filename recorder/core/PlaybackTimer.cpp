#include "recorder/core/PlaybackTimer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "common/Log.h"

namespace orvale::recorder {

using common::kLogFatal;

// kStopping: told to stop, still in its loop; kLeft: out of its loop, not
// yet joined.
struct PlaybackTimer::State {
    enum class Phase { kIdle, kRunning, kStopping, kLeft };

    explicit State(std::function<void()> tickCall) : tick(std::move(tickCall)) {}

    const std::function<void()> tick;
    std::mutex mutex;
    std::condition_variable changed;
    Phase phase = Phase::kIdle;  // under mutex
    bool closed = false;         // under mutex: Shutdown began, no start after it
    std::atomic<bool> running{false};
    std::thread thread;        // under mutex
    std::thread::id threadId;  // under mutex; none once joined

    bool OnTimerThread() const { return std::this_thread::get_id() == threadId; }
    void JoinLeft() {
        thread.join();
        threadId = {};
        phase = Phase::kIdle;
    }
};

PlaybackTimer::PlaybackTimer(std::function<void()> tick)
    : state_(std::make_shared<State>(std::move(tick))) {}

PlaybackTimer::~PlaybackTimer() {
    Shutdown();
}

void PlaybackTimer::Run(const std::shared_ptr<State>& state) {
    for (;;) {
        if (!state->running.load()) {
            std::lock_guard lock(state->mutex);
            if (!state->running.load()) {
                state->phase = State::Phase::kLeft;
                state->changed.notify_all();
                return;
            }
        }
        try {
            state->tick();
        } catch (const std::exception& e) {
            OLOG(kLogFatal) << "Playback Timer, Exception: " << e.what();
        } catch (...) {
            OLOG(kLogFatal) << "Playback Timer, Exception: unknown";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPeriodMs));
    }
}

void PlaybackTimer::Start() {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.closed) return;
    switch (s.phase) {
        case State::Phase::kRunning:
            return;
        case State::Phase::kStopping:
            // Still in its loop: it goes on.
            s.running = true;
            s.phase = State::Phase::kRunning;
            s.changed.notify_all();
            return;
        case State::Phase::kLeft:
            // Out of its loop: it takes no lock again, so the join is short.
            s.JoinLeft();
            break;
        case State::Phase::kIdle:
            break;
    }
    s.running = true;
    s.phase = State::Phase::kRunning;
    try {
        s.thread = std::thread([state = state_] { Run(state); });
    } catch (...) {
        s.running = false;
        s.phase = State::Phase::kIdle;
        throw;
    }
    s.threadId = s.thread.get_id();
}

bool PlaybackTimer::RequestStop() {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.phase == State::Phase::kRunning) {
        s.running = false;
        s.phase = State::Phase::kStopping;
    }
    return s.phase == State::Phase::kStopping && !s.OnTimerThread();
}

void PlaybackTimer::AwaitStop() {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    if (s.OnTimerThread()) return;
    s.changed.wait(lock, [&s] { return s.phase != State::Phase::kStopping; });
    if (s.phase == State::Phase::kLeft) s.JoinLeft();
}

void PlaybackTimer::Shutdown() {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.closed = true;
    if (s.phase == State::Phase::kRunning) {
        s.running = false;
        s.phase = State::Phase::kStopping;
    }
    if (s.phase == State::Phase::kIdle) return;
    if (s.OnTimerThread()) {
        // It cannot join itself: it ends after this tick, on its own.
        s.thread.detach();
        return;
    }
    s.changed.wait(lock, [&s] { return s.phase != State::Phase::kStopping; });
    if (s.phase == State::Phase::kLeft) s.JoinLeft();
}

bool PlaybackTimer::IsRunning() const {
    std::lock_guard lock(state_->mutex);
    return state_->phase == State::Phase::kRunning;
}

}  // namespace orvale::recorder
