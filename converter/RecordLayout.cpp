#include "converter/RecordLayout.h"

#include <cstring>

namespace orvale::converter {
namespace {

uint16_t Le16(Bytes bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

uint32_t Le32(Bytes bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

}  // namespace

rec_file_header_s DecodeFileHeader(std::span<const uint8_t, kFileHeaderSize> bytes) {
    rec_file_header_s header;
    header.magic = Le32(bytes, 0);
    std::memcpy(header.version, bytes.data() + 4, sizeof(header.version));
    header.startTime = Le32(bytes, 12);
    header.sizeValue = Le32(bytes, 16);
    return header;
}

rec_segment_table_s DecodeSegmentTable(std::span<const uint8_t, kSegmentTableSize> bytes) {
    rec_segment_table_s table;
    table.count = static_cast<int32_t>(Le32(bytes, 0));
    for (int i = 0; i < kSegmentSlots; ++i) {
        table.offset[i] = Le32(bytes, 4 + 4 * i);
        table.hour[i] = Le16(bytes, 100 + 2 * i);
        table.minute[i] = Le16(bytes, 148 + 2 * i);
        table.second[i] = Le16(bytes, 196 + 2 * i);
        table.msec[i] = Le16(bytes, 244 + 2 * i);
    }
    return table;
}

rec_segment_index_s DecodeSegmentIndex(std::span<const uint8_t, kSegmentIndexSize> bytes) {
    rec_segment_index_s index;
    for (size_t m = 0; m < 60; ++m) {
        index.minuteOffset[m] = Le32(bytes, 4 * m);
        for (size_t s = 0; s < 60; ++s) {
            index.secondValue[m][s] = Le32(bytes, 240 + 4 * (60 * m + s));
        }
    }
    return index;
}

rec_minute_block_s DecodeMinuteBlock(std::span<const uint8_t, kMinuteBlockSize> bytes) {
    rec_minute_block_s block;
    for (int s = 0; s < 60; ++s) {
        const size_t at = 60 + 8 * s;
        block.entry[s].secondOffset = Le32(bytes, at);
        block.entry[s].flag = static_cast<int8_t>(bytes[at + 4]);
        block.entry[s].recordCount = static_cast<int8_t>(bytes[at + 5]);
    }
    return block;
}

rec_second_record_s DecodeSecondRecord(std::span<const uint8_t, kSecondRecordSize> bytes) {
    rec_second_record_s record;
    record.frameCount = Le16(bytes, 0);
    record.reserved = bytes[2];
    for (int t = 0; t < kSecondFrames; ++t) {
        record.chunkOffset[t] = Le32(bytes, 12 + 4 * t);
        record.frameIndex[t] = Le16(bytes, 132 + 2 * t);
    }
    return record;
}

rec_chunk_header_s DecodeChunkHeader(std::span<const uint8_t, kChunkHeaderSize> bytes) {
    rec_chunk_header_s header;
    header.dataOffset = Le32(bytes, 0);
    for (int i = 0; i < kSecondFrames; ++i) {
        header.frameOffset[i] = Le32(bytes, 4 + 4 * i);
        header.frameSize[i] = Le32(bytes, 124 + 4 * i);
        header.frameKind[i] = bytes[244 + i];
    }
    header.reserved = bytes[284];
    header.frameCount = Le32(bytes, 288);
    header.extraSize = Le32(bytes, 292);
    return header;
}

rec_extra_frame_s DecodeExtraFrame(std::span<const uint8_t, kExtraFrameSize> bytes) {
    return {Le32(bytes, 0), Le32(bytes, 4), Le32(bytes, 8), Le32(bytes, 12)};
}

rec_frame_record_s DecodeFrameRecord(std::span<const uint8_t, kFrameFieldsSize> bytes) {
    rec_frame_record_s record;
    record.codec = bytes[33];
    record.dataSize = Le32(bytes, 36);
    record.seconds = Le32(bytes, 40);
    record.milliseconds = Le32(bytes, 44);
    record.width = Le16(bytes, 52);
    record.height = Le16(bytes, 54);
    record.format = Le32(bytes, 52);
    record.frameType = Le16(bytes, 56);
    return record;
}

nmt_file_header_s DecodeNmtFileHeader(std::span<const uint8_t, kNmtFileHeaderSize> bytes) {
    return {Le32(bytes, 0), Le32(bytes, 4), Le32(bytes, 8)};
}

nmt_record_header_s DecodeNmtRecordHeader(std::span<const uint8_t, kNmtRecordHeaderSize> bytes) {
    nmt_record_header_s header;
    std::memcpy(header.magic, bytes.data() + 2, sizeof(header.magic));
    header.payloadLength = Le32(bytes, 13);
    header.seconds = Le32(bytes, 17);
    header.milliseconds = Le32(bytes, 21);
    header.recordType = Le32(bytes, 25);
    return header;
}

uint32_t DecodeNmtEntryCount(std::span<const uint8_t, 12> bytes) {
    return Le32(bytes, 8);
}

}  // namespace orvale::converter
