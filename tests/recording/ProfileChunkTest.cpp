#include "recorder/recording/ProfileChunk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/LogCapture.h"

namespace orvale::recorder {
namespace {

// 2026-12-10 09:59:57 UTC: three seconds before an hour ends.
constexpr int64_t kBeforeHour = 1796896797;
constexpr int32_t kNormal = 1;

media_schedule_s ScheduleOf(int slot) {
    media_schedule_s schedule;
    for (int row = 0; row < 8; ++row) {
        for (int minute = 0; minute < kScheduleMinutes; ++minute) {
            schedule.table[(row * kScheduleMinutes + minute) * kScheduleSlots + slot] = 1;
        }
    }
    return schedule;
}

class ProfileChunkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        chunk_.SetUseFrameTime(true);
        chunk_.SetSchedule(ScheduleOf(kSlotContinuous));
    }

    void Push(int64_t second, int frameType = 1, uint32_t eventFlags = 0, int32_t size = 100) {
        video_frame_header_s header;
        header.frameType = frameType;
        header.time = static_cast<uint64_t>(second);
        header.timeMs = 1;
        const std::vector<uint8_t> data(size > 0 ? static_cast<size_t>(size) : 1, 0x5A);
        chunk_.AddVideoFrame(header, data.data(), size, eventFlags);
    }

    void PushAudio() {
        audio_frame_header_s header;
        const std::vector<uint8_t> data(40, 0x33);
        chunk_.AddAudioFrame(header, data.data(), 40);
    }

    // One key frame per second from `first` to `last`, then Flush.
    void PushSeconds(int64_t first, int64_t last) {
        for (int64_t s = first; s <= last; ++s) Push(s);
        chunk_.Flush();
    }

    static std::vector<uint64_t> Times(const std::shared_ptr<WriteBuffer>& buffer) {
        std::vector<uint64_t> times;
        for (const auto& second : buffer->GetSeconds()) times.push_back(second->firstFrameTime);
        return times;
    }

    // Every buffer with seconds that the hand-over gives, as the writing job
    // takes them.
    std::vector<std::shared_ptr<WriteBuffer>> TakeAll(uint32_t keep, bool leaveOpen = false) {
        std::vector<std::shared_ptr<WriteBuffer>> buffers;
        while (auto buffer = chunk_.TakeWriteBuffer(keep, leaveOpen)) {
            if (buffer->GetSeconds().empty()) break;
            buffers.push_back(std::move(buffer));
        }
        return buffers;
    }
    static std::vector<uint64_t> Times(const std::vector<std::shared_ptr<WriteBuffer>>& buffers) {
        std::vector<uint64_t> times;
        for (const auto& buffer : buffers) {
            for (const uint64_t time : Times(buffer)) times.push_back(time);
        }
        return times;
    }
    static std::vector<uint64_t> Range(int64_t first, int64_t last) {
        std::vector<uint64_t> times;
        for (int64_t t = first; t <= last; ++t) times.push_back(static_cast<uint64_t>(t));
        return times;
    }

    int64_t now_ = kBeforeHour;
    ProfileChunk chunk_{"cam1", kNormal, [this] { return now_; }};
};

TEST_F(ProfileChunkTest, SecondsAreHandedOverOldestFirst) {
    const int64_t t = kBeforeHour - 100;
    PushSeconds(t, t + 4);
    ASSERT_EQ(chunk_.GetFinishedSecondCount(), 5u);
    EXPECT_EQ(chunk_.GetOldestSecondInfo()->firstFrameTime, static_cast<uint64_t>(t));

    const auto buffer = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(buffer, nullptr);
    const std::vector<uint64_t> expected = {uint64_t(t), uint64_t(t + 1), uint64_t(t + 2),
                                            uint64_t(t + 3), uint64_t(t + 4)};
    EXPECT_EQ(Times(buffer), expected);
    EXPECT_EQ(buffer->Profile(), static_cast<uint32_t>(kNormal));
    EXPECT_EQ(buffer->TrackId(), 1u);
    for (const auto& second : buffer->GetSeconds()) EXPECT_EQ(second->eventBits, RECORD_CONTINUOUS);
    EXPECT_EQ(chunk_.GetFinishedSecondCount(), 0u);
}

