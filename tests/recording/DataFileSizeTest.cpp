#include "recorder/recording/DataFileSize.h"

#include <gtest/gtest.h>

namespace orvale::recorder {
namespace {

constexpr int64_t kMiB = int64_t{1} << 20;
constexpr int64_t kTop = 1710496800;  // 2024-03-15 10:00:00 UTC: 3599 seconds left

struct size_case_s {
    const char* name;
    data_file_request_s request;
    int64_t expected;
};

TEST(DataFileSizeTest, RestOfTheHourCappedAndNeverSmallerThanTheBuffer) {
    const size_case_s cases[] = {
        // 1 MiB a second for the hour's 3599 seconds + 120, under a large cap.
        {"rest of the hour", {kMiB, 1, kTop, 120, 8192 * kMiB, 0}, 3719 * kMiB},
        {"rate over the span", {10 * kMiB, 10, kTop, 120, 8192 * kMiB, 0}, 3719 * kMiB},
        {"capped by the setting", {kMiB, 1, kTop, 120, 400 * kMiB, 0}, 400 * kMiB},
        {"raised to the smallest worth making",
         {1024, 1, kTop, 120, 400 * kMiB, 50 * kMiB},
         50 * kMiB},
        // The last second of an hour: only the margin is left.
        {"end of the hour", {kMiB, 1, kTop + 3599, 120, 8192 * kMiB, 0}, 120 * kMiB},
        // A buffer larger than the setting gets a file it fits in, with the
        // header before it and the closing sector after it.
        {"buffer above the cap", {8 * kMiB, 16, kTop, 120, 4 * kMiB, 0}, 8 * kMiB + 8192},
        {"buffer above the smallest size",
         {60 * kMiB, 60, kTop + 3599, 0, 4 * kMiB, 50 * kMiB},
         60 * kMiB + 8192},
        {"span of 0 counts as 1", {kMiB, 0, kTop, 120, 8192 * kMiB, 0}, 3719 * kMiB},
    };
    for (const size_case_s& c : cases) {
        EXPECT_EQ(DataFileSizeFor(c.request), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace orvale::recorder
