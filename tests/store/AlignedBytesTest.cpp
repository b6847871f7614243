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

}  // namespace
}  // namespace orvale::recorder
