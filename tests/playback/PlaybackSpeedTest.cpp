// What a playback medium delivers, frame by frame and tick by tick, at every
// speed, and how it answers and obeys its control commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/playback/PlaybackFixture.h"

namespace orvale::recorder {
namespace {

using test::Answer;
using test::Delivery;
using test::kDay1;
using test::kHour;
using test::kMainType;
using test::MetaXml;
using test::StampOf;

constexpr int64_t kS = kDay1 + 10 * kHour;  // 10:00:00 UTC
constexpr int64_t kLast = kS + 119;

class PlaybackSpeedTest : public test::PlaybackFixture {
  protected:
    void SetUp() override {
        PlaybackFixture::SetUp();
        RecordThroughEngine(kS, kLast);
    }

    // (tick, kind, time, stamp) of each delivery.
    struct Seen {
        int64_t tick;
        int kind;
        int64_t time;
        uint32_t stamp;
        bool operator==(const Seen&) const = default;
    };
    static Seen Of(const Delivery& d) {
        return {d.tick, d.kind(), d.kind() == 1 ? d.time() : 0, d.header.value};
    }
    friend std::ostream& operator<<(std::ostream& out, const Seen& s) {
        return out << "{tick " << s.tick << ", kind " << s.kind << ", time " << s.time - kS
                   << ", stamp " << s.stamp << "}";
    }
};

// Speeds 1 and 2 show every frame, audio on the next tick and the second's
// metadata right after its key frame; above them key frames only, none of
// them closer than rate/8 seconds of stream time, at most one per 125 ms.
TEST_F(PlaybackSpeedTest, DeliversTheFramesOfEachSpeedAtTheirTicks) {
    struct Case {
        int speed;
        int64_t start;
        int gap;     // ticks between two video frames
        int stride;  // seconds between the key frames shown; 0: every frame
    };
    const Case cases[] = {
        {1, kS + 1, 39, 0},      {2, kS + 1, 20, 0},     {4, kS + 1, 250, 1},
        {8, kS + 1, 125, 1},     {16, kS + 1, 125, 2},   {32, kS + 1, 125, 4},
        {64, kS + 1, 125, 8},    {128, kS + 1, 125, 16}, {-1, kS + 100, 999, 1},
        {-16, kS + 100, 125, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("speed " + std::to_string(c.speed));
        ClearDeliveries();
        tick_ = 0;
        auto medium = Medium();
        Open(*medium, c.start, kLast, c.speed);
        const size_t videos = c.stride == 0 ? 30 : 6;
        TickUntilVideos(*medium, videos, 20000);
        Tick(*medium);  // the audio that follows the last frame

        // The first frame comes with the tick that answers the open, or with
        // the next one when its read has not landed by then.
        const auto all = Deliveries();
        ASSERT_FALSE(all.empty());
        const int64_t first = all.front().tick;
        EXPECT_LE(first, 1);
        std::vector<Seen> expected;
        for (size_t i = 0; i < videos; ++i) {
            const int64_t tick = first + static_cast<int64_t>(i) * c.gap;
            if (c.stride == 0) {
                const int64_t time = c.start + static_cast<int64_t>(i / 25);
                const uint32_t stamp = StampOf(time, static_cast<int>(i % 25));
                expected.push_back({tick, 1, time, stamp});
                if (i % 25 == 0) expected.push_back({tick, 3, 0, stamp});
                expected.push_back({tick + 1, 2, 0, stamp});
            } else if (c.speed > 0) {
                const int64_t time = c.start + static_cast<int64_t>(i) * c.stride;
                expected.push_back({tick, 1, time, StampOf(time, 0)});
            } else {
                // A reverse open passes over the continuity of its first two
                // key frames: the second comes on the tick after the first.
                const int64_t k = i == 0 ? 0 : static_cast<int64_t>(i) - 1;
                const int64_t time = c.start - (i == 0 ? 0 : 1) - k * c.stride;
                const int64_t at = i == 0 ? first : first + 1 + k * c.gap;
                expected.push_back({at, 1, time, StampOf(time, 0)});
            }
        }
        std::vector<Seen> seen;
        seen.reserve(all.size());
        for (const Delivery& d : all) seen.push_back(Of(d));
        seen.resize(std::min(seen.size(), expected.size()));
        EXPECT_EQ(seen, expected);

        // The headers as the caller reads them.
        int gop = 0;
        int64_t videoTime = 0;
        for (const Delivery& d : all) {
            EXPECT_EQ(d.header.mediaId, 7u);
            EXPECT_EQ(d.header.backup, 0);
            if (d.kind() == 1) {
                const bool key = d.frame() == 0;
                gop = key ? 1 : gop + 1;
                videoTime = d.time();
                EXPECT_EQ(d.header.video.keyFrame, key ? 1 : 0);
                EXPECT_EQ(d.header.video.gopCount, gop);
                EXPECT_EQ(d.header.video.width, 1920);
                EXPECT_EQ(d.header.video.height, 1080);
                EXPECT_EQ(d.header.video.codec, 0x1B);
                EXPECT_EQ(d.header.video.endMarker, 0);
                EXPECT_EQ(d.header.video.responseCounter, 1);
                EXPECT_EQ(d.size, 600);
                EXPECT_EQ(d.head[1], static_cast<uint8_t>(d.time()));
            } else if (d.kind() == 2) {
                EXPECT_EQ(d.header.audio.codec, 0x10000u);
                EXPECT_EQ(d.header.audio.audioValue1, 8000u);
                EXPECT_EQ(d.header.audio.audioValue2, 1u);
                EXPECT_EQ(d.header.audio.audioValue3, 16);
                EXPECT_EQ(d.header.audio.responseCounter, 1);
                EXPECT_EQ(d.size, 160);
                EXPECT_EQ(d.profile(), 0xA1);
            } else {
                ASSERT_EQ(d.kind(), 3);
                // The document of the second of the frame it follows.
                const std::string xml = MetaXml(videoTime);
                EXPECT_EQ(d.size, static_cast<long>(xml.size()));
                EXPECT_EQ(std::string(d.head.begin(), d.head.end()), xml.substr(0, d.head.size()));
            }
        }
        const auto answers = Answers();
        ASSERT_FALSE(answers.empty());
        EXPECT_EQ(answers.back().result, 0u);
        EXPECT_EQ(answers.back().tick, 0);
    }
}

TEST_F(PlaybackSpeedTest, PausesStepsAndResumesWhereItStood) {
    auto medium = Medium();
    Open(*medium, kS + 1, kLast, 1);
    TickUntilVideos(*medium, 3, 1000);

    // PAUSE: the next frame still comes at its time, then nothing.
    Control(*medium, 2, PLAYBACK_CONTROL_PAUSE, 0, 1);
    Tick(*medium, 400);
    auto videos = Videos();
    ASSERT_EQ(videos.size(), 4u);
    EXPECT_EQ(videos[3].frame(), 3);
    EXPECT_EQ(medium->GetState(), PLAYBACK_CONTROL_PAUSE);

    // STEP: one frame at once, then held again.
    const int64_t stepTick = tick_;
    Control(*medium, 3, PLAYBACK_CONTROL_STEP, 0, 1);
    Tick(*medium, 400);
    videos = Videos();
    ASSERT_EQ(videos.size(), 5u);
    EXPECT_EQ(videos[4].frame(), 4);
    EXPECT_EQ(videos[4].tick, stepTick);

    // PLAY at time 0: on from the next frame at the speed's pace.
    Control(*medium, 4, PLAYBACK_CONTROL_PLAY, 0, 1);
    TickUntilVideos(*medium, 8, 1000);
    videos = Videos();
    ASSERT_EQ(videos.size(), 8u);
    for (size_t i = 5; i < 8; ++i) EXPECT_EQ(videos[i].frame(), static_cast<int>(i));
    EXPECT_EQ(videos[6].tick - videos[5].tick, 39);

    const auto answers = Answers();
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[1].seq, 2u);
    EXPECT_EQ(answers[1].counter, 2);
    EXPECT_EQ(answers[2].counter, 3);
    EXPECT_EQ(answers[3].counter, 4);
    EXPECT_EQ(answers[3].result, 0u);
}

TEST_F(PlaybackSpeedTest, ResponseCounterRunsFrom1To127AndWraps) {
    auto medium = Medium();
    Open(*medium, kS + 1, kLast, 1, true);
    Tick(*medium, 3);
    ASSERT_EQ(Videos().size(), 1u);  // paused after one frame
    std::vector<int> counters;
    for (int i = 0; i < 130; ++i) {
        Control(*medium, 100 + i, PLAYBACK_CONTROL_PAUSE, 0, 1);
        Tick(*medium);
        counters.push_back(Answers().back().counter);
    }
    std::vector<int> expected;
    for (int c = 2; c <= 127; ++c) expected.push_back(c);
    for (int c = 1; c <= 4; ++c) expected.push_back(c);
    EXPECT_EQ(counters, expected);

    // Two commands before a tick: answered one a step, in order, each with
    // the counter of its time of answering.
    Control(*medium, 300, PLAYBACK_CONTROL_PAUSE, 0, 1);
    Control(*medium, 301, PLAYBACK_CONTROL_PAUSE, 0, 1);
    Tick(*medium);
    Tick(*medium);
    const auto answers = Answers();
    ASSERT_GE(answers.size(), 2u);
    EXPECT_EQ(answers[answers.size() - 2].seq, 300u);
    EXPECT_EQ(answers.back().seq, 301u);
    EXPECT_EQ(answers.back().counter, 6);
    EXPECT_EQ(answers[answers.size() - 2].counter, 6);
}

TEST_F(PlaybackSpeedTest, SeekShowsTheKeyFrameAtTheNewTime) {
    auto medium = Medium();
    Open(*medium, kS + 1, kLast, 1);
    TickUntilVideos(*medium, 3, 1000);
    ClearDeliveries();

    Control(*medium, 2, PLAYBACK_CONTROL_SEEK, kS + 40, 1);
    TickUntilVideos(*medium, 2, 1000);
    auto videos = Videos();
    ASSERT_EQ(videos.size(), 2u);
    EXPECT_EQ(videos[0].time(), kS + 40);
    EXPECT_EQ(videos[0].header.video.gopCount, 1);
    EXPECT_EQ(videos[1].time(), kS + 40);
    EXPECT_EQ(videos[1].frame(), 1);
    EXPECT_EQ(Answers().back().result, 0u);

    // A seek with speed 0 shows one frame and holds.
    ClearDeliveries();
    Control(*medium, 3, PLAYBACK_CONTROL_SEEK, kS + 80, 0);
    Tick(*medium, 300);
    videos = Videos();
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_EQ(videos[0].time(), kS + 80);
    EXPECT_EQ(medium->GetState(), PLAYBACK_CONTROL_PAUSE);

    // A seek where nothing is recorded answers that it failed.
    Control(*medium, 4, PLAYBACK_CONTROL_SEEK, kS + 5000, 1);
    Tick(*medium, 3);
    EXPECT_EQ(Answers().back().result, MEDIA_ERROR_OPEN_FAILED);
    EXPECT_FALSE(medium->IsOpened());
}

TEST_F(PlaybackSpeedTest, StopIsAnsweredAtOnceAndEndsDelivery) {
    auto medium = Medium();
    Open(*medium, kS + 1, kLast, 1);
    TickUntilVideos(*medium, 2, 1000);
    const int64_t tick = tick_;
    Control(*medium, 9, PLAYBACK_CONTROL_STOP, 0, 1);
    auto answers = Answers();
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].seq, 9u);
    EXPECT_EQ(answers[1].tick, tick);  // inside ControlMedia, before any tick
    EXPECT_EQ(answers[1].counter, 2);
    EXPECT_FALSE(medium->IsOpened());
    const size_t before = Deliveries().size();
    Tick(*medium, 200);
    EXPECT_EQ(Deliveries().size(), before);
    EXPECT_EQ(Answers().size(), 2u);
}

