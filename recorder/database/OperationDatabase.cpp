#include "recorder/database/OperationDatabase.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <sstream>

#include "common/Log.h"
#include "recorder/database/DatabaseCall.h"
#include "recorder/database/DatabaseFile.h"

namespace orvale::recorder {

bool OperationDatabase::Open(std::wstring path) {
    try {
        const std::filesystem::path file = PathFromWide(path);
        if (NeedsNewDatabase(file) && !CreateTables(path)) return false;

        if (!connection_) {
            path_ = std::move(path);
            identity_.reset();
            connection_ = std::make_shared<DatabaseConnection>(file.string());
            identity_ = platform::IdentifyFile(file.string());
            const auto statementLock = connection_->Lock();
            UseWriteAheadLog(connection_->Database());
        }
        return true;
    } catch (const std::exception& e) {
        OLOG(common::kLogError) << e.what();
        return false;
    }
}

bool OperationDatabase::CreateTables(const std::wstring& path) {
    try {
        MakeDatabase(PathFromWide(path), [](SQLite::Database& database) {
            if (!database.tableExists("T_VER")) {
                database.exec("CREATE TABLE [T_VER]( \t\t\t\t\t[VER]INTEGER \t\t\t\t\t)");
            }
            database.exec("INSERT INTO [T_VER] VALUES(1)");
            if (!database.tableExists("T_KEYVALUE_INT")) {
                database.exec(
                    "CREATE TABLE [T_KEYVALUE_INT]( \t\t\t\t\t[NAME]VARCHAR(32) "
                    "\t\t\t\t\t,[VALUE]INTEGER \t\t\t\t\t,CONSTRAINT [PK_T_KEYVALUE_INT] PRIMARY "
                    "KEY "
                    "([NAME]) \t\t\t\t\t)");
            }
            database.exec("INSERT INTO [T_KEYVALUE_INT] VALUES( 'TRACKID' , 1)");
            const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::system_clock::now().time_since_epoch());
            std::ostringstream lastTime;
            lastTime << "INSERT INTO [T_KEYVALUE_INT] VALUES( 'LASTTIME' ," << now.count() << ")";
            database.exec(lastTime.str());
        });
        return true;
    } catch (const std::exception& e) {
        OLOG(common::kLogError) << e.what();
        return false;
    }
}

std::shared_ptr<DatabaseConnection> OperationDatabase::CurrentConnection() {
    if (!connection_) return nullptr;
    const std::string file = PathFromWide(path_).string();
    if (platform::IdentifyFile(file) == identity_) return connection_;

    OLOG(common::kLogWarning)
        << "The operation database was removed or replaced; opening it anew. Path = \"" << file
        << "\"";
    connection_.reset();
    Open(path_);
    return connection_;
}

bool OperationDatabase::GetValue(const std::string& sql, int64_t& value) {
    bool found = false;
    const bool ran = RunQuery(CurrentConnection(), sql, [&](SQLite::Statement& row) {
        value = row.getColumn(1).getInt64();
        found = true;
        return false;
    });
    return ran && found;
}

bool OperationDatabase::GetTrackId(int& trackId) {
    int64_t value = 0;
    if (!GetValue("SELECT * FROM [T_KEYVALUE_INT] WHERE NAME = 'TRACKID'", value)) return false;
    trackId = static_cast<int>(value);
    return true;
}

bool OperationDatabase::GetLastTime(int64_t& lastTime) {
    return GetValue("SELECT * FROM [T_KEYVALUE_INT] WHERE NAME = 'LASTTIME'", lastTime);
}

bool OperationDatabase::SetTrackId(int trackId) {
    std::ostringstream sql;
    sql << "UPDATE [T_KEYVALUE_INT] SET VALUE = " << trackId << " WHERE NAME = 'TRACKID'";
    return RunWrite(CurrentConnection(), sql.str(), nullptr);
}

bool OperationDatabase::SetLastTime(uint64_t lastTime) {
    std::ostringstream sql;
    sql << "UPDATE [T_KEYVALUE_INT] SET VALUE = " << static_cast<int64_t>(lastTime)
        << " WHERE NAME = 'LASTTIME'";
    return RunWrite(CurrentConnection(), sql.str(), nullptr);
}

}  // namespace orvale::recorder
