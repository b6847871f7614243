#include "recorder/recording/WritePacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvale::recorder {
namespace {

constexpr int64_t kNoon = 1796904000;  // 2026-12-10 12:00:00 UTC

// One new second per wall-clock second from 12:00:03 on, offset 7: the
// first second arms 12:00:17, the fifth writes since nothing was written,
// then writes follow every ten seconds at the offset.
TEST(WritePacerTest, WritesEarlyUntilTheFirstSuccessThenOnItsOffset) {
    WritePacer pacer(7);
    std::vector<int64_t> due;
    bool written = false;
    for (int64_t now = kNoon + 3; now <= kNoon + 40; ++now) {
        if (pacer.OnNewSecond(now, written)) {
            due.push_back(now - kNoon);
            written = true;  // the write reports back before the next second
        }
        if (now == kNoon + 3) EXPECT_EQ(pacer.NextWrite(), kNoon + 17);
    }
    EXPECT_EQ(due, (std::vector<int64_t>{7, 17, 27, 37}));
}

// Seconds that arrive faster than the wall clock (a conversion) are written
// after sixteen new seconds at the latest.
TEST(WritePacerTest, FastSecondsAreWrittenEverySixteen) {
    WritePacer pacer(0);
    std::vector<int> due;
    for (int second = 1; second <= 50; ++second) {
        if (pacer.OnNewSecond(kNoon + 1, true)) due.push_back(second);
    }
    EXPECT_EQ(due, (std::vector<int>{16, 32, 48}));
}

TEST(WritePacerTest, ResetArmsAgain) {
    WritePacer pacer(0);
    pacer.OnNewSecond(kNoon, true);
    pacer.Reset();
    EXPECT_FALSE(pacer.OnNewSecond(kNoon + 100, false));
    EXPECT_EQ(pacer.NextWrite(), kNoon + 110);
}

}  // namespace
}  // namespace orvale::recorder
