// The playback media container over real media, ticked by the test as the
// engine's timer ticks it, with the test's clock: the session time step by
// step (jumps over a gap of all its media, holds while nothing plays or
// while it has not started), and the registry's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "recorder/playback/PlaybackMediaContainer.h"
#include "tests/playback/PlaybackFixture.h"

namespace orvale::recorder {
namespace {

using test::kDay1;
using test::kHour;

constexpr int64_t kS = kDay1 + 10 * kHour;
constexpr int64_t kLast = kS + 29;
constexpr int64_t kGapFirst = kS + 6;  // nothing recorded up to kS + 22
constexpr int64_t kGapLast = kS + 22;

class PlaybackContainerTest : public test::PlaybackFixture {
  protected:
    std::shared_ptr<PlaybackMediaImpl> Make(uint32_t id) {
        made_.push_back(std::make_shared<PlaybackMediaImpl>(id, 1, channel_, "", &pool_, reads_,
                                                            [this] { return nowNs_.load(); }));
        return made_.back();
    }

    // A read still on its way when the test ends would log into a capture
    // that is gone.
    void TearDown() override {
        WaitForReads();
        PlaybackFixture::TearDown();
    }

    void WaitForReads() {
        for (const auto& medium : made_) {
            for (int wait = 0; wait < 20000 && medium->IsReadPending(); ++wait) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }
    }

    // One tick of the engine's timer, once the reads posted have landed.
    void TickAll(int count = 1) {
        for (int i = 0; i < count; ++i) {
            WaitForReads();
            media_->Tick();
            ++tick_;
            nowNs_ += test::kTickNs;
        }
    }

