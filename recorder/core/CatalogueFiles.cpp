#include "recorder/core/CatalogueFiles.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include "common/GlobalNames.h"
#include "common/Log.h"

namespace orvale::recorder {
namespace fs = std::filesystem;

namespace {

const std::string* const kNames[] = {&common::kCatalogueFileName, &common::kCatalogueShmFileName,
                                     &common::kCatalogueWalFileName};

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

void CatalogueFiles::Copy(const fs::path& from, const fs::path& to) const {
    for (const auto* name : kNames) {
        if (fs::exists(from / *name)) {
            fs::copy_file(from / *name, to / *name, fs::copy_options::overwrite_existing);
        }
    }
}

bool CatalogueFiles::Remove(const fs::path& folder) const {
    try {
        for (const auto* name : kNames) {
            if (fs::exists(folder / *name)) fs::remove(folder / *name);
        }
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
