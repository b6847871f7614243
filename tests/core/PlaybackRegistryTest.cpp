// The engine's playback registry through MediaRecorder: the timer thread
// lives exactly while media are registered, the 128-media limit, one backup
// at a time, and DeleteChannel taking a channel's media out of their
// sessions.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/PlaybackEngineFixture.h"

namespace orvale::recorder {
namespace {

using test::kPlayStart;
using test::ThreadCount;

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 29;

class PlaybackRegistryTest : public test::PlaybackEngineFixture {
  protected:
    void SetUp() override {
        PlaybackEngineFixture::SetUp();
        Record("cam1", {{kS, kLast}});
        base_ = ThreadCount();
    }

    PlaybackMedia* Create(uint32_t mediaId, std::string channel, const std::string& session = "") {
        return engine_->CreatePlaybackMedia(mediaId, 1, channel, session);
    }

    size_t base_ = 0;
};

TEST_F(PlaybackRegistryTest, TheTimerThreadRunsWhileMediaAreRegistered) {
    EXPECT_EQ(Create(1, "nowhere"), nullptr);
    EXPECT_EQ(ThreadCount(), base_);

    PlaybackMedia* first = Create(1, "cam1");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ThreadCount(), base_ + 1);
    ASSERT_NE(Create(2, "cam1", "s"), nullptr);
    EXPECT_EQ(Create(1, "cam1", "s"), nullptr) << "a media id names one medium";
    EXPECT_EQ(Create(2, "cam1"), nullptr);
    EXPECT_EQ(ThreadCount(), base_ + 1) << "one timer thread";
    EXPECT_EQ(engine_->GetPlaybackMedia(1), first);
    EXPECT_EQ(engine_->GetPlaybackMedia(3), nullptr);

    engine_->DeletePlaybackMedia(1);
    EXPECT_EQ(engine_->GetPlaybackMedia(1), nullptr);
    EXPECT_EQ(ThreadCount(), base_ + 1);
    engine_->DeletePlaybackMedia(2);
    EXPECT_EQ(ThreadCount(), base_) << "the last delete joins the timer thread";
    engine_->DeletePlaybackMedia(2);

    // And a new first medium starts it again.
    ASSERT_NE(Create(5, "cam1"), nullptr);
    EXPECT_EQ(ThreadCount(), base_ + 1);
    engine_->DeletePlaybackMedia(5);
    EXPECT_EQ(ThreadCount(), base_);
}

// Creates and deletes from several threads at once, first and last media
// among them: never a second timer thread, and none once all are deleted.
TEST_F(PlaybackRegistryTest, ConcurrentCreatesAndDeletesRunOneTimerThread) {
    constexpr int kThreads = 4;
    constexpr uint32_t kRounds = 150;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<bool> done{false};
    std::atomic<size_t> most{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        ++ready;
        while (!go) std::this_thread::yield();
        while (!done) most = std::max(most.load(), ThreadCount());
    });
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (!go) std::this_thread::yield();
            for (uint32_t round = 0; round < kRounds; ++round) {
                const uint32_t id = 1000 * static_cast<uint32_t>(t + 1) + round;
                EXPECT_NE(Create(id, "cam1", round % 2 == 0 ? "" : "s"), nullptr);
                engine_->DeletePlaybackMedia(id);
            }
        });
    }
    while (ready < kThreads + 1) std::this_thread::yield();
    const size_t running = ThreadCount();  // ours started, none of the engine's
    go = true;
    for (size_t i = 1; i < threads.size(); ++i) threads[i].join();
    done = true;
    threads[0].join();
    EXPECT_LE(most.load(), running + 1);
    EXPECT_EQ(ThreadCount(), base_);
}

// With 128 media registered, the open is answered 0x445 through its
// callback at once, returns 0 and registers nothing; with 127 it opens.
TEST_F(PlaybackRegistryTest, AtMostOneHundredTwentyEightMedia) {
    for (uint32_t id = 1; id <= 127; ++id) ASSERT_NE(Create(id, "cam1"), nullptr) << id;
    ASSERT_EQ(Open(200, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(200, kS); }));
    ASSERT_EQ(sink_.Opens().size(), 1u);
    EXPECT_EQ(sink_.Opens()[0].seq, 200u);
    EXPECT_EQ(sink_.Opens()[0].result, 0u);

    EXPECT_EQ(Open(201, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_EQ(sink_.Opens().size(), 2u) << "answered inside the call";
    EXPECT_EQ(sink_.Opens()[1].seq, 201u);
    EXPECT_EQ(sink_.Opens()[1].result, static_cast<unsigned>(MEDIA_ERROR_TOO_MANY_MEDIA));
    EXPECT_EQ(engine_->GetPlaybackMedia(201), nullptr);
    // Without a callback the refusal has nobody to tell.
    std::string cam = "cam1";
    EXPECT_EQ(engine_->OpenMedia(202, kS, kLast, 1, 202, cam, false, false, 4, "", {}, {}),
              MEDIA_ERROR_NONE);
    EXPECT_EQ(engine_->GetPlaybackMedia(202), nullptr);

    engine_->DeletePlaybackMedia(200);
    ASSERT_EQ(Open(201, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(201, kS); }));
    for (uint32_t id = 1; id <= 127; ++id) engine_->DeletePlaybackMedia(id);
    engine_->DeletePlaybackMedia(201);
    EXPECT_EQ(ThreadCount(), base_);
}

