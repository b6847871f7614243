// Frames pushed into a recorder the way a camera sends them: each second 25
// video frames (the first a key frame), with audio on the normal profile.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "recorder/api/Interfaces.h"

namespace orvale::test {

inline const std::string kMetaXml =
    "<MetadataStream><VideoAnalytics><Frame/></VideoAnalytics></MetadataStream>";

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

inline bool PushMeta(recorder::IRecorder& recorder, int64_t t, int32_t profile = 1,
                     const std::string& xml = kMetaXml) {
    recorder::meta_frame_header_s meta;
    meta.profile = profile;
    meta.time = t;
    meta.timeMs = static_cast<uint32_t>(t * 1000);
    return recorder.PushMetaFrame(meta, xml.data(), static_cast<uint32_t>(xml.size()));
}

}  // namespace orvale::test