TEST_F(ProfileChunkTest, KeepLeavesTheNewestSecondsQueued) {
    const int64_t t = kBeforeHour - 100;
    PushSeconds(t, t + 1);
    EXPECT_EQ(chunk_.TakeWriteBuffer(3), nullptr);
    EXPECT_EQ(chunk_.GetFinishedSecondCount(), 2u);
    PushSeconds(t + 2, t + 4);
    EXPECT_EQ(Times(TakeAll(2)), Range(t, t + 2));
    EXPECT_EQ(chunk_.GetFinishedSecondCount(), 2u);
    EXPECT_EQ(chunk_.GetOldestSecondInfo()->firstFrameTime, static_cast<uint64_t>(t + 3));
}

TEST_F(ProfileChunkTest, AnHourChangeEndsTheBuffer) {
    PushSeconds(kBeforeHour, kBeforeHour + 5);
    const auto first = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetSeconds().size(), 3u);
    const auto second = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetSeconds().size(), 3u);
    EXPECT_EQ(second->GetSeconds().front()->firstFrameTime, static_cast<uint64_t>(kBeforeHour + 3));
}

TEST_F(ProfileChunkTest, ATrackChangeEndsTheBuffer) {
    const int64_t t = kBeforeHour - 100;
    Push(t);
    Push(t + 1);
    chunk_.SetTrackId(2);
    Push(t + 1);  // the same second starts afresh on the new track
    Push(t + 2);
    chunk_.Flush();
    const auto first = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->TrackId(), 1u);
    EXPECT_EQ(first->GetSeconds().size(), 2u);
    const auto second = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->TrackId(), 2u);
    EXPECT_EQ(second->GetSeconds().size(), 2u);
    EXPECT_EQ(second->GetSeconds().front()->trackId, 2u);
}

struct KeyCase {
    std::vector<int> frameTypes;
    uint8_t firstIsKey;
    uint8_t hasKeyFrame;
};

TEST_F(ProfileChunkTest, SecondSummaryCountsFramesAndKeys) {
    const std::vector<KeyCase> cases = {
        {{1, 0, 0}, 1, 1},
        {{0, 1, 0}, 0, 1},
        {{0, 0}, 0, 0},
        {{1}, 1, 1},
    };
    int64_t t = kBeforeHour - 1000;
    for (const KeyCase& c : cases) {
        for (int type : c.frameTypes) {
            Push(t, type);
            PushAudio();
        }
        chunk_.Flush();
        const auto info = chunk_.GetOldestSecondInfo();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->videoFrameCount, c.frameTypes.size());
        EXPECT_EQ(info->audioFrameCount, c.frameTypes.size());
        EXPECT_EQ(info->firstIsKey, c.firstIsKey) << c.frameTypes.size();
        EXPECT_EQ(info->hasKeyFrame, c.hasKeyFrame) << c.frameTypes.size();
        EXPECT_EQ(info->firstFrameTime, static_cast<uint64_t>(t));
        chunk_.PopFinishedSecond();
        t += 10;
    }
}

TEST_F(ProfileChunkTest, OnlyTheFirstFrameFlagsOfASecondCount) {
    const int64_t t = kBeforeHour - 100;
    Push(t, 1, 0x2);  // motion
    Push(t, 0, 0x1);  // alarm, dropped: not the first frame
    chunk_.Flush();
    EXPECT_EQ(chunk_.GetOldestSecondInfo()->eventBits, RECORD_CONTINUOUS | RECORD_MOTION);
}

TEST_F(ProfileChunkTest, AudioNeedsACurrentSecond) {
    const int64_t t = kBeforeHour - 100;
    PushAudio();  // before the first video frame
    Push(t);
    chunk_.Flush();
    PushAudio();  // after Flush
    Push(t);      // the same second: no current second any more
    Push(t + 1);
    chunk_.Flush();
    const auto buffers = TakeAll(0);
    ASSERT_EQ(Times(buffers), Range(t, t + 1));
    EXPECT_EQ(buffers[0]->GetSeconds()[0]->videoFrameCount, 1u);
    EXPECT_EQ(buffers[0]->GetSeconds()[0]->audioFrameCount, 0u);
}

TEST_F(ProfileChunkTest, SecondsOutsideTheScheduleAreNotWritten) {
    chunk_.SetSchedule(media_schedule_s());
    const int64_t t = kBeforeHour - 100;
    PushSeconds(t, t + 3);
    EXPECT_FALSE(chunk_.StartEvent(RECORD_MOTION, 0, false));
    const auto buffer = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_TRUE(buffer->GetSeconds().empty());
    EXPECT_EQ(buffer->UsedLength(), 0u);
    EXPECT_EQ(chunk_.GetFinishedSecondCount(), 0u);
}

