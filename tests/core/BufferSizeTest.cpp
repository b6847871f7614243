// The buffer size through the exported class: it reaches the read buffers
// of the pool that the next Initialize makes, which playback shows by the
// windows it reads. A size that cannot make a buffer is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/api/MediaRecorder.h"
#include "tests/core/PlaybackEngineFixture.h"
#include "tests/support/LogCapture.h"

namespace orvale::test {
namespace {

using recorder::MEDIA_ERROR_NONE;

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 2;
// 25 frames of 240,000 bytes: six million bytes a second.
constexpr uint32_t kFrameBytes = 240'000;
// A window read in whole sectors keeps two of them for its unaligned ends.
constexpr uint32_t kPartialSectors = 2 * 4096;

class BufferSizeTest : public PlaybackEngineFixture {
  protected:
    void SetUp() override {
        PlaybackEngineFixture::SetUp();
        std::string schedule = "1";
        std::string channel = "cam1";
        recorder::IRecorder* recorder = engine_->CreateRecorder(channel, schedule, 0, false);
        ASSERT_NE(recorder, nullptr);
        engine_->SetSchedule(schedule, FullSchedule(), {});
        recorder->SetUseFrameTime(true);
        ASSERT_TRUE(recorder->StartRecording());
        for (int64_t t = kS; t <= kLast; ++t) PushSecond(*recorder, t, 1, 0, kFrameBytes);
        recorder->StopRecording();
    }

    // Restarts the engine and plays.
    std::vector<std::string> PlayAfterRestart(uint32_t mediaId) {
        engine_->Finalize(false);
        engine_->Initialize();
        return Play(mediaId);
    }

    // Plays the three seconds through and answers the lines in which a read
    // buffer had to grow for a second.
    std::vector<std::string> Play(uint32_t mediaId) {
        LogCapture log;
        EXPECT_EQ(Open(mediaId, "cam1", kS, kLast), MEDIA_ERROR_NONE);
        EXPECT_TRUE(sink_.WaitFor([&] { return sink_.Videos(mediaId).size() >= 75; }));
        EXPECT_EQ(sink_.Videos(mediaId).size(), 75u);
        engine_->DeletePlaybackMedia(mediaId);
        std::vector<std::string> grown;
        for (const LogLine& line : log.Lines()) {
            if (line.text.find("], Resize #") != std::string::npos) grown.push_back(line.text);
        }
        return grown;
    }
};

TEST_F(BufferSizeTest, TheSizeReachesTheBuffersOfTheNextInitialize) {
    // Each grown buffer names the room it had.
    auto expectRoom = [](const std::vector<std::string>& grown, uint32_t size) {
        ASSERT_FALSE(grown.empty());
        const std::string room = "current max size=" + std::to_string(size - kPartialSectors);
        for (const std::string& line : grown) EXPECT_NE(line.find(room), std::string::npos) << line;
    };
    // Until the engine starts again, the pool it has keeps its buffers of
    // 4 MiB, which a second outgrows.
    engine_->SetBufferSize(8u << 20);
    EXPECT_EQ(engine_->GetBufferSize(), 8u << 20);
    expectRoom(Play(1), 4u << 20);

    // A second outgrows a buffer of 1 MiB.
    engine_->SetBufferSize(1u << 20);
    expectRoom(PlayAfterRestart(2), 1u << 20);

    // One of 8 MiB holds a whole second.
    engine_->SetBufferSize(8u << 20);
    EXPECT_EQ(PlayAfterRestart(3), std::vector<std::string>{});
}

TEST_F(BufferSizeTest, SizesThatMakeNoBufferAreRefused) {
    struct Case {
        unsigned bytes;
        unsigned kept;
    };
    const Case cases[] = {
        {0, 4u << 20}, {0xFFFFF001U, 4u << 20}, {0xFFFFFFFFU, 4u << 20}, {0xFFFFF000U, 0xFFFFF000U},
        {1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        engine_->SetBufferSize(4u << 20);
        LogCapture log;
        engine_->SetBufferSize(c.bytes);
        EXPECT_EQ(engine_->GetBufferSize(), c.kept);
        EXPECT_EQ(log.LinesFrom(common::kLogError).size(), c.kept == c.bytes ? 0u : 1u);
    }
}

}  // namespace
}  // namespace orvale::test
