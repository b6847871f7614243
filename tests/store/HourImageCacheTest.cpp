#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "recorder/store/HourlyDatabase.h"

namespace orvale::recorder {
namespace {

HourImageCache::Image ImageOf(char byte) {
    return std::make_shared<const std::vector<char>>(3, byte);
}

// Hours come and go at the top of each hour, and a late recording may still
// make an older one: the newest hours stay, whatever the order they came in.
TEST(HourImageCacheTest, KeepsTheNewestHours) {
    HourImageCache cache;
    EXPECT_EQ(cache.Find(0), nullptr);
    const int64_t hours[] = {7200, 3600, 0, 10800, 14400};
    for (const int64_t hour : hours) cache.Keep(hour, ImageOf(static_cast<char>(hour / 3600)));
    cache.Keep(18000, nullptr);  // an image that could not be read is not kept

    EXPECT_EQ(cache.Find(0), nullptr);
    for (const int64_t hour : {3600, 7200, 10800, 14400}) {
        const auto image = cache.Find(hour);
        ASSERT_NE(image, nullptr) << hour;
        EXPECT_EQ(image->front(), static_cast<char>(hour / 3600));
    }
    cache.Keep(3600, ImageOf('x'));  // a hour made again replaces its image
    EXPECT_EQ(cache.Find(3600)->front(), 'x');
    EXPECT_EQ(cache.Find(18000), nullptr);
}

}  // namespace
}  // namespace orvale::recorder