TEST_F(ProfileChunkTest, AnEventMarksItsPreRecordSeconds) {
    chunk_.SetSchedule(ScheduleOf(kSlotMotion));
    event_duration_s durations;
    durations.slots[kSlotMotion].preRecTime = 2;
    chunk_.SetEventRecordDuration(durations);
    const int64_t t = kBeforeHour - 100;
    for (int64_t s = t; s <= t + 5; ++s) Push(s);  // t + 5 stays current
    EXPECT_TRUE(chunk_.StartEvent(RECORD_MOTION, 0, false));
    Push(t + 6);  // open event: marked at its start
    chunk_.Flush();
    const auto buffer = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(buffer, nullptr);
    const std::vector<uint64_t> expected = {uint64_t(t + 3), uint64_t(t + 4), uint64_t(t + 5),
                                            uint64_t(t + 6)};
    EXPECT_EQ(Times(buffer), expected);
    for (const auto& second : buffer->GetSeconds()) EXPECT_EQ(second->eventBits, RECORD_MOTION);
}

TEST_F(ProfileChunkTest, AnOpenManualEventOutlivesReset) {
    chunk_.SetSchedule(media_schedule_s());
    EXPECT_TRUE(chunk_.StartEvent(RECORD_MANUAL, 0, false));
    const int64_t t = kBeforeHour - 100;
    PushSeconds(t, t + 1);
    chunk_.Reset();
    EXPECT_EQ(chunk_.GetFinishedSecondCount(), 0u);
    PushSeconds(t + 2, t + 3);
    const auto buffer = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(buffer->GetSeconds().size(), 2u);
    for (const auto& second : buffer->GetSeconds()) EXPECT_EQ(second->eventBits, RECORD_MANUAL);
}

TEST_F(ProfileChunkTest, ContinuousIsMarkedAgainWhenSwitchedBackOn) {
    chunk_.SetUseContinuousOnlyForLow(false);
    const int64_t t = kBeforeHour - 100;
    for (int64_t s = t; s <= t + 2; ++s) Push(s);
    EXPECT_EQ(chunk_.GetOldestSecondInfo()->eventBits, 0u);
    chunk_.SetUseContinuousOnlyForLow(true);
    chunk_.Flush();
    const auto buffer = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(buffer->GetSeconds().size(), 3u);
    for (const auto& second : buffer->GetSeconds()) {
        EXPECT_EQ(second->eventBits, RECORD_CONTINUOUS);
    }
}

TEST_F(ProfileChunkTest, TheBufferRecordedIntoIsHandedOverAndRecordedIntoAgain) {
    const int64_t t = kBeforeHour - 100;
    // The first arena is opened before the rate is known; later ones fit it.
    PushSeconds(t, t + 1);
    chunk_.ReleaseWriteBuffer(chunk_.TakeWriteBuffer(0));
    PushSeconds(t + 2, t + 3);
    const auto first = chunk_.TakeWriteBuffer(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Times(first), Range(t + 2, t + 3));
    // The records lie where they were recorded: one after the other from the
    // buffer's start, ready for the write.
    const auto& seconds = first->GetSeconds();
    EXPECT_EQ(seconds[1]->startOffset, seconds[0]->lastOffset + 1);
    EXPECT_EQ(first->Length(), static_cast<int64_t>(seconds[1]->lastOffset + 1));
    EXPECT_EQ(first->Data()[12 + kVideoInfoLength], 0x5A);
    chunk_.ReleaseWriteBuffer(first);

    PushSeconds(t + 4, t + 5);
    const auto again = chunk_.TakeWriteBuffer(0);
    EXPECT_EQ(again, first);
    EXPECT_EQ(Times(again), Range(t + 4, t + 5));
    EXPECT_EQ(again->TrackId(), 1u);
}

TEST_F(ProfileChunkTest, ARequestedHandOverClosesTheArenaWhereTheNextSecondBegins) {
    const int64_t t = kBeforeHour - 100;
    for (int64_t s = t; s <= t + 2; ++s) Push(s);
    // Seconds of the arena being filled wait for it to close.
    EXPECT_EQ(chunk_.TakeWriteBuffer(0, true), nullptr);
    EXPECT_FALSE(chunk_.TakeHandOverReady());
    chunk_.RequestHandOver();
    Push(t + 2);  // not a new second: nothing yet
    EXPECT_FALSE(chunk_.TakeHandOverReady());
    Push(t + 3);
    EXPECT_TRUE(chunk_.TakeHandOverReady());
    EXPECT_FALSE(chunk_.TakeHandOverReady());
    EXPECT_EQ(Times(TakeAll(0, true)), Range(t, t + 2));
    EXPECT_EQ(chunk_.GetFinishedSecondCount(), 0u);
    Push(t + 4);
    chunk_.Flush();
    EXPECT_EQ(Times(TakeAll(0, true)), Range(t + 3, t + 4));
}

