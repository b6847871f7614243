// One open SQLite connection that several threads share.
//
// Every statement runs while its caller holds Lock(): SQLite keeps the error
// text, the count of changed rows and the last inserted row id per
// connection, and only the lock makes them belong to the statement that
// produced them. The row id of each thread's last insert is kept here, under
// the same lock, so that a thread asking for "the row I just inserted" gets
// its own even when another thread inserted in between.
//
// The object owns the connection; the file closes when the last shared
// reference goes, so a statement that holds one is never cut off.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include <SQLiteCpp/Database.h>

namespace orvale::recorder {

class DatabaseConnection {
  public:
    // Opens the existing file at `path` (UTF-8) for reading and writing.
    explicit DatabaseConnection(const std::string& path);

    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    [[nodiscard]] std::unique_lock<std::mutex> Lock() { return std::unique_lock(mutex_); }

    // The connection; only while holding Lock().
    SQLite::Database& Database() { return database_; }

    // Remembers the connection's last inserted row id as the calling
    // thread's and returns it; only while holding Lock(), right after the
    // insert.
    int64_t NoteInsert();

    // The row id of the calling thread's last insert; 0 before its first.
    // (Threads are told apart by id; the engine's pool threads live as long
    // as the connection.)
    int64_t LastInsertRowId();

  private:
    std::mutex mutex_;
    SQLite::Database database_;
    std::unordered_map<std::thread::id, int64_t> lastInsertRowIds_;
};

}  // namespace orvale::recorder
