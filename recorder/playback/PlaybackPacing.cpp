#include "recorder/playback/PlaybackPacing.h"

namespace orvale::recorder {

namespace {

// Above speed 8 a key frame closer to the last one shown than this (in
// stream milliseconds) is passed over at once.
PaceResult SkipCloserThan(uint32_t interval, uint32_t limit) {
    return interval <= limit ? PaceResult::kSkip : PaceResult::kWait;
}

PaceResult DeliverWhen(bool due) {
    return due ? PaceResult::kDeliver : PaceResult::kWait;
}

}  // namespace

PaceResult PaceFrame(int speed, bool keyFrame, uint32_t interval, double elapsedMs) {
    // Wide enough for the rate of the most negative speed.
    const int64_t rate = speed < 0 ? -static_cast<int64_t>(speed) : speed;
    const auto elapsed = static_cast<int64_t>(elapsedMs);
    if (rate >= 3 && !keyFrame) return PaceResult::kSkip;
    if (rate > 4 && elapsed >= 125) return PaceResult::kDeliver;
    switch (rate) {
        case 1:
            // A little slack lets a frame go a tick early rather than late.
            return DeliverWhen(static_cast<int64_t>(elapsedMs + 1.5) >= interval);
        case 2:
            return DeliverWhen(elapsed >= interval / 2);
        case 4:
            return DeliverWhen(elapsed >= interval / 4);
        case 8:
            return SkipCloserThan(interval, 990);
        case 16:
            return SkipCloserThan(interval, 1880);
        case 32:
            return SkipCloserThan(interval, 3760);
        case 64:
            return SkipCloserThan(interval, 7520);
        case 128:
            return SkipCloserThan(interval, 15040);
        default:
            return PaceResult::kWait;
    }
}

}  // namespace orvale::recorder
