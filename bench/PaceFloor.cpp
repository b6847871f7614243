#include "bench/PaceFloor.h"

namespace orvale::bench {

namespace {

constexpr double kIntervalMs = 40;
constexpr double kSlackMs = 1.5;

}  // namespace

PaceFloor::PaceFloor(Clock::time_point origin, int media)
    : origin_(origin), media_(media), thread_([this] { Run(); }) {}

PaceFloor::~PaceFloor() {
    Stop();
}

void PaceFloor::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void PaceFloor::Run() {
    std::this_thread::sleep_until(origin_);
    // Each medium's last frame, spread so that they fall due in turn.
    std::vector<Clock::time_point> last;
    last.reserve(static_cast<size_t>(media_));
    for (int i = 0; i < media_; ++i) {
        last.push_back(origin_ - std::chrono::microseconds(
                                     static_cast<int64_t>(kIntervalMs * 1000 * i / media_)));
    }
    while (!stop_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const Clock::time_point now = Clock::now();
        for (Clock::time_point& shown : last) {
            const double elapsed = std::chrono::duration<double, std::milli>(now - shown).count();
            if (elapsed + kSlackMs < kIntervalMs) continue;
            // The first frame of each has no gap before it.
            const bool first = shown <= origin_;
            shown = now;
            if (first) continue;
            std::lock_guard lock(mutex_);
            gaps_.push_back(static_cast<float>(elapsed));
            ends_.push_back(std::chrono::duration<double>(now - origin_).count());
        }
    }
}

std::vector<float> PaceFloor::Gaps() {
    std::lock_guard lock(mutex_);
    return gaps_;
}

std::vector<std::pair<float, double>> PaceFloor::LongGaps(float limit) {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<float, double>> found;
    for (size_t i = 0; i < gaps_.size(); ++i) {
        if (gaps_[i] > limit) found.emplace_back(gaps_[i], ends_[i]);
    }
    return found;
}

}  // namespace orvale::bench
