// A test's own connection to an hour file (index or metadata database). It
// goes through the engine's hour file system, as every connection of the
// process to an hour file must: a connection of the default file system
// would keep a second, separate index of the same write-ahead log.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include <SQLiteCpp/SQLiteCpp.h>

#include "recorder/store/HourlyDatabase.h"

namespace orvale::test {

// Read-only by default; such a connection opens read-write without create
// and refuses to write, as the engine's readers do: a read-only one would
// take no lock of its own on the file, and keep its log index in a "-shm"
// file mapped into memory.
inline SQLite::Database HourDatabase(const std::string& path, int flags = SQLite::OPEN_READONLY) {
    const bool readOnly = (flags & SQLite::OPEN_READONLY) != 0;
    if (readOnly) flags = (flags & ~SQLite::OPEN_READONLY) | SQLite::OPEN_READWRITE;
    SQLite::Database db(path.c_str(), flags, 0, recorder::kHourFileVfs);
    db.exec("PRAGMA mmap_size = 0");
    if (readOnly) db.exec("PRAGMA query_only = 1");
    return db;
}

// Runs a `count` query on a read-only connection; 0 while the file is
// missing, busy or held by another process.
inline int64_t CountHourRows(const std::string& path, const std::string& sql) {
    try {
        SQLite::Database db = HourDatabase(path);
        return db.execAndGet(sql).getInt64();
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace orvale::test
