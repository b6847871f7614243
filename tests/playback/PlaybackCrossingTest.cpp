// Playback across the borders of what it reads: hours, data files, seconds
// recorded only in the low profile, the live edge of a recording, jumps in
// the frames' timestamps, and a data file that lost its tail.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/DirectFile.h"
#include "tests/playback/PlaybackFixture.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::Delivery;
using test::kDay1;
using test::kHour;
using test::Stream;

constexpr int64_t kH = kDay1 + 11 * kHour;  // 11:00:00 UTC
constexpr int64_t kS = kDay1 + 10 * kHour;

std::vector<int64_t> TimesOf(const std::vector<Delivery>& videos) {
    std::vector<int64_t> times;
    times.reserve(videos.size());
    for (const Delivery& d : videos) times.push_back(d.time());
    return times;
}

std::vector<int64_t> Range(int64_t from, int64_t to, int64_t step = 1) {
    std::vector<int64_t> times;
    if (step > 0) {
        for (int64_t t = from; t <= to; t += step) times.push_back(t);
    } else {
        for (int64_t t = from; t >= to; t += step) times.push_back(t);
    }
    return times;
}

class PlaybackCrossingTest : public test::PlaybackFixture {
  protected:
    // Plays from `start` at `speed` until `count` video frames came or the
    // medium stopped by itself; returns the frames.
    std::vector<Delivery> Play(int64_t start, int speed, size_t count, int limit = 60000,
                               uint32_t profile = test::kMainType) {
        ClearDeliveries();
        tick_ = 0;
        auto medium = Medium();
        Open(*medium, start, start + 2 * kHour, speed, false, false, profile);
        Tick(*medium, 2);
        for (int i = 0; i < limit && Videos().size() < count && medium->IsOpened(); ++i) {
            Tick(*medium);
        }
        return Videos();
    }

    // Key-frame seconds written through the channel's file writer of the
    // hour, one frame a second, with the given timestamps.
    std::shared_ptr<FileWriter> WriteSeconds(
        int64_t fileStart, const std::vector<std::pair<int64_t, uint32_t>>& seconds,
        std::shared_ptr<FileWriter> writer = nullptr,
        const std::function<uint32_t(int64_t)>& frameSize = {}) {
        if (!writer) writer = channel_->GetFileWriter(kProfileNormal, 1, fileStart, 64 << 20);
        EXPECT_TRUE(writer);
        auto buffer = std::make_shared<WriteBuffer>(1 << 20);
        for (const auto& [time, stamp] : seconds) {
            auto second = FrameBuffer::Create();
            auto frame =
                test::MakeVideo(static_cast<uint64_t>(time), true,
                                frameSize ? frameSize(time) : 3000, static_cast<uint8_t>(time));
            frame.info.timeMs = stamp;
            timeline_flags_s flags;
            flags.time = time;
            flags.eventBits = 0x10;
            test::Add(*second, frame, flags);
            buffer->Append(second);
        }
        EXPECT_EQ(WriteAndWait(*writer, buffer).error, 0);
        return writer;
    }
    static std::vector<std::pair<int64_t, uint32_t>> Stamped(int64_t from, int64_t to) {
        std::vector<std::pair<int64_t, uint32_t>> seconds;
        for (int64_t t = from; t <= to; ++t) {
            seconds.emplace_back(t, static_cast<uint32_t>(100000 + (t - from) * 1000));
        }
        return seconds;
    }
};

TEST_F(PlaybackCrossingTest, CrossesAnHourForwardAndInReverse) {
    RecordThroughEngine(kH - 10, kH + 9);

    EXPECT_EQ(TimesOf(Play(kH - 10, 8, 20)), Range(kH - 10, kH + 9));
    EXPECT_EQ(TimesOf(Play(kH + 9, -8, 20)), Range(kH + 9, kH - 10, -1));

    // Every frame at speed 1, on time across the border, with the new
    // hour's metadata.
    const auto videos = Play(kH - 1, 1, 50);
    ASSERT_EQ(videos.size(), 50u);
    for (size_t i = 0; i < videos.size(); ++i) {
        EXPECT_EQ(videos[i].time(), kH - 1 + static_cast<int64_t>(i / 25));
        EXPECT_EQ(videos[i].frame(), static_cast<int>(i % 25));
        if (i > 0) {
            EXPECT_EQ(videos[i].tick - videos[i - 1].tick, 39) << i;
        }
    }
    size_t metadata = 0;
    for (const Delivery& d : Deliveries()) metadata += d.kind() == 3 ? 1 : 0;
    EXPECT_EQ(metadata, 2u);

    // The end of the recording ends playback; on the way there, the read
    // ahead that finds nothing further is tried once a second, not per step.
    log_.Clear();
    auto medium = Medium();
    Open(*medium, kH + 5, kH + kHour, 1);
    Tick(*medium, 6000);
    EXPECT_FALSE(medium->IsOpened());
    EXPECT_EQ(Videos().back().time(), kH + 9);
    EXPECT_GE(log_.Count("], Not found file reader. #2"), 1u);
    EXPECT_LE(log_.Count("], Not found file reader. #2"), 6u);
}

