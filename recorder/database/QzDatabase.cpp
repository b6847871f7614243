#include "recorder/database/QzDatabase.h"

#include <exception>
#include <filesystem>

#include <SQLiteCpp/Backup.h>
#include <SQLiteCpp/Database.h>
#include <sqlite3.h>

#include "common/Log.h"
#include "recorder/database/DatabaseConnection.h"
#include "recorder/database/DatabaseFile.h"

namespace orvale::recorder {

QzDatabase::QzDatabase() : modified_(std::make_shared<std::atomic<bool>>(false)) {}

// The members go in reverse order: the table objects before the connection.
QzDatabase::~QzDatabase() = default;

namespace {
bool IsDamage(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}
}  // namespace

bool QzDatabase::Open(const std::wstring& path) {
    lastOpenDamaged_ = false;
    try {
        const std::filesystem::path file = PathFromWide(path);
        if (NeedsNewDatabase(file) && !CreateTables(path)) return false;

        const std::lock_guard lock(mutex_);
        if (!connection_) {
            connection_ = std::make_shared<DatabaseConnection>(file.string());
            const auto statementLock = connection_->Lock();
            connection_->Database().setBusyTimeout(kDatabaseBusyTimeoutMs);
            UseWriteAheadLog(connection_->Database());
            // Reading the schema shows a damaged file here, not at the first call.
            connection_->Database().exec("SELECT count(*) FROM sqlite_master");
        }
        commonTable_ = std::make_shared<CommonTable>(connection_, modified_);
        channelTable_ = std::make_shared<ChannelTable>(connection_, modified_);
        driveTable_ = std::make_shared<DriveTable>(connection_, modified_);
        bookmarkTable_ = std::make_shared<BookmarkTable>(connection_, modified_);
        arbTable_ = std::make_shared<ArbTable>(connection_, modified_);
        return true;
    } catch (const SQLite::Exception& e) {
        lastOpenDamaged_ = IsDamage(e.getErrorCode()) || IsDamage(e.getExtendedErrorCode());
        OLOG(common::kLogError) << e.what();
        const std::lock_guard lock(mutex_);
        connection_.reset();
        return false;
    } catch (const std::exception& e) {
        OLOG(common::kLogError) << e.what();
        return false;
    }
}

// In write-ahead-log mode every other connection holds a shared lock, so the
// exclusive one, asked for without waiting, is refused while one is open.
bool QzDatabase::HeldByNoOther() {
    const std::lock_guard lock(mutex_);
    if (!connection_) return false;
    const auto statementLock = connection_->Lock();
    auto& database = connection_->Database();
    try {
        database.setBusyTimeout(0);
        database.exec("PRAGMA locking_mode=EXCLUSIVE");
        database.exec("BEGIN EXCLUSIVE");
        database.exec("COMMIT");
        return true;
    } catch (const std::exception& e) {
        OLOG(common::kLogInfo) << "QzDatabase is held by another process: " << e.what();
        return false;
    }
}

bool QzDatabase::CreateTables(const std::wstring& path) {
    try {
        MakeDatabase(PathFromWide(path), [](SQLite::Database& database) {
            if (!database.tableExists("T_VER")) {
                database.exec("CREATE TABLE [T_VER]( \t\t\t\t\t[VER]INTEGER \t\t\t\t\t)");
            }
            database.exec("INSERT INTO [T_VER] VALUES(1)");
            CommonTable::CreateTable(database);
            ChannelTable::CreateTable(database);
            DriveTable::CreateTable(database);
            BookmarkTable::CreateTable(database);
            ArbTable::CreateTable(database);
        });
        return true;
    } catch (const std::exception& e) {
        OLOG(common::kLogError) << e.what();
        return false;
    }
}

void QzDatabase::Close() {
    std::shared_ptr<DatabaseConnection> released;
    const std::lock_guard lock(mutex_);
    released.swap(connection_);
}

std::shared_ptr<CommonTable> QzDatabase::GetCommonTable() const {
    const std::lock_guard lock(mutex_);
    return commonTable_;
}

std::shared_ptr<ChannelTable> QzDatabase::GetChannelTable() const {
    const std::lock_guard lock(mutex_);
    return channelTable_;
}

std::shared_ptr<DriveTable> QzDatabase::GetDriveTable() const {
    const std::lock_guard lock(mutex_);
    return driveTable_;
}

std::shared_ptr<BookmarkTable> QzDatabase::GetBookmarkTable() const {
    const std::lock_guard lock(mutex_);
    return bookmarkTable_;
}

std::shared_ptr<ArbTable> QzDatabase::GetArbTable() const {
    const std::lock_guard lock(mutex_);
    return arbTable_;
}

bool QzDatabase::BackupTo(const std::string& file) {
    std::shared_ptr<DatabaseConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
    }
    if (!connection) return false;
    try {
        auto lock = connection->Lock();
        SQLite::Database copy(file, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        SQLite::Backup backup(copy, connection->Database());
        return backup.executeStep() == SQLITE_DONE;
    } catch (const std::exception& e) {
        OLOG(common::kLogWarning) << "Failed to back up a db, Exception: " << e.what();
        return false;
    }
}

}  // namespace orvale::recorder
