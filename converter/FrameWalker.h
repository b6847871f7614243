// Walks the frames of an old media data file in recording order: segment,
// minute, second, second record, frame slot. Every damaged part is skipped
// on its own (a segment whose index cannot be read or is out of range, a
// minute block or second record that is short or invalid, a frame whose
// chunk or record does not lie whole within the file) and counted; the rest
// of the file is still delivered. A part that the file ends before marks
// the walk as cut short: the file lost its tail, not just a damaged part.
//
// Sizes taken from the file are summed in 64 bits and bounded by the file's
// size before any buffer is allocated. The chunk last read is kept, so the
// frames of one chunk cost one read.
//
// Offsets in a file are not trusted to be distinct: each segment index,
// minute block, second record and chunk is visited at most once per walk (a
// chunk's frames are listed together, so a chunk named again after another
// one was read is not read again), each frame of a chunk is delivered at
// most once, and the frames delivered never need more bytes than the file
// has behind its tables. So the work of a walk is bounded by the file's size
// whatever the tables say.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <span>
#include <unordered_set>
#include <vector>

#include "converter/RecReader.h"
#include "converter/RecordLayout.h"

namespace orvale::converter {

struct old_frame_s {
    bool audio = false;
    rec_frame_record_s record;
    std::span<const uint8_t> payload;  // valid during the sink call only
    uint32_t eventFlags = 0;           // the second's value in its segment index
    int segment = 0;
    int minute = 0;
    int second = 0;
};

struct walk_result_s {
    uint64_t frames = 0;
    uint64_t payloadBytes = 0;
    uint32_t skippedSegments = 0;
    uint32_t skippedMinutes = 0;
    uint32_t skippedRecords = 0;
    uint32_t skippedFrames = 0;
    bool stopped = false;    // the sink asked to stop
    bool exhausted = false;  // more frames than the file's size can hold: the walk ended
    bool segmentTableRead = false;
    bool cutShort = false;  // a table or chunk the file names lies past the file's end
};

// Answers false to stop the walk.
using FrameSink = std::function<bool(const old_frame_s&)>;

class FrameWalker {
  public:
    explicit FrameWalker(CRecReader& reader) : reader_(reader) {}

    walk_result_s Walk(const FrameSink& sink);

  private:
    struct Second {
        int segment;
        int minute;
        int second;
        uint32_t eventFlags;
    };

    void WalkSegment(int segment, uint64_t indexOffset, const FrameSink& sink);
    void WalkMinute(const Second& where, const rec_minute_entry_s& entry, const FrameSink& sink);
    // False when the sink asked to stop.
    bool WalkFrame(const Second& where, uint64_t chunkOffset, uint32_t frameIndex,
                   const FrameSink& sink);
    const rec_chunk_header_s* ChunkHeader(uint64_t chunkOffset);
    std::span<const uint8_t> ChunkData();
    std::span<const uint8_t> ExtraFrame(uint64_t chunkOffset, uint32_t frameIndex, bool& audio);
    bool FitsInFile(uint64_t offset, uint64_t length) const;
    // Notes a part at `offset` of `length` bytes that the file ends before.
    void NoteBeyondEnd(uint64_t offset, uint64_t length);
    bool Ended() const { return result_.stopped || result_.exhausted; }
    // Takes a frame record's bytes from what the file can still hold; false
    // (and the walk ends) when they do not fit.
    bool TakeFromBudget(uint64_t recordBytes);

    CRecReader& reader_;
    walk_result_s result_;
    uint64_t budget_ = 0;  // bytes of frame records the file can still hold
    std::unordered_set<uint64_t> indexes_;
    std::unordered_set<uint64_t> blocks_;
    std::unordered_set<uint64_t> records_;
    std::unordered_set<uint64_t> chunks_;
    std::bitset<kMaxChunkFrames + 1> delivered_;  // frames of the current chunk

    uint64_t chunkOffset_ = 0;  // 0: nothing cached
    bool chunkValid_ = false;
    rec_chunk_header_s chunk_;
    bool dataTried_ = false;
    bool dataValid_ = false;
    std::vector<uint8_t> data_;
    std::vector<uint8_t> extra_;
};

}  // namespace orvale::converter
