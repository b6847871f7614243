#include "common/DeadlineTimer.h"

#include <boost/system/system_error.hpp>

namespace orvale::common {
namespace {

// The timer whose handler runs on this thread, if any, and its Stop count
// when the handler started.
struct RunningHandler {
    const DeadlineTimer* timer = nullptr;
    uint64_t stops = 0;
};
thread_local RunningHandler t_running;

}  // namespace

DeadlineTimer::DeadlineTimer(boost::asio::io_context* io, int intervalMs)
    : intervalMs_(intervalMs), io_(io) {}

DeadlineTimer::~DeadlineTimer() {
    try {
        std::lock_guard lock(stateMutex_);
        if (timer_) timer_->cancel();
    } catch (...) {
        // The pending wait only holds a weak reference: leaving it is harmless.
    }
}

void DeadlineTimer::Start(Handler handler) {
    std::lock_guard lock(stateMutex_);
    if (timer_) return;
    StartLocked(std::move(handler));
}

void DeadlineTimer::Restart(Handler handler) {
    std::lock_guard lock(stateMutex_);
    if (IsStaleHandlerCall()) return;
    if (!timer_) {
        StartLocked(std::move(handler));
        return;
    }
    handler_ = std::make_shared<Handler>(std::move(handler));
    ArmLocked();
}

void DeadlineTimer::Stop() {
    std::lock_guard lock(stateMutex_);
    if (!timer_) return;
    ++generation_;
    ++stops_;
    timer_->cancel();
    timer_.reset();
}

void DeadlineTimer::StartLocked(Handler handler) {
    timer_ = std::make_shared<boost::asio::steady_timer>(*io_);
    handler_ = std::make_shared<Handler>(std::move(handler));
    ArmLocked();
}

void DeadlineTimer::ArmLocked() {
    try {
        // Re-arming cancels a pending wait; the generation tells a wait that
        // completed before the cancel reached it that it is stale.
        timer_->expires_after(std::chrono::milliseconds(intervalMs_));
    } catch (const boost::system::system_error& e) {
        throw boost::system::system_error(e.code(), "expires_from_now");
    }
    const uint64_t generation = ++generation_;
    std::weak_ptr<DeadlineTimer> weak = weak_from_this();
    timer_->async_wait([weak, generation](const boost::system::error_code& error) {
        if (auto self = weak.lock()) self->OnExpired(generation, error);
    });
}

bool DeadlineTimer::IsStaleHandlerCall() const {
    return t_running.timer == this && t_running.stops != stops_;
}

void DeadlineTimer::OnExpired(uint64_t generation, const boost::system::error_code& error) {
    if (error) return;
    std::lock_guard run(handlerMutex_);
    std::shared_ptr<Handler> handler;
    uint64_t stops = 0;
    {
        std::lock_guard lock(stateMutex_);
        if (!timer_ || generation != generation_) return;
        handler = handler_;
        stops = stops_;
    }
    const RunningHandler outer = t_running;
    t_running = {this, stops};
    struct Restore {
        RunningHandler saved;
        ~Restore() { t_running = saved; }
    } restore{outer};
    if (handler && *handler) (*handler)(error);
}

}  // namespace orvale::common
