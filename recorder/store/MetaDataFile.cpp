#include "recorder/store/MetaDataFile.h"

#include <sstream>
#include <stdexcept>

#include <SQLiteCpp/SQLiteCpp.h>

#include "common/GlobalNames.h"
#include "common/Log.h"
#include "recorder/database/SqlText.h"
#include "recorder/store/HourFileName.h"
#include "recorder/store/HourlyDatabase.h"

namespace orvale::recorder {
namespace fs = std::filesystem;
using common::kLogError;
using common::kLogTrace;

namespace {

const char* const kCreateVersion = "CREATE TABLE [T_VER]( \t\t\t\t\t[VER]INTEGER \t\t\t\t\t)";
const char* const kInsertVersion = "INSERT INTO [T_VER] VALUES(1)";
const char* const kCreateMetadata =
    "CREATE TABLE [T_METADATA]( \t\t\t\t\t\t [UTC] INTEGER \t\t\t\t\t\t,[TIMESTAMP] int "
    "\t\t\t\t\t\t,[DATATYPE] int \t\t\t\t\t\t,[ENCODINGTYPE] VARCHAR(255) \t\t\t\t\t\t,[CONTENT] "
    "BLOB \t\t\t\t\t\t,[EXTENSION] BLOB \t\t\t\t\t\t)";

std::shared_ptr<MetaDataFrame> FrameFromRow(SQLite::Statement& row) {
    auto frame = std::make_shared<MetaDataFrame>();
    frame->utc = row.getColumn(0).getInt64();
    frame->timestamp = static_cast<uint32_t>(row.getColumn(1).getInt64());
    frame->dataType = static_cast<uint32_t>(row.getColumn(2).getInt64());
    frame->encodingType = row.getColumn(3).getString();
    for (const auto& [column, bytes] : {std::pair{4, &frame->content}, {5, &frame->extension}}) {
        const SQLite::Column value = row.getColumn(column);
        const auto* data = static_cast<const uint8_t*>(value.getBlob());
        if (data != nullptr && value.getBytes() > 0) bytes->assign(data, data + value.getBytes());
    }
    return frame;
}

}  // namespace

std::shared_ptr<MetaDataFile> MetaDataFile::Create(fs::path path,
                                                   std::shared_ptr<FolderInUseContainer> folders) {
    return std::shared_ptr<MetaDataFile>(new MetaDataFile(std::move(path), std::move(folders)));
}

MetaDataFile::MetaDataFile(fs::path path, std::shared_ptr<FolderInUseContainer> folders)
    : path_(std::move(path)), folder_(std::move(folders), HourFolderKeyOfFile(path_)) {}

MetaDataFile::~MetaDataFile() = default;

fs::path MetaDataFile::TemplatePath() {
    return TemplateFile(common::kMetaTemplateFileName);
}

bool MetaDataFile::CreateTemplate() {
    const fs::path path = TemplatePath();
    return ClearTemplate(path) && CreateTables(path);
}

bool MetaDataFile::CreateTables(const fs::path& path) {
    try {
        SQLite::Database db(path.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        SQLite::Transaction transaction(db);
        if (!db.tableExists("T_VER")) {
            db.exec(kCreateVersion);
            db.exec(kInsertVersion);
        }
        if (!db.tableExists("T_METADATA")) db.exec(kCreateMetadata);
        transaction.commit();
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << e.what();
        return false;
    }
}

bool MetaDataFile::CopyTemplate(const fs::path& path) {
    return CopyDatabaseTemplate(TemplatePath(), path);
}

std::string MetaDataFile::MakeFileName(int64_t time) {
    return HourFileName(time, common::kMetaExtension);
}

bool MetaDataFile::Open(int64_t preallocSize) {
    std::error_code error;
    if (!fs::exists(path_, error)) {
        if (!CopyTemplate(path_) && !CreateTables(path_)) return false;
        // Only a file made here is pre-sized; an existing hour is never shrunk.
        if (preallocSize > 0 &&
            fs::file_size(path_, error) < static_cast<uintmax_t>(preallocSize)) {
            fs::resize_file(path_, static_cast<uintmax_t>(preallocSize), error);
        }
    }
    if (db_) return true;
    try {
        db_ = OpenHourlyDatabase(path_);
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << e.what();
        return false;
    }
}

bool MetaDataFile::OpenForReading() {
    if (db_) return true;
    std::error_code error;
    if (!fs::exists(path_, error)) return false;
    try {
        auto db = OpenHourlyDatabaseForReading(path_);
        if (!db->tableExists("T_METADATA")) {
            OLOG(kLogError) << "Path: " << path_ << ", no T_METADATA table";
            return false;
        }
        db_ = std::move(db);
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Path: " << path_ << ", " << e.what();
        return false;
    }
}

// Frames of one second keep the order in which they were stored.
void MetaDataFile::ReadExtensions(int64_t from, int64_t to, const ExtensionVisitor& visit) {
    if (!db_) throw std::logic_error("the metadata database is not open");
    SQLite::Statement query(*db_,
                            "SELECT UTC, EXTENSION FROM [T_METADATA] WHERE UTC >= ? AND UTC <= ? "
                            "AND DATATYPE = 0 ORDER BY UTC ASC, ROWID ASC");
    query.bind(1, from);
    query.bind(2, to);
    while (query.executeStep()) {
        const SQLite::Column extension = query.getColumn(1);
        const auto* bytes = static_cast<const uint8_t*>(extension.getBlob());
        const int size = extension.getBytes();
        visit(query.getColumn(0).getInt64(), size > 0 ? bytes : nullptr,
              size > 0 ? static_cast<size_t>(size) : 0);
    }
}

bool MetaDataFile::Insert(const MetaDataFrames& frames) {
    std::error_code error;
    if (!fs::exists(path_, error)) {
        OLOG(kLogTrace) << "Not exist a meta File(" << path_ << ")";
        return false;
    }
    if (!db_ && !Open(0)) return false;
    try {
        SQLite::Transaction transaction(*db_);
        for (const auto& frame : frames) {
            std::ostringstream sql;
            sql << "INSERT INTO [T_METADATA] VALUES(" << frame->utc << ", " << frame->timestamp
                << ", " << frame->dataType << ", " << SqlQuote(frame->encodingType) << " , ? , ? )";
            SQLite::Statement insert(*db_, sql.str());
            if (frame->content.empty()) {
                insert.bind(1);  // NULL
            } else {
                insert.bind(1, frame->content.data(), static_cast<int>(frame->ContentSize()));
            }
            // A null pointer would bind NULL: an empty extension is a zero-length blob.
            static const uint8_t kNoBytes = 0;
            const void* extension = frame->extension.empty() ? &kNoBytes : frame->extension.data();
            insert.bind(2, extension, static_cast<int>(frame->ExtensionSize()));
            insert.exec();
        }
        transaction.commit();
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << e.what();
        return false;
    }
}

bool MetaDataFile::Read(int64_t from, int64_t to, MetaDataFrames& out) {
    return Select(from, to, false, out);
}

bool MetaDataFile::ReadXml(int64_t from, int64_t to, MetaDataFrames& out) {
    return Select(from, to, true, out);
}

bool MetaDataFile::Select(int64_t from, int64_t to, bool xmlOnly, MetaDataFrames& out) {
    std::error_code error;
    if (!fs::exists(path_, error)) return false;
    if (!db_ && !Open(0)) return false;
    std::ostringstream sql;
    sql << "SELECT * FROM [T_METADATA]"
        << "WHERE UTC >= " << from << " AND "
        << " UTC <= " << to;
    if (xmlOnly)
        sql << " AND "
            << " DATATYPE = "
            << "0";
    sql << " ORDER BY UTC ASC";
    try {
        SQLite::Statement query(*db_, sql.str());
        MetaDataFrames rows;
        while (query.executeStep()) rows.push_back(FrameFromRow(query));
        out.insert(out.end(), rows.begin(), rows.end());
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << e.what();
        return false;
    }
}

}  // namespace orvale::recorder
