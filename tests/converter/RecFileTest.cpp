#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "converter/FrameWalker.h"
#include "converter/RecFile.h"
#include "tests/support/TempDir.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::converter {
namespace {

using oldformat::OldMediaWriter;
using oldformat::test_chunk_s;
using oldformat::test_frame_s;
using oldformat::test_second_s;

test_frame_s Video(uint32_t seconds, uint32_t ms, const std::string& payload, uint8_t codec = 1) {
    return {false, codec, seconds, ms, 1920, 1080, 0, 0x0A, payload};
}

test_frame_s Audio(uint32_t seconds, uint32_t ms, const std::string& payload) {
    return {true, 'C', seconds, ms, 0, 0, 0x0A4D, 0, payload};
}

// Two minutes of a segment and one second of a second segment.
std::vector<std::vector<test_second_s>> Fixture() {
    return {
        {{0, 5, 0x10, {Video(1000, 0, "key-frame"), Audio(1000, 20, "pcm"), Video(1000, 500, "p")}},
         {0, 6, 0x14, {Video(1001, 0, "second")}},
         {2, 59, 0x2, {Audio(1179, 999, "late")}}},
        {{1, 0, 0x10, {Video(2000, 7, std::string(3000, 'x'), 19)}}}};
}

struct Seen {
    old_frame_s frame;
    std::string payload;
};

std::vector<Seen> Walk(const std::filesystem::path& path, walk_result_s* result = nullptr) {
    std::vector<Seen> seen;
    CRecFile file(path);
    if (file.Reader() == nullptr) return seen;
    FrameWalker walker(*file.Reader());
    const walk_result_s got = walker.Walk([&](const old_frame_s& frame) {
        seen.push_back({frame, std::string(frame.payload.begin(), frame.payload.end())});
        return true;
    });
    if (result != nullptr) *result = got;
    return seen;
}

class RecFileTest : public ::testing::Test {
  protected:
    std::filesystem::path Save(const oldformat::OldFileBytes& file) {
        auto path = dir_.Path() / ("0001_" + std::to_string(++files_) + ".nmd");
        file.Save(path);
        return path;
    }

    test::TempDir dir_;
    int files_ = 0;
};

TEST_F(RecFileTest, DeliversEveryFrameInRecordingOrderWithItsFields) {
    walk_result_s result;
    const auto seen = Walk(Save(OldMediaWriter(Fixture())), &result);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(result.frames, 6u);
    EXPECT_EQ(result.skippedSegments + result.skippedMinutes + result.skippedRecords +
                  result.skippedFrames,
              0u);

    const old_frame_s& key = seen[0].frame;
    EXPECT_FALSE(key.audio);
    EXPECT_EQ(key.record.codec, 1);
    EXPECT_EQ(key.record.seconds, 1000u);
    EXPECT_EQ(key.record.width, 1920);
    EXPECT_EQ(key.record.height, 1080);
    EXPECT_EQ(key.record.frameType, 0x0A);
    EXPECT_EQ(key.eventFlags, 0x10u);
    EXPECT_EQ(seen[0].payload, "key-frame");

    const old_frame_s& audio = seen[1].frame;
    EXPECT_TRUE(audio.audio);
    EXPECT_EQ(audio.record.codec, 'C');
    EXPECT_EQ(audio.record.milliseconds, 20u);
    EXPECT_EQ(audio.record.format, 0x0A4Du);
    EXPECT_EQ(seen[1].payload, "pcm");

    const std::vector<std::string> payloads = {"key-frame", "pcm",  "p",
                                               "second",    "late", std::string(3000, 'x')};
    const std::vector<std::tuple<int, int, int, uint32_t>> places = {
        {0, 0, 5, 0x10}, {0, 0, 5, 0x10}, {0, 0, 5, 0x10},
        {0, 0, 6, 0x14}, {0, 2, 59, 0x2}, {1, 1, 0, 0x10}};
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].payload, payloads[i]) << i;
        const auto& f = seen[i].frame;
        EXPECT_EQ(std::make_tuple(f.segment, f.minute, f.second, f.eventFlags), places[i]) << i;
    }
    EXPECT_EQ(seen[5].frame.record.codec, 19);
    EXPECT_EQ(seen[4].frame.record.milliseconds, 999u);
}

