// Playback media over a channel on drive D whose recordings are made through
// the engine's recorder (or, for store-level shapes, through the channel's
// file writers), driven tick by tick with a clock the test owns. A tick
// first waits for the reads already posted, so what is delivered at which
// tick does not depend on the disk.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recorder/playback/PlaybackMediaImpl.h"
#include "recorder/recording/Recorder.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/storage/ChannelFixture.h"
#include "tests/support/WaitFor.h"

namespace orvale::test {

inline constexpr uint32_t kMainType = recorder::PlaybackMediaImpl::kMainProfile;
inline constexpr uint32_t kLowType = recorder::PlaybackMediaImpl::kLowProfile;
inline constexpr int64_t kTickNs = 1'000'000;  // one tick of the playback timer

// How a recorded stream looks: 25 frames a second, 40 ms apart, each video
// frame followed by an audio frame (normal profile), one metadata document a
// second. Frame data: [profile, second's low byte, frame index, ...].
struct Stream {
    int keyEvery = 1;  // a key frame on every keyEvery-th second from the first
    uint32_t frameSize = 600;
    uint16_t width = 1920;
};

inline uint32_t StampOf(int64_t time, int frame) {
    return static_cast<uint32_t>(time * 1000 + frame * 40);
}

inline std::string MetaXml(int64_t time) {
    return "<MetadataStream><VideoAnalytics><Frame second=\"" + std::to_string(time) +
           "\"/></VideoAnalytics></MetadataStream>";
}

// One call of a medium's data callback.
struct Delivery {
    int64_t tick = 0;
    recorder::playback_media_header_s header;
    long size = 0;
    std::vector<uint8_t> head;      // the first bytes handed over
    const uint8_t* data = nullptr;  // valid only during the callback

    int kind() const { return header.kind; }
    int64_t time() const { return header.video.time; }
    uint8_t profile() const { return head.empty() ? 0 : head[0]; }
    int frame() const { return head.size() < 3 ? -1 : head[2]; }
};

struct Answer {
    int64_t tick = 0;
    unsigned seq = 0;
    unsigned result = 0;
    int counter = -1;  // -1 for an open's answer
};

class PlaybackFixture : public ChannelFixture {
  protected:
    void SetUp() override {
        ChannelFixture::SetUp();
        drive_ = AddDrive('D', 50 * kGiB);
        channel_ = MakeChannel();
        channel_->AddDrives({drive_});
    }

    // A read still queued when the pool goes drops its completion uncalled,
    // and the queue entry holding it keeps the drive and channel it reaches
    // alive for good: the reads a test left behind end first.
    void TearDown() override {
        for (const auto& [letter, drive] : drives_) {
            test::WaitFor(
                [&drive = drive] { return drive->GetReadCommandHandler()->PendingCount() == 0; },
                std::chrono::seconds(10));
        }
        ChannelFixture::TearDown();
    }

    // --- recordings ---
    std::shared_ptr<recorder::Recorder> StartRecorder() {
        recorder::Recorder::Clocks clocks{[] { return kDay1; }, [] { return int64_t{1} << 40; }};
        auto recorder = std::make_shared<recorder::Recorder>(
            1, channel_, recorder::media_encrypt_s{}, "1", 400LL << 20, &pool_, nullptr, 0, clocks);
        std::string id = "1";
        recorder->SetSchedule(id, FullSchedule(), {});
        recorder->SetUseFrameTime(true);
        EXPECT_TRUE(recorder->StartRecording());
        return recorder;
    }

    // Pushes the seconds [from, to] of one profile; metadata goes with the
    // normal profile.
    static void Push(recorder::IRecorder& recorder, int64_t from, int64_t to, int32_t profile,
                     const Stream& stream = {}) {
        for (int64_t t = from; t <= to; ++t) {
            std::vector<uint8_t> data(stream.frameSize, static_cast<uint8_t>(t));
            const bool keySecond = (t - from) % stream.keyEvery == 0;
            for (int i = 0; i < 25; ++i) {
                data[0] = static_cast<uint8_t>(profile);
                data[1] = static_cast<uint8_t>(t);
                data[2] = static_cast<uint8_t>(i);
                recorder::video_frame_header_s video;
                video.profile = profile;
                video.codec = 0x1B;
                video.frameType = keySecond && i == 0 ? 1 : 2;
                video.time = static_cast<uint64_t>(t);
                video.timeMs = StampOf(t, i);
                video.width = stream.width;
                video.height = static_cast<uint16_t>(stream.width * 9 / 16);
                ASSERT_TRUE(recorder.PushVideoFrame(video, data.data(), stream.frameSize, 0));
                if (profile != 1) continue;
                recorder::audio_frame_header_s audio;
                audio.codec = 0x10000;
                audio.timeMs = video.timeMs;
                audio.format0 = 16;
                audio.format1 = 8000;
                audio.format2 = 1;
                data[0] = 0xA1;
                ASSERT_TRUE(recorder.PushAudioFrame(audio, data.data(), 160));
            }
            if (profile == 1) {
                const std::string xml = MetaXml(t);
                ASSERT_TRUE(PushMeta(recorder, t, 1, xml));
            }
        }
    }

