#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "recorder/store/BufferPool.h"
#include "recorder/store/ReadBuffer.h"
#include "recorder/store/WriteBuffer.h"
#include "tests/store/Frames.h"

namespace orvale::recorder {
namespace {

using test::Add;
using test::MakeAudio;
using test::MakeVideo;

// A read buffer holding the given bytes as if a read had landed them.
std::shared_ptr<ReadBuffer> Landed(const uint8_t* data, uint64_t count, uint32_t size = 16384) {
    auto buffer = std::make_shared<ReadBuffer>(size);
    std::memcpy(buffer->Data(), data, count);
    buffer->bytesRead = count;
    return buffer;
}

class KeyFrameListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto second = FrameBuffer::Create();
        ASSERT_TRUE(Add(*second, MakeVideo(300, true, 100)));   // at 0
        ASSERT_TRUE(Add(*second, MakeAudio(50)));               // at 139
        ASSERT_TRUE(Add(*second, MakeVideo(300, false, 100)));  // at 220
        ASSERT_TRUE(Add(*second, MakeVideo(301, true, 200)));   // at 359
        ASSERT_TRUE(buffer_.Append(second));
        int64_t lastTime = 0;
        buffer_.Finalize(0, lastTime);  // skip at 598, end at 4096
    }

    WriteBuffer buffer_{16384};
};

TEST_F(KeyFrameListTest, ListsKeyFramesUpToTheEndRecord) {
    auto read = Landed(buffer_.Data(), 8192);
    EXPECT_TRUE(read->BuildKeyFrameList());
    ASSERT_EQ(read->keyFrames.size(), 2u);
    EXPECT_EQ(read->keyFrames[0].keyTime, 300);
    EXPECT_EQ(read->keyFrames[0].keyOffset, 0u);
    EXPECT_EQ(read->keyFrames[1].keyTime, 301);
    EXPECT_EQ(read->keyFrames[1].keyOffset, 359u);
    EXPECT_EQ(read->readPosition, 0u);

    read->PopKeyFrame();
    ASSERT_EQ(read->keyFrames.size(), 1u);
    read->PopKeyFrame();
    read->PopKeyFrame();
    EXPECT_TRUE(read->keyFrames.empty());
}

TEST_F(KeyFrameListTest, LooksOnlyAtTheBytesRead) {
    // The second key frame is cut off by the end of the read.
    auto cut = Landed(buffer_.Data(), 500);
    EXPECT_TRUE(cut->BuildKeyFrameList());
    ASSERT_EQ(cut->keyFrames.size(), 1u);

    // Starting past the first key frame.
    auto later = Landed(buffer_.Data(), 8192);
    later->readPosition = 139;
    EXPECT_TRUE(later->BuildKeyFrameList());
    ASSERT_EQ(later->keyFrames.size(), 1u);
    EXPECT_EQ(later->keyFrames[0].keyOffset, 359u);
    EXPECT_EQ(later->readPosition, 139u);
}

TEST_F(KeyFrameListTest, StopsAtBytesThatAreNoRecord) {
    struct Case {
        const char* what;
        uint64_t at;
        uint8_t byte;
        uint32_t payload;  // 0 = keep
    };
    const Case cases[] = {
        {"not a record", 139, 0x7F, 0},
        {"video shorter than its information", 220 + 8, 0, 10},
        {"audio shorter than its information", 139 + 8, 0, 3},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(buffer_.Data(), buffer_.Data() + 8192);
        if (c.payload != 0) {
            std::memcpy(bytes.data() + c.at, &c.payload, 4);
        } else {
            bytes[c.at] = c.byte;
        }
        auto read = Landed(bytes.data(), bytes.size());
        EXPECT_FALSE(read->BuildKeyFrameList()) << c.what;
        EXPECT_EQ(read->keyFrames.size(), 1u) << c.what;
    }

    // A length that runs far past the bytes read ends the walk without harm.
    std::vector<uint8_t> bytes(buffer_.Data(), buffer_.Data() + 8192);
    const uint32_t huge = 0xFFFFFFF0;
    std::memcpy(bytes.data() + 139 + 8, &huge, 4);
    auto read = Landed(bytes.data(), bytes.size());
    EXPECT_TRUE(read->BuildKeyFrameList());
    EXPECT_EQ(read->keyFrames.size(), 1u);
}

