// The frame record: a 12-byte header, a fixed information block (27 bytes for
// video, 19 for audio) and the frame's data. Frame buffers, write buffers and
// data files hold the same bytes, so these layouts are a file format: packed,
// little-endian, never to be reordered.
//
// Records follow one another without alignment. Before a write, a skip record
// pads the data to the next 4096-byte sector and an end record starts the
// sector after it; the next write overwrites that end record.
#pragma once

#include <bit>
#include <cstdint>

namespace orvale::recorder {

static_assert(std::endian::native == std::endian::little,
              "frame records are stored in the machine's byte order");

enum record_type_e : uint8_t {
    RECORD_TYPE_VIDEO = 0xA0,
    RECORD_TYPE_AUDIO = 0xB0,
    RECORD_TYPE_SKIP = 0xFE,  // filler up to a sector boundary
    RECORD_TYPE_END = 0xFF,   // end of the written data
};

inline constexpr uint64_t kSectorSize = 4096;
inline constexpr uint16_t kVideoInfoLength = 27;
inline constexpr uint16_t kAudioInfoLength = 19;

#pragma pack(push, 1)

struct record_header_s {
    uint16_t zero = 0;  // with `marker`, what a reader recognises a record by
    uint8_t marker = 1;
    uint8_t type = 0;  // record_type_e
    uint16_t version = 1;
    uint16_t infoLength = 0;  // 27 video, 19 audio, 0 skip and end
    // Video and audio: info length + data length. Skip: the bytes after the
    // header up to the next record. End: 0.
    uint32_t payloadLength = 0;
};

struct video_frame_info_s {
    uint32_t codec = 0;
    uint64_t time = 0;  // recording second, seconds since 1970 (UTC)
    uint32_t timeMs = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t frameType = 0;  // 1 = key frame
    uint8_t reserved0 = 0;
    uint16_t reserved1 = 0;
    uint8_t extra[3] = {};  // from the recording pipeline's record template
};

struct audio_frame_info_s {
    uint32_t codec = 0;
    uint32_t timeMs = 0;
    uint16_t format0 = 0;
    uint32_t format1 = 0;
    uint32_t format2 = 0;
    uint8_t extra = 0;  // from the recording pipeline's record template
};

#pragma pack(pop)

static_assert(sizeof(record_header_s) == 12);
static_assert(sizeof(video_frame_info_s) == kVideoInfoLength);
static_assert(sizeof(audio_frame_info_s) == kAudioInfoLength);

inline constexpr uint32_t kRecordHeaderSize = sizeof(record_header_s);
inline constexpr uint8_t kKeyFrameType = 1;
// Offsets inside a video record, counted from the record header.
inline constexpr uint32_t kVideoTimeOffset = kRecordHeaderSize + 4;
inline constexpr uint32_t kVideoFrameTypeOffset = kRecordHeaderSize + 20;

// A skip record whose payload reaches `gap` bytes past its own start.
constexpr record_header_s SkipRecord(uint32_t gap) {
    record_header_s header;
    header.type = RECORD_TYPE_SKIP;
    header.payloadLength = gap - kRecordHeaderSize;
    return header;
}

constexpr record_header_s EndRecord() {
    record_header_s header;
    header.type = RECORD_TYPE_END;
    return header;
}

// Bytes that pad `used` bytes of records up to a sector boundary. Never 0 and
// never below a record header, so a skip record always fits: a used length
// that ends 0..11 bytes before a boundary is padded into the next sector.
constexpr uint64_t PadLength(uint64_t used) {
    const uint64_t rest = kSectorSize - used % kSectorSize;
    return rest >= kRecordHeaderSize ? rest : rest + kSectorSize;
}

}  // namespace orvale::recorder
