#include "converter/FrameHeaders.h"

namespace orvale::converter {

int32_t VideoCodec(uint8_t code) {
    switch (code) {
        case 1:
            return 0x1;
        case 2:
            return 0x2;
        case 3:
            return 0x4;
        case 4:
            return 0x8;
        case 17:
            return 0x10;
        case 18:
            return 0x20;
        case 19:
            return 0x40;
        case 20:
            return 0x100;
        default:
            return 0;
    }
}

int32_t AudioCodec(uint8_t letter) {
    switch (letter) {
        case 'A':
            return 0x10000;
        case 'B':
            return 0x20000;
        case 'C':
            return 0x40000;
        case 'D':
            return 0x80000;
        case 'E':
            return 0x100000;
        case 'F':
            return 0x200000;
        case 'G':
            return 0x400000;
        case 'H':
            return 0x20000;  // the old recorder stored H with B's value
        case 'I':
            return 0x10000000;
        case 'J':
            return 0x20000000;
        default:
            return 0;
    }
}

recorder::video_frame_header_s VideoHeader(const rec_frame_record_s& record) {
    recorder::video_frame_header_s header;
    header.profile = 1;
    header.codec = VideoCodec(record.codec);
    header.frameType = record.frameType & 0x7;
    header.time = record.seconds;
    header.timeMs = WrappedMilliseconds(record.seconds, record.milliseconds);
    header.width = record.width;
    header.height = record.height;
    return header;
}

recorder::audio_frame_header_s AudioHeader(const rec_frame_record_s& record) {
    const uint32_t low = record.format & 0x3;
    const uint32_t middle = (record.format >> 2) & 0x3F;
    const uint32_t high = (record.format >> 8) & 0xF;
    recorder::audio_frame_header_s header;
    header.profile = 1;
    header.codec = AudioCodec(record.codec);
    header.timeMs = WrappedMilliseconds(record.seconds, record.milliseconds);
    header.format0 = static_cast<uint16_t>(low);
    header.format1 = middle;
    header.format2 = middle * high;
    return header;
}

recorder::meta_frame_header_s MetaHeader(uint32_t seconds, uint32_t milliseconds) {
    recorder::meta_frame_header_s header;
    header.profile = 1;
    header.time = seconds;
    header.timeMs = WrappedMilliseconds(seconds, milliseconds);
    return header;
}

}  // namespace orvale::converter