TEST(ReadBufferTest, SizesAreWholeSectorsAndResizeKeepsTheBytesRead) {
    ReadBuffer buffer(5000);
    EXPECT_EQ(buffer.DefaultSize(), 8192u);
    EXPECT_EQ(buffer.Capacity(), 8192u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.Data()) % kSectorSize, 0u);
    std::memset(buffer.Data(), 0x3C, 8192);
    buffer.bytesRead = 8192;

    EXPECT_TRUE(buffer.Resize(20000));
    EXPECT_EQ(buffer.Capacity(), 24576u);
    EXPECT_EQ(buffer.Data()[8191], 0x3C);
    EXPECT_TRUE(buffer.Resize(100));
    EXPECT_EQ(buffer.Capacity(), 24576u);
    EXPECT_FALSE(buffer.Resize(ReadBuffer::kMaxCapacity + 1));
    EXPECT_EQ(buffer.Capacity(), ReadBuffer::kMaxCapacity);
    EXPECT_EQ(ReadBuffer(0).Capacity(), kSectorSize);
}

TEST(ReadBufferTest, ResetClearsTheReadAndShrinksAResizedArray) {
    ReadBuffer buffer(8192);
    buffer.Resize(30000);
    buffer.resized = 1;
    buffer.ready = true;
    buffer.readPosition = 5;
    buffer.bytesRead = 9;
    buffer.windowStart = 4096;
    buffer.windowEnd = 8192;
    buffer.reverse = 1;
    buffer.retryCount = 3;
    buffer.keyFrames.resize(2);
    buffer.Reset();
    EXPECT_EQ(buffer.Capacity(), 8192u);
    EXPECT_EQ(buffer.resized, 0);
    EXPECT_FALSE(buffer.ready.load());
    EXPECT_EQ(buffer.readPosition, 0u);
    EXPECT_EQ(buffer.bytesRead, 0u);
    EXPECT_EQ(buffer.windowStart, 0);
    EXPECT_EQ(buffer.windowEnd, 0);
    EXPECT_EQ(buffer.reverse, 0);
    EXPECT_EQ(buffer.retryCount, 0);
    EXPECT_TRUE(buffer.keyFrames.empty());

    // Grown without the resized flag: the array stays.
    buffer.Resize(30000);
    buffer.Reset();
    EXPECT_EQ(buffer.Capacity(), 32768u);
}

TEST(BufferPoolTest, ReusesBuffersGivenBackAndNeverOneStillHeld) {
    BufferPool pool(64 * 1024);
    auto first = pool.GetReadBuffer();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Capacity(), 64u * 1024u);
    first->windowStart = 4096;
    first->mediaId = 3;
    ReadBuffer* const address = first.get();
    pool.PutReadBuffer(std::move(first));
    EXPECT_EQ(pool.FreeCount(), 1u);

    auto again = pool.GetReadBuffer();
    EXPECT_EQ(again.get(), address);
    EXPECT_EQ(again->windowStart, 0);
    EXPECT_EQ(again->mediaId, 0u);
    EXPECT_EQ(pool.FreeCount(), 0u);

    // A read in flight still holds this one: it must not be handed out again.
    auto inFlight = again;
    pool.PutReadBuffer(std::move(again));
    EXPECT_EQ(pool.FreeCount(), 0u);
    EXPECT_NE(pool.GetReadBuffer().get(), address);

    pool.PutReadBuffer(nullptr);
    EXPECT_EQ(pool.FreeCount(), 0u);
    EXPECT_EQ(BufferPool().ReadBufferSize(), 4u * 1024u * 1024u);
}

// Reserve tops the kept buffers up to its count, no further, and only a
// buffer that nothing kept is made on demand.
TEST(BufferPoolTest, ReserveKeepsBuffersAheadOfTheirTakers) {
    BufferPool pool(64 * 1024);
    pool.Reserve(3);
    EXPECT_EQ(pool.FreeCount(), 3u);
    auto taken = pool.GetReadBuffer();
    EXPECT_EQ(taken->Capacity(), 64u * 1024u);
    pool.Reserve(3);
    EXPECT_EQ(pool.FreeCount(), 3u);
    pool.Reserve(1);
    EXPECT_EQ(pool.FreeCount(), 3u);
    EXPECT_EQ(pool.MadeOnDemandCount(), 0u);

    for (int i = 0; i < 4; ++i) static_cast<void>(pool.GetReadBuffer());
    EXPECT_EQ(pool.MadeOnDemandCount(), 1u);
}

}  // namespace
}  // namespace orvale::recorder
