#include "recorder/store/AlignedBytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace orvale::recorder {
namespace {

bool SectorAligned(const uint8_t* bytes) {
    return reinterpret_cast<std::uintptr_t>(bytes) % kSectorSize == 0;
}

TEST(AlignedBytesTest, KeptBytesMoveBetweenSmallAndLargeArrays) {
    std::vector<uint8_t> pattern(kSectorSize);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7);
    const auto holds = [&pattern](const AlignedBytes& bytes) {
        return std::vector<uint8_t>(bytes.Data(), bytes.Data() + pattern.size()) == pattern;
    };

    AlignedBytes bytes(kSectorSize);
    std::copy(pattern.begin(), pattern.end(), bytes.Data());
    // Capacities on both sides of the large-array threshold, up and down.
    for (const uint64_t capacity : {AlignedBytes::kLargeCapacity + 1, 3 * kSectorSize,
                                    AlignedBytes::kLargeCapacity, uint64_t{kSectorSize}}) {
        bytes.Reallocate(capacity, kSectorSize);
        ASSERT_EQ(bytes.Capacity(), capacity);
        EXPECT_TRUE(SectorAligned(bytes.Data())) << capacity;
        EXPECT_TRUE(holds(bytes)) << capacity;
        bytes.Data()[capacity - 1] = 0xEE;  // the whole capacity is writable
    }
    bytes.Reallocate(0, 0);
    EXPECT_EQ(bytes.Data(), nullptr);
    EXPECT_EQ(bytes.Capacity(), 0u);
}

// Recorders close and open write buffers all the time: a large array given
// back is handed to the next one of its length instead of a fresh mapping,
// within a bound, and the spares go when recording stops.
TEST(AlignedBytesTest, LargeArraysGivenBackAreReusedWithinTheirBound) {
    AlignedBytes::ReleaseSpares();
    const uint64_t capacity = AlignedBytes::kLargeCapacity + kSectorSize;
    const uint64_t footprint = AlignedBytes::Footprint(capacity);
    const uint8_t* first = nullptr;
    {
        AlignedBytes bytes(capacity);
        first = bytes.Data();
        bytes.Data()[capacity - 1] = 1;
    }
    EXPECT_EQ(AlignedBytes::SpareBytes(), footprint);
    {
        AlignedBytes other(2 * AlignedBytes::kLargeCapacity + 1);  // another length
        EXPECT_NE(other.Data(), first);
        AlignedBytes again(capacity - kSectorSize + 1);  // same length in large pages
        EXPECT_EQ(again.Data(), first);
        EXPECT_TRUE(SectorAligned(again.Data()));
        again.Data()[capacity - kSectorSize] = 2;  // the whole capacity is writable
    }

    AlignedBytes::ReleaseSpares();
    std::vector<AlignedBytes> many;
    const uint64_t count = AlignedBytes::kSpareBytes / footprint + 2;
    for (uint64_t i = 0; i < count; ++i) many.emplace_back(capacity);
    many.clear();
    EXPECT_LE(AlignedBytes::SpareBytes(), AlignedBytes::kSpareBytes);
    EXPECT_GT(AlignedBytes::SpareBytes(), AlignedBytes::kSpareBytes - footprint);

    AlignedBytes::ReleaseSpares();
    EXPECT_EQ(AlignedBytes::SpareBytes(), 0u);
}

}  // namespace
}  // namespace orvale::recorder
