#include "recorder/store/MetaDataFile.h"

#include <algorithm>
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

// Makes the tables that `db` lacks; the version row comes with its table.
void MakeMissingTables(SQLite::Database& db) {
    if (!db.tableExists("T_VER")) {
        db.exec(kCreateVersion);
        db.exec(kInsertVersion);
    }
    if (!db.tableExists("T_METADATA")) db.exec(kCreateMetadata);
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
    return PlaceTemplate(TemplatePath(), &CreateTables);
}

bool MetaDataFile::CreateTables(const fs::path& path) {
    try {
        SQLite::Database db(path.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        SQLite::Transaction transaction(db);
        MakeMissingTables(db);
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
    try {
        std::error_code error;
        if (!fs::exists(path_, error)) {
            // Only a file made here is pre-sized; an existing hour is never shrunk.
            CreateHourlyDatabase(path_, {TemplatePath(), CreateTables, nullptr, preallocSize});
        }
        if (db_) return true;
        db_ = OpenHourlyDatabase(path_);
        if (!db_->tableExists("T_METADATA")) {
            // A file left behind without its tables: complete it in place.
            SQLite::Transaction transaction(*db_);
            MakeMissingTables(*db_);
            transaction.commit();
        }
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << e.what();
        db_.reset();
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
    std::vector<std::pair<int64_t, int64_t>> inserted;  // (UTC, ROWID)
    try {
        // Immediate: what is read of the table below holds until the commit
        // (a deferred one would read first and could then not write).
        SQLite::Transaction transaction(*db_, SQLite::TransactionBehavior::IMMEDIATE);
        if (!newestStored_) {
            newestStored_ =
                db_->execAndGet("SELECT IFNULL(MAX(UTC), -1) FROM [T_METADATA]").getInt64();
        }
        DeleteStoredRows(frames);
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
            inserted.emplace_back(frame->utc, db_->getLastInsertRowid());
        }
        transaction.commit();
    } catch (const std::exception& e) {
        OLOG(kLogError) << e.what();
        // What was read of the table may no longer hold after the rollback.
        newestStored_.reset();
        rowsBySecond_.reset();
        return false;
    }
    if (rowsBySecond_) {
        for (const auto& frame : frames) rowsBySecond_->erase(frame->utc);
    }
    for (const auto& [utc, rowId] : inserted) NoteInserted(utc, rowId);
    return true;
}

void MetaDataFile::DeleteStoredRows(const MetaDataFrames& frames) {
    const bool again = std::any_of(frames.begin(), frames.end(), [this](const auto& frame) {
        return frame->utc <= *newestStored_;
    });
    if (!again) return;
    if (!rowsBySecond_) {
        auto rows = std::make_unique<std::map<int64_t, std::vector<int64_t>>>();
        SQLite::Statement query(*db_, "SELECT UTC, ROWID FROM [T_METADATA]");
        while (query.executeStep()) {
            (*rows)[query.getColumn(0).getInt64()].push_back(query.getColumn(1).getInt64());
        }
        rowsBySecond_ = std::move(rows);
    }
    SQLite::Statement remove(*db_, "DELETE FROM [T_METADATA] WHERE ROWID = ?");
    int64_t previous = -1;
    for (const auto& frame : frames) {
        if (frame->utc == previous) continue;
        previous = frame->utc;
        const auto stored = rowsBySecond_->find(frame->utc);
        if (stored == rowsBySecond_->end()) continue;
        for (const int64_t rowId : stored->second) {
            remove.bind(1, rowId);
            remove.exec();
            remove.reset();
        }
    }
}

void MetaDataFile::NoteInserted(int64_t utc, int64_t rowId) {
    newestStored_ = std::max(newestStored_.value_or(utc), utc);
    if (rowsBySecond_) (*rowsBySecond_)[utc].push_back(rowId);
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
