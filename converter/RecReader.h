// Readers of an old media data file. CRecReader is the interface of one
// version of the layout; CRecReaderCurrent reads the current one, the only
// version that can be read. A reader reads through the file of the CRecFile
// that created it (which owns and outlives it) and keeps a copy of the
// segment table.
//
// Validators return a level: 0 valid, 1 or 2 a warning (the data is still
// used), 3 invalid. Each check operation counts the level of every validator
// it runs, stops at the first 3 and then answers false. The counts are kept
// for diagnostics only.
//
// Every read fills a buffer of its structure's fixed size or fails; reads
// never extend a buffer, and nothing is read beyond the end of the file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <utility>

#include "converter/FileStream.h"
#include "converter/RecordLayout.h"

namespace orvale::converter {

class CRecReader {
  public:
    CRecReader(FileStream* file, std::filesystem::path path)
        : file_(file), path_(std::move(path)) {}
    virtual ~CRecReader() = default;
    CRecReader(const CRecReader&) = delete;
    CRecReader& operator=(const CRecReader&) = delete;

    // Reads the table at the current position into the copy.
    virtual bool ReadSegmentTable() = 0;
    virtual bool CheckSegmentTable() = 0;
    virtual int CheckSegmentCount(const rec_segment_table_s& table) const = 0;
    virtual int CheckSegmentEntries(const rec_segment_table_s& table) const = 0;
    virtual bool GetSegmentTable(rec_segment_table_s& table) const = 0;

    virtual bool ReadMinuteBlock(uint64_t offset, rec_minute_block_s& block) = 0;
    virtual bool ReadSecondRecord(uint64_t offset, rec_second_record_s& record) = 0;
    // The entry of chunk frame 30 + index, which lies behind the chunk header.
    virtual bool ReadExtraFrameEntry(uint64_t chunkOffset, uint32_t index,
                                     rec_extra_frame_s& entry) = 0;
    // Bytes of chunk data of all the chunk's frames, summed in 64 bits.
    virtual uint64_t GetChunkSize(const rec_chunk_header_s& header) const = 0;
    // Reads length bytes of chunk data at offset into the front of buffer.
    virtual bool ReadChunk(std::span<uint8_t> buffer, uint64_t offset, uint64_t length) = 0;

    // Reads the index at the current position (after SeekSegment).
    virtual bool ReadSegmentIndex(rec_segment_index_s& index) = 0;
    virtual bool SeekSegment(int segment) = 0;
    virtual bool CheckMinuteOffsets(const rec_segment_index_s& index) = 0;
    virtual int CheckMinuteOffsetValues(const rec_segment_index_s& index) const = 0;

    virtual bool CheckSecondRecord(const rec_second_record_s& record) = 0;
    virtual int CheckSecondRecordReserved(const rec_second_record_s& record) const = 0;
    virtual int CheckSecondRecordFrameCount(const rec_second_record_s& record) const = 0;

    // Reads the header at the current position (after SeekChunk).
    virtual bool ReadChunkHeader(rec_chunk_header_s& header) = 0;
    virtual bool SeekChunk(uint64_t offset) = 0;
    virtual bool CheckChunkHeader(const rec_chunk_header_s& header) = 0;
    virtual int CheckChunkReserved(const rec_chunk_header_s& header) const = 0;
    virtual int CheckChunkFrameCount(const rec_chunk_header_s& header) const = 0;

    bool IsOpen() const { return file_ != nullptr && file_->IsOpen(); }
    bool CheckFileHeader(const rec_file_header_s& header);

    uint64_t FileSize() const { return IsOpen() ? file_->Size() : 0; }
    const std::filesystem::path& Path() const { return path_; }
    // How often a validator answered level 1, 2 or 3.
    uint32_t LevelCount(int level) const {
        return level >= 1 && level <= 3 ? levels_[level - 1] : 0;
    }

  protected:
    // Counts a validator's level; true unless it was invalid.
    bool Count(int level);

    FileStream* file_;
    rec_segment_table_s table_;

  private:
    std::filesystem::path path_;
    std::array<uint32_t, 3> levels_ = {};
};

class CRecReaderCurrent final : public CRecReader {
  public:
    using CRecReader::CRecReader;

    bool ReadSegmentTable() override;
    bool CheckSegmentTable() override;
    int CheckSegmentCount(const rec_segment_table_s& table) const override;
    int CheckSegmentEntries(const rec_segment_table_s& table) const override;
    bool GetSegmentTable(rec_segment_table_s& table) const override;

    bool ReadMinuteBlock(uint64_t offset, rec_minute_block_s& block) override;
    bool ReadSecondRecord(uint64_t offset, rec_second_record_s& record) override;
    bool ReadExtraFrameEntry(uint64_t chunkOffset, uint32_t index,
                             rec_extra_frame_s& entry) override;
    uint64_t GetChunkSize(const rec_chunk_header_s& header) const override;
    bool ReadChunk(std::span<uint8_t> buffer, uint64_t offset, uint64_t length) override;

    bool ReadSegmentIndex(rec_segment_index_s& index) override;
    bool SeekSegment(int segment) override;
    bool CheckMinuteOffsets(const rec_segment_index_s& index) override;
    int CheckMinuteOffsetValues(const rec_segment_index_s& index) const override;

    bool CheckSecondRecord(const rec_second_record_s& record) override;
    int CheckSecondRecordReserved(const rec_second_record_s& record) const override;
    int CheckSecondRecordFrameCount(const rec_second_record_s& record) const override;

    bool ReadChunkHeader(rec_chunk_header_s& header) override;
    bool SeekChunk(uint64_t offset) override;
    bool CheckChunkHeader(const rec_chunk_header_s& header) override;
    int CheckChunkReserved(const rec_chunk_header_s& header) const override;
    int CheckChunkFrameCount(const rec_chunk_header_s& header) const override;
};

}  // namespace orvale::converter