TEST_F(PlaybackRegistryTest, OneBackupAtATime) {
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "", false, true), MEDIA_ERROR_NONE);
    EXPECT_EQ(Open(2, "cam1", kS, kLast, "", false, true), MEDIA_ERROR_BACKUP_REFUSED);
    EXPECT_EQ(engine_->GetPlaybackMedia(2), nullptr);
    EXPECT_EQ(Open(3, "cam1", kS, kLast), MEDIA_ERROR_NONE) << "playback goes on beside it";

    // The export ends with its final header; a medium registered as a
    // backup still refuses the next one until it is deleted.
    ASSERT_TRUE(sink_.WaitFor([&] {
        for (const auto& h : sink_.All()) {
            if (h.mediaId == 1 && h.backup && h.size == 0) return true;
        }
        return false;
    }));
    EXPECT_EQ(sink_.Videos(1).size(), 30u * 25u);
    EXPECT_EQ(Open(2, "cam1", kS, kLast, "", false, true), MEDIA_ERROR_BACKUP_REFUSED);
    engine_->DeletePlaybackMedia(1);
    EXPECT_EQ(Open(2, "cam1", kS, kLast, "", false, true), MEDIA_ERROR_NONE);
}

// DeleteChannel stops and removes the channel's media wherever they are
// registered: a session it empties goes, a session it leaves media in
// plays on; the timer keeps running for what is left; and the channel,
// deleted without its data, can still be played.
TEST_F(PlaybackRegistryTest, DeleteChannelTakesItsMediaOutOfTheirSessions) {
    Record("cam2", {{kS, kLast}});
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "shared"), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam2", kS, kLast, "shared"), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(3, "cam1", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(4, "cam1", kS + 10, kLast, "alone"), MEDIA_ERROR_NONE);
    ASSERT_TRUE(Control(2, PLAYBACK_CONTROL_PLAY, kS, 4, "shared"));
    ASSERT_TRUE(sink_.WaitFor([&] {
        return sink_.SawVideo(1, kS + 1) && sink_.SawVideo(2, kS + 1) && sink_.SawVideo(3, kS) &&
               sink_.SawVideo(4, kS + 10);
    }));

    std::string cam1 = "cam1";
    ASSERT_TRUE(engine_->DeleteChannel(cam1, false));
    const auto atDelete = sink_.All().size();
    for (const uint32_t id : {1u, 3u, 4u}) EXPECT_EQ(engine_->GetPlaybackMedia(id), nullptr) << id;
    ASSERT_NE(engine_->GetPlaybackMedia(2), nullptr);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(2, kS + 6); }))
        << "the session plays on with its other medium";
    const auto all = sink_.All();
    for (size_t i = atDelete; i < all.size(); ++i) {
        EXPECT_EQ(all[i].mediaId, 2u) << "heard from a removed medium";
    }
    EXPECT_EQ(ThreadCount(), base_ + 1);

    // "alone" went with its medium: a new medium there starts at its own
    // start; the channel's recordings stay reachable.
    ASSERT_EQ(Open(5, "cam1", kS + 20, kLast, "alone"), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return !sink_.Videos(5).empty(); }));
    EXPECT_EQ(sink_.Videos(5).front().time, kS + 20);

    ASSERT_TRUE(engine_->DeleteChannel(cam1, true));
    EXPECT_EQ(engine_->GetPlaybackMedia(5), nullptr);
    EXPECT_EQ(Open(6, "cam1", kS, kLast), MEDIA_ERROR_OPEN_FAILED) << "nothing of it remains";
    engine_->DeletePlaybackMedia(2);
    EXPECT_EQ(ThreadCount(), base_);
}

}  // namespace
}  // namespace orvale::recorder
