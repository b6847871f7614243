// Frames pushed into a recorder the way a camera sends them: each second 25
// video frames (the first a key frame), with audio on the normal profile.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/api/Interfaces.h"

namespace orvale::test {

inline const std::string kMetaXml =
    "<MetadataStream><VideoAnalytics><Frame/></VideoAnalytics></MetadataStream>";

// The status codes a recorder's callback heard, from the engine's threads.
class HeardStatuses {
  public:
    void Listen(recorder::IRecorder& recorder) {
        recorder.SetEventCallback([this](const std::string&, int32_t code, int64_t) {
            const std::lock_guard lock(mutex_);
            codes_.push_back(code);
        });
    }
    bool Heard(int32_t code) const {
        const std::lock_guard lock(mutex_);
        return std::find(codes_.begin(), codes_.end(), code) != codes_.end();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<int32_t> codes_;
};

inline recorder::media_schedule_s FullSchedule() {
    recorder::media_schedule_s schedule;
    std::fill(std::begin(schedule.table), std::end(schedule.table), uint8_t{1});
    return schedule;
}

inline void PushSecond(recorder::IRecorder& recorder, int64_t t, int32_t profile = 1,
                       uint32_t eventFlags = 0, uint32_t frameSize = 2000) {
    std::vector<uint8_t> data(frameSize, static_cast<uint8_t>(t));
    for (int i = 0; i < 25; ++i) {
        recorder::video_frame_header_s video;
        video.profile = profile;
        video.codec = 0x1B;
        video.frameType = i == 0 ? 1 : 2;
        video.time = static_cast<uint64_t>(t);
        video.timeMs = static_cast<uint32_t>(t * 1000 + i * 40);
        ASSERT_TRUE(recorder.PushVideoFrame(video, data.data(), frameSize, eventFlags));
        if (profile == 1 && i % 5 == 0) {
            recorder::audio_frame_header_s audio;
            audio.codec = 0x10000;
            audio.timeMs = video.timeMs;
            ASSERT_TRUE(recorder.PushAudioFrame(audio, data.data(), 320));
        }
    }
}

// Seconds [from, from + count) of video, each pushed once the writes before
// it are done, so that no write buffer outgrows a data file. Once they are,
// the count is at most 1 (the buffer being filled), so waiting for 0 would
// only wait out the timeout.
inline void PushSecondsPaced(recorder::IRecorder& recorder, int64_t from, int64_t count) {
    for (int64_t t = from; t < from + count; ++t) {
        PushSecond(recorder, t);
        recorder.WaitWriteBufferCount(1, 2000);
    }
}

inline bool PushMeta(recorder::IRecorder& recorder, int64_t t, int32_t profile = 1,
                     const std::string& xml = kMetaXml) {
    recorder::meta_frame_header_s meta;
    meta.profile = profile;
    meta.time = t;
    meta.timeMs = static_cast<uint32_t>(t * 1000);
    return recorder.PushMetaFrame(meta, xml.data(), static_cast<uint32_t>(xml.size()));
}

// The stored frames of a camera's disconnection, seconds [from, to]: a key
// frame and a second frame each, filled with the second's low byte.
inline void PushArbSeconds(recorder::IArbRecorder& arb, int64_t from, int64_t to,
                           uint32_t frameSize = 1500) {
    for (int64_t t = from; t <= to; ++t) {
        const std::vector<uint8_t> data(frameSize, static_cast<uint8_t>(t));
        for (int frame = 0; frame < 2; ++frame) {
            recorder::video_frame_header_s header;
            header.profile = 3;
            header.codec = 0x1B;
            header.frameType = frame == 0 ? 1 : 2;
            header.time = static_cast<uint64_t>(t);
            header.timeMs = static_cast<uint32_t>(t * 1000 + frame * 500);
            header.width = 1920;
            header.height = 1080;
            ASSERT_TRUE(arb.PushVideoFrame(header, data.data(), frameSize));
        }
    }
}

}  // namespace orvale::test
