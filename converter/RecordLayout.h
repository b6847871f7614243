// The on-disk layout of recordings left by the older recorder: media data
// files (".nmd", ".nmb") and metadata files (".nmt"). Every multi-byte field
// is little-endian. The structures below hold only the fields that are used;
// each Decode function takes exactly the bytes of its structure, so decoding
// never depends on the host's packing or byte order and never reads past the
// bytes it is given.
#pragma once

#include <cstdint>
#include <span>

namespace orvale::converter {

inline constexpr uint32_t kRecMagic = 0x324E4448;  // "HDN2"
inline constexpr char kRecVersion[] = "Ver 4.0";   // the only version that can be read
inline constexpr uint32_t kMaxFileOffset = 0x12C00000;

inline constexpr uint32_t kFileHeaderSize = 100;
inline constexpr uint32_t kSegmentTableSize = 292;
inline constexpr uint32_t kSegmentIndexSize = 29040;
inline constexpr uint32_t kMinuteBlockSize = 540;
inline constexpr uint32_t kSecondRecordSize = 252;
inline constexpr uint32_t kChunkHeaderSize = 296;
inline constexpr uint32_t kExtraFrameSize = 16;
// Chunk data lies behind the file header and at least one segment index.
inline constexpr uint32_t kFirstChunkData = kFileHeaderSize + kSegmentIndexSize;

inline constexpr int kSegmentSlots = 24;
inline constexpr int kMaxSegments = 23;
inline constexpr int kSecondFrames = 30;  // frame slots of a second record and a chunk header
inline constexpr uint32_t kMaxChunkFrames = 320;
inline constexpr uint8_t kAudioKind = 10;

// Frame records: payloads start behind a header of these lengths.
inline constexpr uint32_t kAudioRecordHeader = 72;
inline constexpr uint32_t kVideoRecordHeader = 76;

struct rec_file_header_s {
    uint32_t magic = 0;
    char version[8] = {};  // NUL-terminated when valid; compared up to and including the NUL
    uint32_t startTime = 0;
    uint32_t sizeValue = 0;
};

struct rec_segment_table_s {
    int32_t count = 0;
    uint32_t offset[kSegmentSlots] = {};
    uint16_t hour[kSegmentSlots] = {};
    uint16_t minute[kSegmentSlots] = {};
    uint16_t second[kSegmentSlots] = {};
    uint16_t msec[kSegmentSlots] = {};
};

struct rec_segment_index_s {
    uint32_t minuteOffset[60] = {};     // 0: the minute is absent
    uint32_t secondValue[60][60] = {};  // [minute][second]; 0: nothing recorded
};

struct rec_minute_entry_s {
    uint32_t secondOffset = 0;
    int8_t flag = 0;
    int8_t recordCount = 0;
};

struct rec_minute_block_s {
    rec_minute_entry_s entry[60];
};

struct rec_second_record_s {
    uint16_t frameCount = 0;
    uint8_t reserved = 0;
    uint32_t chunkOffset[kSecondFrames] = {};  // 0: no frame
    uint16_t frameIndex[kSecondFrames] = {};
};

struct rec_chunk_header_s {
    uint32_t dataOffset = 0;
    uint32_t frameOffset[kSecondFrames] = {};  // from dataOffset
    uint32_t frameSize[kSecondFrames] = {};
    uint8_t frameKind[kSecondFrames] = {};
    uint8_t reserved = 0;
    uint32_t frameCount = 0;
    uint32_t extraSize = 0;  // chunk bytes of the frames behind the first 30
};

// Describes frame i >= 30 of a chunk; its record lies at base + relativeOffset.
struct rec_extra_frame_s {
    uint32_t base = 0;
    uint32_t relativeOffset = 0;
    uint32_t size = 0;
    uint32_t kind = 0;
};

// The fields of a frame record that are used. Video and audio records share
// the first 52 bytes; from there video has its size and frame type, audio its
// format bits.
struct rec_frame_record_s {
    uint8_t codec = 0;
    uint32_t dataSize = 0;
    uint32_t seconds = 0;
    uint32_t milliseconds = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t format = 0;
    uint16_t frameType = 0;
};
inline constexpr uint32_t kFrameFieldsSize = 58;  // bytes that hold every field above

inline constexpr uint32_t kNmtFileHeaderSize = 16;
inline constexpr uint32_t kNmtSkippedBlockSize = 40;
inline constexpr uint32_t kNmtRecordHeaderSize = 49;
inline constexpr uint32_t kNmtTrailerSize = 8 + 12;
inline constexpr uint32_t kNmtEntrySize = 20;
inline constexpr uint32_t kNmtClosingBlockSize = 12;
inline constexpr uint32_t kNmtMaxPayload = 0x100000;
inline constexpr uint32_t kNmtMaxEntries = 32;
inline constexpr uint32_t kNmtMaxRecordType = 49;
inline constexpr char kNmtMagic[7] = {'S', 'V', 'K', 'V', 'T', 'H', '\0'};

struct nmt_file_header_s {
    uint32_t marker = 0;  // not 0: the file holds nothing to convert
    uint32_t firstRecord = 0;
    uint32_t skippedBlock = 0;
};

struct nmt_record_header_s {
    char magic[7] = {};
    uint32_t payloadLength = 0;
    uint32_t seconds = 0;
    uint32_t milliseconds = 0;
    uint32_t recordType = 0;  // 0 ends the records
};

using Bytes = std::span<const uint8_t>;

rec_file_header_s DecodeFileHeader(std::span<const uint8_t, kFileHeaderSize> bytes);
rec_segment_table_s DecodeSegmentTable(std::span<const uint8_t, kSegmentTableSize> bytes);
rec_segment_index_s DecodeSegmentIndex(std::span<const uint8_t, kSegmentIndexSize> bytes);
rec_minute_block_s DecodeMinuteBlock(std::span<const uint8_t, kMinuteBlockSize> bytes);
rec_second_record_s DecodeSecondRecord(std::span<const uint8_t, kSecondRecordSize> bytes);
rec_chunk_header_s DecodeChunkHeader(std::span<const uint8_t, kChunkHeaderSize> bytes);
rec_extra_frame_s DecodeExtraFrame(std::span<const uint8_t, kExtraFrameSize> bytes);
rec_frame_record_s DecodeFrameRecord(std::span<const uint8_t, kFrameFieldsSize> bytes);
nmt_file_header_s DecodeNmtFileHeader(std::span<const uint8_t, kNmtFileHeaderSize> bytes);
nmt_record_header_s DecodeNmtRecordHeader(std::span<const uint8_t, kNmtRecordHeaderSize> bytes);
// The entry count of the 12-byte block that follows a record's payload.
uint32_t DecodeNmtEntryCount(std::span<const uint8_t, 12> bytes);

}  // namespace orvale::converter
