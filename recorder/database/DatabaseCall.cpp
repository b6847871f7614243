#include "recorder/database/DatabaseCall.h"

#include <exception>
#include <optional>

#include "common/Log.h"

namespace orvale::recorder {
namespace {

#define OLOG_AT(severity, file, line) \
    OLOG_PLAIN(severity) << "[" << common::SourceBaseName(file) << "](LINE:" << (line) << "): "

// Runs `work` under the connection's lock; the failure text, if any, is
// logged once the lock is released.
template <class Work>
bool Run(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
         const char* file, int line, Work&& work) {
    if (!connection) {
        LogNoConnection(file, line);
        return false;
    }
    std::optional<std::string> failure;
    {
        const auto lock = connection->Lock();
        try {
            work(*connection);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    if (!failure) return true;
    OLOG_AT(common::kLogError, file, line) << *failure << ", Query:" << sql;
    return false;
}

void MarkModified(std::atomic<bool>* modified) {
    if (modified != nullptr) modified->exchange(true);
}

// One statement that returns no rows; with parameters, prepared and bound.
void Execute(DatabaseConnection& open, const std::string& sql, const Binder& bind) {
    if (!bind) {
        open.Database().exec(sql);
        return;
    }
    SQLite::Statement statement(open.Database(), sql);
    bind(statement);
    statement.exec();
}

}  // namespace

bool RunQuery(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
              const RowReader& onRow, const char* file, int line) {
    return RunQuery(connection, sql, Binder(), onRow, file, line);
}

bool RunQuery(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
              const Binder& bind, const RowReader& onRow, const char* file, int line) {
    return Run(connection, sql, file, line, [&](DatabaseConnection& open) {
        SQLite::Statement statement(open.Database(), sql);
        if (bind) bind(statement);
        while (statement.executeStep()) {
            if (!onRow(statement)) break;
        }
    });
}

bool RunWrite(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
              std::atomic<bool>* modified, const char* file, int line) {
    return RunWrite(connection, sql, Binder(), modified, file, line);
}

bool RunWrite(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
              const Binder& bind, std::atomic<bool>* modified, const char* file, int line) {
    if (!Run(connection, sql, file, line,
             [&](DatabaseConnection& open) { Execute(open, sql, bind); })) {
        return false;
    }
    MarkModified(modified);
    return true;
}

bool RunInsert(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
               std::atomic<bool>* modified, int64_t& rowId, const char* file, int line) {
    return RunInsert(connection, sql, Binder(), modified, rowId, file, line);
}

bool RunInsert(const std::shared_ptr<DatabaseConnection>& connection, const std::string& sql,
               const Binder& bind, std::atomic<bool>* modified, int64_t& rowId, const char* file,
               int line) {
    int64_t inserted = 0;
    if (!Run(connection, sql, file, line, [&](DatabaseConnection& open) {
            try {
                Execute(open, sql, bind);
            } catch (...) {
                open.NoteFailedInsert();
                throw;
            }
            inserted = open.NoteInsert();
        })) {
        return false;
    }
    rowId = inserted;
    MarkModified(modified);
    return true;
}

void LogNoConnection(const char* file, int line) {
    OLOG_AT(common::kLogFatal, file, line) << "Failed to connect db.";
}

}  // namespace orvale::recorder