// With a key frame every 4 s an hour may start without one: forward the
// seconds before its first key frame are still shown; in reverse a jump of
// more than 3 s between key frames is shown at once.
TEST_F(PlaybackCrossingTest, CrossesAnHourWithAKeyFrameEveryFourSeconds) {
    Stream stream;
    stream.keyEvery = 4;  // key frames at H-10, H-6, H-2, H+2, H+6
    RecordThroughEngine(kH - 10, kH + 9, stream);

    auto videos = Play(kH - 10, 8, 5);
    EXPECT_EQ(TimesOf(videos), (std::vector<int64_t>{kH - 10, kH - 6, kH - 2, kH + 2, kH + 6}));
    for (size_t i = 1; i < videos.size(); ++i) EXPECT_EQ(videos[i].tick - videos[i - 1].tick, 125);

    videos = Play(kH - 2, 1, 100);
    ASSERT_EQ(videos.size(), 100u);
    for (size_t i = 0; i < videos.size(); ++i) {
        EXPECT_EQ(videos[i].time(), kH - 2 + static_cast<int64_t>(i / 25)) << i;
        EXPECT_EQ(videos[i].frame(), static_cast<int>(i % 25)) << i;
        EXPECT_EQ(videos[i].header.video.gopCount, static_cast<int>(i + 1)) << i;
    }

    videos = Play(kH + 9, -1, 5);
    EXPECT_EQ(TimesOf(videos), (std::vector<int64_t>{kH + 6, kH + 2, kH - 2, kH - 6, kH - 10}));
    for (size_t i = 1; i < videos.size(); ++i) EXPECT_EQ(videos[i].tick - videos[i - 1].tick, 1);
}

// Seconds recorded only in the low profile are shown from it while the main
// profile is asked for; main takes over again where it has data.
TEST_F(PlaybackCrossingTest, SwitchesToTheLowProfileWhereOnlyItRecorded) {
    auto recorder = StartRecorder();
    Stream low;
    low.width = 640;
    for (int64_t t = kS; t < kS + 30; ++t) {
        Push(*recorder, t, t, 2, low);
        if (t < kS + 10 || t >= kS + 20) Push(*recorder, t, t, 1);
    }
    recorder->StopRecording();

    const auto profiles = [](const std::vector<Delivery>& videos) {
        std::vector<std::pair<int64_t, int>> seen;
        seen.reserve(videos.size());
        for (const Delivery& d : videos) seen.emplace_back(d.time(), d.header.video.width);
        return seen;
    };
    std::vector<std::pair<int64_t, int>> expected;
    for (int64_t t = kS + 5; t < kS + 25; ++t) {
        expected.emplace_back(t, t < kS + 10 || t >= kS + 20 ? 1920 : 640);
    }
    EXPECT_EQ(profiles(Play(kS + 5, 8, 20)), expected);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(profiles(Play(kS + 24, -8, 20)), expected);

    // Frame by frame across the switch: nothing lost, nothing twice.
    const auto videos = Play(kS + 9, 1, 50);
    ASSERT_EQ(videos.size(), 50u);
    for (size_t i = 0; i < videos.size(); ++i) {
        EXPECT_EQ(videos[i].time(), kS + 9 + static_cast<int64_t>(i / 25)) << i;
        EXPECT_EQ(videos[i].frame(), static_cast<int>(i % 25)) << i;
        EXPECT_EQ(videos[i].profile(), i < 25 ? 1 : 2) << i;
        if (i > 0) {
            EXPECT_EQ(videos[i].tick - videos[i - 1].tick, 39) << i;
        }
    }
}