    std::shared_ptr<BufferPool> reads_ = std::make_shared<BufferPool>(128 * 1024);
    std::shared_ptr<PlaybackMediaContainer> media_ = PlaybackMediaContainer::Create();
    std::vector<std::shared_ptr<PlaybackMediaImpl>> made_;
};

// Two media of a session wait at the far side of their common gap, each
// having announced it: the session goes there in one step, forward and in
// reverse, instead of through the 17 empty seconds.
TEST_F(PlaybackContainerTest, ASessionJumpsOverTheGapOfAllItsMedia) {
    {
        auto recorder = StartRecorder();
        Push(*recorder, kS, kGapFirst - 1, 1);
        Push(*recorder, kGapLast + 1, kLast, 1);
        recorder->StopRecording();
    }
    struct Case {
        const char* name;
        int speed;
        int64_t from;
        int64_t before;  // the last second before the gap in the direction of play
        int64_t after;   // the first one after it
    };
    const Case cases[] = {{"forward", 8, kS, kGapFirst - 1, kGapLast + 1},
                          {"reverse", -8, kLast, kGapLast + 1, kGapFirst - 1}};
    uint32_t id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string session = c.name;
        for (int i = 0; i < 2; ++i) {
            auto medium = Make(id);
            ASSERT_TRUE(media_->Insert(id, session, medium));
            Open(*medium, c.from, kLast, c.speed);
            ++id;
        }
        ASSERT_TRUE(media_->SetSessionState(session, PLAYBACK_CONTROL_PLAY, c.from, c.speed, 4));
        std::vector<int64_t> times{media_->GetSessionTime(session)};
        for (int i = 0; i < 20000 && times.back() != c.after; ++i) {
            TickAll();
            if (media_->GetSessionTime(session) != times.back()) {
                times.push_back(media_->GetSessionTime(session));
            }
        }
        ASSERT_GE(times.size(), 2u);
        EXPECT_EQ(times[times.size() - 2], c.before);
        EXPECT_EQ(times.back(), c.after);
        for (size_t i = 1; i + 1 < times.size(); ++i) {
            EXPECT_EQ(times[i] - times[i - 1], c.speed > 0 ? 1 : -1) << "at " << i;
        }
        WaitForReads();
        media_->Clear();
        made_.clear();
    }
}

// A session holds its time while none of its media plays (all stopped).
// Before it was given a time it takes the one its media were opened at; a
// session whose media have none answers their requests and plays nothing.
TEST_F(PlaybackContainerTest, ASessionHoldsWhileNothingPlaysAndWaitsForItsStart) {
    RecordThroughEngine(kS, kLast);
    auto idle = Make(3);
    ASSERT_TRUE(media_->Insert(3, "t", idle));
    Open(*idle, 0, kLast, 1);
    TickAll(50);
    ASSERT_EQ(Answers().size(), 1u);
    EXPECT_EQ(Answers()[0].result, MEDIA_ERROR_OPEN_FAILED);
    EXPECT_EQ(media_->GetSessionTime("t"), 0);
    EXPECT_TRUE(Deliveries().empty());

    auto a = Make(1);
    auto b = Make(2);
    ASSERT_TRUE(media_->Insert(1, "s", a));
    ASSERT_TRUE(media_->Insert(2, "s", b));
    Open(*a, kS + 1, kLast, 1);
    Open(*b, kS + 1, kLast, 1);
    TickAll(1);
    EXPECT_EQ(media_->GetSessionTime("s"), kS + 1);
    TickAll(2500);
    EXPECT_EQ(Answers().size(), 3u);
    EXPECT_GE(media_->GetSessionTime("s"), kS + 3);
    WaitForReads();
    media_->ControlSession(5, "s", PLAYBACK_CONTROL_STOP, 1, 0, 1, 4, ControlAnswer());
    EXPECT_FALSE(a->IsOpened());
    EXPECT_FALSE(b->IsOpened());
    const int64_t held = media_->GetSessionTime("s");
    TickAll(200);
    EXPECT_EQ(media_->GetSessionTime("s"), held);
}

TEST_F(PlaybackContainerTest, AMediaIdNamesOneMediumAndSessionsLiveWithTheirMedia) {
    auto a = Make(1);
    auto b = Make(2);
    ASSERT_TRUE(media_->Insert(1, "", a));
    EXPECT_FALSE(media_->Insert(1, "", b));
    EXPECT_FALSE(media_->Insert(1, "x", b)) << "taken outside the session";
    ASSERT_TRUE(media_->Insert(2, "x", b));
    EXPECT_FALSE(media_->Insert(2, "", a)) << "taken inside a session";
    EXPECT_EQ(media_->Size(), 2u);
    EXPECT_EQ(media_->SessionSize("x"), 1u);
    EXPECT_TRUE(media_->Contains(2, ""));
    EXPECT_FALSE(media_->Contains(1, "x"));
    EXPECT_EQ(media_->Find(2, ""), b);
    EXPECT_EQ(media_->Find(2, "y"), nullptr);
    EXPECT_TRUE(media_->Erase(99, ""));

    // A new session's row starts at zero; it goes with its last medium.
    EXPECT_EQ(media_->GetSessionTime("x"), 0);
    EXPECT_TRUE(media_->SetSessionState("x", 1, kS, -2, 4));
    EXPECT_EQ(media_->GetSessionSpeed("x"), -2);
    EXPECT_FALSE(media_->SetSessionState("", 1, kS, 1, 4));
    EXPECT_TRUE(media_->Erase(2, ""));
    EXPECT_FALSE(media_->SetSessionState("x", 1, kS, 1, 4));
    EXPECT_EQ(media_->GetSessionTime("x"), 0);
    EXPECT_EQ(media_->SessionSize("x"), 0u);

    // Moves: into a new session, whose row starts from the medium; back out;
    // an unknown id changes nothing.
    ASSERT_TRUE(media_->ChangeSession(1, "y"));
    EXPECT_TRUE(media_->Contains(1, "y"));
    EXPECT_EQ(media_->Size(), 1u);
    EXPECT_EQ(media_->GetSessionSpeed("y"), 1);
    ASSERT_TRUE(media_->ChangeSession(1, ""));
    EXPECT_FALSE(media_->Contains(1, "y"));
    EXPECT_EQ(media_->Find(1, ""), a);
    EXPECT_TRUE(media_->ChangeSession(7, "y"));
    EXPECT_EQ(media_->Size(), 1u);
}

// EraseByChannel empties every session it touches, goes on with the others
// and stops what it removes.
TEST_F(PlaybackContainerTest, EraseByChannelEmptiesSessionsAndStopsItsMedia) {
    RecordThroughEngine(kS, kLast);
    auto other = std::make_shared<Channel>("cam2", 0, true, &pool_, buffers_);
    auto foreign = std::make_shared<PlaybackMediaImpl>(9, 1, other, "", &pool_, reads_);
    ASSERT_TRUE(media_->Insert(9, "q", foreign));
    for (uint32_t id = 1; id <= 4; ++id) {
        auto medium = Make(id);
        ASSERT_TRUE(media_->Insert(id, id == 1 ? "" : (id == 2 ? "p" : "q"), medium));
        Open(*medium, kS, kLast, 1);
    }
    media_->SetSessionState("p", 1, kS, 1, 4);
    media_->SetSessionState("q", 1, kS, 1, 4);
    TickAll(3);
    ASSERT_TRUE(made_[0]->IsOpened());
    WaitForReads();
    ASSERT_TRUE(media_->EraseByChannel("cam1"));
    EXPECT_EQ(media_->Size(), 1u);
    EXPECT_EQ(media_->SessionSize("p"), 0u);
    EXPECT_EQ(media_->GetSessionTime("p"), 0);
    EXPECT_EQ(media_->SessionSize("q"), 1u);
    EXPECT_EQ(media_->GetSessionTime("q"), kS);
    for (const auto& medium : made_) {
        EXPECT_FALSE(medium->IsOpened());
        EXPECT_TRUE(medium->IsRetired());
    }
    const size_t heard = Deliveries().size();
    TickAll(100);
    EXPECT_EQ(Deliveries().size(), heard);
}

}  // namespace
}  // namespace orvale::recorder