TEST_F(PlaybackSpeedTest, AnOpenWhereNothingIsRecordedFails) {
    auto medium = Medium();
    Open(*medium, kS + 2 * kHour, kS + 3 * kHour, 1);
    EXPECT_TRUE(Answers().empty());  // answered by the next tick
    Tick(*medium, 50);
    const auto answers = Answers();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].result, MEDIA_ERROR_OPEN_FAILED);
    EXPECT_TRUE(Deliveries().empty());
    EXPECT_FALSE(medium->IsOpened());
}

TEST_F(PlaybackSpeedTest, ChangesSpeedAndDirectionWhereItStands) {
    auto medium = Medium();
    Open(*medium, kS + 10, kLast, 1);
    TickUntilVideos(*medium, 26, 2000);
    // Faster at the same position: no repositioning, only the pace.
    Control(*medium, 2, PLAYBACK_CONTROL_PLAY, medium->GetPosition(), 2);
    TickUntilVideos(*medium, 28, 2000);
    auto videos = Videos();
    EXPECT_EQ(videos[26].frame(), 1);
    EXPECT_EQ(videos[27].tick - videos[26].tick, 20);

    // Reverse from where it stands, without a time of its own.
    ClearDeliveries();
    Control(*medium, 3, PLAYBACK_CONTROL_PLAY, 0, -1);
    TickUntilVideos(*medium, 2, 3000);
    videos = Videos();
    ASSERT_EQ(videos.size(), 2u);
    EXPECT_EQ(videos[0].time(), kS + 11);
    EXPECT_EQ(videos[1].time(), kS + 10);
    EXPECT_EQ(Answers().back().result, 0u);
}

