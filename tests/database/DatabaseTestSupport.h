// Helpers of the database tests: a record of the log lines the code under
// test writes, wide paths, and a second, raw connection to look at a file
// the way another program would.
#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <boost/log/core.hpp>

#include "common/Log.h"
#include "common/LogSetting.h"
#include "tests/support/LogCapture.h"

namespace orvale::test {

inline bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

inline std::wstring Wide(const std::filesystem::path& path) {
    const std::string text = path.string();
    return {text.begin(), text.end()};
}

// A connection of the test's own to a database file.
class RawFile {
  public:
    explicit RawFile(const std::filesystem::path& file)
        : database_(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE) {}

    void Exec(const std::string& sql) { database_.exec(sql); }

    // Every row of a select, each column as text ("NULL" for null).
    std::vector<std::vector<std::string>> Rows(const std::string& sql) {
        SQLite::Statement statement(database_, sql);
        std::vector<std::vector<std::string>> rows;
        while (statement.executeStep()) {
            std::vector<std::string> row;
            for (int i = 0; i < statement.getColumnCount(); ++i) {
                const auto column = statement.getColumn(i);
                row.push_back(column.isNull() ? "NULL" : column.getString());
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

    int64_t Count(const std::string& table) {
        SQLite::Statement statement(database_, "SELECT count(*) FROM [" + table + "]");
        statement.executeStep();
        return statement.getColumn(0).getInt64();
    }

  private:
    SQLite::Database database_;
};

}  // namespace orvale::test