// The push that opens an arena must not map fresh memory: the chunk asks,
// once per arena, for the next one to be made ready off the push path when
// the arena it fills has taken a few seconds and the one handed over before
// is still out (its write not done); not when that one came back.
TEST_F(ProfileChunkTest, TheNextArenaIsAskedForWhileTheLastIsStillOut) {
    const int64_t t = kBeforeHour - 1000;
    const auto fill = [&](int64_t from, int64_t to) {
        int asked = 0;
        int64_t askedAt = 0;
        for (int64_t s = from; s <= to; ++s) {
            now_ = s;  // at a camera's pace
            Push(s, 1, 0, 100000);
            if (chunk_.TakeArenaWanted()) {
                ++asked;
                askedAt = s;
            }
        }
        return std::make_pair(asked, askedAt);
    };
    const auto handOver = [&](int64_t next) {
        chunk_.RequestHandOver();
        Push(next, 1, 0, 100000);
        EXPECT_TRUE(chunk_.TakeHandOverReady());
        return TakeAll(0, true);
    };
    constexpr int64_t kAfter = ProfileChunk::kPrepareAfterSeconds;
    // The first arena is the one prepared at the start, made before the rate
    // was known, and the pool is empty again: the next one is asked for as
    // soon as the rate is known, after the first second.
    chunk_.PrepareArena();
    EXPECT_EQ(fill(t, t + 2), std::make_pair(1, t + 1));
    const int64_t next = t + 3;
    const auto out = handOver(next);
    ASSERT_EQ(out.size(), 1u);

    // Not prepared: the arena opened at `next` asks once it holds kAfter
    // finished seconds, the one handed over being still out.
    EXPECT_EQ(fill(next + 1, next + 10), std::make_pair(1, next + kAfter));
    chunk_.PrepareArena();
    const auto second = handOver(next + 11);
    ASSERT_EQ(second.size(), 1u);
    // The arena opened then is the prepared one; with the one handed over
    // back in the pool (the first, made before the rate was known, is not
    // kept), nothing is asked for.
    chunk_.ReleaseWriteBuffer(out.front());
    chunk_.ReleaseWriteBuffer(second.front());
    EXPECT_EQ(fill(next + 12, next + 20).first, 0);
}

// Seconds that come faster than the clock (a conversion) never ask for a
// prepared arena: it would be one more arena in memory for nobody's pace.
TEST_F(ProfileChunkTest, SecondsFasterThanTheClockAskForNoArena) {
    const int64_t t = kBeforeHour - 1000;
    int asked = 0;
    for (int64_t s = t; s < t + 40; ++s) {
        Push(s, 1, 0, 100000);
        if (chunk_.TakeHandOverReady()) TakeAll(0, true);  // written, not yet back
        if (chunk_.TakeArenaWanted()) ++asked;
    }
    EXPECT_EQ(asked, 0);
}

TEST_F(ProfileChunkTest, AnArenaHoldsAboutSixteenSecondsOfTheRate) {
    const int64_t t = kBeforeHour - 1000;
    int readyAt = 0;
    for (int64_t s = t; s < t + 40; ++s) {
        Push(s, 1, 0, 100000);
        if (chunk_.TakeHandOverReady() && readyAt == 0) readyAt = static_cast<int>(s - t);
    }
    chunk_.Flush();
    // The first arena is made before the rate is known; it closes all the
    // same once it holds what one for the rate would.
    EXPECT_EQ(readyAt, 16);
    const auto buffers = TakeAll(0, true);
    ASSERT_EQ(buffers.size(), 3u);
    EXPECT_EQ(Times(buffers[0]), Range(t, t + 15));
    EXPECT_EQ(Times(buffers[1]), Range(t + 16, t + 31));
    EXPECT_LT(buffers[1]->Capacity(), 17 * 100039u);
}

