// The metadata database of one channel hour: table T_METADATA, one row per
// metadata frame, inserted a second at a time and read back by time range.
//
// A new hour file starts as a copy of the template in DBTemp beside the host
// program and appears whole under its name (HourlyDatabase.h); a file found
// without its tables (left by a crash) is completed. The object connects on first use and registers
// its hour folder as in use for as long as it lives. It has no lock: the writer side runs on one
// recorder strand, and readers make objects of their own (the write-ahead
// log lets them read while the hour is written).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    // larger than the new file), completes one without its tables, and
    // connects.
    bool Open(int64_t preallocSize);
    // Stores one second's frames in one transaction: all or none. A second
    // stored again (a conversion run again) replaces its earlier rows, so
    // that each second keeps the rows of its last store only.
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
    // Deletes, inside the caller's transaction, the rows stored before of
    // the seconds of `frames`.
    void DeleteStoredRows(const MetaDataFrames& frames);
    void NoteInserted(int64_t utc, int64_t rowId);

    std::filesystem::path path_;
    std::unique_ptr<SQLite::Database> db_;
    // The writer's view of the table: its newest second (read on the first
    // insert), and the row ids of each second, read only once a second
    // older than that is stored (the table has no index on UTC, and the
    // seconds of a recording come in order). An hour has one writer at a
    // time; rows other connections add later are not seen.
    std::optional<int64_t> newestStored_;
    std::unique_ptr<std::map<int64_t, std::vector<int64_t>>> rowsBySecond_;
    FolderInUseRegistration folder_;
};

}  // namespace orvale::recorder
