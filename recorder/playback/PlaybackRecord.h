// One frame record as playback sees it in a filled read buffer: checked
// against the bytes it may use before any length in it is believed.
#pragma once

#include <cstdint>
#include <cstring>

#include "recorder/store/FrameRecord.h"

namespace orvale::recorder {

struct FrameRecordView {
    uint8_t type = 0;
    uint64_t length = 0;  // header, information and media bytes
    const uint8_t* info = nullptr;
    const uint8_t* media = nullptr;
    uint32_t mediaSize = 0;

    template <class T>
    T InfoField(uint32_t offset) const {
        T value;
        std::memcpy(&value, info + offset, sizeof(T));
        return value;
    }
    // Video information fields.
    int64_t VideoTime() const { return static_cast<int64_t>(InfoField<uint64_t>(4)); }
    uint32_t VideoStamp() const { return InfoField<uint32_t>(12); }
    bool IsKeyFrame() const { return info[20] == kKeyFrameType; }
};

enum class RecordCheck {
    kRecord,      // a whole record of a known type with a sound information length
    kNotRecord,   // no record header at the position
    kIncomplete,  // longer than the bytes left
    kInvalid,     // a type or information length that no record has
};

// Looks at the record at `position`, using no byte at or past `limit`.
inline RecordCheck ViewRecord(const uint8_t* bytes, uint64_t position, uint64_t limit,
                              FrameRecordView& view) {
    if (position + kRecordHeaderSize > limit) return RecordCheck::kIncomplete;
    record_header_s header;
    std::memcpy(&header, bytes + position, kRecordHeaderSize);
    if (header.zero != 0 || header.marker != 1) return RecordCheck::kNotRecord;
    view.type = header.type;
    uint16_t infoLength = 0;
    switch (header.type) {
        case RECORD_TYPE_VIDEO:
            infoLength = kVideoInfoLength;
            break;
        case RECORD_TYPE_AUDIO:
            infoLength = kAudioInfoLength;
            break;
        case RECORD_TYPE_SKIP:
        case RECORD_TYPE_END:
            break;
        default:
            return RecordCheck::kInvalid;
    }
    if (header.infoLength != infoLength || header.payloadLength < infoLength) {
        return RecordCheck::kInvalid;
    }
    view.length = uint64_t{kRecordHeaderSize} + header.payloadLength;
    if (header.type == RECORD_TYPE_END) view.length = kRecordHeaderSize;
    if (view.length > limit - position) return RecordCheck::kIncomplete;
    view.info = bytes + position + kRecordHeaderSize;
    view.media = view.info + infoLength;
    view.mediaSize = header.payloadLength - infoLength;
    return RecordCheck::kRecord;
}

}  // namespace orvale::recorder