TEST_F(PlaybackSpeedTest, StepsTheOtherWayFromWhereItStands) {
    auto medium = Medium();
    Open(*medium, kS + 5, kLast, 1, true);
    Tick(*medium, 100);
    Control(*medium, 2, PLAYBACK_CONTROL_STEP, 0, 1);
    Tick(*medium, 100);
    auto videos = Videos();
    ASSERT_EQ(videos.size(), 2u);
    EXPECT_EQ(videos[1].frame(), 1);

    // The other way: repositioned at the key frame of where it stands.
    Control(*medium, 3, PLAYBACK_CONTROL_STEP, 0, -1);
    Tick(*medium, 100);
    Control(*medium, 4, PLAYBACK_CONTROL_STEP, 0, -1);
    Tick(*medium, 1100);
    videos = Videos();
    ASSERT_EQ(videos.size(), 4u);
    EXPECT_EQ(videos[2].time(), kS + 5);
    EXPECT_EQ(videos[2].frame(), 0);
    EXPECT_EQ(videos[3].time(), kS + 4);
    EXPECT_EQ(medium->GetState(), PLAYBACK_CONTROL_PAUSE);
    for (const Answer& answer : Answers()) EXPECT_EQ(answer.result, 0u);
}

TEST_F(PlaybackSpeedTest, AnOpenOfAMediumThatPlaysGoesOnWhereItIs) {
    auto medium = Medium();
    Open(*medium, kS + 1, kLast, 1);
    TickUntilVideos(*medium, 3, 1000);
    Open(*medium, kS + 50, kLast, 1, false, false, kMainType, 2);
    TickUntilVideos(*medium, 5, 1000);
    const auto videos = Videos();
    ASSERT_EQ(videos.size(), 5u);
    EXPECT_EQ(videos[4].time(), kS + 1);
    EXPECT_EQ(videos[4].frame(), 4);
    const auto answers = Answers();
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].seq, 2u);
    EXPECT_EQ(answers[1].result, 0u);
}

