#include "recorder/database/CommonTable.h"

#include <sstream>

#include "recorder/database/DatabaseCall.h"
#include "recorder/database/SqlText.h"

namespace orvale::recorder {
namespace {

constexpr const char* kCreateCommon =
    "CREATE TABLE [T_COMMON]( \t\t\t\t\t[NAME]VARCHAR(62) \t\t\t\t\t,[VALUE]BOOLEAN \t\t\t\t\t)";

}  // namespace

CommonTable::CommonTable(const std::shared_ptr<DatabaseConnection>& connection,
                         std::shared_ptr<std::atomic<bool>> modified)
    : connection_(connection), modified_(std::move(modified)) {}

bool CommonTable::CreateTable(SQLite::Database& database) {
    if (!database.tableExists("T_COMMON")) database.exec(kCreateCommon);
    database.exec("INSERT INTO [T_COMMON] VALUES( 'OVERWRITE' , 1)");
    database.exec("INSERT INTO [T_COMMON] VALUES( 'DUALRECORD' , 1)");
    return true;
}

bool CommonTable::GetValue(const std::string& name, bool& value) {
    std::ostringstream sql;
    sql << "SELECT * FROM [T_COMMON] WHERE NAME = '" << SqlEscape(name) << "'";
    bool found = false;
    const bool ran = RunQuery(connection_.lock(), sql.str(), [&](SQLite::Statement& row) {
        value = row.getColumn(1).getInt64() == 1;
        found = true;
        return false;
    });
    return ran && found;
}

bool CommonTable::SetValue(const std::string& name, bool value) {
    std::ostringstream sql;
    sql << "UPDATE [T_COMMON] SET VALUE = " << (value ? 1 : 0) << " WHERE NAME = '"
        << SqlEscape(name) << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

}  // namespace orvale::recorder