TEST_F(PlaybackCrossingTest, CrossesDataFilesOfOneHour) {
    WriteSeconds(kS, Stamped(kS, kS + 9))->Close();
    auto second = channel_->GetFileWriter(kProfileNormal, 1, kS + 10, 8 << 20);
    WriteSeconds(kS + 10, Stamped(kS + 10, kS + 19), second)->Close();

    EXPECT_EQ(TimesOf(Play(kS, 8, 20)), Range(kS, kS + 19));
    EXPECT_EQ(TimesOf(Play(kS + 19, -8, 20)), Range(kS + 19, kS, -1));
}

// At the live edge at speed 1 the newest second waits for the one after it,
// tried once a second; once it is written, playback goes on.
TEST_F(PlaybackCrossingTest, WaitsAtTheLiveEdgeAndGoesOnWhenMoreIsWritten) {
    auto writer = WriteSeconds(kS, Stamped(kS, kS + 4));
    auto medium = Medium();
    Open(*medium, kS + 3, kS + kHour, 1);
    Tick(*medium, 1500);
    EXPECT_EQ(TimesOf(Videos()), (std::vector<int64_t>{kS + 3}));
    EXPECT_TRUE(medium->IsOpened());
    EXPECT_EQ(log_.Count("] Retry start"), 1u);
    EXPECT_GE(log_.Count("] Retry count="), 1u);

    auto more = Stamped(kS, kS + 9);
    more.erase(more.begin(), more.begin() + 5);
    WriteSeconds(kS, more, writer);
    Tick(*medium, 4000);
    EXPECT_EQ(TimesOf(Videos()), Range(kS + 3, kS + 7));
    EXPECT_EQ(log_.Count("] Retry success="), 1u);
    writer->Close();
}

// A forward jump of the timestamps by more than 2 s restarts the pacing (the
// frame goes out at once); one of 2 s is waited for.
TEST_F(PlaybackCrossingTest, RestartsPacingAfterATimestampGap) {
    WriteSeconds(kS, {{kS, 100000},
                      {kS + 1, 101000},
                      {kS + 2, 103001},
                      {kS + 3, 104001},
                      {kS + 4, 106001},
                      {kS + 5, 107001}})
        ->Close();
    const auto videos = Play(kS, 1, 6, 20000);
    ASSERT_EQ(videos.size(), 6u);
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < videos.size(); ++i) gaps.push_back(videos[i].tick - videos[i - 1].tick);
    EXPECT_EQ(gaps, (std::vector<int64_t>{999, 1, 999, 1999, 999}));
    EXPECT_EQ(log_.Count("], Timestamp Gap, LastTimestamp=101000, CurrentTimestamp=103001"), 1u);
}

// A session medium that reaches a gap of more than 5 s tells the session
// where its next frame is, so that the session can jump there.
TEST_F(PlaybackCrossingTest, TellsTheSessionWhereItsNextFrameIs) {
    auto seconds = Stamped(kS, kS + 4);
    for (int64_t t = kS + 20; t <= kS + 24; ++t) {
        seconds.emplace_back(t, static_cast<uint32_t>(100000 + (t - kS) * 1000));
    }
    WriteSeconds(kS, seconds)->Close();
    auto medium = Medium();
    Open(*medium, kS, kS + kHour, 1);
    Tick(*medium, 10, kS + 2);
    EXPECT_TRUE(medium->IsWaitingForSync());
    EXPECT_EQ(medium->GetNextFrameTime(), 0);  // the next second follows
    medium->ClearWaitingForSync();
    Tick(*medium, 2100, kS + 4);  // two seconds of stream after the last one shown
    EXPECT_TRUE(medium->IsWaitingForSync());
    EXPECT_EQ(medium->GetNextFrameTime(), kS + 20);
    medium->ClearWaitingForSync();
    Tick(*medium, 10, kS + 20);
    EXPECT_EQ(TimesOf(Videos()), (std::vector<int64_t>{kS + 2, kS + 4, kS + 20}));
    EXPECT_EQ(medium->GetNextFrameTime(), 0);
}