TEST_F(ProfileChunkTest, WaitingSecondsCountAsWholeBuffersAndKeptSecondsNever) {
    const int64_t t = kBeforeHour - 1000;
    const auto push = [this](int64_t from, int64_t to) {
        for (int64_t s = from; s < to; ++s) Push(s, 1, 0, 10000);
    };
    push(t, t + 15);  // fourteen finished, the fifteenth current
    EXPECT_EQ(chunk_.WholeBuffersWaiting(), 0u);
    push(t + 15, t + 16);
    EXPECT_EQ(chunk_.WholeBuffersWaiting(), 1u);  // fifteen seconds: one unit
    EXPECT_FALSE(chunk_.TakeHandOverReady());
    // The arena being filled never counts two by itself: at thirty seconds it
    // is closed, a write buffer waiting for its job, and counts as one.
    push(t + 16, t + 31);
    EXPECT_TRUE(chunk_.TakeHandOverReady());
    EXPECT_EQ(chunk_.WholeBuffersWaiting(), 1u);
    push(t + 31, t + 47);
    EXPECT_EQ(chunk_.WholeBuffersWaiting(), 2u);  // and fifteen more seconds

    // Seconds kept back never count.
    chunk_.SetKeepSeconds(40);
    EXPECT_EQ(chunk_.WholeBuffersWaiting(), 0u);  // 46 finished, 40 kept
    push(t + 47, t + 56);
    EXPECT_EQ(chunk_.WholeBuffersWaiting(), 1u);  // 55 finished, 40 kept
    ASSERT_FALSE(TakeAll(40).empty());
    EXPECT_EQ(chunk_.WholeBuffersWaiting(), 0u);
    EXPECT_EQ(chunk_.GetFinishedSecondCount(), 40u);
}

TEST_F(ProfileChunkTest, SecondsKeptForPreRecordAreCopiedOnceWhenDue) {
    event_duration_s durations;
    durations.slots[kSlotMotion].preRecTime = 3;
    chunk_.SetEventRecordDuration(durations);
    chunk_.SetKeepSeconds(3);
    const int64_t t = kBeforeHour - 100;
    PushSeconds(t, t + 9);
    // The three newest stay; the rest go, copied out of the arena that still
    // holds the kept ones.
    const auto buffers = TakeAll(3);
    EXPECT_EQ(Times(buffers), Range(t, t + 6));
    EXPECT_EQ(chunk_.GetFinishedSecondCount(), 3u);
    for (const auto& buffer : buffers) {
        EXPECT_EQ(buffer->GetSeconds().front()->startOffset, 0u);
        EXPECT_EQ(buffer->Data()[12 + kVideoInfoLength], 0x5A);
    }
    EXPECT_EQ(Times(TakeAll(0)), Range(t + 7, t + 9));
}

TEST_F(ProfileChunkTest, TheSecondsOfALongHandOverAreAllReused) {
    // Summaries are held so that no new buffer can take a dropped one's place.
    const auto handOver = [this] {
        std::vector<std::shared_ptr<second_frame_info_s>> summaries;
        while (chunk_.GetFinishedSecondCount() > 0) {
            summaries.push_back(chunk_.GetOldestSecondInfo());
            const auto left = static_cast<uint32_t>(chunk_.GetFinishedSecondCount()) - 1;
            chunk_.ReleaseWriteBuffer(chunk_.TakeWriteBuffer(left));
        }
        return summaries;
    };
    const int64_t t = kBeforeHour - 100;
    PushSeconds(t, t + 19);
    const auto first = handOver();
    ASSERT_EQ(first.size(), 20u);
    PushSeconds(t + 20, t + 39);
    EXPECT_EQ(handOver(), first);
}

TEST_F(ProfileChunkTest, AFullSecondDropsFurtherFrames) {
    const int64_t t = kBeforeHour - 100;
    const auto big = static_cast<int32_t>(ProfileChunk::kSecondByteLimit / 2);
    Push(t, 1, 0, big);
    Push(t, 0, 0, big);  // would pass the limit
    Push(t, 0, 0, -1);   // invalid
    chunk_.Flush();
    EXPECT_EQ(chunk_.GetOldestSecondInfo()->videoFrameCount, 1u);
}

