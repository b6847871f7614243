// What the hourly index and metadata databases share: how a connection is
// opened, how a new hour file is made from its template, and how a database
// file is removed with its write-ahead log and shared-memory companions.
//
// A new hour file appears whole: it is made under a temporary name beside its
// final one (template copy or fresh tables, the rows of the hour, write-ahead
// logging switched on), flushed once, and moved into place only when no other
// writer put the hour there first. So no connection ever sees a half-made
// hour file, and a file another writer already wrote to is never replaced.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace SQLite {
class Database;
}

namespace orvale::recorder {

// How long a connection waits for another writer of the same hour (the
// normal writer's close, the low writer, the ARB merge) before it gives up.
inline constexpr int kHourlyBusyTimeoutMs = 5000;

// The SQLite file system every connection to an hour file goes through,
// the engine's and its tools' alike. It keeps the write-ahead log's index in
// heap memory shared by the connections of this process, not in a "-shm"
// file mapped beside the database: a page of a mapping that a failing drive
// can no longer back kills the process with SIGBUS at the next store into
// it, while heap memory only lets the database calls fail. The first
// connection of the process to take a lock on the file holds it until the
// process's last connection to it closes, so another process that opens
// the hour meanwhile is refused ("database is locked") instead of keeping a
// second index of the same log. The database is never mapped either
// (`mmap_size` 0 on every connection).
inline constexpr const char* kHourFileVfs = "unix-excl";

// Connects read-write (no create) with synchronous NORMAL, write-ahead
// logging and the busy timeout, through kHourFileVfs. Throws
// SQLite::Exception on failure, "database is locked" among them when
// another process holds the hour.
std::unique_ptr<SQLite::Database> OpenHourlyDatabase(const std::filesystem::path& path);

// Connects to an existing hour file for reading alone: nothing is created
// (no create flag, no journal-mode change) and the connection refuses to
// write. A write-ahead log it finds is read; a log SQLite makes for the read
// goes again when the last connection closes. Throws
// SQLite::Exception on failure.
std::unique_ptr<SQLite::Database> OpenHourlyDatabaseForReading(const std::filesystem::path& path);

// Copies a template over `path`; false when the template is missing or the
// copy failed. Stale -wal/-shm files of `path` are removed first, since a
// stale log would be replayed into the new file.
bool CopyDatabaseTemplate(const std::filesystem::path& templatePath,
                          const std::filesystem::path& path);

// The bytes of new hour files as they were made, by hour, for the next file
// of the same hour and recipe: every channel opens a new hour at the top of
// each hour, and a copy of what the first one made spares the others making
// it again (the rows of an hour cost a few milliseconds of CPU each time).
// Keeps the newest kHours hours. Thread-safe.
class HourImageCache {
  public:
    using Image = std::shared_ptr<const std::vector<char>>;
    static constexpr size_t kHours = 4;

    Image Find(int64_t hourStart) const;
    void Keep(int64_t hourStart, Image image);

  private:
    mutable std::mutex mutex_;
    std::map<int64_t, Image> images_;
};

// How a new hour file is made: its template, how its tables are made when
// the template is missing, the rows it starts with, and the size it is given
// on disk (0: as it comes). With a cache, a file made for `hourStart` is
// kept there, and a later one of that hour is written from it as it stands
// (rows included: `fill` is not run on it).
struct HourFileRecipe {
    std::filesystem::path templatePath;
    std::function<bool(const std::filesystem::path&)> createTables;
    std::function<void(SQLite::Database&)> fill;
    int64_t presize = 0;
    HourImageCache* cache = nullptr;
    int64_t hourStart = 0;
};

// Makes the hour file at `path` when it does not exist yet (see above). True
// when this call put it in place, false when another writer had put a file
// there first (which is then used as it stands). Throws, leaving nothing
// behind, when the file cannot be made or moved into place.
bool CreateHourlyDatabase(const std::filesystem::path& path, const HourFileRecipe& recipe);

// The path of a template database in DBTemp beside the host program.
std::filesystem::path TemplateFile(const std::string& name);

// Makes the template at `templatePath` (and its folder) with `build`, which
// makes the file it is given. It builds under a name of this process's own
// and keeps a sound template already in place that has the tables, version
// and size of the one it built; otherwise it renames its own into place, so
// that a start beside another never sees, or copies, a half-built template.
// False when the template could not be built or placed.
bool PlaceTemplate(const std::filesystem::path& templatePath,
                   const std::function<bool(const std::filesystem::path&)>& build);

}  // namespace orvale::recorder
