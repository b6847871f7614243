// Backups (exports) on the worker pool, and reads still in flight when a
// medium stops or repositions: nothing lands in memory that another window
// owns (the sanitizer builds watch this).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "tests/playback/PlaybackFixture.h"

namespace orvale::recorder {
namespace {

using test::Delivery;
using test::kDay1;
using test::kHour;
using test::kMainType;
using test::Stream;

constexpr int64_t kS = kDay1 + 10 * kHour;

bool IsFinalHeader(const Delivery& d) {
    return d.kind() == 1 && d.header.backup == 1 && d.size == 0 && d.time() == 0;
}

class PlaybackBackupTest : public test::PlaybackFixture {
  protected:
    // Waits (at most 20 s) until a final header came and the medium closed.
    void WaitForEnd(PlaybackMediaImpl& medium) {
        for (int i = 0; i < 20000; ++i) {
            const auto all = Deliveries();
            if (!all.empty() && IsFinalHeader(all.back()) && !medium.IsOpened()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Anything that would still come after the final header.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    static size_t FinalHeaders(const std::vector<Delivery>& all) {
        size_t count = 0;
        for (const Delivery& d : all) count += IsFinalHeader(d) ? 1 : 0;
        return count;
    }
};

TEST_F(PlaybackBackupTest, DeliversEveryFrameOfTheRangeThenOneFinalHeader) {
    RecordThroughEngine(kS, kS + 29);
    auto medium = Medium();
    bool answeredFirst = false;
    OnDelivery([&](const Delivery&) {
        if (!answeredFirst) answeredFirst = !Answers().empty();
    });
    Open(*medium, kS + 5, kS + 14, 1, false, true, kMainType, 3);
    EXPECT_TRUE(medium->IsBackup());
    medium->Process(0);  // the container never drives a backup; it is not driven here
    WaitForEnd(*medium);

    const auto all = Deliveries();
    ASSERT_EQ(all.size(), 10u * 25 * 2 + 1);
    EXPECT_TRUE(answeredFirst);
    const auto answers = Answers();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].seq, 3u);
    EXPECT_EQ(answers[0].result, 0u);
    for (size_t i = 0; i + 1 < all.size(); i += 2) {
        const Delivery& video = all[i];
        const Delivery& audio = all[i + 1];
        const size_t frame = i / 2;
        ASSERT_EQ(video.kind(), 1) << i;
        EXPECT_EQ(video.time(), kS + 5 + static_cast<int64_t>(frame / 25));
        EXPECT_EQ(video.frame(), static_cast<int>(frame % 25));
        EXPECT_EQ(video.header.video.gopCount, static_cast<int>(frame % 25) + 1);
        EXPECT_EQ(video.header.backup, 1);
        EXPECT_EQ(video.header.video.endMarker, 0);
        ASSERT_EQ(audio.kind(), 2) << i;
        EXPECT_EQ(audio.header.value, video.header.value);
        EXPECT_EQ(audio.header.backup, 1);
    }
    const Delivery& last = all.back();
    ASSERT_TRUE(IsFinalHeader(last));
    EXPECT_EQ(last.header.mediaId, 7u);
    EXPECT_EQ(last.header.value, 0u);
    EXPECT_EQ(last.header.video.endMarker, 3);
    EXPECT_EQ(last.header.video.gopCount, 0);
    EXPECT_EQ(last.header.video.width, 0);
    EXPECT_EQ(last.header.video.responseCounter, 0);
    EXPECT_FALSE(medium->IsOpened());
    OnDelivery({});
    const auto lines = log_.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const test::LogLine& line) {
                                return line.text.ends_with("MID[7], backup end");
                            }),
              1);
}

TEST_F(PlaybackBackupTest, EndsWithTheRecording) {
    RecordThroughEngine(kS, kS + 29);
    auto medium = Medium();
    Open(*medium, kS + 25, kS + kHour, 1, false, true);
    WaitForEnd(*medium);
    const auto all = Deliveries();
    ASSERT_EQ(all.size(), 5u * 25 * 2 + 1);
    EXPECT_EQ(all.front().time(), kS + 25);
    EXPECT_EQ(all[all.size() - 3].time(), kS + 29);
    EXPECT_EQ(all.back().header.video.endMarker, 3);
    EXPECT_EQ(FinalHeaders(all), 1u);
}

