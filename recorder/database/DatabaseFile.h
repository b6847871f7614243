// The life of an SQLite file of the engine, apart from its statements: its
// path, whether it must be made anew, how it is made and removed, and the
// journal settings every connection uses.
//
// A file is made in one transaction: it ends up with all its tables and rows
// or, after a failure, is removed with its companions. A zero-length file or
// one without any table (what a crash during an older creation could leave)
// counts as missing; a file that holds some tables is never replaced here.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include <SQLiteCpp/Database.h>

namespace orvale::recorder {

// The file-system path of a wide path text (UTF-8 on this platform).
std::filesystem::path PathFromWide(const std::wstring& path);

// How long a look at a database that another process holds waits for it.
inline constexpr int kDatabaseBusyTimeoutMs = 5000;

// True when `file` does not exist, is empty, or holds no table. Throws when it
// exists but cannot be examined (not a database, a folder, held by another
// process beyond kDatabaseBusyTimeoutMs, ...).
bool NeedsNewDatabase(const std::filesystem::path& file);

// Makes `file` (and its missing folders) and runs `fill` on it inside one
// transaction. On any failure the file and its companions are removed and
// the exception goes on to the caller. Throws, touching nothing, when the
// file does not count as missing.
void MakeDatabase(const std::filesystem::path& file,
                  const std::function<void(SQLite::Database&)>& fill);

// Removes `file` with its "-wal", "-shm" and "-journal" companions; what does
// not exist is skipped, and errors are ignored.
void RemoveDatabaseFiles(const std::filesystem::path& file);

// Normal synchronisation and write-ahead logging, in this order.
void UseWriteAheadLog(SQLite::Database& database);

}  // namespace orvale::recorder