TEST_F(RecFileTest, FramesBehindTheThirtiethComeFromExtraEntries) {
    std::vector<test_frame_s> frames;
    for (uint32_t i = 0; i < 35; ++i) {
        frames.push_back(i == 33 ? Audio(500, i, "a" + std::to_string(i))
                                 : Video(500, i, "v" + std::to_string(i)));
    }
    const OldMediaWriter writer({{{0, 0, 1, frames}}});
    const auto path = Save(writer);
    const auto seen = Walk(path);
    ASSERT_EQ(seen.size(), 35u);
    for (uint32_t i = 0; i < 35; ++i) {
        EXPECT_EQ(seen[i].frame.record.milliseconds, i);
        EXPECT_EQ(seen[i].frame.audio, i == 33);
    }
    EXPECT_EQ(seen[34].payload, "v34");

    CRecFile file(path);
    ASSERT_NE(file.Reader(), nullptr);
    ASSERT_TRUE(file.Reader()->SeekChunk(writer.chunks[0].header));
    rec_chunk_header_s header;
    ASSERT_TRUE(file.Reader()->ReadChunkHeader(header));
    uint64_t listed = 0;
    for (int i = 0; i < 30; ++i) listed += header.frameSize[i];
    EXPECT_EQ(header.frameCount, 35u);
    EXPECT_EQ(file.Reader()->GetChunkSize(header), listed + header.extraSize);
    rec_extra_frame_s first;
    ASSERT_TRUE(file.Reader()->ReadExtraFrameEntry(writer.chunks[0].header, 0, first));
    EXPECT_EQ(first.relativeOffset, writer.chunks[0].records[30]);
}

// How a header or segment table field decides whether the file opens.
struct OpenCase {
    const char* name;
    uint32_t offset;
    uint32_t value;
    int width;
    RecFileStatus status;
    uint32_t warnings;  // level-1 answers
};

TEST_F(RecFileTest, HeaderAndSegmentTableDecideWhetherTheFileOpens) {
    const OpenCase cases[] = {
        {"as written", 16, 0x1000000, 4, RecFileStatus::kOk, 0},
        {"wrong magic", 0, 0x334E4448, 4, RecFileStatus::kBadHeader, 0},
        {"older version", 8, '3', 1, RecFileStatus::kOtherVersion, 0},
        {"size just below the limit", 16, 0x12BFFFFF, 4, RecFileStatus::kOk, 0},
        {"size at the limit warns", 16, 0x12C00000, 4, RecFileStatus::kOk, 1},
        {"start after 2038 warns", 12, 0xF0000000, 4, RecFileStatus::kOk, 1},
        {"no segment", 100, 0, 4, RecFileStatus::kBadSegmentTable, 0},
        {"23 segments", 100, 23, 4, RecFileStatus::kOk, 0},
        {"24 segments", 100, 24, 4, RecFileStatus::kBadSegmentTable, 0},
        {"negative count", 100, 0xFFFFFFFF, 4, RecFileStatus::kBadSegmentTable, 0},
        {"offset at the limit", 104, 0x12C00000, 4, RecFileStatus::kOk, 0},
        {"offset past the limit", 104, 0x12C00001, 4, RecFileStatus::kBadSegmentTable, 0},
        {"hour 24", 200, 24, 2, RecFileStatus::kBadSegmentTable, 0},
        {"minute 60", 248, 60, 2, RecFileStatus::kBadSegmentTable, 0},
        {"second 60", 296, 60, 2, RecFileStatus::kBadSegmentTable, 0},
        {"msec 1000", 344, 1000, 2, RecFileStatus::kBadSegmentTable, 0},
        {"unused slot is not checked", 204, 99, 2, RecFileStatus::kOk, 0},
    };
    for (const OpenCase& c : cases) {
        OldMediaWriter writer(Fixture());
        if (c.width == 4) writer.Put32(c.offset, c.value);
        if (c.width == 2) writer.Put16(c.offset, static_cast<uint16_t>(c.value));
        if (c.width == 1) writer.Put8(c.offset, static_cast<uint8_t>(c.value));
        CRecFile file(Save(writer));
        EXPECT_EQ(file.Status(), c.status) << c.name;
        EXPECT_EQ(file.Reader() != nullptr, c.status == RecFileStatus::kOk) << c.name;
        if (file.Reader() != nullptr) {
            EXPECT_EQ(file.Reader()->LevelCount(1), c.warnings) << c.name;
        } else {
            EXPECT_EQ(file.Header().magic, 0u) << c.name;
        }
    }
}

