// Reads the records of an old metadata file (".nmt") front to back. A record
// is delivered only when its header is sound (the magic, a type of 1..49, a
// payload of at most 1 MiB) and its payload lies whole in the file; the first
// record that is not, a short read, or an entry count above 32 behind a
// payload ends the file. A file whose first header field is not 0 holds
// nothing to read. A file that ends inside a record, or before the closing
// header behind its last record, is cut short.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "converter/FileStream.h"
#include "converter/RecordLayout.h"

namespace orvale::converter {

struct nmt_record_s {
    uint32_t seconds = 0;
    uint32_t milliseconds = 0;
    uint32_t recordType = 0;
    std::span<const uint8_t> payload;  // valid until the next call of Next
};

class NmtReader {
  public:
    explicit NmtReader(const std::filesystem::path& path);

    // False when the file could not be opened.
    bool IsOpen() const { return file_.IsOpen(); }
    // The next record; false at the end of the records.
    bool Next(nmt_record_s& record);
    // Whether the file says it holds records (its first header field is 0).
    bool HoldsRecords() const { return holdsRecords_; }
    // Whether a read came back short: the records ended with the file.
    bool CutShort() const { return cutShort_; }

  private:
    bool ReadRecordHeader();
    bool SkipTrailer();

    FileStream file_;
    bool Read(std::span<uint8_t> bytes);

    bool pending_ = false;  // header_ holds the next record's sound header
    bool holdsRecords_ = false;
    bool cutShort_ = false;
    nmt_record_header_s header_;
    std::vector<uint8_t> payload_;
};

}  // namespace orvale::converter