// A session medium passes over what lies before the session time, with its
// audio, plays the session's second at its pace and waits at the next.
TEST_F(PlaybackSpeedTest, FollowsTheSessionTime) {
    auto medium = Medium();
    Open(*medium, kS + 1, kLast, 1);
    for (int i = 0; i < 1100; ++i) Tick(*medium, 1, kS + 3);
    const auto all = Deliveries();
    ASSERT_FALSE(all.empty());
    size_t videos = 0;
    for (const Delivery& d : all) {
        if (d.kind() == 1) {
            EXPECT_EQ(d.time(), kS + 3);
            EXPECT_EQ(d.frame(), static_cast<int>(videos++));
        }
        // Audio only of the frames shown.
        if (d.kind() == 2) {
            EXPECT_LT(d.header.value - StampOf(kS + 3, 0), 1000u);
        }
    }
    EXPECT_EQ(videos, 25u);
    EXPECT_TRUE(medium->IsWaitingForSync());
    EXPECT_EQ(medium->GetNextFrameTime(), 0);
    EXPECT_EQ(medium->GetPosition(), kS + 3);

    // The next second, once the session is there.
    medium->ClearWaitingForSync();
    Tick(*medium, 100, kS + 4);
    EXPECT_EQ(Videos().back().time(), kS + 4);
}

