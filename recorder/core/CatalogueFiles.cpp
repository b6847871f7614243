#include "recorder/core/CatalogueFiles.h"

#include <utility>
#include <vector>

#include <SQLiteCpp/Backup.h>
#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include "common/GlobalNames.h"
#include "common/Log.h"
#include "platform/FileRename.h"
#include "recorder/database/DatabaseFile.h"

namespace orvale::recorder {
namespace fs = std::filesystem;

namespace {

const std::string* const kNames[] = {&common::kCatalogueFileName, &common::kCatalogueShmFileName,
                                     &common::kCatalogueWalFileName};
const char kBuildingSuffix[] = ".building";
const char kAsideSuffix[] = ".replaced";

fs::path WithSuffix(const fs::path& file, const std::string& suffix) {
    return file.string() + suffix;
}

// A whole copy of the database `from`, read through SQLite so that what only
// its log holds is copied too.
bool CopyDatabase(const fs::path& from, const fs::path& to) {
    RemoveDatabaseFiles(to);
    try {
        SQLite::Database source(from.string(), SQLite::OPEN_READONLY);
        SQLite::Database copy(to.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        SQLite::Backup backup(copy, source);
        if (backup.executeStep() == SQLITE_DONE) return true;
        OLOG(common::kLogError) << "Failed to copy a db: " << from << " was not copied whole";
    } catch (const std::exception& e) {
        OLOG(common::kLogError) << "Failed to copy a db, Exception: " << e.what();
    }
    RemoveDatabaseFiles(to);
    return false;
}

}  // namespace

CatalogueFiles::CatalogueFiles(const fs::path& hostFolder)
    : base_(hostFolder / "DB"), import_(base_ / "Import"), backup_(base_ / "Backup") {}

fs::path CatalogueFiles::MainFile(const fs::path& folder) const {
    return folder / common::kCatalogueFileName;
}

void CatalogueFiles::CreateFolders() const {
    for (const auto* folder : {&base_, &import_, &backup_}) {
        std::error_code error;
        if (!fs::exists(*folder, error)) fs::create_directories(*folder, error);
    }
}

bool CatalogueFiles::Exists(const fs::path& folder) const {
    std::error_code error;
    return fs::exists(MainFile(folder), error);
}

bool CatalogueFiles::CopyInto(const fs::path& from, const fs::path& to) const {
    const fs::path building = BuildingFile(to);
    if (!CopyDatabase(MainFile(from), building)) return false;
    if (MoveIntoPlace(building, to)) return true;
    RemoveDatabaseFiles(building);
    return false;
}

fs::path CatalogueFiles::BuildingFile(const fs::path& folder) const {
    return WithSuffix(MainFile(folder), kBuildingSuffix);
}

bool CatalogueFiles::MoveIntoPlace(const fs::path& building, const fs::path& folder) const {
    const fs::path target = MainFile(folder);
    if (!platform::SyncFile(building.string())) {
        OLOG(common::kLogError) << "Failed to flush a db copy: " << building;
        return false;
    }
    std::error_code error;
    std::vector<std::pair<fs::path, fs::path>> aside;
    for (const char* suffix : {"-wal", "-journal"}) {
        const fs::path log = WithSuffix(target, suffix);
        if (!fs::exists(log, error)) continue;
        const fs::path kept = WithSuffix(log, kAsideSuffix);
        fs::rename(log, kept, error);
        if (error) break;
        aside.emplace_back(log, kept);
    }
    if (!error) fs::rename(building, target, error);
    if (error) {
        OLOG(common::kLogError) << "Failed to move " << building
                                << " into place: " << error.message();
        for (const auto& [log, kept] : aside) fs::rename(kept, log, error);
        return false;
    }
    fs::remove(WithSuffix(target, "-shm"), error);  // an index of the old log only
    for (const auto& entry : aside) fs::remove(entry.second, error);
    return true;
}

bool CatalogueFiles::Remove(const fs::path& folder) const {
    try {
        for (const auto* name : kNames) {
            if (fs::exists(folder / *name)) fs::remove(folder / *name);
        }
        RemoveDatabaseFiles(BuildingFile(folder));
        return true;
    } catch (const fs::filesystem_error& e) {
        OLOG(common::kLogFatal) << "Failed to delete a db, Exception: " << e.what();
        return false;
    }
}

bool CatalogueFiles::IsSound(const fs::path& folder) const {
    try {
        SQLite::Database db(MainFile(folder).string(), SQLite::OPEN_READONLY);
        return db.execAndGet("PRAGMA quick_check").getString() == "ok" &&
               db.execAndGet("SELECT count(*) FROM sqlite_master WHERE type = 'table'").getInt() >
                   0;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace orvale::recorder
