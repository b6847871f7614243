// The metadata database of one channel hour: table T_METADATA, one row per
// metadata frame, inserted a second at a time and read back by time range.
//
// New hour files start as a copy of the template in DBTemp beside the host
// program. The object connects on first use and registers its hour folder as
// in use for as long as it lives. It has no lock: the writer side runs on one
// recorder strand, and readers make objects of their own (the write-ahead
// log lets them read while the hour is written).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/MetaDataFrame.h"

namespace SQLite {
class Database;
}

namespace orvale::recorder {

class MetaDataFile {
  public:
    static std::shared_ptr<MetaDataFile> Create(std::filesystem::path path,
                                                std::shared_ptr<FolderInUseContainer> folders);
    ~MetaDataFile();

    MetaDataFile(const MetaDataFile&) = delete;
    MetaDataFile& operator=(const MetaDataFile&) = delete;

    // Builds a fresh template in DBTemp beside the host program.
    static bool CreateTemplate();
    static std::filesystem::path TemplatePath();
    static bool CreateTables(const std::filesystem::path& path);
    static bool CopyTemplate(const std::filesystem::path& path);
    // "YYYYMMDDHH0000.kvtmtd" of the UTC hour holding `time`.
    static std::string MakeFileName(int64_t time);

    // Creates the file when missing (pre-sized to `preallocSize` when that is
    // larger than the new file) and connects.
    bool Open(int64_t preallocSize);
    // Stores one second's frames in one transaction: all or none.
    bool Insert(const MetaDataFrames& frames);
    // Connects to the hour for reading alone: a missing file is not created
    // (false, silently), and nothing in the file is changed. False (logged)
    // when the file is no metadata database.
    bool OpenForReading();
    // Steps through the XML rows (DATATYPE 0) with from <= UTC <= to in UTC
    // order, handing `visit` each row's time and extension bytes (valid
    // during the call only; null and 0 for none); the content is not read.
    // Needs a connection (Open or OpenForReading). Throws SQLite::Exception
    // on a database error.
    using ExtensionVisitor = std::function<void(int64_t utc, const uint8_t* bytes, size_t size)>;
    void ReadExtensions(int64_t from, int64_t to, const ExtensionVisitor& visit);
    // Appends the rows with from <= UTC <= to, in UTC order.
    bool Read(int64_t from, int64_t to, MetaDataFrames& out);
    // As Read, only the XML rows (DATATYPE 0).
    bool ReadXml(int64_t from, int64_t to, MetaDataFrames& out);

    const std::filesystem::path& Path() const { return path_; }

  private:
    MetaDataFile(std::filesystem::path path, std::shared_ptr<FolderInUseContainer> folders);

    bool Select(int64_t from, int64_t to, bool xmlOnly, MetaDataFrames& out);

    std::filesystem::path path_;
    std::unique_ptr<SQLite::Database> db_;
    FolderInUseRegistration folder_;
};

}  // namespace orvale::recorder
