#include "converter/NmtReader.h"

#include <array>
#include <cstring>

namespace orvale::converter {

NmtReader::NmtReader(const std::filesystem::path& path) : file_(path) {
    std::array<uint8_t, kNmtFileHeaderSize> bytes{};
    if (!file_.IsOpen() || !Read(bytes)) return;
    const nmt_file_header_s header = DecodeNmtFileHeader(bytes);
    if (header.marker != 0) return;
    holdsRecords_ = true;
    // The block that the header points at is read by the recorder that wrote
    // the file and carries nothing for us; whether it is there does not
    // matter to the records.
    if (!file_.Seek(header.firstRecord)) {
        cutShort_ = true;
        return;
    }
    pending_ = ReadRecordHeader();
}

bool NmtReader::Read(std::span<uint8_t> bytes) {
    if (file_.Read(bytes)) return true;
    cutShort_ = true;
    return false;
}

bool NmtReader::ReadRecordHeader() {
    std::array<uint8_t, kNmtRecordHeaderSize> bytes{};
    if (!Read(bytes)) return false;
    header_ = DecodeNmtRecordHeader(bytes);
    return header_.recordType >= 1 && header_.recordType <= kNmtMaxRecordType &&
           std::memcmp(header_.magic, kNmtMagic, sizeof(kNmtMagic)) == 0 &&
           header_.payloadLength <= kNmtMaxPayload;
}

bool NmtReader::SkipTrailer() {
    std::array<uint8_t, kNmtTrailerSize> trailer{};
    if (!Read(trailer)) return false;
    const uint32_t count = DecodeNmtEntryCount(std::span(trailer).last<12>());
    if (count > kNmtMaxEntries) return false;
    const uint64_t skip = static_cast<uint64_t>(count) * kNmtEntrySize + kNmtClosingBlockSize;
    if (file_.Seek(file_.Position() + skip)) return true;
    cutShort_ = true;
    return false;
}

bool NmtReader::Next(nmt_record_s& record) {
    if (!pending_) return false;
    pending_ = false;
    payload_.resize(header_.payloadLength);
    if (!Read(payload_)) return false;
    record.seconds = header_.seconds;
    record.milliseconds = header_.milliseconds;
    record.recordType = header_.recordType;
    record.payload = payload_;
    pending_ = SkipTrailer() && ReadRecordHeader();
    return true;
}

}  // namespace orvale::converter