TEST_F(RecFileTest, MissingOrShortFilesYieldNoReader) {
    EXPECT_EQ(CRecFile(dir_.Path() / "absent.nmd").Status(), RecFileStatus::kCannotOpen);
    EXPECT_EQ(CRecFile(dir_.Path()).Status(), RecFileStatus::kCannotOpen);
    OldMediaWriter writer(Fixture());
    writer.bytes.resize(99);
    EXPECT_EQ(CRecFile(Save(writer)).Status(), RecFileStatus::kShortHeader);
    writer.bytes.resize(300);  // the header, but not the whole segment table
    EXPECT_EQ(CRecFile(Save(writer)).Status(), RecFileStatus::kBadSegmentTable);
}

TEST_F(RecFileTest, ChunkReadsStayBetweenTheFirstDataOffsetAndTheEndOfTheFile) {
    const OldMediaWriter writer(Fixture());
    CRecFile file(Save(writer));
    CRecReader& reader = *file.Reader();
    const uint64_t size = writer.bytes.size();
    std::vector<uint8_t> buffer(64);
    EXPECT_FALSE(reader.ReadChunk(buffer, 29139, 16));
    EXPECT_TRUE(reader.ReadChunk(buffer, 29140, 16));
    EXPECT_TRUE(reader.ReadChunk(buffer, size - 16, 16));
    EXPECT_FALSE(reader.ReadChunk(buffer, size - 15, 16));
    EXPECT_FALSE(reader.ReadChunk(buffer, size + 1, 0));
    EXPECT_FALSE(reader.ReadChunk(buffer, 29140, 65));  // longer than the buffer

    rec_segment_index_s index;
    index.minuteOffset[7] = 0x12C00000;
    EXPECT_EQ(reader.CheckMinuteOffsetValues(index), 0);
    index.minuteOffset[7] = 0x12C00001;
    EXPECT_EQ(reader.CheckMinuteOffsetValues(index), 3);
    EXPECT_FALSE(reader.SeekSegment(24));
}

