// Every second the recorder stores comes back whole, through MediaRecorder
// and the media it hands out: a clip at 100 Mbit/s (seconds of 12.5 MB,
// larger than a read buffer's usual size) played forward, in reverse and
// exported, byte for byte; and an export that meets a second it cannot read
// ends with a final header that says so, never with the one of a complete
// export.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/recording/ProfileChunk.h"
#include "recorder/store/FrameRecord.h"
#include "recorder/store/ReadBuffer.h"
#include "tests/core/PlaybackEngineFixture.h"

namespace orvale::recorder {
namespace {

using test::kMainProfileType;
using test::kPlayStart;

// The read side holds the largest second the write side takes.
static_assert(ReadBuffer::kMaxCapacity >= ProfileChunk::kSecondByteLimit + 2 * kSectorSize);

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 3;
constexpr uint32_t kBigFrame = 500'000;  // 25 a second: 100 Mbit/s
constexpr int kFramesPerSecond = 25;

uint32_t StampOf(int64_t t, int frame) {
    return static_cast<uint32_t>(t * 1000 + int64_t{frame} * 40);
}

std::vector<uint8_t> FrameBytes(uint32_t stamp, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = stamp * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return bytes;
}

// What one medium was handed: the bytes of each video frame by stamp, in
// the order they came, and its final headers.
class Collected {
  public:
    OpenMediaCallback Data() {
        return [this](playback_media_header_s* header, long size, unsigned char* data) {
            std::lock_guard lock(mutex_);
            if (header->kind != 1) return 0L;
            if (size == 0 && header->backup != 0) {
                finals_.push_back(header->video.endMarker);
            } else if (size > 0) {
                order_.push_back(header->value);
                frames_[header->value].assign(data, data + size);
            }
            return 0L;
        };
    }
    size_t Frames() {
        std::lock_guard lock(mutex_);
        return order_.size();
    }
    std::vector<uint32_t> Order() {
        std::lock_guard lock(mutex_);
        return order_;
    }
    std::vector<int> Finals() {
        std::lock_guard lock(mutex_);
        return finals_;
    }
    // True when the frame of `stamp` came with exactly the bytes recorded.
    bool Whole(uint32_t stamp, uint32_t size) {
        std::lock_guard lock(mutex_);
        const auto found = frames_.find(stamp);
        return found != frames_.end() && found->second == FrameBytes(stamp, size);
    }

  private:
    std::mutex mutex_;
    std::map<uint32_t, std::vector<uint8_t>> frames_;
    std::vector<uint32_t> order_;
    std::vector<int> finals_;
};

class PlaybackWholeSecondsTest : public test::PlaybackEngineFixture {
  protected:
    // Seconds of 25 frames of `size` bytes each, every frame its own bytes.
    void RecordFrames(std::string channel, int64_t from, int64_t to, uint32_t size) {
        std::string schedule = "1";
        IRecorder* recorder = engine_->CreateRecorder(channel, schedule, 0, false);
        ASSERT_NE(recorder, nullptr);
        engine_->SetSchedule(schedule, test::FullSchedule(), {});
        recorder->SetUseFrameTime(true);
        ASSERT_TRUE(recorder->StartRecording());
        for (int64_t t = from; t <= to; ++t) {
            for (int i = 0; i < kFramesPerSecond; ++i) {
                video_frame_header_s video;
                video.profile = 1;
                video.codec = 0x1B;
                video.frameType = i == 0 ? 1 : 2;
                video.time = static_cast<uint64_t>(t);
                video.timeMs = StampOf(t, i);
                const auto bytes = FrameBytes(video.timeMs, size);
                ASSERT_TRUE(recorder->PushVideoFrame(video, bytes.data(), size, 0));
            }
        }
        recorder->StopRecording();
    }

