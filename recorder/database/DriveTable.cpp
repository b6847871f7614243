#include "recorder/database/DriveTable.h"

#include <cstdint>
#include <sstream>

#include "recorder/database/DatabaseCall.h"
#include "recorder/database/SqlText.h"

namespace orvale::recorder {
namespace {

constexpr const char* kCreateDrive =
    "CREATE TABLE [T_DRIVE]( \t\t\t\t\t[NAME]VARCHAR(64) \t\t\t\t\t,[STATUS]INTEGER \t\t\t\t\t,"
    "[TYPE]INTEGER \t\t\t\t\t,CONSTRAINT [PK_T_DRIVE] PRIMARY KEY ([NAME]) \t\t\t\t\t)";

}  // namespace

DriveTable::DriveTable(const std::shared_ptr<DatabaseConnection>& connection,
                       std::shared_ptr<std::atomic<bool>> modified)
    : connection_(connection), modified_(std::move(modified)) {}

bool DriveTable::CreateTable(SQLite::Database& database) {
    if (!database.tableExists("T_DRIVE")) database.exec(kCreateDrive);
    return true;
}

bool DriveTable::SelectAll(std::map<std::string, media_drive_s>& drives) {
    return RunQuery(connection_.lock(), "SELECT * FROM [T_DRIVE] ", [&](SQLite::Statement& row) {
        media_drive_s drive;
        drive.name = row.getColumn(0).getString();
        drive.status = static_cast<uint32_t>(row.getColumn(1).getInt64());
        drive.type = static_cast<uint32_t>(row.getColumn(2).getInt64());
        drives.emplace(drive.name, drive);
        return true;
    });
}

bool DriveTable::Insert(const media_drive_s& drive) {
    std::ostringstream sql;
    sql << "INSERT INTO [T_DRIVE] VALUES('" << SqlEscape(drive.name) << "',"
        << static_cast<int32_t>(drive.status) << "," << static_cast<int32_t>(drive.type) << ")";
    int64_t rowId = 0;
    return RunInsert(connection_.lock(), sql.str(), modified_.get(), rowId);
}

bool DriveTable::Update(const media_drive_s& drive) {
    std::ostringstream sql;
    sql << "UPDATE [T_DRIVE] SET STATUS = " << static_cast<int32_t>(drive.status)
        << ",TYPE = " << static_cast<int32_t>(drive.type) << " WHERE NAME = '"
        << SqlEscape(drive.name) << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

bool DriveTable::Delete(const std::string& name) {
    std::ostringstream sql;
    sql << "DELETE FROM [T_DRIVE] WHERE NAME = '" << SqlEscape(name) << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

}  // namespace orvale::recorder
