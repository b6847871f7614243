// When a playback medium shows its next video frame, by speed: every frame at
// speeds 1 and 2, key frames only above, at most one every 125 ms above 4.
#pragma once

#include <cstdint>

namespace orvale::recorder {

enum class PaceResult { kSkip = -1, kWait = 0, kDeliver = 1 };

// The fastest rate played; a speed beyond it either way is refused.
inline constexpr int kMaxRate = 128;
inline bool IsPlayableSpeed(int speed) {
    return speed >= -kMaxRate && speed <= kMaxRate;
}

// `speed` is signed (its size is the rate); `interval` is the milliseconds
// between the frame's timestamp and the last one shown; `elapsedMs` the time
// since that frame was shown.
PaceResult PaceFrame(int speed, bool keyFrame, uint32_t interval, double elapsedMs);

}  // namespace orvale::recorder
