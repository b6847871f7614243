#include "converter/RecFile.h"

#include <array>
#include <cstring>

namespace orvale::converter {

const char* RecFileStatusText(RecFileStatus status) {
    switch (status) {
        case RecFileStatus::kOk:
            return "ok";
        case RecFileStatus::kCannotOpen:
            return "cannot be opened";
        case RecFileStatus::kShortHeader:
            return "shorter than its header";
        case RecFileStatus::kOtherVersion:
            return "unsupported version";
        case RecFileStatus::kBadHeader:
            return "bad file header";
        case RecFileStatus::kBadSegmentTable:
            return "bad segment table";
    }
    return "unknown";
}

CRecFile::CRecFile(const std::filesystem::path& path) : path_(path), file_(path) {
    const RecFileStatus status = Open();
    if (status != RecFileStatus::kOk) Fail(status);
}

RecFileStatus CRecFile::Open() {
    if (!file_.IsOpen()) return RecFileStatus::kCannotOpen;
    std::array<uint8_t, kFileHeaderSize> bytes{};
    if (!file_.ReadAt(0, bytes)) return RecFileStatus::kShortHeader;
    header_ = DecodeFileHeader(bytes);
    if (std::memcmp(header_.version, kRecVersion, sizeof(kRecVersion)) != 0) {
        return RecFileStatus::kOtherVersion;
    }
    reader_ = std::make_unique<CRecReaderCurrent>(&file_, path_);
    if (!reader_->CheckFileHeader(header_)) return RecFileStatus::kBadHeader;
    // The segment table follows the header directly.
    if (!reader_->ReadSegmentTable() || !reader_->CheckSegmentTable()) {
        return RecFileStatus::kBadSegmentTable;
    }
    return RecFileStatus::kOk;
}

void CRecFile::Fail(RecFileStatus status) {
    status_ = status;
    reader_.reset();
    file_.Close();
    header_ = rec_file_header_s{};
}

}  // namespace orvale::converter