TEST_F(PlaybackSpeedTest, AThrowingCallbackStopsTheMedium) {
    auto medium = Medium();
    OnDelivery([](const Delivery& d) {
        if (d.kind() == 1) throw std::runtime_error("the caller failed");
    });
    Open(*medium, kS + 1, kLast, 1);
    Tick(*medium, 50);
    EXPECT_FALSE(medium->IsOpened());
    EXPECT_EQ(Videos().size(), 1u);
    EXPECT_EQ(log_.Count("Exception: the caller failed"), 1u);
    OnDelivery({});
}

TEST_F(PlaybackSpeedTest, FindsTheStartTimeInTheDirection) {
    auto medium = Medium();
    EXPECT_EQ(medium->FindStartTime(kS - 100, 1), kS);
    EXPECT_EQ(medium->FindStartTime(kS + 5, -1), kS + 5);
    EXPECT_EQ(medium->FindStartTime(kLast + 100, -1), kLast);
    EXPECT_EQ(medium->FindStartTime(kLast + 100, 1), 0);
    EXPECT_EQ(medium->FindStartTime(0, 1), 0);
}

// A command from inside the data callback takes effect from the next step;
// the step that called out touches nothing that the command replaced, and
// the bytes the callback holds stay valid until it returns. (Buffers too
// small for a second grow, so a buffer given back is given a new array.)
TEST_F(PlaybackSpeedTest, ObeysCommandsMadeFromInsideTheDataCallback) {
    auto medium = Medium(16 * 1024);
    int videos = 0;
    OnDelivery([&](const Delivery& d) {
        if (d.kind() != 1) return;
        ++videos;
        if (videos == 5) {
            medium->ControlMedia(2, PLAYBACK_CONTROL_SEEK, kS + 60, 1, kMainType, ControlAnswer());
        }
        if (videos == 7) {
            medium->ControlMedia(3, PLAYBACK_CONTROL_STOP, 0, 1, kMainType, ControlAnswer());
        }
        EXPECT_TRUE(std::equal(d.head.begin(), d.head.end(), d.data)) << videos;
    });
    Open(*medium, kS + 1, kLast, 1);
    TickUntilVideos(*medium, 7, 1000);
    Tick(*medium, 200);
    const auto all = Videos();
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all[4].time(), kS + 1);
    EXPECT_EQ(all[4].frame(), 4);
    EXPECT_EQ(all[5].time(), kS + 60);
    EXPECT_EQ(all[5].frame(), 0);
    EXPECT_EQ(all[6].frame(), 1);
    for (const Delivery& d : Deliveries()) {
        if (d.tick > all[4].tick && d.tick < all[5].tick) ADD_FAILURE() << "delivered before seek";
    }
    EXPECT_FALSE(medium->IsOpened());
    const auto answers = Answers();
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[1].seq, 2u);
    EXPECT_EQ(answers[2].seq, 3u);
    OnDelivery({});
}

}  // namespace
}  // namespace orvale::recorder
