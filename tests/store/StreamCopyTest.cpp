#include "recorder/store/StreamCopy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace orvale::recorder {
namespace {

// Every size around the threshold and the store widths, at target and
// source offsets that leave the target unaligned by each amount that
// matters: the copy must write exactly its range, byte for byte.
TEST(StreamCopyTest, CopiesExactlyItsRangeAtAnyAlignment) {
    constexpr uint8_t kGuard = 0xCC;
    constexpr size_t kSlack = 192;
    const std::vector<size_t> sizes = {0,
                                       1,
                                       63,
                                       kStreamCopyThreshold - 1,
                                       kStreamCopyThreshold,
                                       kStreamCopyThreshold + 1,
                                       kStreamCopyThreshold + 127,
                                       4096 + 17,
                                       20'000,
                                       65'537};
    std::vector<uint8_t> source(65'537 + kSlack);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 31 + 7);

    for (const size_t size : sizes) {
        for (const size_t targetOffset : {0, 1, 15, 16, 33, 63, 64}) {
            for (const size_t sourceOffset : {0, 3}) {
                // 64-byte aligned base, so that the offsets are the misalignments.
                std::vector<uint8_t> storage(size + 2 * kSlack, kGuard);
                const auto base = reinterpret_cast<uintptr_t>(storage.data());
                uint8_t* aligned = storage.data() + ((64 - base % 64) % 64);
                uint8_t* target = aligned + targetOffset;

                StreamCopy(target, source.data() + sourceOffset, size);

                const auto where = ::testing::Message()
                                   << "size " << size << ", target offset " << targetOffset
                                   << ", source offset " << sourceOffset;
                for (uint8_t* at = storage.data(); at < target; ++at) {
                    ASSERT_EQ(*at, kGuard) << where << ": written before the range";
                }
                for (size_t i = 0; i < size; ++i) {
                    ASSERT_EQ(target[i], source[sourceOffset + i]) << where << ", byte " << i;
                }
                for (uint8_t* at = target + size; at < storage.data() + storage.size(); ++at) {
                    ASSERT_EQ(*at, kGuard) << where << ": written past the range";
                }
            }
        }
    }
}

}  // namespace
}  // namespace orvale::recorder
