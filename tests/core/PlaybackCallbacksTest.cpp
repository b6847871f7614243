// What a host's playback callbacks may do, through MediaRecorder: create,
// open, control and delete media (their own included) and call into the
// engine, also while a backup runs and while the engine finalizes; a
// callback that throws stops its own medium only. No callback of a medium
// comes after its delete returned.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/core/PlaybackEngineFixture.h"

namespace orvale::recorder {
namespace {

using test::Heard;
using test::kPlayStart;
using test::ThreadCount;
using test::WaitForThreadCount;

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 29;

class PlaybackCallbacksTest : public test::PlaybackEngineFixture {
  protected:
    void SetUp() override {
        PlaybackEngineFixture::SetUp();
        Record("cam1", {{kS, kLast}});
        Record("cam2", {{kS, kLast}});
        base_ = ThreadCount();
    }

    size_t base_ = 0;
};

// Medium 1 opens medium 2 and steers itself from its callbacks, then
// deletes itself; medium 2 seeks, moves into a session and deletes itself
// as the last medium, which ends the timer thread from that thread; a third
// deletes its own channel. Nothing is heard of a medium after its delete.
TEST_F(PlaybackCallbacksTest, CallbacksCreateControlAndDeleteMedia) {
    std::atomic<int> frames1{0};
    std::atomic<int> frames2{0};
    std::atomic<bool> deleted1{false};
    std::atomic<bool> deleted2{false};
    std::atomic<int> late{0};
    std::string cam1 = "cam1";
    std::string cam2 = "cam2";

    auto second = [&](const Heard& h) {
        if (h.kind != 1 || h.size == 0) return;
        if (deleted2) ++late;
        switch (++frames2) {
            case 5:
                engine_->ControlMedia(21, PLAYBACK_CONTROL_SEEK, 2, 2, 0, kS + 20, 4, "", {});
                break;
            case 10:
                engine_->ControlMedia(22, PLAYBACK_CONTROL_SESSION, 2, 0, 0, 0, 4, "cb", {});
                engine_->ControlMedia(23, PLAYBACK_CONTROL_PLAY, 2, 8, 0, kS + 22, 4, "cb", {});
                break;
            case 16:
                engine_->DeletePlaybackMedia(2);
                deleted2 = true;
                break;
            default:
                break;
        }
    };
    auto first = [&](const Heard& h) {
        if (h.kind != 1 || h.size == 0) return;
        if (deleted1) ++late;
        switch (++frames1) {
            case 3:
                engine_->OpenMedia(2, kS, kLast, 1, 2, cam1, false, false, 4, "",
                                   sink_.Data(second), sink_.OpenAnswer());
                break;
            case 6:
                engine_->ControlMedia(11, PLAYBACK_CONTROL_PLAY, 1, 2, 0, kS + 3, 4, "", {});
                break;
            case 12:
                engine_->DeletePlaybackMedia(1);
                deleted1 = true;
                break;
            default:
                break;
        }
    };
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "", false, false, first), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return deleted1 && deleted2; }));
    EXPECT_EQ(engine_->GetPlaybackMedia(1), nullptr);
    EXPECT_EQ(engine_->GetPlaybackMedia(2), nullptr);
    EXPECT_TRUE(WaitForThreadCount(base_)) << "the timer thread ended on its own";

    // A new first medium starts a timer thread again (the old one joined);
    // it deletes its channel from its own callback.
    std::atomic<bool> channelDeleted{false};
    auto third = [&](const Heard& h) {
        if (channelDeleted) ++late;
        if (h.kind == 1 && h.time == kS + 2 && !channelDeleted) {
            engine_->DeleteChannel(cam2, false);
            channelDeleted = true;
        }
    };
    ASSERT_EQ(Open(3, "cam2", kS, kLast, "", false, false, third), MEDIA_ERROR_NONE);
    EXPECT_EQ(ThreadCount(), base_ + 1);
    ASSERT_TRUE(sink_.WaitFor([&] { return channelDeleted.load(); }));
    EXPECT_EQ(engine_->GetPlaybackMedia(3), nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(late.load(), 0);
    engine_->DeletePlaybackMedia(3);
    EXPECT_EQ(ThreadCount(), base_);
}

// A callback that throws stops its own medium; the others go on being
// ticked.
TEST_F(PlaybackCallbacksTest, AThrowingCallbackStopsOnlyItsMedium) {
    std::atomic<int> heard{0};
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "", false, false,
                   [&](const Heard& h) {
                       if (h.kind == 1 && ++heard == 3) throw std::runtime_error("host failed");
                   }),
              MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam2", kS, kLast), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(2, kS + 1); }));
    EXPECT_FALSE(engine_->GetPlaybackMedia(1)->IsOpened());
    EXPECT_TRUE(engine_->GetPlaybackMedia(2)->IsOpened());
    EXPECT_EQ(heard.load(), 3);
}

