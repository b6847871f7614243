// The playback timer: one thread that calls its tick, then sleeps 1 ms, while
// it is meant to run. The engine starts it with the first playback medium
// and stops it when its last one is deleted.
//
// Never two threads at once: a thread told to stop that has not yet left its
// loop is simply told to go on when a start comes first; one that has left
// it is joined before the next starts. A stop asked for on the timer thread
// itself (a callback deleting the last medium) does not wait: the thread
// leaves its loop after the tick and is joined by the next start or the
// destructor.
//
// Locks: Start and RequestStop are called with the playback container's lock
// held (so that "the container became empty" and "stop" are one step), and
// take the timer's own mutex inside it; the thread takes that mutex between
// ticks only, never inside one. AwaitStop must be called without the
// container's lock: the thread's last tick needs it.
//
// The thread shares its state with this object, so a timer destroyed on its
// own thread (the engine deleted from a callback) leaves the thread to end
// on its own.
#pragma once

#include <functional>
#include <memory>

namespace orvale::recorder {

class PlaybackTimer {
  public:
    static constexpr int kPeriodMs = 1;

    explicit PlaybackTimer(std::function<void()> tick);
    ~PlaybackTimer();

    PlaybackTimer(const PlaybackTimer&) = delete;
    PlaybackTimer& operator=(const PlaybackTimer&) = delete;

    // Starts the thread unless it runs; a thread that has left its loop is
    // joined first.
    void Start();
    // Tells the thread to stop; true when the caller is to AwaitStop (it is
    // not the timer thread and a thread was running).
    bool RequestStop();
    // Waits until the thread stopped and joins it (or until a start told it
    // to go on).
    void AwaitStop();
    // Stops and joins the thread, unless called on it.
    void Shutdown();
    bool IsRunning() const;

  private:
    struct State;
    static void Run(const std::shared_ptr<State>& state);

    const std::shared_ptr<State> state_;
};

}  // namespace orvale::recorder
