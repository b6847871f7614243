#include "recorder/database/DatabaseFile.h"

#include <exception>
#include <stdexcept>
#include <system_error>

#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include "common/Utility.h"

namespace orvale::recorder {

std::filesystem::path PathFromWide(const std::wstring& path) {
    return common::WideToUtf8(path.c_str(), static_cast<int>(path.size()));
}

bool NeedsNewDatabase(const std::filesystem::path& file) {
    if (!std::filesystem::exists(file)) return true;
    if (std::filesystem::file_size(file) == 0) return true;
    // Read-write, so that a hot journal left by a crash is rolled back first.
    SQLite::Database database(file.string(), SQLite::OPEN_READWRITE);
    // Another process may hold the file a moment (a start, a write): it is
    // waited for, and a file still held is an error, never an empty one.
    database.setBusyTimeout(kDatabaseBusyTimeoutMs);
    SQLite::Statement count(database, "SELECT count(*) FROM sqlite_master WHERE type = 'table'");
    return count.executeStep() && count.getColumn(0).getInt64() == 0;
}

void MakeDatabase(const std::filesystem::path& file,
                  const std::function<void(SQLite::Database&)>& fill) {
    // Never let a failure below remove a database that holds something.
    if (!NeedsNewDatabase(file)) {
        throw std::runtime_error("The database already holds tables: " + file.string());
    }
    const auto folder = file.parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder)) {
        std::filesystem::create_directories(folder);
    }
    try {
        SQLite::Database database(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        SQLite::Transaction transaction(database);
        fill(database);
        transaction.commit();
    } catch (const std::exception&) {
        RemoveDatabaseFiles(file);
        throw;
    }
}

void RemoveDatabaseFiles(const std::filesystem::path& file) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        std::error_code ignored;
        std::filesystem::remove(file.string() + suffix, ignored);
    }
}

void UseWriteAheadLog(SQLite::Database& database) {
    database.exec("pragma synchronous=NORMAL");
    database.exec("pragma journal_mode = WAL");
}

}  // namespace orvale::recorder
