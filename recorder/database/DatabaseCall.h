// How every operation of the catalogue tables and the operation database runs
// its one statement and reports a failure, so that all of them report alike:
//
// - no connection (never opened, or closed since): "Failed to connect db." at
//   fatal severity, result false;
// - any exception while the statement is prepared, run or read: its text +
//   ", Query:" + the statement at error severity, result false.
//
// Nothing is thrown to the caller. The statement runs under the connection's
// lock; log lines are written after it is released and carry the file and
// line of the operation that called (the defaults of `file` and `line`).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <SQLiteCpp/Statement.h>

#include "recorder/database/DatabaseConnection.h"

namespace orvale::recorder {

// Reads one row of a select; returns false to stop the scan early.
using RowReader = std::function<bool(SQLite::Statement& row)>;

// Binds the parameters ("?") of a statement. Texts that come from a caller
// go in this way, never into the statement's text: stored byte for byte,
// NUL bytes and quotes included, and never read as SQL.
using Binder = std::function<void(SQLite::Statement& statement)>;

// Runs a select, handing each row to `onRow`. True when the select ran to the
// end (or to the stop), also when no row matched.
bool RunQuery(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
              const RowReader& onRow, const char* file = __builtin_FILE(),
              int line = __builtin_LINE());
bool RunQuery(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
              const Binder& bind, const RowReader& onRow, const char* file = __builtin_FILE(),
              int line = __builtin_LINE());

// Runs a statement that changes data; on success sets `modified` (when given).
// The count of changed rows is not looked at: a statement that matches no row
// succeeds.
bool RunWrite(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
              std::atomic<bool>* modified, const char* file = __builtin_FILE(),
              int line = __builtin_LINE());
bool RunWrite(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
              const Binder& bind, std::atomic<bool>* modified, const char* file = __builtin_FILE(),
              int line = __builtin_LINE());

// RunWrite for an insert; on success also gives the new row's id, which is
// remembered as the calling thread's last inserted row id. A failed insert
// leaves the thread's last row id at -1.
bool RunInsert(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
               std::atomic<bool>* modified, int64_t& rowId, const char* file = __builtin_FILE(),
               int line = __builtin_LINE());
bool RunInsert(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
               const Binder& bind, std::atomic<bool>* modified, int64_t& rowId,
               const char* file = __builtin_FILE(), int line = __builtin_LINE());

// The "Failed to connect db." line, for operations that need no statement.
void LogNoConnection(const char* file = __builtin_FILE(), int line = __builtin_LINE());

}  // namespace orvale::recorder
