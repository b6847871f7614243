// Lays out old-format media and metadata files byte by byte, from the field
// offsets of the format, independently of the reader's decoding. One chunk
// holds the frames of one second; every 30 frames of a second take one second
// record, and frames behind the first 30 of a chunk are described by extra
// entries. The offsets of every structure written are kept, so tests can
// damage exactly one of them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orvale::oldformat {

struct test_frame_s {
    bool audio = false;
    uint8_t codec = 1;
    uint32_t seconds = 0;
    uint32_t milliseconds = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t format = 0;  // audio only
    uint16_t frameType = 0;
    std::string payload;
};

struct test_second_s {
    int minute = 0;
    int second = 0;
    uint32_t eventFlags = 1;
    std::vector<test_frame_s> frames;
};

struct test_chunk_s {
    uint32_t header = 0;
    uint32_t data = 0;
    std::vector<uint32_t> records;  // record offsets from data
};

class OldFileBytes {
  public:
    std::vector<uint8_t> bytes;

    uint32_t Alloc(uint32_t size) {
        const auto at = static_cast<uint32_t>(bytes.size());
        bytes.resize(bytes.size() + size);
        return at;
    }
    void Put8(uint32_t at, uint8_t value) { bytes.at(at) = value; }
    void Put16(uint32_t at, uint16_t value) {
        for (int i = 0; i < 2; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
    }
    void Put32(uint32_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
    }
    void PutText(uint32_t at, const std::string& text) {
        std::memcpy(bytes.data() + at, text.data(), text.size());
    }
    void Save(const std::filesystem::path& path) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
};

class OldMediaWriter : public OldFileBytes {
  public:
    // Offsets of what was written, in writing order.
    std::vector<uint32_t> segmentIndexes;
    std::vector<uint32_t> minuteBlocks;
    std::vector<uint32_t> secondRecords;
    std::vector<test_chunk_s> chunks;

    // One segment per entry of `segments`.
    explicit OldMediaWriter(const std::vector<std::vector<test_second_s>>& segments,
                            uint32_t startTime = 1700000000,
                            const std::string& version = "Ver 4.0") {
        Alloc(100);
        PutText(0, "HDN2");
        PutText(4, version);
        Put32(12, startTime);
        Put32(16, 0x1000000);
        Alloc(292);
        Put32(100, static_cast<uint32_t>(segments.size()));
        for (size_t i = 0; i < segments.size(); ++i) {
            const uint32_t index = Alloc(29040);
            segmentIndexes.push_back(index);
            Put32(104 + 4 * i, index);
            Put16(200 + 2 * i, 10);  // hour
        }
        for (size_t i = 0; i < segments.size(); ++i) WriteSegment(segmentIndexes[i], segments[i]);
    }

  private:
    void WriteSegment(uint32_t index, const std::vector<test_second_s>& seconds) {
        int blockMinute = -1;
        uint32_t block = 0;
        for (const test_second_s& second : seconds) {
            if (second.minute != blockMinute) {
                blockMinute = second.minute;
                block = Alloc(540);
                minuteBlocks.push_back(block);
                Put32(index + 4 * second.minute, block);
            }
            Put32(index + 240 + 4 * (60 * second.minute + second.second), second.eventFlags);
            const uint32_t chunk = WriteChunk(second.frames);
            const auto records = static_cast<uint32_t>((second.frames.size() + 29) / 30);
            const uint32_t entry = block + 60 + 8 * second.second;
            for (uint32_t r = 0; r < records; ++r) {
                const uint32_t record = Alloc(252);
                secondRecords.push_back(record);
                if (r == 0) Put32(entry, record);
                const uint32_t first = 30 * r;
                const auto count =
                    static_cast<uint32_t>(std::min<size_t>(30, second.frames.size() - first));
                Put16(record, static_cast<uint16_t>(count));
                for (uint32_t t = 0; t < count; ++t) {
                    Put32(record + 12 + 4 * t, chunk);
                    Put16(record + 132 + 2 * t, static_cast<uint16_t>(first + t));
                }
            }
            Put8(entry + 4, 1);  // flag
            Put8(entry + 5, static_cast<uint8_t>(records));
        }
    }

    uint32_t WriteChunk(const std::vector<test_frame_s>& frames) {
        const auto count = static_cast<uint32_t>(frames.size());
        const uint32_t extras = count > 30 ? count - 30 : 0;
        test_chunk_s chunk;
        chunk.header = Alloc(296 + 16 * extras);
        chunk.data = static_cast<uint32_t>(bytes.size());
        Put32(chunk.header, chunk.data);
        Put32(chunk.header + 288, count);
        uint32_t extraSize = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const test_frame_s& frame = frames[i];
            const uint32_t headerSize = frame.audio ? 72 : 76;
            const auto size = static_cast<uint32_t>(headerSize + frame.payload.size());
            const uint32_t record = Alloc(size);
            chunk.records.push_back(record - chunk.data);
            Put8(record + 33, frame.codec);
            Put32(record + 36, static_cast<uint32_t>(frame.payload.size()));
            Put32(record + 40, frame.seconds);
            Put32(record + 44, frame.milliseconds);
            if (frame.audio) {
                Put32(record + 52, frame.format);
            } else {
                Put16(record + 52, frame.width);
                Put16(record + 54, frame.height);
                Put16(record + 56, frame.frameType);
            }
            PutText(record + headerSize, frame.payload);
            const uint8_t kind = frame.audio ? 10 : 1;
            if (i < 30) {
                Put32(chunk.header + 4 + 4 * i, record - chunk.data);
                Put32(chunk.header + 124 + 4 * i, size);
                Put8(chunk.header + 244 + i, kind);
            } else {
                const uint32_t entry = chunk.header + 296 + 16 * (i - 30);
                Put32(entry, chunk.data);
                Put32(entry + 4, record - chunk.data);
                Put32(entry + 8, size);
                Put32(entry + 12, kind);
                extraSize += size;
            }
        }
        Put32(chunk.header + 292, extraSize);
        chunks.push_back(chunk);
        return chunk.header;
    }
};

struct test_meta_s {
    uint32_t seconds = 0;
    uint32_t milliseconds = 0;
    uint32_t recordType = 1;
    std::string payload;
    uint32_t entries = 0;
};

// A metadata file: the header, the block it points at, then the records.
class OldMetaWriter : public OldFileBytes {
  public:
    std::vector<uint32_t> records;  // offsets of the record headers

    explicit OldMetaWriter(const std::vector<test_meta_s>& metas) {
        Alloc(16);
        Put32(8, Alloc(40));
        Put32(4, static_cast<uint32_t>(bytes.size()));
        for (const test_meta_s& meta : metas) {
            const uint32_t header = Alloc(49);
            records.push_back(header);
            PutText(header + 2, std::string("SVKVTH\0", 7));
            Put32(header + 13, static_cast<uint32_t>(meta.payload.size()));
            Put32(header + 17, meta.seconds);
            Put32(header + 21, meta.milliseconds);
            Put32(header + 25, meta.recordType);
            PutText(Alloc(static_cast<uint32_t>(meta.payload.size())), meta.payload);
            const uint32_t trailer = Alloc(8 + 12);
            Put32(trailer + 16, meta.entries);
            Alloc(20 * meta.entries + 12);
        }
        Alloc(49);  // a closing header of type 0
    }
};

// Frame bytes for synthetic recordings: they depend on `seed` (a channel,
// a frame) and on their place in the frame, so a byte moved or lost shows.
inline std::string SyntheticPayload(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

}  // namespace orvale::oldformat
