// The opener of one old media data file (".nmd" or ".nmb"). It owns the
// file and the reader that it creates for the file's version; the reader
// exists only when the file header and the segment table passed their
// checks, and then the file stays open until the opener is destroyed.
// Otherwise the file is closed, the header copy zeroed, and Status tells why.
#pragma once

#include <filesystem>
#include <memory>

#include "converter/FileStream.h"
#include "converter/RecReader.h"
#include "converter/RecordLayout.h"

namespace orvale::converter {

enum class RecFileStatus {
    kOk,
    kCannotOpen,       // missing, not a regular file, or unreadable
    kShortHeader,      // fewer than 100 bytes
    kOtherVersion,     // a version text that no reader exists for
    kBadHeader,        // wrong magic
    kBadSegmentTable,  // short, or a count or an entry out of range
};

const char* RecFileStatusText(RecFileStatus status);

class CRecFile {
  public:
    explicit CRecFile(const std::filesystem::path& path);
    CRecFile(const CRecFile&) = delete;
    CRecFile& operator=(const CRecFile&) = delete;

    // Null unless Status is kOk.
    CRecReader* Reader() const { return reader_.get(); }
    RecFileStatus Status() const { return status_; }
    const rec_file_header_s& Header() const { return header_; }
    const std::filesystem::path& Path() const { return path_; }

  private:
    RecFileStatus Open();
    void Fail(RecFileStatus status);

    std::filesystem::path path_;
    FileStream file_;
    rec_file_header_s header_;
    std::unique_ptr<CRecReader> reader_;  // declared after file_: destroyed first
    RecFileStatus status_ = RecFileStatus::kOk;
};

}  // namespace orvale::converter