// Any cut of the file: no crash, and what is delivered is an in-order part
// of what the whole file holds.
TEST_F(RecFileTest, TruncatedFilesDeliverOnlyWholeFrames) {
    const OldMediaWriter writer(Fixture());
    const auto all = Walk(Save(writer));
    std::vector<size_t> cuts = {0, 99, 100, 391, 392, 29431, 29432};
    for (size_t cut = 29432; cut < writer.bytes.size(); cut += 37) cuts.push_back(cut);
    for (const test_chunk_s& chunk : writer.chunks) cuts.push_back(chunk.data + 1);
    for (const size_t cut : cuts) {
        oldformat::OldFileBytes cutFile;
        cutFile.bytes.assign(writer.bytes.begin(),
                             writer.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto seen = Walk(Save(cutFile));
        size_t next = 0;
        for (const Seen& s : seen) {
            while (next < all.size() && all[next].payload != s.payload) ++next;
            ASSERT_LT(next, all.size()) << "cut at " << cut;
            ++next;
        }
        if (cut < 392) {
            EXPECT_TRUE(seen.empty()) << cut;
        }
    }
}

// One damaged field loses exactly its own part of the file.
struct DamageCase {
    const char* name = nullptr;
    uint32_t (*where)(const OldMediaWriter&) = nullptr;
    uint32_t value = 0;
    int width = 0;
    size_t frames = 0;  // of the 6
    walk_result_s skipped;
};

TEST_F(RecFileTest, DamageSkipsOnlyTheDamagedPart) {
    const DamageCase cases[] = {
        {"minute offset out of range",
         [](const OldMediaWriter& w) { return w.segmentIndexes[0]; },
         0x12C00001,
         4,
         1,
         {.skippedSegments = 1}},
        {"minute block beyond the file",
         [](const OldMediaWriter& w) { return w.segmentIndexes[0] + 8; },
         0x12C00000,
         4,
         5,
         {.skippedMinutes = 1}},
        {"second record beyond the file",
         [](const OldMediaWriter& w) { return w.minuteBlocks[0] + 60 + 8 * 5; },
         0x12000000,
         4,
         3,
         {.skippedRecords = 1}},
        {"second record reserved byte",
         [](const OldMediaWriter& w) { return w.secondRecords[0] + 2; },
         1,
         1,
         3,
         {.skippedRecords = 1}},
        {"second record with 31 frames",
         [](const OldMediaWriter& w) { return w.secondRecords[1]; },
         31,
         2,
         5,
         {.skippedRecords = 1}},
        {"frame index above 320",
         [](const OldMediaWriter& w) { return w.secondRecords[0] + 132; },
         321,
         2,
         5,
         {.skippedFrames = 1}},
        {"frame index beyond the chunk",
         [](const OldMediaWriter& w) { return w.secondRecords[0] + 132; },
         3,
         2,
         5,
         {.skippedFrames = 1}},
        {"chunk reserved byte",
         [](const OldMediaWriter& w) { return w.chunks[0].header + 284; },
         1,
         1,
         3,
         {.skippedFrames = 3}},
        {"chunk without frames",
         [](const OldMediaWriter& w) { return w.chunks[1].header + 288; },
         0,
         4,
         5,
         {.skippedFrames = 1}},
        {"chunk of 321 frames",
         [](const OldMediaWriter& w) { return w.chunks[1].header + 288; },
         321,
         4,
         5,
         {.skippedFrames = 1}},
        {"chunk data before the first data offset",
         [](const OldMediaWriter& w) { return w.chunks[0].header; },
         29139,
         4,
         3,
         {.skippedFrames = 3}},
        {"hostile frame size",
         [](const OldMediaWriter& w) { return w.chunks[0].header + 124; },
         0xFFFFFFFF,
         4,
         3,
         {.skippedFrames = 3}},
        {"hostile payload length",
         [](const OldMediaWriter& w) { return w.chunks[3].data + 36; },
         0xFFFFFFFF,
         4,
         5,
         {.skippedFrames = 1}},
        {"payload one byte longer than its chunk",
         [](const OldMediaWriter& w) { return w.chunks[1].data + 36; },
         7,
         4,
         5,
         {.skippedFrames = 1}},
        {"frame offset past its chunk",
         [](const OldMediaWriter& w) { return w.chunks[0].header + 8; },
         0xFFFFFF00,
         4,
         5,
         {.skippedFrames = 1}},
        {"zero event flags leave the second out",
         [](const OldMediaWriter& w) { return w.segmentIndexes[0] + 240 + 4 * 6; },
         0,
         4,
         5,
         {}},
        {"a clear flag leaves the second out",
         [](const OldMediaWriter& w) { return w.minuteBlocks[0] + 60 + 8 * 5 + 4; },
         0x80,
         1,
         3,
         {}},
    };
    for (const DamageCase& c : cases) {
        OldMediaWriter writer(Fixture());
        const uint32_t at = c.where(writer);
        if (c.width == 4) writer.Put32(at, c.value);
        if (c.width == 2) writer.Put16(at, static_cast<uint16_t>(c.value));
        if (c.width == 1) writer.Put8(at, static_cast<uint8_t>(c.value));
        walk_result_s result;
        const auto seen = Walk(Save(writer), &result);
        EXPECT_EQ(seen.size(), c.frames) << c.name;
        EXPECT_EQ(result.skippedSegments, c.skipped.skippedSegments) << c.name;
        EXPECT_EQ(result.skippedMinutes, c.skipped.skippedMinutes) << c.name;
        EXPECT_EQ(result.skippedRecords, c.skipped.skippedRecords) << c.name;
        EXPECT_EQ(result.skippedFrames, c.skipped.skippedFrames) << c.name;
    }
}

TEST_F(RecFileTest, ExtraEntriesThatClaimMoreThanTheChunkAreRefused) {
    std::vector<test_frame_s> frames(32, Video(1, 0, "v"));
    OldMediaWriter writer({{{0, 0, 1, frames}}});
    const uint32_t entry = writer.chunks[0].header + 296;
    writer.Put32(entry + 8, 0x7FFFFFFF);       // size of frame 30
    writer.Put32(entry + 16 + 4, 0xFFFFFFF0);  // frame 31 placed past the file
    walk_result_s result;
    EXPECT_EQ(Walk(Save(writer), &result).size(), 30u);
    EXPECT_EQ(result.skippedFrames, 2u);
}

// Every single byte outside the payloads set to each of a few values: the
// walk ends, stays inside its buffers and never delivers more than exists.
TEST_F(RecFileTest, NoSingleByteChangeBreaksTheWalk) {
    OldMediaWriter writer(Fixture());
    const uint32_t indexEnd = writer.segmentIndexes.back() + 29040;
    const uint32_t bigPayload = writer.chunks.back().data + 76;
    std::vector<uint32_t> positions;
    for (uint32_t at = 0; at < 392; ++at) positions.push_back(at);
    for (const uint32_t index : writer.segmentIndexes) {
        for (uint32_t at = index; at < index + 240; at += 3) positions.push_back(at);
    }
    for (uint32_t at = indexEnd; at < bigPayload; ++at) positions.push_back(at);
    const auto path = Save(writer);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    const auto patch = [&](uint32_t at, uint8_t value) {
        file.seekp(at);
        file.put(static_cast<char>(value));
        file.flush();
    };
    for (const uint32_t at : positions) {
        for (const uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}}) {
            patch(at, value);
            EXPECT_LE(Walk(path).size(), 6u) << at;
        }
        patch(at, writer.bytes[at]);
    }
}

