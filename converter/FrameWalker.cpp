#include "converter/FrameWalker.h"

#include <memory>

namespace orvale::converter {

walk_result_s FrameWalker::Walk(const FrameSink& sink) {
    result_ = walk_result_s{};
    chunkOffset_ = 0;
    indexes_.clear();
    blocks_.clear();
    records_.clear();
    chunks_.clear();
    // Frame records lie in chunk data, which starts behind the tables.
    const uint64_t size = reader_.FileSize();
    budget_ = size > kFirstChunkData ? size - kFirstChunkData : 0;
    rec_segment_table_s table;
    if (!reader_.GetSegmentTable(table)) return result_;
    result_.segmentTableRead = true;
    for (int segment = 0; segment < table.count && !Ended(); ++segment) {
        WalkSegment(segment, table.offset[segment], sink);
    }
    return result_;
}

void FrameWalker::WalkSegment(int segment, uint64_t indexOffset, const FrameSink& sink) {
    if (!indexes_.insert(indexOffset).second) {
        ++result_.skippedSegments;
        return;
    }
    NoteBeyondEnd(indexOffset, kSegmentIndexSize);
    // The index is large; keep it off the stack.
    auto index = std::make_unique<rec_segment_index_s>();
    if (!reader_.SeekSegment(segment) || !reader_.ReadSegmentIndex(*index) ||
        !reader_.CheckMinuteOffsets(*index)) {
        ++result_.skippedSegments;
        return;
    }
    for (int m = 0; m < 60 && !Ended(); ++m) {
        if (index->minuteOffset[m] == 0) continue;
        rec_minute_block_s block;
        NoteBeyondEnd(index->minuteOffset[m], kMinuteBlockSize);
        if (!blocks_.insert(index->minuteOffset[m]).second ||
            !reader_.ReadMinuteBlock(index->minuteOffset[m], block)) {
            ++result_.skippedMinutes;
            continue;
        }
        for (int s = 0; s < 60 && !Ended(); ++s) {
            const rec_minute_entry_s& entry = block.entry[s];
            const uint32_t value = index->secondValue[m][s];
            if (entry.recordCount <= 0 || value == 0 || entry.flag <= 0 ||
                entry.secondOffset == 0) {
                continue;
            }
            WalkMinute({segment, m, s, value}, entry, sink);
        }
    }
}

void FrameWalker::WalkMinute(const Second& where, const rec_minute_entry_s& entry,
                             const FrameSink& sink) {
    for (int r = 0; r < entry.recordCount; ++r) {
        rec_second_record_s record;
        const uint64_t at = entry.secondOffset + static_cast<uint64_t>(kSecondRecordSize) * r;
        if (at + kSecondRecordSize > reader_.FileSize()) {
            // The later records of the run lie further out still.
            result_.cutShort = true;
            result_.skippedRecords += static_cast<uint32_t>(entry.recordCount - r);
            return;
        }
        if (!records_.insert(at).second || !reader_.ReadSecondRecord(at, record) ||
            !reader_.CheckSecondRecord(record)) {
            ++result_.skippedRecords;
            continue;
        }
        for (int t = 0; t < record.frameCount; ++t) {
            if (record.chunkOffset[t] == 0) continue;  // no frame in this slot
            if (!WalkFrame(where, record.chunkOffset[t], record.frameIndex[t], sink)) return;
        }
    }
}

bool FrameWalker::WalkFrame(const Second& where, uint64_t chunkOffset, uint32_t frameIndex,
                            const FrameSink& sink) {
    const rec_chunk_header_s* chunk =
        frameIndex <= kMaxChunkFrames ? ChunkHeader(chunkOffset) : nullptr;
    if (chunk == nullptr || frameIndex >= chunk->frameCount || delivered_[frameIndex]) {
        ++result_.skippedFrames;
        return true;
    }
    bool audio = false;
    std::span<const uint8_t> bytes;
    if (frameIndex < kSecondFrames) {
        const std::span<const uint8_t> data = ChunkData();
        const uint32_t start = chunk->frameOffset[frameIndex];
        if (start <= data.size()) bytes = data.subspan(start);
        audio = chunk->frameKind[frameIndex] == kAudioKind;
    } else {
        bytes = ExtraFrame(chunkOffset, frameIndex, audio);
    }
    // The record's fields, header and payload must lie within the bytes read.
    if (bytes.size() < kFrameFieldsSize) {
        ++result_.skippedFrames;
        return true;
    }
    old_frame_s frame;
    frame.audio = audio;
    frame.record = DecodeFrameRecord(bytes.first<kFrameFieldsSize>());
    const uint64_t payloadAt = audio ? kAudioRecordHeader : kVideoRecordHeader;
    if (payloadAt + frame.record.dataSize > bytes.size()) {
        ++result_.skippedFrames;
        return true;
    }
    if (!TakeFromBudget(payloadAt + frame.record.dataSize)) return false;
    delivered_[frameIndex] = true;
    frame.payload = bytes.subspan(payloadAt, frame.record.dataSize);
    frame.eventFlags = where.eventFlags;
    frame.segment = where.segment;
    frame.minute = where.minute;
    frame.second = where.second;
    ++result_.frames;
    result_.payloadBytes += frame.record.dataSize;
    if (!sink(frame)) result_.stopped = true;
    return !result_.stopped;
}

bool FrameWalker::TakeFromBudget(uint64_t recordBytes) {
    if (recordBytes > budget_) {
        result_.exhausted = true;
        return false;
    }
    budget_ -= recordBytes;
    return true;
}

const rec_chunk_header_s* FrameWalker::ChunkHeader(uint64_t chunkOffset) {
    if (chunkOffset != chunkOffset_) {
        chunkOffset_ = chunkOffset;
        chunk_ = rec_chunk_header_s{};
        dataTried_ = false;
        dataValid_ = false;
        delivered_.reset();
        if (!chunks_.insert(chunkOffset).second) {
            // Named again after another chunk was read: not read twice.
            chunkValid_ = false;
            return nullptr;
        }
        NoteBeyondEnd(chunkOffset, kChunkHeaderSize);
        // A header that cannot be read stays zero and fails the check.
        if (reader_.SeekChunk(chunkOffset)) reader_.ReadChunkHeader(chunk_);
        chunkValid_ = reader_.CheckChunkHeader(chunk_);
    }
    return chunkValid_ ? &chunk_ : nullptr;
}

std::span<const uint8_t> FrameWalker::ChunkData() {
    if (!dataTried_) {
        dataTried_ = true;
        const uint64_t size = reader_.GetChunkSize(chunk_);
        NoteBeyondEnd(chunk_.dataOffset, size);
        dataValid_ = FitsInFile(chunk_.dataOffset, size);
        if (dataValid_) {
            data_.resize(size);
            dataValid_ = reader_.ReadChunk(data_, chunk_.dataOffset, size);
        }
    }
    return dataValid_ ? std::span<const uint8_t>(data_) : std::span<const uint8_t>();
}

std::span<const uint8_t> FrameWalker::ExtraFrame(uint64_t chunkOffset, uint32_t frameIndex,
                                                 bool& audio) {
    rec_extra_frame_s entry;
    if (!reader_.ReadExtraFrameEntry(chunkOffset, frameIndex - kSecondFrames, entry)) return {};
    // An entry may not claim more than the chunk holds.
    const uint64_t at = static_cast<uint64_t>(entry.base) + entry.relativeOffset;
    if (entry.size > reader_.GetChunkSize(chunk_)) return {};
    NoteBeyondEnd(at, entry.size);
    if (!FitsInFile(at, entry.size)) return {};
    extra_.resize(entry.size);
    if (!reader_.ReadChunk(extra_, at, entry.size)) return {};
    audio = entry.kind == kAudioKind;
    return extra_;
}

void FrameWalker::NoteBeyondEnd(uint64_t offset, uint64_t length) {
    const uint64_t size = reader_.FileSize();
    if (offset > size || length > size - offset) result_.cutShort = true;
}

bool FrameWalker::FitsInFile(uint64_t offset, uint64_t length) const {
    const uint64_t size = reader_.FileSize();
    return offset >= kFirstChunkData && offset <= size && length <= size - offset;
}

}  // namespace orvale::converter
