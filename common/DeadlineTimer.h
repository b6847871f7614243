// A restartable one-shot timer on a pool's I/O service.
//
// Start arms the timer once; Restart re-arms it (also from inside its own
// handler, which is how periodic jobs repeat); Stop cancels it. Handler calls
// are serialised by a recursive mutex. Stop never waits for a running
// handler and takes only a short state lock that is never held while a
// handler or any other code runs, so it can be called while holding any other
// lock. Once Stop has returned no further handler call starts, and a handler
// that was already running cannot re-arm the timer: its Restart is ignored.
// Made with std::make_shared; pending waits hold only a weak reference.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

namespace orvale::common {

class DeadlineTimer : public std::enable_shared_from_this<DeadlineTimer> {
  public:
    using Handler = std::function<void(const boost::system::error_code&)>;

    DeadlineTimer(boost::asio::io_context* io, int intervalMs);
    ~DeadlineTimer();

    DeadlineTimer(const DeadlineTimer&) = delete;
    DeadlineTimer& operator=(const DeadlineTimer&) = delete;

    void Start(Handler handler);
    void Restart(Handler handler);
    void Stop();

  private:
    void StartLocked(Handler handler);
    void ArmLocked();
    void OnExpired(uint64_t generation, const boost::system::error_code& error);
    bool IsStaleHandlerCall() const;

    const int intervalMs_;
    boost::asio::io_context* io_;
    std::shared_ptr<boost::asio::steady_timer> timer_;
    std::shared_ptr<Handler> handler_;
    uint64_t generation_ = 0;  // bumped by every arm and by Stop
    uint64_t stops_ = 0;
    std::mutex stateMutex_;
    std::recursive_mutex handlerMutex_;
};

}  // namespace orvale::common