TEST_F(RecFileTest, TheSinkStopsTheWalk) {
    CRecFile file(Save(OldMediaWriter(Fixture())));
    FrameWalker walker(*file.Reader());
    int calls = 0;
    const walk_result_s result = walker.Walk([&](const old_frame_s&) { return ++calls < 2; });
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(calls, 2);
}

// A crafted file of 64 KiB (kept with the test data): every segment names one
// index, every minute one minute block, every second one run of 127 second
// records, and the slots of each record name two chunks in turn. Walked as
// the tables say it would yield 13.7 million frames a segment; each structure
// counts once, and no more frames come out than the file's size can hold.
TEST_F(RecFileTest, RepeatedOffsetsAreWalkedOnceAndFramesFitInTheFile) {
    const std::filesystem::path path =
        std::filesystem::path(ORVALE_TEST_DATA) / "repeated_offsets_64k.nmd";
    CRecFile file(path);
    ASSERT_NE(file.Reader(), nullptr);
    const uint64_t size = std::filesystem::file_size(path);
    FrameWalker walker(*file.Reader());
    uint64_t frames = 0;
    uint64_t recordBytes = 0;
    const walk_result_s result = walker.Walk([&](const old_frame_s& frame) {
        ++frames;
        recordBytes += (frame.audio ? 72 : 76) + uint64_t{frame.record.dataSize};
        return recordBytes <= size;  // a walk that runs away stops here
    });
    EXPECT_FALSE(result.stopped);
    EXPECT_LE(recordBytes, size);
    // The first slot of each chunk; every later mention of a chunk, record,
    // minute block or index is a repeat.
    EXPECT_EQ(frames, 2u);
    EXPECT_EQ(result.skippedSegments, 22u);
    EXPECT_EQ(result.skippedMinutes, 59u);
}

// Frames whose records together need more bytes than the file has (every
// second's chunk header copied from the first, so all name its data) end
// the walk where the file's size is used up.
TEST_F(RecFileTest, FramesNeverAddUpToMoreThanTheFileHolds) {
    std::vector<test_second_s> seconds;
    for (int s = 0; s < 60; ++s) {
        test_second_s second{0, s, 1, {}};
        const std::string payload(s == 0 ? 1000 : 1, 'p');
        for (int f = 0; f < 30; ++f) second.frames.push_back(Video(1000 + s, f, payload));
        seconds.push_back(second);
    }
    OldMediaWriter writer({seconds});
    const uint32_t first = writer.chunks.front().header;
    for (const test_chunk_s& chunk : writer.chunks) {
        std::copy_n(writer.bytes.begin() + first, 296, writer.bytes.begin() + chunk.header);
    }
    const auto path = Save(writer);
    walk_result_s result;
    const auto seen = Walk(path, &result);
    uint64_t recordBytes = 0;
    for (const Seen& frame : seen) recordBytes += 76 + frame.payload.size();
    EXPECT_LE(recordBytes, std::filesystem::file_size(path) - 29140);
    EXPECT_GT(seen.size(), 30u);
    EXPECT_LT(seen.size(), 60u * 30u);
    EXPECT_TRUE(result.exhausted);
}

}  // namespace
}  // namespace orvale::converter
