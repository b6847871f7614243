#include "converter/ConversionThread.h"

#include <algorithm>

namespace orvale::converter {

ConversionThread::ConversionThread(ConversionWorker& worker, Ended ended)
    : worker_(worker), ended_(std::move(ended)) {}

ConversionThread::~ConversionThread() {
    Join();
}

bool ConversionThread::Start(conversion_plan_s plan) {
    if (marked_) return false;
    Reap();
    {
        std::lock_guard lock(mutex_);
        finished_ = false;
        lastResult_.reset();
    }
    marked_ = true;
    try {
        thread_ = std::thread([this, plan = std::move(plan)] { Body(plan); });
    } catch (const std::system_error&) {
        marked_ = false;
        std::lock_guard lock(mutex_);
        finished_ = true;
        return false;
    }
    return true;
}

void ConversionThread::Body(const conversion_plan_s& plan) {
    conversion_result_s result;
    if (marked_) result = worker_.Run(plan);
    {
        std::lock_guard lock(mutex_);
        lastResult_ = result;
    }
    marked_ = false;
    if (ended_) ended_(result);
    std::lock_guard lock(mutex_);
    finished_ = true;
    finishedChanged_.notify_all();
}

bool ConversionThread::Stop(std::chrono::milliseconds timeout) {
    marked_ = false;
    if (!thread_.joinable()) {
        worker_.Cancel();
        return true;
    }
    if (!WaitCancelling(timeout)) return false;
    thread_.join();
    return true;
}

void ConversionThread::Join() {
    marked_ = false;
    while (thread_.joinable() && !WaitCancelling(kCancelSlice)) {
    }
    Reap();
}

bool ConversionThread::WaitCancelling(std::chrono::milliseconds timeout) {
    // A run that had not yet begun when the first Cancel came would start
    // anyway, so the cancel is repeated until the thread has finished.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    while (!finished_) {
        worker_.Cancel();
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        finishedChanged_.wait_for(
            lock, std::min<std::chrono::steady_clock::duration>(kCancelSlice, deadline - now));
    }
    return true;
}

std::optional<conversion_result_s> ConversionThread::LastResult() const {
    std::lock_guard lock(mutex_);
    return lastResult_;
}

bool ConversionThread::Alive() const {
    std::lock_guard lock(mutex_);
    return !finished_;
}

void ConversionThread::Reap() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace orvale::converter