    std::string cam_ = "cam1";
};

TEST_F(PlaybackWholeSecondsTest, AClipAt100MbitPlaysAndExportsEveryFrameWhole) {
    RecordFrames(cam_, kS, kLast, kBigFrame);
    constexpr size_t kAll = (kLast - kS + 1) * kFramesPerSecond;

    Collected forward;
    ASSERT_EQ(engine_->OpenMedia(1, kS, kLast, 1, 1, cam_, false, false, kMainProfileType, "",
                                 forward.Data(), sink_.OpenAnswer()),
              MEDIA_ERROR_NONE);
    Collected exported;
    ASSERT_EQ(engine_->OpenMedia(2, kS, kLast, 1, 2, cam_, false, true, kMainProfileType, "",
                                 exported.Data(), sink_.OpenAnswer()),
              MEDIA_ERROR_NONE);
    Collected reverse;
    PlaybackMedia* medium = engine_->CreatePlaybackMedia(3, 1, cam_, "");
    ASSERT_NE(medium, nullptr);
    medium->OpenMedia(3, kLast, kS, -1, false, false, kMainProfileType, reverse.Data(),
                      sink_.OpenAnswer());

    ASSERT_TRUE(sink_.WaitFor([&] { return !exported.Finals().empty(); }));
    ASSERT_TRUE(sink_.WaitFor([&] { return forward.Frames() >= kAll; }));
    ASSERT_TRUE(
        sink_.WaitFor([&] { return reverse.Frames() >= static_cast<size_t>(kLast - kS + 1); }));
    for (const auto& answer : sink_.Opens()) EXPECT_EQ(answer.result, MEDIA_ERROR_NONE);

    EXPECT_EQ(exported.Finals(), std::vector<int>{3});
    EXPECT_EQ(exported.Frames(), kAll);
    EXPECT_EQ(forward.Frames(), kAll);
    std::vector<uint32_t> keys;
    for (int64_t t = kS; t <= kLast; ++t) {
        for (int i = 0; i < kFramesPerSecond; ++i) {
            EXPECT_TRUE(forward.Whole(StampOf(t, i), kBigFrame)) << t << " frame " << i;
            EXPECT_TRUE(exported.Whole(StampOf(t, i), kBigFrame)) << t << " frame " << i;
        }
        EXPECT_TRUE(reverse.Whole(StampOf(t, 0), kBigFrame)) << t;
        keys.insert(keys.begin(), StampOf(t, 0));
    }
    EXPECT_EQ(reverse.Order(), keys) << "key frames, newest first";
    for (const unsigned id : {1u, 2u, 3u}) engine_->DeletePlaybackMedia(id);  // before their sinks
}

// The data file of the channel, the only one recorded.
std::filesystem::path DataFileUnder(const std::filesystem::path& root) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        char magic[4] = {};
        file.read(magic, 4);
        if (file && std::memcmp(magic, "QZDF", 4) == 0) return entry.path();
    }
    return {};
}

// Overwrites the header of the `n`th video record (from 0) with bytes that
// are no record.
void BreakVideoRecord(const std::filesystem::path& path, int n) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    uint64_t offset = 4096;
    for (;;) {
        record_header_s header;
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(&header), sizeof header);
        ASSERT_TRUE(file && header.zero == 0 && header.marker == 1) << offset;
        ASSERT_NE(header.type, RECORD_TYPE_END);
        if (header.type == RECORD_TYPE_VIDEO && n-- == 0) break;
        offset += kRecordHeaderSize + header.payloadLength;
    }
    const char broken[kRecordHeaderSize] = {'b', 'r', 'o', 'k', 'e', 'n'};
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(broken, sizeof broken);
    ASSERT_TRUE(file.good());
}

TEST_F(PlaybackWholeSecondsTest, AnExportThatCannotReadASecondEndsFailed) {
    Record(cam_, {{kS, kS + 9}});
    const auto path = DataFileUnder(DriveRoot('D'));
    ASSERT_FALSE(path.empty());
    BreakVideoRecord(path, 3 * kFramesPerSecond + 5);

    Collected exported;
    ASSERT_EQ(engine_->OpenMedia(1, kS, kS + 9, 1, 1, cam_, false, true, kMainProfileType, "",
                                 exported.Data(), sink_.OpenAnswer()),
              MEDIA_ERROR_NONE);
    ASSERT_TRUE(sink_.WaitFor([&] { return !exported.Finals().empty(); }));
    EXPECT_EQ(exported.Finals(), std::vector<int>{4});
    EXPECT_LT(exported.Frames(), 10u * kFramesPerSecond);
    engine_->DeletePlaybackMedia(1);  // before its sink
}

}  // namespace
}  // namespace orvale::recorder
