#include "converter/ConversionThread.h"

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
    marked_ = false;
    if (ended_) ended_(result);
    std::lock_guard lock(mutex_);
    finished_ = true;
    finishedChanged_.notify_all();
}

bool ConversionThread::Stop(std::chrono::milliseconds timeout) {
    marked_ = false;
    worker_.Cancel();
    if (!thread_.joinable()) return true;
    {
        std::unique_lock lock(mutex_);
        if (!finishedChanged_.wait_for(lock, timeout, [this] { return finished_; })) return false;
    }
    thread_.join();
    return true;
}

void ConversionThread::Join() {
    marked_ = false;
    worker_.Cancel();
    Reap();
}

bool ConversionThread::Alive() const {
    std::lock_guard lock(mutex_);
    return !finished_;
}

void ConversionThread::Reap() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace orvale::converter
