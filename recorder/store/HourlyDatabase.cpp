#include "recorder/store/HourlyDatabase.h"

#include <atomic>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include <SQLiteCpp/SQLiteCpp.h>

#include "common/GlobalNames.h"
#include "common/Utility.h"
#include "platform/FileRename.h"
#include "platform/FolderLock.h"
#include "recorder/database/DatabaseFile.h"

namespace orvale::recorder {
namespace fs = std::filesystem;

namespace {

fs::path WithSuffix(const fs::path& path, const char* suffix) {
    return fs::path(path.string() + suffix);
}

fs::path TemporaryName(const fs::path& path) {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    std::ostringstream name;
    name << path.string() << ".new-" << std::hex << salt << "-" << counter++;
    return name.str();
}

// Fills the file that nobody else can see yet. It needs no journal and no
// flush of its own: it is flushed once, whole, before it is moved into place.
// Write-ahead logging is switched on here, before that flush, so that the
// first connection to the placed file finds it on and writes nothing.
void Build(const fs::path& building, const HourFileRecipe& recipe, bool filled) {
    if (!filled) {
        // Private to this thread: no connection mutex either.
        SQLite::Database db(building.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_NOMUTEX, 0,
                            kHourFileVfs);
        db.exec("pragma mmap_size = 0");
        db.exec("pragma journal_mode = OFF");
        db.exec("pragma synchronous = OFF");
        db.exec("pragma locking_mode = EXCLUSIVE");
        if (recipe.fill) recipe.fill(db);
        db.exec("pragma journal_mode = WAL");
    }
    std::error_code error;
    if (recipe.presize > 0 &&
        fs::file_size(building, error) < static_cast<uintmax_t>(recipe.presize)) {
        fs::resize_file(building, static_cast<uintmax_t>(recipe.presize), error);
    }
    if (!platform::SyncFile(building.string())) {
        throw std::runtime_error("failed to flush " + building.string());
    }
}

bool WriteImage(const HourImageCache::Image& image, const fs::path& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(image->data(), static_cast<std::streamsize>(image->size()));
    out.close();
    return static_cast<bool>(out);
}

HourImageCache::Image ReadImage(const fs::path& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    if (error || size == 0) return nullptr;
    auto bytes = std::make_shared<std::vector<char>>(size);
    std::ifstream in(path, std::ios::binary);
    in.read(bytes->data(), static_cast<std::streamsize>(size));
    if (!in || in.gcount() != static_cast<std::streamsize>(size)) return nullptr;
    return bytes;
}

// The file at `building` starts as the cached image of its hour (true), a
// copy of the template or fresh tables (false); throws when none can be made.
bool StartFile(const fs::path& building, const HourFileRecipe& recipe) {
    const HourImageCache::Image image =
        recipe.cache != nullptr ? recipe.cache->Find(recipe.hourStart) : nullptr;
    if (image && WriteImage(image, building)) return true;
    RemoveDatabaseFiles(building);
    if (CopyDatabaseTemplate(recipe.templatePath, building) ||
        (recipe.createTables && recipe.createTables(building))) {
        return false;
    }
    RemoveDatabaseFiles(building);
    throw std::runtime_error("failed to make " + building.string());
}

}  // namespace

HourImageCache::Image HourImageCache::Find(int64_t hourStart) const {
    std::lock_guard lock(mutex_);
    const auto found = images_.find(hourStart);
    return found == images_.end() ? nullptr : found->second;
}

void HourImageCache::Keep(int64_t hourStart, Image image) {
    if (!image) return;
    std::lock_guard lock(mutex_);
    images_[hourStart] = std::move(image);
    while (images_.size() > kHours) images_.erase(images_.begin());
}

namespace {

// Every connection to an hour file goes through the same file system and
// maps nothing, so that a failing drive never faults a mapping of it.
std::unique_ptr<SQLite::Database> Connect(const fs::path& path) {
    auto db =
        std::make_unique<SQLite::Database>(path.c_str(), SQLite::OPEN_READWRITE, 0, kHourFileVfs);
    db->exec("PRAGMA mmap_size = 0");
    return db;
}

}  // namespace

std::unique_ptr<SQLite::Database> OpenHourlyDatabase(const fs::path& path) {
    auto db = Connect(path);
    // Set first: switching a fresh copy to write-ahead logging needs a lock
    // that another writer of the hour may hold for a moment.
    db->setBusyTimeout(kHourlyBusyTimeoutMs);
    UseWriteAheadLog(*db);
    return db;
}

std::unique_ptr<SQLite::Database> OpenHourlyDatabaseForReading(const fs::path& path) {
    // Read-write without create: a read-only connection would leave the log
    // behind, since it may not remove it.
    auto db = Connect(path);
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

bool CreateHourlyDatabase(const fs::path& path, const HourFileRecipe& recipe) {
    const fs::path building = TemporaryName(path);
    RemoveDatabaseFiles(building);
    const bool fromImage = StartFile(building, recipe);
    try {
        Build(building, recipe, fromImage);
        if (!fromImage && recipe.cache != nullptr) {
            recipe.cache->Keep(recipe.hourStart, ReadImage(building));
        }
    } catch (...) {
        RemoveDatabaseFiles(building);
        throw;
    }
    // The hour folder's lock, not one of this process alone: another process
    // may place the same hour and open it (making its log) between a check
    // that finds no file and the removal of the stale log that follows.
    const platform::FolderLock lock(path.parent_path().string());
    if (!lock.Held()) {
        RemoveDatabaseFiles(building);
        throw std::runtime_error("failed to lock the folder of " + path.string());
    }
    std::error_code error;
    platform::RenameResult placed = platform::RenameResult::kTargetExists;
    if (!fs::exists(path, error)) {
        // A log left by an earlier file of this name would be replayed into the new one.
        RemoveDatabaseFiles(path);
        placed = platform::RenameNoReplace(building.string(), path.string());
    }
    if (placed != platform::RenameResult::kDone) RemoveDatabaseFiles(building);
    if (placed == platform::RenameResult::kFailed) {
        throw std::runtime_error("failed to move " + building.string() + " into place");
    }
    return placed == platform::RenameResult::kDone;
}

fs::path TemplateFile(const std::string& name) {
    return fs::path(common::GetModuleFolder()) / common::kTemplateFolder / name;
}

namespace {

// What makes a template the one this build makes: its tables as declared
// and the rows of its version table. Empty when the file is not sound.
std::string TemplateShape(const fs::path& path) {
    try {
        SQLite::Database db(path.string(), SQLite::OPEN_READONLY);
        if (db.execAndGet("PRAGMA quick_check").getString() != "ok") return {};
        std::string shape;
        SQLite::Statement tables(db, "SELECT sql FROM sqlite_master ORDER BY name");
        while (tables.executeStep()) shape += tables.getColumn(0).getString() + '\n';
        if (db.tableExists("T_VER")) {
            SQLite::Statement versions(db, "SELECT * FROM T_VER");
            while (versions.executeStep()) {
                for (int i = 0; i < versions.getColumnCount(); ++i) {
                    shape += versions.getColumn(i).getString() + ',';
                }
                shape += '\n';
            }
        }
        return shape;
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

bool PlaceTemplate(const fs::path& templatePath,
                   const std::function<bool(const fs::path&)>& build) {
    std::error_code error;
    fs::create_directories(templatePath.parent_path(), error);
    if (error) return false;
    const fs::path building = TemporaryName(templatePath);
    RemoveDatabaseFiles(building);
    if (!build(building)) {
        RemoveDatabaseFiles(building);
        return false;
    }
    const std::string shape = TemplateShape(building);
    if (!shape.empty() && fs::exists(templatePath, error) &&
        fs::file_size(templatePath, error) == fs::file_size(building, error) && !error &&
        TemplateShape(templatePath) == shape) {
        RemoveDatabaseFiles(building);
        return true;
    }
    // A rename replaces the old template at once: a copy being made from it
    // meanwhile reads the old file whole, never a half-written one.
    fs::rename(building, templatePath, error);
    if (error) RemoveDatabaseFiles(building);
    return !error;
}

}  // namespace orvale::recorder
