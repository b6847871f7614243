#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "recorder/store/FrameBuffer.h"
#include "tests/store/Frames.h"
#include "tests/support/LogCapture.h"

namespace orvale::recorder {
namespace {

using test::Add;
using test::MakeAudio;
using test::MakeVideo;

std::vector<uint8_t> Bytes(const FrameBuffer& buffer, uint64_t at, uint64_t count) {
    return {buffer.Data() + at, buffer.Data() + at + count};
}

TEST(FrameBufferTest, VideoRecordIsHeaderInfoAndDataByteForByte) {
    FrameBuffer buffer;
    auto frame = MakeVideo(0x0102030405060708, true, 5, 0xEE);
    frame.info.timeMs = 0x0A0B0C0D;
    frame.info.extra[0] = 7;
    ASSERT_TRUE(Add(buffer, frame));

    ASSERT_EQ(buffer.Length(), 12u + 27u + 5u);
    EXPECT_EQ(Bytes(buffer, 0, 12), (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xA0, 0x01, 0x00, 27,
                                                          0x00, 32, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Bytes(buffer, 12, 27),
              (std::vector<uint8_t>{0x1B, 0x00, 0x00, 0x00,                          // codec
                                    0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // time
                                    0x0D, 0x0C, 0x0B, 0x0A,                          // milliseconds
                                    0x80, 0x07, 0x38, 0x04,                          // 1920 x 1080
                                    0x01, 0x00, 0x00, 0x00,  // key frame, zeros
                                    0x07, 0x00, 0x00}));     // template bytes
    EXPECT_EQ(Bytes(buffer, 39, 5), std::vector<uint8_t>(5, 0xEE));
    EXPECT_EQ(buffer.GetFrameInfo()->lastOffset, 43u);
}

TEST(FrameBufferTest, AudioRecordIsHeaderInfoAndData) {
    FrameBuffer buffer;
    auto frame = MakeAudio(3, 0x11);
    frame.info.timeMs = 0x04030201;
    frame.info.format1 = 0x0A0B0C0D;
    ASSERT_TRUE(Add(buffer, frame));
    ASSERT_EQ(buffer.Length(), 12u + 19u + 3u);
    EXPECT_EQ(Bytes(buffer, 0, 12),
              (std::vector<uint8_t>{0, 0, 1, 0xB0, 1, 0, 19, 0, 22, 0, 0, 0}));
    EXPECT_EQ(Bytes(buffer, 12, 19),
              (std::vector<uint8_t>{0x01, 0x00, 0x01, 0x00, 0x01, 0x02, 0x03, 0x04, 0x02, 0x00,
                                    0x0D, 0x0C, 0x0B, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(buffer.GetFrameInfo()->lastOffset, 33u);
}

TEST(FrameBufferTest, OnlyTheFirstKeyFrameOfASecondIsIndexed) {
    FrameBuffer buffer;
    ASSERT_TRUE(Add(buffer, MakeVideo(100, false, 10)));
    ASSERT_TRUE(Add(buffer, MakeAudio(4)));
    ASSERT_TRUE(Add(buffer, MakeVideo(100, false, 20)));
    const uint32_t third = buffer.Length();
    ASSERT_TRUE(Add(buffer, MakeVideo(100, true, 30)));
    ASSERT_TRUE(Add(buffer, MakeVideo(100, true, 40)));

    const auto info = buffer.GetFrameInfo();
    EXPECT_EQ(info->firstFrameTime, 100u);
    EXPECT_EQ(info->firstIsKey, 0);
    EXPECT_EQ(info->hasKeyFrame, 1);
    EXPECT_EQ(info->indexRow.keyTime, 100);
    EXPECT_EQ(info->indexRow.keyOffset, third);
    EXPECT_EQ(info->indexRow.keySize, 30u);
    EXPECT_EQ(info->videoFrameCount, 4u);
    EXPECT_EQ(info->audioFrameCount, 1u);
    EXPECT_EQ(info->lastOffset, buffer.Length() - 1);
}

TEST(FrameBufferTest, AudioAloneMakesNoIndexRowAndNoTime) {
    FrameBuffer buffer;
    ASSERT_TRUE(Add(buffer, MakeAudio(100)));
    ASSERT_TRUE(Add(buffer, MakeAudio(100)));
    const auto info = buffer.GetFrameInfo();
    EXPECT_EQ(info->firstFrameTime, 0u);
    EXPECT_EQ(info->hasKeyFrame, 0);
    EXPECT_EQ(info->indexRow.keyTime, 0);
    EXPECT_EQ(info->audioFrameCount, 2u);
    EXPECT_EQ(info->videoFrameCount, 0u);
}

TEST(FrameBufferTest, FlagsWithATimeReplaceTheSecondsFlags) {
    FrameBuffer buffer;
    timeline_flags_s motion;
    motion.time = 50;
    motion.eventBits = 0x4;
    motion.audioBits = 0x2;
    motion.reserved[19] = 9;
    timeline_flags_s untimed;
    untimed.eventBits = 0x1;
    timeline_flags_s alarm;
    alarm.time = 50;
    alarm.analyticsBits = 0x200;

    ASSERT_TRUE(Add(buffer, MakeVideo(50, true, 8), motion));
    ASSERT_TRUE(Add(buffer, MakeVideo(50, false, 8), untimed));
    auto info = buffer.GetFrameInfo();
    EXPECT_EQ(info->eventBits, 0x4u);
    EXPECT_EQ(info->audioBits, 0x2u);
    EXPECT_EQ(info->flagReserved[19], 9);

    ASSERT_TRUE(Add(buffer, MakeVideo(50, false, 8), alarm));
    EXPECT_EQ(info->eventBits, 0u);
    EXPECT_EQ(info->analyticsBits, 0x200u);
    EXPECT_EQ(info->flagReserved[19], 0);
}

TEST(FrameBufferTest, RefusedFramesLeaveTheBufferUnchanged) {
    test::LogCapture log;
    FrameBuffer buffer;
    const auto good = MakeVideo(7, true, 16);
    auto wrongPayload = good;
    wrongPayload.header.payloadLength += 1;
    auto wrongType = good;
    wrongType.header.type = RECORD_TYPE_AUDIO;
    auto badMarker = good;
    badMarker.header.marker = 0;
    const uint8_t byte = 0;
    auto huge = MakeVideo(7, true, 1);
    const uint32_t hugeSize = std::numeric_limits<uint32_t>::max() - 20;
    huge.header.payloadLength = hugeSize + kVideoInfoLength;  // wraps, as a caller's would

    EXPECT_FALSE(buffer.AddVideoFrame(good.header, good.info, nullptr, 16, {}));
    EXPECT_FALSE(buffer.AddVideoFrame(good.header, good.info, &byte, 0, {}));
    EXPECT_FALSE(buffer.AddAudioFrame(MakeAudio(1).header, {}, nullptr, 1));
    EXPECT_EQ(log.Count("a buffer is null."), 3u);
    EXPECT_FALSE(Add(buffer, wrongPayload));
    EXPECT_FALSE(Add(buffer, wrongType));
    EXPECT_FALSE(Add(buffer, badMarker));
    EXPECT_FALSE(buffer.AddVideoFrame(huge.header, huge.info, &byte, hugeSize, {}));
    EXPECT_EQ(buffer.Length(), 0u);
    EXPECT_EQ(buffer.GetFrameInfo()->videoFrameCount, 0u);
    EXPECT_EQ(buffer.GetFrameInfo()->audioFrameCount, 0u);
    EXPECT_EQ(buffer.Capacity(), FrameBuffer::kInitialCapacity);

    EXPECT_TRUE(Add(buffer, good));
    EXPECT_EQ(buffer.Length(), 12u + 27u + 16u);
}

TEST(FrameBufferTest, GrowthDoublesThenStepsByTheOldCapacity) {
    struct Case {
        uint32_t frame;
        uint32_t capacity;
    };
    for (const Case& c :
         {Case{10000, 10240}, Case{20000, 20480}, Case{25000, 30720}, Case{45000, 51200}}) {
        FrameBuffer buffer;
        ASSERT_TRUE(Add(buffer, MakeVideo(1, true, c.frame)));
        EXPECT_EQ(buffer.Capacity(), c.capacity) << c.frame;
        EXPECT_EQ(buffer.Data()[39 + c.frame - 1], 0x5A);
    }
    EXPECT_EQ(GrownCapacity(0, 5000), 5000u);
    EXPECT_EQ(GrownCapacity(4096, 4097), 8192u);
}

TEST(FrameBufferTest, ResetEmptiesBufferAndSummaryButKeepsTheArray) {
    FrameBuffer buffer;
    ASSERT_TRUE(Add(buffer, MakeVideo(9, true, 30000)));
    const auto info = buffer.GetFrameInfo();
    info->trackId = 4;
    buffer.Reset();
    EXPECT_EQ(buffer.Length(), 0u);
    EXPECT_EQ(buffer.Capacity(), 30720u);
    EXPECT_EQ(info->videoFrameCount, 0u);
    EXPECT_EQ(info->indexRow.keyTime, 0);
    EXPECT_EQ(info->trackId, 1u);
}

}  // namespace
}  // namespace orvale::recorder
