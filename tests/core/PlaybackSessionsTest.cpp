// Sessions through MediaRecorder: media of one session play in lock-step on
// the session's time (across a gap in one of them, forward and in reverse),
// a medium joining a running session starts at its time, a paused session
// holds, and a control without a session reaches its one medium.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tests/core/PlaybackEngineFixture.h"

namespace orvale::recorder {
namespace {

using test::Heard;
using test::kPlayStart;

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 29;
// cam2 records nothing in [kGapFirst, kGapLast]: 17 seconds.
constexpr int64_t kGapFirst = kS + 6;
constexpr int64_t kGapLast = kS + 22;

class PlaybackSessionsTest : public test::PlaybackEngineFixture {
  protected:
    void SetUp() override {
        PlaybackEngineFixture::SetUp();
        Record("cam1", {{kS, kLast}});
        Record("cam2", {{kS, kGapFirst - 1}, {kGapLast + 1, kLast}});
    }

    static std::set<int64_t> Seconds(const std::vector<Heard>& videos) {
        std::set<int64_t> seconds;
        for (const auto& v : videos) seconds.insert(v.time);
        return seconds;
    }
    static std::set<int64_t> Range(int64_t from, int64_t to) {
        std::set<int64_t> seconds;
        for (int64_t t = from; t <= to; ++t) seconds.insert(t);
        return seconds;
    }
};

// Both media show a second only while it is the session's: the frames heard,
// in the order heard, never go back (forward) or forth (reverse) in time, so
// neither medium runs ahead of the other, through cam2's 17 s gap too.
TEST_F(PlaybackSessionsTest, MediaOfASessionAdvanceTogetherAcrossAGap) {
    struct Case {
        const char* name;
        int speed;
        int64_t from;  // where the session is opened and played from
        int64_t to;    // the last second it reaches
    };
    const Case cases[] = {{"forward", 8, kS, kLast}, {"reverse", -8, kLast, kS}};
    uint32_t id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t a = id++;
        const uint32_t b = id++;
        const std::string session = std::string("wall-") + c.name;
        // Opened paused: each shows its first frame and holds until PLAY.
        ASSERT_EQ(Open(a, "cam1", c.from, kLast, session, true), MEDIA_ERROR_NONE);
        ASSERT_EQ(Open(b, "cam2", c.from, kLast, session, true), MEDIA_ERROR_NONE);
        ASSERT_TRUE(
            sink_.WaitFor([&] { return sink_.SawVideo(a, c.from) && sink_.SawVideo(b, c.from); }));
        ASSERT_TRUE(Control(a, PLAYBACK_CONTROL_PLAY, c.from, c.speed, session));
        ASSERT_TRUE(sink_.WaitFor([&] {
            return sink_.SawVideo(a, c.to) && sink_.SawVideo(b, c.to);
        })) << "the session did not reach its last second";

        std::vector<Heard> both;
        for (const auto& v : sink_.Videos()) {
            if (v.mediaId == a || v.mediaId == b) both.push_back(v);
        }
        int64_t reached = c.from;
        for (const auto& v : both) {
            if (c.speed > 0) {
                EXPECT_GE(v.time, reached) << "medium " << v.mediaId << " behind the session";
                reached = std::max(reached, v.time);
            } else {
                EXPECT_LE(v.time, reached) << "medium " << v.mediaId << " behind the session";
                reached = std::min(reached, v.time);
            }
        }
        EXPECT_EQ(Seconds(sink_.Videos(a)), Range(kS, kLast));
        std::set<int64_t> recorded = Range(kS, kLast);
        for (int64_t t = kGapFirst; t <= kGapLast; ++t) recorded.erase(t);
        EXPECT_EQ(Seconds(sink_.Videos(b)), recorded);
        engine_->DeletePlaybackMedia(a);
        engine_->DeletePlaybackMedia(b);
    }
}

TEST_F(PlaybackSessionsTest, AMediumJoiningARunningSessionStartsAtItsTime) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "join", true), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS); }));
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PLAY, kS, 8, "join"));
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 10); }));

    // Asked to start at kS, it starts where the session is.
    const int64_t reachedBefore = sink_.Videos(1).back().time;
    ASSERT_EQ(Open(2, "cam1", kS, kLast, "join"), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return !sink_.Videos(2).empty(); }));
    const Heard first = sink_.Videos(2).front();
    EXPECT_GE(first.time, reachedBefore);
    EXPECT_TRUE(first.key);
    // And goes on with it at the session's speed, to its end.
    ASSERT_TRUE(
        sink_.WaitFor([&] { return sink_.SawVideo(2, kLast) && sink_.SawVideo(1, kLast); }));
    int64_t reached = 0;
    for (const auto& v : sink_.Videos()) {
        if (v.time < reachedBefore) continue;
        EXPECT_GE(v.time, reached);
        reached = std::max(reached, v.time);
    }
}