    // The seconds [from, to] of the normal profile, recorded and closed.
    void RecordThroughEngine(int64_t from, int64_t to, const Stream& stream = {}) {
        auto recorder = StartRecorder();
        Push(*recorder, from, to, 1, stream);
        recorder->StopRecording();
    }

    // --- media ---
    std::shared_ptr<recorder::PlaybackMediaImpl> Medium(uint32_t readBufferSize = 128 * 1024) {
        readBuffers_ = std::make_shared<recorder::BufferPool>(readBufferSize);
        return std::make_shared<recorder::PlaybackMediaImpl>(
            7, 1, channel_, "", &pool_, readBuffers_, [this] { return nowNs_.load(); });
    }

    recorder::OpenMediaCallback DataCallback() {
        return [this](recorder::playback_media_header_s* header, long size, unsigned char* data) {
            Delivery delivery;
            delivery.tick = tick_.load();
            delivery.header = *header;
            delivery.size = size;
            if (data != nullptr && size > 0) delivery.head.assign(data, data + std::min(size, 64L));
            delivery.data = data;
            std::function<void(const Delivery&)> hook;
            {
                std::lock_guard lock(mutex_);
                deliveries_.push_back(delivery);
                deliveries_.back().data = nullptr;
                hook = onDelivery_;
            }
            if (hook) hook(delivery);
            return 0L;
        };
    }

    void Open(recorder::PlaybackMediaImpl& medium, int64_t start, int64_t end, int speed,
              bool pause = false, bool backup = false, uint32_t profile = kMainType, int seq = 1) {
        medium.OpenMedia(seq, start, end, speed, pause, backup, profile, DataCallback(),
                         [this](unsigned s, unsigned result) {
                             std::lock_guard lock(mutex_);
                             answers_.push_back({tick_.load(), s, result, -1});
                         });
    }

    recorder::ControlMediaResponseCallback ControlAnswer() {
        return [this](unsigned s, unsigned result, unsigned char counter) {
            std::lock_guard lock(mutex_);
            answers_.push_back({tick_.load(), s, result, counter});
        };
    }

    void Control(recorder::PlaybackMediaImpl& medium, int seq, unsigned type, int64_t time,
                 int speed, uint32_t profile = kMainType) {
        medium.ControlMedia(seq, type, time, speed, profile, ControlAnswer());
    }

    // Waits for the posted reads, runs one tick (at the session time
    // `syncTime`, 0 for none) and moves the clock 1 ms on.
    void Tick(recorder::PlaybackMediaImpl& medium, int count = 1, int64_t syncTime = 0) {
        for (int i = 0; i < count; ++i) {
            for (int wait = 0; wait < 20000 && medium.IsReadPending(); ++wait) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            ASSERT_FALSE(medium.IsReadPending()) << "a read did not land";
            medium.Process(syncTime);
            ++tick_;
            nowNs_ += kTickNs;
        }
    }

    // Ticks until `count` video frames were delivered or `limit` ticks ran.
    void TickUntilVideos(recorder::PlaybackMediaImpl& medium, size_t count, int limit) {
        for (int i = 0; i < limit && Videos().size() < count; ++i) Tick(medium);
    }

    std::vector<Delivery> Deliveries() {
        std::lock_guard lock(mutex_);
        return deliveries_;
    }
    std::vector<Delivery> Videos() {
        std::vector<Delivery> videos;
        for (const auto& d : Deliveries()) {
            if (d.kind() == 1) videos.push_back(d);
        }
        return videos;
    }
    std::vector<Answer> Answers() {
        std::lock_guard lock(mutex_);
        return answers_;
    }
    void ClearDeliveries() {
        std::lock_guard lock(mutex_);
        deliveries_.clear();
    }
    void OnDelivery(std::function<void(const Delivery&)> hook) {
        std::lock_guard lock(mutex_);
        onDelivery_ = std::move(hook);
    }

    std::shared_ptr<recorder::Drive> drive_;
    std::shared_ptr<recorder::Channel> channel_;
    std::shared_ptr<recorder::BufferPool> readBuffers_;
    std::atomic<int64_t> tick_{0};
    std::atomic<int64_t> nowNs_{int64_t{1} << 40};
    std::mutex mutex_;
    std::vector<Delivery> deliveries_;
    std::vector<Answer> answers_;
    std::function<void(const Delivery&)> onDelivery_;
};

}  // namespace orvale::test
