// Frames for the store's tests: headers filled the way the recording
// pipeline fills them, data bytes that tell frames apart.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "recorder/store/FrameBuffer.h"
#include "recorder/store/FrameRecord.h"

namespace orvale::test {

using recorder::audio_frame_info_s;
using recorder::FrameBuffer;
using recorder::record_header_s;
using recorder::timeline_flags_s;
using recorder::video_frame_info_s;

struct VideoFrame {
    record_header_s header;
    video_frame_info_s info;
    std::vector<uint8_t> data;
};

struct AudioFrame {
    record_header_s header;
    audio_frame_info_s info;
    std::vector<uint8_t> data;
};

inline VideoFrame MakeVideo(uint64_t time, bool key, uint32_t size, uint8_t fill = 0x5A) {
    VideoFrame frame;
    frame.header.type = recorder::RECORD_TYPE_VIDEO;
    frame.header.infoLength = recorder::kVideoInfoLength;
    frame.header.payloadLength = size + recorder::kVideoInfoLength;
    frame.info.codec = 0x1B;
    frame.info.time = time;
    frame.info.timeMs = static_cast<uint32_t>(time * 1000);
    frame.info.width = 1920;
    frame.info.height = 1080;
    frame.info.frameType = key ? 1 : 2;
    frame.data.assign(size, fill);
    return frame;
}

inline AudioFrame MakeAudio(uint32_t size, uint8_t fill = 0xA5) {
    AudioFrame frame;
    frame.header.type = recorder::RECORD_TYPE_AUDIO;
    frame.header.infoLength = recorder::kAudioInfoLength;
    frame.header.payloadLength = size + recorder::kAudioInfoLength;
    frame.info.codec = 0x10001;
    frame.info.format0 = 2;
    frame.data.assign(size, fill);
    return frame;
}

inline bool Add(FrameBuffer& buffer, const VideoFrame& frame, const timeline_flags_s& flags = {}) {
    return buffer.AddVideoFrame(frame.header, frame.info, frame.data.data(),
                                static_cast<uint32_t>(frame.data.size()), flags);
}

inline bool Add(FrameBuffer& buffer, const AudioFrame& frame) {
    return buffer.AddAudioFrame(frame.header, frame.info, frame.data.data(),
                                static_cast<uint32_t>(frame.data.size()));
}

// One second of exactly `used` bytes: a single video frame (a key frame
// unless `key` is false) with the given time.
inline std::shared_ptr<FrameBuffer> SecondOf(uint64_t time, uint32_t used, bool key = true,
                                             uint8_t fill = 0x5A) {
    auto buffer = FrameBuffer::Create();
    Add(*buffer, MakeVideo(time, key,
                           used - recorder::kRecordHeaderSize - recorder::kVideoInfoLength, fill));
    return buffer;
}

}  // namespace orvale::test