// PROFILE changes the profile where the medium stands; a pause stays, and
// metadata comes again once it plays.
TEST_F(PlaybackCrossingTest, ChangesProfileWhereItStands) {
    auto recorder = StartRecorder();
    Stream low;
    low.width = 640;
    for (int64_t t = kS; t < kS + 20; ++t) {
        Push(*recorder, t, t, 1);
        Push(*recorder, t, t, 2, low);
    }
    recorder->StopRecording();

    auto medium = Medium();
    Open(*medium, kS + 2, kS + kHour, 1);
    TickUntilVideos(*medium, 26, 2000);
    Control(*medium, 2, PLAYBACK_CONTROL_PROFILE, kS + 5, 1, test::kLowType);
    ClearDeliveries();
    TickUntilVideos(*medium, 26, 2000);
    auto videos = Videos();
    ASSERT_EQ(videos.size(), 26u);
    EXPECT_EQ(videos[0].time(), kS + 5);
    for (const Delivery& d : videos) EXPECT_EQ(d.header.video.width, 640);
    size_t metadata = 0;
    for (const Delivery& d : Deliveries()) metadata += d.kind() == 3 ? 1 : 0;
    EXPECT_EQ(metadata, 2u);

    Control(*medium, 3, PLAYBACK_CONTROL_PAUSE, 0, 1);
    Tick(*medium, 100);
    ClearDeliveries();
    Control(*medium, 4, PLAYBACK_CONTROL_PROFILE, kS + 10, 1, test::kMainType);
    Tick(*medium, 300);
    videos = Videos();
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_EQ(videos[0].time(), kS + 10);
    EXPECT_EQ(videos[0].header.video.width, 1920);
    EXPECT_EQ(medium->GetState(), PLAYBACK_CONTROL_PAUSE);
}

// A second larger than the read buffer grows it, also one of 9 MiB (a 4K
// camera's); one larger than any read buffer is skipped with an error line,
// and playback goes on past it.
TEST_F(PlaybackCrossingTest, GrowsForLargeSecondsAndSkipsTooLargeOnes) {
    auto writer = channel_->GetFileWriter(kProfileNormal, 1, kS, 256 << 20);
    WriteSeconds(kS, Stamped(kS, kS + 4), writer, [](int64_t t) -> uint32_t {
        if (t == kS + 1) return 5 << 20;
        if (t == kS + 2) return 9 << 20;
        if (t == kS + 3) return ReadBuffer::kMaxCapacity;
        return 3000;
    })->Close();
    const std::vector<int64_t> shown{kS, kS + 1, kS + 2, kS + 4};
    EXPECT_EQ(TimesOf(Play(kS, 8, 4, 3000)), shown);
    EXPECT_EQ(Videos()[1].size, 5 << 20);
    EXPECT_EQ(Videos()[2].size, 9 << 20);
    EXPECT_GE(log_.Count("], Resize #1, current max size="), 1u);
    EXPECT_GE(log_.Count("], A second larger than any read buffer is skipped."), 1u);
    EXPECT_EQ(TimesOf(Play(kS + 4, -8, 4, 3000)),
              (std::vector<int64_t>{kS + 4, kS + 2, kS + 1, kS}));
}

// A data file cut short: what is there is shown, then playback ends.
TEST_F(PlaybackCrossingTest, EndsCleanlyOnATruncatedDataFile) {
    Stream stream;
    stream.frameSize = 4000;
    RecordThroughEngine(kS, kS + 29, stream);
    fs::path data;
    for (const auto& entry : fs::recursive_directory_iterator(host_.Path())) {
        if (entry.path().extension() == ".kvthdt") data = entry.path();
    }
    ASSERT_FALSE(data.empty());
    const auto size = static_cast<int64_t>(fs::file_size(data));
    ASSERT_FALSE(platform::TruncateFile(data, (size - (1 << 20)) / 2 + 123));

    for (const int speed : {8, 1, -8}) {
        SCOPED_TRACE("speed " + std::to_string(speed));
        ClearDeliveries();
        auto medium = Medium();
        Open(*medium, speed > 0 ? kS : kS + 29, kS + kHour, speed);
        Tick(*medium, 2);
        for (int i = 0; i < 200000 && medium->IsOpened(); ++i) Tick(*medium);
        EXPECT_FALSE(medium->IsOpened());
        const auto times = TimesOf(Videos());
        ASSERT_FALSE(times.empty());
        EXPECT_LT(times.size(), speed == 1 ? 30u * 25 : 30u);
        // The cut lies in the second half of the recording's seconds.
        if (speed < 0) {
            EXPECT_GT(times.front(), kS + 10);
            EXPECT_LT(times.front(), kS + 29);
            EXPECT_EQ(times.back(), kS);
            EXPECT_TRUE(std::is_sorted(times.rbegin(), times.rend()));
        } else {
            EXPECT_EQ(times.front(), kS);
            EXPECT_GT(times.back(), kS + 10);
            EXPECT_LT(times.back(), kS + 29);
            EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
        }
    }
}

}  // namespace
}  // namespace orvale::recorder
