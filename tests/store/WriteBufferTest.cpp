#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "recorder/store/WriteBuffer.h"
#include "tests/store/Frames.h"

namespace orvale::recorder {
namespace {

using test::Add;
using test::MakeVideo;
using test::SecondOf;

record_header_s HeaderAt(const WriteBuffer& buffer, uint64_t at) {
    record_header_s header;
    std::memcpy(&header, buffer.Data() + at, sizeof(header));
    return header;
}

bool AllZero(const WriteBuffer& buffer, uint64_t from, uint64_t to) {
    return std::all_of(buffer.Data() + from, buffer.Data() + to, [](uint8_t b) { return b == 0; });
}

TEST(WriteBufferTest, PadRuleKeepsRoomForASkipRecord) {
    struct Case {
        uint64_t used;
        uint64_t pad;
    };
    const Case cases[] = {{0, 4096},    {1, 4095},    {5000, 3192}, {4084, 12},   {4085, 4107},
                          {4095, 4097}, {4096, 4096}, {8192, 4096}, {8191, 4097}, {8180, 12}};
    for (const Case& c : cases) {
        EXPECT_EQ(PadLength(c.used), c.pad) << "used " << c.used;
        EXPECT_EQ((c.used + PadLength(c.used)) % kSectorSize, 0u) << "used " << c.used;
    }
}

TEST(WriteBufferTest, FinalizeWritesSkipAndEndRecordsWithZeroPadding) {
    for (const uint32_t used : {5000u, 4084u, 4085u, 8192u, 100u}) {
        // A reused array still holds an earlier second's bytes, which must
        // not reach the disk as padding.
        WriteBuffer buffer(60000);
        ASSERT_TRUE(buffer.Append(SecondOf(1, 50000, true, 0x77)));
        buffer.Reset();
        ASSERT_EQ(buffer.Capacity(), 60000u);
        ASSERT_TRUE(buffer.Append(SecondOf(77, used)));
        int64_t lastTime = 0;
        buffer.Finalize(4096, lastTime);

        const uint64_t pad = PadLength(used);
        ASSERT_EQ(buffer.Length(), static_cast<int64_t>(used + pad)) << used;
        const auto skip = HeaderAt(buffer, used);
        EXPECT_EQ(skip.type, RECORD_TYPE_SKIP) << used;
        EXPECT_EQ(skip.payloadLength, pad - 12) << used;
        EXPECT_EQ(std::memcmp(buffer.Data() + used, "\x00\x00\x01\xFE\x01\x00\x00\x00", 8), 0);
        EXPECT_TRUE(AllZero(buffer, used + 12, used + pad)) << used;
        EXPECT_EQ(std::memcmp(buffer.Data() + used + pad,
                              "\x00\x00\x01\xFF\x01\x00\x00\x00\x00\x00\x00\x00", 12),
                  0)
            << used;
        EXPECT_TRUE(AllZero(buffer, used + pad + 12, used + pad + 4096)) << used;
        EXPECT_GE(buffer.Capacity(), used + pad + 4096);
        EXPECT_EQ(lastTime, 77);
    }
}

TEST(WriteBufferTest, AppendLaysSecondsEndToEndAndMovesTheirOffsets) {
    WriteBuffer buffer(1024);
    auto first = test::SecondOf(10, 3000);
    auto second = FrameBuffer::Create();
    ASSERT_TRUE(Add(*second, MakeVideo(11, false, 500, 0x22)));
    ASSERT_TRUE(Add(*second, MakeVideo(11, true, 700, 0x33)));
    const uint64_t keyInSecond = second->GetFrameInfo()->indexRow.keyOffset;

    ASSERT_TRUE(buffer.Append(first));
    ASSERT_TRUE(buffer.Append(second));
    ASSERT_TRUE(buffer.Append(FrameBuffer::Create()));  // an empty second changes nothing

    const auto& seconds = buffer.GetSeconds();
    ASSERT_EQ(seconds.size(), 2u);
    EXPECT_EQ(seconds[0]->startOffset, 0u);
    EXPECT_EQ(seconds[0]->lastOffset, 2999u);
    EXPECT_EQ(seconds[1]->startOffset, 3000u);
    EXPECT_EQ(seconds[1]->lastOffset, 3000u + second->Length() - 1);
    EXPECT_EQ(seconds[1]->indexRow.keyOffset, 3000u + keyInSecond);
    EXPECT_EQ(buffer.Length(), 3000 + static_cast<int64_t>(second->Length()));
    EXPECT_EQ(std::memcmp(buffer.Data() + 3000, second->Data(), second->Length()), 0);
    // The copies stand apart from the frame buffers' own summaries.
    EXPECT_NE(seconds[1].get(), second->GetFrameInfo().get());
    EXPECT_EQ(second->GetFrameInfo()->startOffset, 0u);

    int64_t lastTime = 0;
    buffer.Finalize(8192, lastTime);
    EXPECT_EQ(lastTime, 11);
    EXPECT_EQ(seconds[0]->indexRow.keyOffset, 8192u);
    EXPECT_EQ(seconds[1]->indexRow.keyOffset, 8192u + 3000u + keyInSecond);
}

TEST(WriteBufferTest, FinalizingAgainForARetryGivesTheSameBytes) {
    WriteBuffer buffer(0);  // grows from nothing
    ASSERT_TRUE(buffer.Append(SecondOf(5, 5000)));
    ASSERT_TRUE(buffer.Append(SecondOf(6, 700)));
    int64_t lastTime = 0;
    buffer.Finalize(4096, lastTime);
    const std::vector<uint8_t> once(buffer.Data(), buffer.Data() + buffer.Length() + 4096);
    buffer.Finalize(4096, lastTime);
    const std::vector<uint8_t> twice(buffer.Data(), buffer.Data() + buffer.Length() + 4096);
    EXPECT_EQ(once, twice);
    EXPECT_EQ(buffer.GetSeconds()[1]->indexRow.keyOffset, 4096u + 5000u);
    buffer.Finalize(12288, lastTime);
    EXPECT_EQ(buffer.GetSeconds()[1]->indexRow.keyOffset, 12288u + 5000u);
}

TEST(WriteBufferTest, AnEmptyBufferFinalizesToASkipSectorAndTheEndSector) {
    WriteBuffer buffer(100);
    int64_t lastTime = 42;
    buffer.Finalize(4096, lastTime);
    EXPECT_EQ(lastTime, 42);
    EXPECT_EQ(buffer.Length(), 4096);
    EXPECT_EQ(HeaderAt(buffer, 0).type, RECORD_TYPE_SKIP);
    EXPECT_EQ(HeaderAt(buffer, 0).payloadLength, 4084u);
    EXPECT_EQ(HeaderAt(buffer, 4096).type, RECORD_TYPE_END);
}

TEST(WriteBufferTest, ResetEmptiesTheBufferAndKeepsItsArray) {
    WriteBuffer buffer(4 * 1024 * 1024);
    buffer.SetTrackId(3);
    buffer.SetProfile(2);
    ASSERT_TRUE(buffer.Append(SecondOf(1, 100000)));
    const uint8_t* array = buffer.Data();
    buffer.Reset();
    EXPECT_EQ(buffer.Capacity(), 4u * 1024 * 1024);
    EXPECT_EQ(buffer.Data(), array);
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_TRUE(buffer.GetSeconds().empty());
    EXPECT_EQ(buffer.TrackId(), 0u);
    EXPECT_EQ(buffer.Profile(), 2u);

    // A reset buffer takes new seconds from offset 0 again.
    ASSERT_TRUE(buffer.Append(SecondOf(3, 50)));
    EXPECT_EQ(buffer.GetSeconds()[0]->startOffset, 0u);
}

// Seconds recorded straight into the buffer's array behind its used bytes.
struct PlacedSecond {
    std::shared_ptr<FrameBuffer> frames = FrameBuffer::CreateEmpty();
    uint64_t end = 0;
};

PlacedSecond Place(const std::shared_ptr<WriteBuffer>& buffer, uint64_t at, int64_t time,
                   uint32_t size, uint8_t fill) {
    PlacedSecond placed;
    placed.frames->Place(buffer, at, buffer->Capacity() - at);
    EXPECT_TRUE(Add(*placed.frames, MakeVideo(time, false, size / 2, fill)));
    EXPECT_TRUE(Add(*placed.frames, MakeVideo(time, true, size / 2, fill)));
    placed.end = at + placed.frames->Length();
    return placed;
}

TEST(WriteBufferTest, ASecondPlacedAtTheEndIsAppendedWithoutACopyAndOneFurtherOnMoves) {
    auto buffer = std::make_shared<WriteBuffer>(64 * 1024);
    const PlacedSecond first = Place(buffer, 0, 10, 3000, 0x11);
    const PlacedSecond dropped = Place(buffer, first.end, 11, 2000, 0x22);
    const PlacedSecond third = Place(buffer, dropped.end, 12, 1000, 0x33);
    const uint64_t thirdKey = third.frames->GetFrameInfo()->indexRow.keyOffset;
    EXPECT_EQ(first.frames->Data(), buffer->Data());

    ASSERT_TRUE(buffer->Append(first.frames));
    ASSERT_TRUE(buffer->Append(third.frames));  // the second one is left out

    const auto& seconds = buffer->GetSeconds();
    ASSERT_EQ(seconds.size(), 2u);
    EXPECT_EQ(seconds[1]->startOffset, first.end);
    EXPECT_EQ(seconds[1]->indexRow.keyOffset, first.end + thirdKey);
    EXPECT_EQ(buffer->Length(), static_cast<int64_t>(first.end + third.frames->Length()));
    EXPECT_EQ(buffer->Data()[39], 0x11);
    EXPECT_EQ(buffer->Data()[first.end + 39], 0x33);
    EXPECT_EQ(buffer->Data()[buffer->Length() - 1], 0x33);
}

TEST(WriteBufferTest, AFramePastItsPlaceMovesTheSecondIntoAnArrayOfItsOwn) {
    auto buffer = std::make_shared<WriteBuffer>(8192);
    auto frames = FrameBuffer::CreateEmpty();
    frames->Place(buffer, 0, 4096);
    ASSERT_TRUE(Add(*frames, MakeVideo(5, true, 3000, 0x44)));
    EXPECT_EQ(frames->Arena(), buffer);
    ASSERT_TRUE(Add(*frames, MakeVideo(5, false, 3000, 0x55)));
    EXPECT_EQ(frames->Arena(), nullptr);
    EXPECT_NE(frames->Data(), buffer->Data());
    EXPECT_EQ(frames->Data()[39], 0x44);
    EXPECT_EQ(frames->Data()[3039 + 39], 0x55);
    EXPECT_EQ(buffer.use_count(), 1);
}

TEST(WriteBufferTest, GrowsToHoldLargeSeconds) {
    WriteBuffer buffer(512 * 1024);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(buffer.Append(SecondOf(i, 400000, true, 0x40 + i)));
    EXPECT_EQ(buffer.Length(), 1200000);
    EXPECT_GE(buffer.Capacity(), 1200000u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buffer.Data()[i * 400000 + 39], 0x40 + i);
}

}  // namespace
}  // namespace orvale::recorder
