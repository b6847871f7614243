// The one worker thread of the converter: it runs a ConversionWorker over a
// plan and tells its owner when it is done.
//
// The thread's "running mark" is set by Start and cleared when the run has
// returned or when Stop is asked; it is what a progress display polls. The
// thread is "alive" until its body has completely finished. The object
// borrows the worker (which borrows the engine) and never lets the thread
// outlive itself: the destructor cancels the run and waits for the end
// without limit, so nobody may delete the engine while a run can touch it.
// Start, Stop, Join and the destructor belong to one (owning) thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "converter/ConversionWorker.h"

namespace orvale::converter {

class ConversionThread {
  public:
    // Called on the worker thread as its last act, after the mark is clear;
    // it must not wait for the owning thread.
    using Ended = std::function<void(const conversion_result_s&)>;

    ConversionThread(ConversionWorker& worker, Ended ended);
    ~ConversionThread();

    ConversionThread(const ConversionThread&) = delete;
    ConversionThread& operator=(const ConversionThread&) = delete;

    // False while the mark is set or when no thread can be started; an
    // earlier thread that has not yet finished is waited for first.
    bool Start(conversion_plan_s plan);

    // Cancels the run and clears the mark; waits up to `timeout` for the
    // thread to finish. True when it has finished (or none was there).
    bool Stop(std::chrono::milliseconds timeout);

    // Cancels the run and waits for the thread however long it takes.
    void Join();

    bool MarkedRunning() const { return marked_; }
    bool Alive() const;
    // What the last run did, once it has returned (before the mark clears);
    // empty while a run is under way or none was made.
    std::optional<conversion_result_s> LastResult() const;

  private:
    static constexpr std::chrono::milliseconds kCancelSlice{10};

    void Body(const conversion_plan_s& plan);
    bool WaitCancelling(std::chrono::milliseconds timeout);
    void Reap();

    ConversionWorker& worker_;
    Ended ended_;
    std::thread thread_;
    std::atomic<bool> marked_{false};
    mutable std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = true;
    std::optional<conversion_result_s> lastResult_;  // guarded by mutex_
};

}  // namespace orvale::converter