// PAUSE and a resume without a time keep the session's time: it neither
// runs on while paused nor freezes after the resume.
TEST_F(PlaybackSessionsTest, APausedSessionHoldsAndResumesWhereItWas) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "hold", true), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam1", kS, kLast, "hold", true), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS) && sink_.SawVideo(2, kS); }));
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PLAY, kS, 8, "hold"));
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 5); }));
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PAUSE, 0, 8, "hold"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t heldAt = sink_.Videos().size();
    const int64_t pausedAt = sink_.Videos().back().time;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(sink_.Videos().size(), heldAt) << "frames while paused";

    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PLAY, 0, 8, "hold"));
    ASSERT_TRUE(
        sink_.WaitFor([&] { return sink_.SawVideo(1, kLast) && sink_.SawVideo(2, kLast); }));
    const auto videos = sink_.Videos();
    for (size_t i = heldAt; i < videos.size(); ++i) {
        EXPECT_GE(videos[i].time, pausedAt) << "the resume went back in time";
        EXPECT_LE(videos[i].time - pausedAt, int64_t{kLast - kS});
    }
    EXPECT_LE(videos[heldAt].time, pausedAt + 1) << "the resume skipped ahead";
}

// Without a session the command reaches the one medium of that id, which
// answers it; STOP answers at once.
TEST_F(PlaybackSessionsTest, AControlWithoutASessionReachesItsMedium) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS); }));
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_SEEK, kS + 20, 1, "", 41));
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 20); }));
    ASSERT_TRUE(sink_.WaitFor([&] { return !sink_.Controls().empty(); }));
    EXPECT_EQ(sink_.Controls().front().seq, 41u);
    EXPECT_EQ(sink_.Controls().front().result, 0u);

    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_STOP, 0, 1, "", 42));
    ASSERT_EQ(sink_.Controls().size(), 2u) << "STOP is answered inside the call";
    EXPECT_EQ(sink_.Controls().back().seq, 42u);
    const size_t stoppedAt = sink_.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(sink_.Count(), stoppedAt);
    EXPECT_FALSE(engine_->GetPlaybackMedia(1)->IsOpened());

    // A session name the medium is not in reaches nothing, and an unknown
    // media id is handed on without an answer.
    EXPECT_TRUE(Control(1, PLAYBACK_CONTROL_PLAY, kS, 1, "elsewhere"));
    EXPECT_TRUE(Control(9, PLAYBACK_CONTROL_PLAY, kS, 1));
    EXPECT_FALSE(Control(1, PLAYBACK_CONTROL_PROFILE_SESSION, kS, 1, "elsewhere"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sink_.Controls().size(), 2u);
}

// Moving media between sessions: a medium taken into a playing session
// follows it; one moved out plays on alone; none is lost on the way.
TEST_F(PlaybackSessionsTest, MediaMoveBetweenSessions) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "move", true), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam1", kS + 3, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(1, kS) && sink_.SawVideo(2, kS + 3); }));
    ASSERT_TRUE(engine_->ControlMedia(0, PLAYBACK_CONTROL_SESSION, 2, 0, 0, 0, 4, "move", {}));
    ASSERT_NE(engine_->GetPlaybackMedia(2), nullptr);
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_PLAY, kS, 8, "move"));
    ASSERT_TRUE(
        sink_.WaitFor([&] { return sink_.SawVideo(1, kLast) && sink_.SawVideo(2, kLast); }));

    ASSERT_TRUE(engine_->ControlMedia(0, PLAYBACK_CONTROL_SESSION, 1, 0, 0, 0, 4, "", {}));
    ASSERT_TRUE(engine_->ControlMedia(0, PLAYBACK_CONTROL_SESSION, 7, 0, 0, 0, 4, "move", {}));
    EXPECT_NE(engine_->GetPlaybackMedia(1), nullptr);
    EXPECT_NE(engine_->GetPlaybackMedia(2), nullptr);
    EXPECT_EQ(engine_->GetPlaybackMedia(7), nullptr);
    // Without a session, 1 answers a control of its own again.
    ASSERT_TRUE(Control(1, PLAYBACK_CONTROL_SEEK, kS + 2, 1, "", 51));
    ASSERT_TRUE(sink_.WaitFor([&] {
        const auto answers = sink_.Controls();
        return std::any_of(answers.begin(), answers.end(),
                           [](const test::ControlAnswer& a) { return a.seq == 51; });
    }));
}

// Two media playing in lock-step moved one after the other into another
// session go on from where they stand: neither is read afresh from the key
// frame of its second (which would show that second twice and hold the
// other at the next second until it had shown it again).
TEST_F(PlaybackSessionsTest, MediaMovedTogetherKeepTheirPace) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "left"), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam1", kS, kLast, "left"), MEDIA_ERROR_NONE);
    ASSERT_TRUE(
        sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 1) && sink_.SawVideo(2, kS + 1); }));
    ASSERT_TRUE(engine_->ControlMedia(0, PLAYBACK_CONTROL_SESSION, 1, 1, 0, 0, 4, "right", {}));
    ASSERT_TRUE(engine_->ControlMedia(0, PLAYBACK_CONTROL_SESSION, 2, 1, 0, 0, 4, "right", {}));
    ASSERT_TRUE(
        sink_.WaitFor([&] { return sink_.SawVideo(1, kS + 4) && sink_.SawVideo(2, kS + 4); }));
    for (const uint32_t id : {1u, 2u}) {
        SCOPED_TRACE(id);
        std::vector<int64_t> keys;
        for (const auto& v : sink_.Videos(id)) {
            if (v.key) keys.push_back(v.time);
        }
        // Each second's key frame once, and no second left out.
        for (size_t i = 1; i < keys.size(); ++i) EXPECT_EQ(keys[i], keys[i - 1] + 1);
    }
}

}  // namespace
}  // namespace orvale::recorder
