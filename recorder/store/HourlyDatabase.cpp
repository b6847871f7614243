#include "recorder/store/HourlyDatabase.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include "common/GlobalNames.h"
#include "common/Utility.h"
#include "recorder/database/DatabaseFile.h"

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
    UseWriteAheadLog(*db);
    return db;
}

std::unique_ptr<SQLite::Database> OpenHourlyDatabaseForReading(const fs::path& path) {
    // Read-write without create: a read-only connection would leave the log
    // and shared-memory files behind, since it may not remove them.
    auto db = std::make_unique<SQLite::Database>(path.string(), SQLite::OPEN_READWRITE);
    db->setBusyTimeout(kHourlyBusyTimeoutMs);
    db->exec("PRAGMA query_only = 1");
    return db;
}

bool CopyDatabaseTemplate(const fs::path& templatePath, const fs::path& path) {
    std::error_code error;
    if (!fs::exists(templatePath, error)) return false;
    fs::remove(WithSuffix(path, "-wal"), error);
    fs::remove(WithSuffix(path, "-shm"), error);
    return fs::copy_file(templatePath, path, fs::copy_options::overwrite_existing, error) && !error;
}

fs::path TemplateFile(const std::string& name) {
    return fs::path(common::GetModuleFolder()) / common::kTemplateFolder / name;
}

bool ClearTemplate(const fs::path& templatePath) {
    std::error_code error;
    fs::create_directories(templatePath.parent_path(), error);
    if (error) return false;
    RemoveDatabaseFiles(templatePath);
    return true;
}

}  // namespace orvale::recorder