// A second that overflows reports it once, with what it dropped, however
// many frames keep arriving for it.
TEST_F(ProfileChunkTest, AnOverfullSecondIsReportedOnceWithItsCounts) {
    test::LogCapture log;
    const int64_t t = kBeforeHour - 100;
    const auto half = static_cast<int32_t>(ProfileChunk::kSecondByteLimit / 2 - 1024);
    Push(t, 1, 0, half);
    Push(t, 0, 0, half);
    for (int i = 0; i < 5; ++i) Push(t, 0, 0, half);  // past the limit
    for (int i = 0; i < 200; ++i) Push(t + 1);        // more frames than a second should hold
    for (int i = 0; i < 200; ++i) Push(t + 2);
    chunk_.Flush();

    EXPECT_EQ(log.Count("is full"), 1u);
    EXPECT_EQ(log.Count("CH[cam1], Second " + std::to_string(t) +
                        " is full, 5 video and 0 audio frames dropped"),
              1u);
    // Once for each of the three seconds.
    EXPECT_EQ(log.Count("Size of Buffer is too much"), 3u);
}

struct FlagCase {
    uint32_t eventFlags;
    uint32_t eventBits;
    uint32_t analyticsBits;
    uint32_t audioBits;
};

TEST(ProfileChunkFlags, PushedFlagsBecomeTimelineBits) {
    const std::vector<FlagCase> cases = {
        {0x1, 0x2, 0, 0},          {0x4, 0x1, 0, 0},           {0x40, 0x800, 0, 0},
        {0x100, 0, 0, 0},          {0x120, 0x20, 0x1, 0},      {0x2020, 0x20, 0x20, 0},
        {0x4000, 0x20, 0x80, 0},   {0x40000, 0x20, 0x200, 0},  {0x80000, 0x1000, 0, 0},
        {0x800000, 0x10000, 0, 1}, {0x4000000, 0x10000, 0, 8}, {0x80000000, 0, 0, 0},
    };
    for (const FlagCase& c : cases) {
        const timeline_flags_s flags = ProfileChunk::EventFlagsToTimeline(c.eventFlags);
        EXPECT_EQ(flags.eventBits, c.eventBits) << std::hex << c.eventFlags;
        EXPECT_EQ(flags.analyticsBits, c.analyticsBits) << std::hex << c.eventFlags;
        EXPECT_EQ(flags.audioBits, c.audioBits) << std::hex << c.eventFlags;
    }
}

TEST(ProfileChunkClock, CameraStepsMoveTheRecordingSecond) {
    int64_t now = 5000;
    ProfileChunk chunk("cam1", kNormal, [&now] { return now; });
    chunk.SetSchedule(ScheduleOf(kSlotContinuous));
    // Camera time -> expected recording second.
    const std::vector<std::pair<int64_t, int64_t>> steps = {
        {100, 5000}, {103, 5003}, {162, 5062}, {222, 5063}, {50, 5064},
    };
    for (const auto& [camera, expected] : steps) {
        video_frame_header_s header;
        header.frameType = 1;
        header.time = static_cast<uint64_t>(camera);
        header.timeMs = 10;
        const uint8_t data[8] = {};
        chunk.AddVideoFrame(header, data, sizeof(data), 0);
    }
    chunk.Flush();
    std::vector<int64_t> seconds;
    while (auto second = chunk.PopFinishedSecond()) {
        seconds.push_back(static_cast<int64_t>(second->GetFrameInfo()->firstFrameTime));
    }
    std::vector<int64_t> expected(steps.size());
    for (size_t i = 0; i < steps.size(); ++i) expected[i] = steps[i].second;
    EXPECT_EQ(seconds, expected);
}

TEST(ProfileChunkHour, SameHourIsTheUtcHour) {
    EXPECT_TRUE(ProfileChunk::IsSameHour(3600, 7199));
    EXPECT_FALSE(ProfileChunk::IsSameHour(3599, 3600));
    EXPECT_TRUE(ProfileChunk::IsSameHour(int64_t{5000000000}, int64_t{5000000001}));
    EXPECT_FALSE(ProfileChunk::IsSameHour(-1, 0));
}

}  // namespace
}  // namespace orvale::recorder

namespace orvale::recorder {
namespace {

TEST(ProfileChunkHours, SecondsLeftInTheHour) {
    constexpr int64_t kNoon = 1796904000;  // 2026-12-10 12:00:00 UTC
    const std::pair<int64_t, int64_t> cases[] = {
        {kNoon, 3599}, {kNoon + 59 * 60 + 30, 29}, {kNoon + 3599, 0}, {-1, 0}, {-3600, 3599}};
    for (const auto& [time, left] : cases)
        EXPECT_EQ(ProfileChunk::SecondsLeftInHour(time), left) << time;
}

}  // namespace
}  // namespace orvale::recorder
