// One open SQLite connection that several threads share.
//
// Every statement runs while its caller holds Lock(): SQLite keeps the error
// text, the count of changed rows and the last inserted row id per
// connection, and only the lock makes them belong to the statement that
// produced them. The row id of each thread's last insert is kept apart from
// the connection, in the thread's own storage, so that a thread asking for
// "the row I just inserted" gets its own even when another thread inserted in
// between, and a new thread never finds the answer of one that ended (thread
// ids are reused; the storage is not).
//
// The object owns the connection; the file closes when the last shared
// reference goes, so a statement that holds one is never cut off.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

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
    // Remembers that the calling thread's last insert failed: its last row
    // id is then -1, never the id of an earlier row.
    void NoteFailedInsert();

    // The row id of the calling thread's last insert on this connection; 0
    // before its first, -1 after a failed one.
    int64_t LastInsertRowId() const;

  private:
    const uint64_t serial_;  // never reused, unlike the object's address
    std::mutex mutex_;
    SQLite::Database database_;
};

}  // namespace orvale::recorder
