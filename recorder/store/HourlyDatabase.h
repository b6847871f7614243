// What the hourly index and metadata databases share: how a connection is
// opened, how a new hour file is made from its template, and how a database
// file is removed with its write-ahead log and shared-memory companions.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace SQLite {
class Database;
}

namespace orvale::recorder {

// How long a connection waits for another writer of the same hour (the
// normal writer's close, the low writer, the ARB merge) before it gives up.
inline constexpr int kHourlyBusyTimeoutMs = 5000;

// Connects read-write (no create) with synchronous NORMAL, write-ahead
// logging and the busy timeout. Throws SQLite::Exception on failure.
std::unique_ptr<SQLite::Database> OpenHourlyDatabase(const std::filesystem::path& path);

// Connects to an existing hour file for reading alone: nothing is created
// (no create flag, no journal-mode change) and the connection refuses to
// write. A write-ahead log it finds is read; the log and shared-memory files
// SQLite makes for the read go again when the last connection closes. Throws
// SQLite::Exception on failure.
std::unique_ptr<SQLite::Database> OpenHourlyDatabaseForReading(const std::filesystem::path& path);

// Copies a template over `path`; false when the template is missing or the
// copy failed. Stale -wal/-shm files of `path` are removed first, since a
// stale log would be replayed into the new file.
bool CopyDatabaseTemplate(const std::filesystem::path& templatePath,
                          const std::filesystem::path& path);

// The path of a template database in DBTemp beside the host program.
std::filesystem::path TemplateFile(const std::string& name);

// Makes the template folder and removes an earlier template, so that every
// start-up builds a fresh one; false when the folder cannot be made.
bool ClearTemplate(const std::filesystem::path& templatePath);

}  // namespace orvale::recorder