// A backup's callbacks call into the engine (on the worker thread, under
// the backup's lock) while it is deleted from another thread, and, in a
// second round, from a callback on the timer thread: neither deadlocks, and
// nothing of the backup is heard after the delete returned.
TEST_F(PlaybackCallbacksTest, DeletingABackupWhoseCallbacksCallTheEngine) {
    std::atomic<bool> deleted{false};
    std::atomic<int> late{0};
    std::atomic<int> heard{0};
    auto busy = [&](const Heard&) {
        if (deleted) ++late;
        ++heard;
        engine_->GetPlaybackMedia(1);
        std::string cam = "cam1";
        media_channel_s channel;
        engine_->GetMediaChannel(cam, channel);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    };
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "", false, true, busy), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam2", kS, kLast), MEDIA_ERROR_NONE);  // keeps the timer busy
    ASSERT_TRUE(sink_.WaitFor([&] { return heard >= 50; }));
    engine_->DeletePlaybackMedia(1);
    deleted = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(late.load(), 0);
    const auto all = sink_.All();
    ASSERT_FALSE(all.empty());
    int finals = 0;
    for (const auto& h : all) {
        if (h.mediaId == 1 && h.backup && h.size == 0) {
            ++finals;
            EXPECT_EQ(h.endMarker, 0) << "stopped";
        }
    }
    EXPECT_EQ(finals, 1);

    // Round two: the timer thread's callback deletes the backup.
    deleted = false;
    heard = 0;
    std::atomic<bool> deleteNow{false};
    ASSERT_EQ(Open(3, "cam1", kS, kLast, "", false, true, busy), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(4, "cam2", kS, kLast, "", false, false,
                   [&](const Heard&) {
                       if (deleteNow.exchange(false)) {
                           engine_->DeletePlaybackMedia(3);
                           deleted = true;
                       }
                   }),
              MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return heard >= 50; }));
    deleteNow = true;
    ASSERT_TRUE(sink_.WaitFor([&] { return deleted.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Only a callback that had begun before the delete may still end after it.
    EXPECT_LE(late.load(), 1);
    EXPECT_EQ(engine_->GetPlaybackMedia(3), nullptr);
}

// The usual end of an export: the final header's callback gives the medium
// back, the last one, on the backup's worker thread.
TEST_F(PlaybackCallbacksTest, ABackupDeletesItselfAtItsEnd) {
    std::atomic<bool> deleted{false};
    ASSERT_EQ(Open(1, "cam1", kS, kS + 3, "", false, true,
                   [&](const Heard& h) {
                       if (h.backup && h.size == 0) {
                           engine_->DeletePlaybackMedia(1);
                           deleted = true;
                       }
                   }),
              MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return deleted.load(); }));
    EXPECT_EQ(engine_->GetPlaybackMedia(1), nullptr);
    EXPECT_EQ(ThreadCount(), base_);
    EXPECT_EQ(sink_.Videos(1).size(), 4u * 25u);
    EXPECT_EQ(Open(2, "cam1", kS, kLast, "", false, true), MEDIA_ERROR_NONE);
}

// Finalize stops playback while a callback on the timer thread calls into
// the engine (which takes the engine lock): it neither waits forever nor
// leaves a medium playing.
TEST_F(PlaybackCallbacksTest, FinalizeWhileCallbacksCallTheEngine) {
    std::atomic<int> heard{0};
    // Each callback keeps the timer thread a while before its call, so that
    // Finalize comes in between.
    auto calling = [&](const Heard&) {
        ++heard;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string cam = "cam1";
        media_channel_s channel;
        engine_->GetMediaChannel(cam, channel);
        std::map<long long, media_bookmark_s> bookmarks;
        engine_->GetBookmark(cam, bookmarks);
    };
    ASSERT_EQ(Open(1, "cam1", kS, kLast, "", false, false, calling), MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam2", kS, kLast, "s", false, false, calling), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return heard >= 5; }));
    auto done = std::async(std::launch::async, [&] { engine_->Finalize(false); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "Finalize did not return";
    EXPECT_FALSE(engine_->GetPlaybackMedia(1)->IsOpened());
    EXPECT_FALSE(engine_->GetPlaybackMedia(2)->IsOpened());
    engine_->Initialize();
}

// The engine goes away (without Finalize) with media playing and a backup
// running: the timer thread is joined and the backup stopped before the
// pools go, and nothing is heard afterwards.
TEST_F(PlaybackCallbacksTest, TheEngineGoesWithMediaPlaying) {
    ASSERT_EQ(
        Open(1, "cam1", kS, kLast, "", false, true,
             [](const Heard&) { std::this_thread::sleep_for(std::chrono::microseconds(200)); }),
        MEDIA_ERROR_NONE);
    ASSERT_EQ(Open(2, "cam2", kS, kLast, "s"), MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return sink_.SawVideo(2, kS) && sink_.Count() > 20; }));
    engine_.reset();
    const size_t heard = sink_.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sink_.Count(), heard);
}

}  // namespace
}  // namespace orvale::recorder
