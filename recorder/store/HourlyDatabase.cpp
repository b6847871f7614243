#include "recorder/store/HourlyDatabase.h"

#include <SQLiteCpp/SQLiteCpp.h>

namespace orvale::recorder {
namespace fs = std::filesystem;

namespace {

fs::path WithSuffix(const fs::path& path, const char* suffix) {
    return fs::path(path.string() + suffix);
}

}  // namespace

std::unique_ptr<SQLite::Database> OpenHourlyDatabase(const fs::path& path) {
    auto db = std::make_unique<SQLite::Database>(path.string(), SQLite::OPEN_READWRITE);
    // Set first: switching a fresh copy to write-ahead logging needs a lock
    // that another writer of the hour may hold for a moment.
    db->setBusyTimeout(kHourlyBusyTimeoutMs);
    db->exec("pragma synchronous=NORMAL");
    db->exec("pragma journal_mode = WAL");
    return db;
}

bool CopyDatabaseTemplate(const fs::path& templatePath, const fs::path& path) {
    std::error_code error;
    if (!fs::exists(templatePath, error)) return false;
    fs::remove(WithSuffix(path, "-wal"), error);
    fs::remove(WithSuffix(path, "-shm"), error);
    return fs::copy_file(templatePath, path, fs::copy_options::overwrite_existing, error) && !error;
}

bool RemoveSqliteFiles(const fs::path& path) {
    bool removed = true;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code error;
        fs::remove(WithSuffix(path, suffix), error);
        removed = removed && !error;
    }
    return removed;
}

}  // namespace orvale::recorder