TEST_F(PlaybackBackupTest, ReportsARangeWithoutRecording) {
    RecordThroughEngine(kS, kS + 9);
    auto medium = Medium();
    Open(*medium, kS + 2 * kHour, kS + 3 * kHour, 1, false, true);
    WaitForEnd(*medium);
    const auto answers = Answers();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].result, MEDIA_ERROR_OPEN_FAILED);
    const auto all = Deliveries();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(IsFinalHeader(all[0]));
    EXPECT_EQ(all[0].header.video.endMarker, 4);

    // A range that ends before the first key frame of its start.
    ClearDeliveries();
    auto early = Medium();
    Open(*early, kS - 100, kS - 50, 1, false, true);
    WaitForEnd(*early);
    ASSERT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Deliveries()[0].header.video.endMarker, 4);
    EXPECT_EQ(Answers().back().result, MEDIA_ERROR_OPEN_FAILED);
}

TEST_F(PlaybackBackupTest, AStoppedBackupSendsOneFinalHeader) {
    RecordThroughEngine(kS, kS + 29);
    auto medium = Medium();
    int videos = 0;
    OnDelivery([&](const Delivery& d) {
        if (d.kind() == 1 && !IsFinalHeader(d) && ++videos == 10) {
            medium->ControlMedia(5, PLAYBACK_CONTROL_STOP, 0, 1, kMainType, ControlAnswer());
        }
    });
    Open(*medium, kS, kS + 29, 1, false, true);
    WaitForEnd(*medium);
    const auto all = Deliveries();
    EXPECT_EQ(FinalHeaders(all), 1u);
    ASSERT_TRUE(IsFinalHeader(all.back()));
    EXPECT_EQ(all.back().header.video.endMarker, 0);
    EXPECT_EQ(videos, 10);
    ASSERT_EQ(Answers().size(), 2u);
    EXPECT_EQ(Answers()[1].seq, 5u);
    OnDelivery({});
}

// A stop or a seek while a read is still on its way: the buffer of that read
// never goes back to the pool (where the next window could take it), the
// read lands in memory nobody else has, and the new window reads what it
// asked for. The drive's read queue of the channel is held up by a command
// of the test's own, so the reads are surely still on their way; rounds
// without it race real reads (the sanitizer builds watch those).
TEST_F(PlaybackBackupTest, StopsAndRepositionsWhileAReadIsInFlight) {
    Stream stream;
    stream.frameSize = 40000;
    RecordThroughEngine(kS, kS + 19, stream);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool held = round < 6;
        ReadCommandHandler::Done release;
        if (held) {
            // Started once the reads of the rounds before have landed.
            auto started = std::make_shared<std::promise<ReadCommandHandler::Done>>();
            auto future = started->get_future();
            ReadCommandHandler::ReadCommand blocker;
            blocker.start = [started](unsigned, ReadCommandHandler::Done done) {
                started->set_value(std::move(done));
            };
            blocker.completion = [](uint32_t, uint32_t, uint64_t) {};
            drive_->GetReadCommandHandler()->Enqueue("cam1", std::move(blocker));
            ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
            release = future.get();
        }
        ClearDeliveries();
        auto medium = Medium(4 << 20);
        Open(*medium, kS, kS + 19, 1);
        medium->Process(0);  // answers and posts the first read
        if (held) {
            EXPECT_TRUE(medium->IsReadPending());
        }
        const bool seek = round % 2 == 1;
        if (seek) {
            Control(*medium, 2, PLAYBACK_CONTROL_SEEK, kS + 10, 1);
            ClearDeliveries();  // a fast first read may have shown a frame
        } else if (round % 4 == 0) {
            medium->Stop();
        } else {
            Control(*medium, 2, PLAYBACK_CONTROL_STOP, 0, 1);
        }
        if (held) {
            EXPECT_EQ(readBuffers_->FreeCount(), 0u);
            release(0, 0, 0);
        }
        if (seek) {
            TickUntilVideos(*medium, 26, 2000);
            const auto videos = Videos();
            ASSERT_EQ(videos.size(), 26u);
            for (size_t i = 0; i < videos.size(); ++i) {
                EXPECT_EQ(videos[i].time(), kS + 10 + static_cast<int64_t>(i / 25));
                EXPECT_EQ(videos[i].head[1], static_cast<uint8_t>(kS + 10 + i / 25));
                EXPECT_EQ(videos[i].frame(), static_cast<int>(i % 25));
            }
        } else {
            EXPECT_FALSE(medium->IsOpened());
            Tick(*medium, 5);
            EXPECT_TRUE(Videos().empty() || !held);
        }
        medium.reset();
    }
}

}  // namespace
}  // namespace orvale::recorder
