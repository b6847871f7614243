// The recorder's frame headers made from the fields of old frame and
// metadata records. Codes the tables do not know become codec 0, which the
// recorder refuses for audio; times in milliseconds are 32-bit and wrap, as
// the recorder keeps them.
#pragma once

#include <cstdint>

#include "converter/RecordLayout.h"
#include "recorder/api/MediaTypes.h"

namespace orvale::converter {

// The recorder's video codec value of an old video codec number.
int32_t VideoCodec(uint8_t code);
// The recorder's audio codec value of an old audio codec letter.
int32_t AudioCodec(uint8_t letter);

// seconds x 1000 + milliseconds in unsigned 32-bit arithmetic.
inline uint32_t WrappedMilliseconds(uint32_t seconds, uint32_t milliseconds) {
    return seconds * 1000u + milliseconds;
}

recorder::video_frame_header_s VideoHeader(const rec_frame_record_s& record);
recorder::audio_frame_header_s AudioHeader(const rec_frame_record_s& record);
recorder::meta_frame_header_s MetaHeader(uint32_t seconds, uint32_t milliseconds);

}  // namespace orvale::converter
