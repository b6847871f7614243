#include "converter/RecReader.h"

#include <ctime>

#include "platform/Time.h"

namespace orvale::converter {
namespace {

constexpr int kValid = 0;
constexpr int kInvalid = 3;

}  // namespace

bool CRecReader::Count(int level) {
    if (level >= 1 && level <= 3) ++levels_[level - 1];
    return level != kInvalid;
}

bool CRecReader::CheckFileHeader(const rec_file_header_s& header) {
    if (header.magic != kRecMagic) return Count(kInvalid);
    if (header.sizeValue >= kMaxFileOffset) Count(1);
    // A 32-bit unsigned time always converts on a 64-bit time_t, so the
    // level-2 answer for a failed conversion cannot arise here.
    const std::tm local = platform::LocalTime(static_cast<int64_t>(header.startTime));
    if (local.tm_year + 1900 > 2038 || local.tm_mon + 1 > 12 || local.tm_mday > 31 ||
        local.tm_hour > 23 || local.tm_min > 59 || local.tm_sec > 59) {
        Count(1);
    }
    return true;
}

bool CRecReaderCurrent::ReadSegmentTable() {
    std::array<uint8_t, kSegmentTableSize> bytes{};
    if (!IsOpen() || !file_->Read(bytes)) return false;
    table_ = DecodeSegmentTable(bytes);
    return true;
}

bool CRecReaderCurrent::CheckSegmentTable() {
    return Count(CheckSegmentCount(table_)) && Count(CheckSegmentEntries(table_));
}

int CRecReaderCurrent::CheckSegmentCount(const rec_segment_table_s& table) const {
    return table.count >= 1 && table.count <= kMaxSegments ? kValid : kInvalid;
}

int CRecReaderCurrent::CheckSegmentEntries(const rec_segment_table_s& table) const {
    const int used = table.count >= 1 && table.count <= kMaxSegments ? table.count : 0;
    for (int i = 0; i < used; ++i) {
        if (table.offset[i] > kMaxFileOffset || table.hour[i] > 23 || table.minute[i] > 59 ||
            table.second[i] > 59 || table.msec[i] > 999) {
            return kInvalid;
        }
    }
    return kValid;
}

bool CRecReaderCurrent::GetSegmentTable(rec_segment_table_s& table) const {
    if (!IsOpen()) return false;
    table = table_;
    return true;
}

bool CRecReaderCurrent::ReadMinuteBlock(uint64_t offset, rec_minute_block_s& block) {
    std::array<uint8_t, kMinuteBlockSize> bytes{};
    if (!IsOpen() || !file_->ReadAt(offset, bytes)) return false;
    block = DecodeMinuteBlock(bytes);
    return true;
}

bool CRecReaderCurrent::ReadSecondRecord(uint64_t offset, rec_second_record_s& record) {
    std::array<uint8_t, kSecondRecordSize> bytes{};
    if (!IsOpen() || !file_->ReadAt(offset, bytes)) return false;
    record = DecodeSecondRecord(bytes);
    return true;
}

bool CRecReaderCurrent::ReadExtraFrameEntry(uint64_t chunkOffset, uint32_t index,
                                            rec_extra_frame_s& entry) {
    std::array<uint8_t, kExtraFrameSize> bytes{};
    const uint64_t at =
        chunkOffset + kChunkHeaderSize + static_cast<uint64_t>(kExtraFrameSize) * index;
    if (!IsOpen() || !file_->ReadAt(at, bytes)) return false;
    entry = DecodeExtraFrame(bytes);
    return true;
}

uint64_t CRecReaderCurrent::GetChunkSize(const rec_chunk_header_s& header) const {
    const uint32_t listed = header.frameCount < kSecondFrames ? header.frameCount : kSecondFrames;
    uint64_t size = 0;
    for (uint32_t i = 0; i < listed; ++i) size += header.frameSize[i];
    if (header.frameCount > kSecondFrames) size += header.extraSize;
    return size;
}

bool CRecReaderCurrent::ReadChunk(std::span<uint8_t> buffer, uint64_t offset, uint64_t length) {
    if (!IsOpen() || offset < kFirstChunkData || offset > file_->Size()) return false;
    if (length > buffer.size() || length > file_->Size() - offset) return false;
    return file_->ReadAt(offset, buffer.first(length));
}

bool CRecReaderCurrent::ReadSegmentIndex(rec_segment_index_s& index) {
    std::array<uint8_t, kSegmentIndexSize> bytes{};
    if (!IsOpen() || !file_->Read(bytes)) return false;
    index = DecodeSegmentIndex(bytes);
    return true;
}

bool CRecReaderCurrent::SeekSegment(int segment) {
    if (segment < 0 || segment >= kSegmentSlots || !IsOpen()) return false;
    return file_->Seek(table_.offset[segment]);
}

bool CRecReaderCurrent::CheckMinuteOffsets(const rec_segment_index_s& index) {
    return Count(CheckMinuteOffsetValues(index));
}

int CRecReaderCurrent::CheckMinuteOffsetValues(const rec_segment_index_s& index) const {
    for (const uint32_t offset : index.minuteOffset) {
        if (offset > kMaxFileOffset) return kInvalid;
    }
    return kValid;
}

bool CRecReaderCurrent::CheckSecondRecord(const rec_second_record_s& record) {
    return Count(CheckSecondRecordReserved(record)) && Count(CheckSecondRecordFrameCount(record));
}

int CRecReaderCurrent::CheckSecondRecordReserved(const rec_second_record_s& record) const {
    return record.reserved == 0 ? kValid : kInvalid;
}

int CRecReaderCurrent::CheckSecondRecordFrameCount(const rec_second_record_s& record) const {
    return record.frameCount <= kSecondFrames ? kValid : kInvalid;
}

bool CRecReaderCurrent::ReadChunkHeader(rec_chunk_header_s& header) {
    std::array<uint8_t, kChunkHeaderSize> bytes{};
    if (!IsOpen() || !file_->Read(bytes)) return false;
    header = DecodeChunkHeader(bytes);
    return true;
}

bool CRecReaderCurrent::SeekChunk(uint64_t offset) {
    return IsOpen() && file_->Seek(offset) && offset >= kChunkHeaderSize;
}

bool CRecReaderCurrent::CheckChunkHeader(const rec_chunk_header_s& header) {
    return Count(CheckChunkReserved(header)) && Count(CheckChunkFrameCount(header));
}

int CRecReaderCurrent::CheckChunkReserved(const rec_chunk_header_s& header) const {
    return header.reserved == 0 ? kValid : kInvalid;
}

int CRecReaderCurrent::CheckChunkFrameCount(const rec_chunk_header_s& header) const {
    return header.frameCount >= 1 && header.frameCount <= kMaxChunkFrames ? kValid : kInvalid;
}

}  // namespace orvale::converter
