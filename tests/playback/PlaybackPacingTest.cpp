#include "recorder/playback/PlaybackPacing.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace orvale::recorder {
namespace {

TEST(PlaybackPacingTest, DecidesEachSpeedsFrames) {
    struct Case {
        int speed;
        bool key;
        uint32_t interval;
        double elapsed;
        PaceResult expected;
    };
    const Case cases[] = {
        // Speed 1: on time, 1.5 ms of slack.
        {1, false, 40, 38.4, PaceResult::kWait},
        {1, false, 40, 38.5, PaceResult::kDeliver},
        {-1, true, 1000, 998.5, PaceResult::kDeliver},
        // Speed 2 and 4: half and a quarter of the interval.
        {2, false, 40, 19.9, PaceResult::kWait},
        {2, false, 41, 20, PaceResult::kDeliver},
        {4, true, 1000, 249, PaceResult::kWait},
        {4, true, 1000, 250, PaceResult::kDeliver},
        // Above 2 only key frames.
        {3, false, 40, 1000, PaceResult::kSkip},
        {4, false, 40, 1000, PaceResult::kSkip},
        {-16, false, 40, 0, PaceResult::kSkip},
        // Speed 3 shows nothing by the clock.
        {3, true, 40, 100000, PaceResult::kWait},
        // 8 to 128: closer key frames go at once, farther ones every 125 ms.
        {8, true, 990, 0, PaceResult::kSkip},
        {8, true, 991, 124.9, PaceResult::kWait},
        {8, true, 991, 125, PaceResult::kDeliver},
        {16, true, 1880, 0, PaceResult::kSkip},
        {16, true, 1881, 0, PaceResult::kWait},
        {32, true, 3760, 0, PaceResult::kSkip},
        {64, true, 7520, 0, PaceResult::kSkip},
        {-128, true, 15040, 0, PaceResult::kSkip},
        {128, true, 15041, 0, PaceResult::kWait},
        {128, true, 1, 125, PaceResult::kDeliver},
        // Speeds without a rule wait.
        {0, true, 0, 1000, PaceResult::kWait},
        {5, true, 5000, 100, PaceResult::kWait},
        {256, true, 5000, 100, PaceResult::kWait},
        // The most negative speed has a rate like any other.
        {std::numeric_limits<int>::min(), false, 40, 0, PaceResult::kSkip},
        {std::numeric_limits<int>::min(), true, 5000, 125, PaceResult::kDeliver},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("speed " + std::to_string(c.speed) + " interval " +
                     std::to_string(c.interval) + " elapsed " + std::to_string(c.elapsed));
        EXPECT_EQ(PaceFrame(c.speed, c.key, c.interval, c.elapsed), c.expected);
    }
}

}  // namespace
}  // namespace orvale::recorder
