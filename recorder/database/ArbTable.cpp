#include "recorder/database/ArbTable.h"

#include <sstream>
#include <vector>

#include "recorder/database/DatabaseCall.h"

namespace orvale::recorder {
namespace {

constexpr const char* kCreateArb =
    "CREATE TABLE [T_ARB]( \t\t\t\t\t[CAMERAID]VARCHAR(64) \t\t\t\t\t,[DISCONNECT_TIME]INTEGER "
    "\t\t\t\t\t,[RECONNECT_TIME]INTEGER \t\t\t\t\t,[TRACKID]INTEGER \t\t\t\t\t,[DST_ON]BOOLEAN "
    "\t\t\t\t\t,[DST_OVERLAP]BOOLEAN \t\t\t\t\t)";

}  // namespace

ArbTable::ArbTable(const std::shared_ptr<DatabaseConnection>& connection,
                   std::shared_ptr<std::atomic<bool>> modified)
    : connection_(connection), modified_(std::move(modified)) {}

bool ArbTable::CreateTable(SQLite::Database& database) {
    if (!database.tableExists("T_ARB")) database.exec(kCreateArb);
    return true;
}

bool ArbTable::SelectAll(std::map<int64_t, media_arb_s>& records) {
    return Select("SELECT rowid, * FROM [T_ARB] ", Binder(), records);
}

bool ArbTable::SelectByCameraId(const std::string& cameraId,
                                std::map<int64_t, media_arb_s>& records) {
    const auto bind = [&cameraId](SQLite::Statement& statement) { statement.bind(1, cameraId); };
    return Select("SELECT rowid, * FROM [T_ARB] WHERE CAMERAID = ?", bind, records);
}

bool ArbTable::Select(const std::string& sql, const Binder& bind,
                      std::map<int64_t, media_arb_s>& records) {
    // Rows without a disconnect time are deleted after the scan, not during
    // it: a delete cannot run inside the select that holds the connection.
    std::vector<int64_t> unfinished;
    const bool ran = RunQuery(connection_.lock(), sql, bind, [&](SQLite::Statement& row) {
        media_arb_s record;
        record.rowId = row.getColumn(0).getInt64();
        record.cameraId = row.getColumn(1).getString();
        record.disconnectTime = row.getColumn(2).getInt64();
        record.reconnectTime = row.getColumn(3).getInt64();
        record.trackId = row.getColumn(4).getInt();
        record.dstOn = row.getColumn(5).getInt64() != 0;
        record.dstOverlap = row.getColumn(6).getInt64() != 0;
        if (record.disconnectTime == 0) {
            unfinished.push_back(record.rowId);
        } else {
            records.emplace(record.rowId, record);
        }
        return true;
    });
    for (const int64_t rowId : unfinished) DeleteByRowId(rowId);
    return ran;
}

bool ArbTable::Insert(media_arb_s& record) {
    std::ostringstream sql;
    sql << "INSERT INTO [T_ARB] VALUES(?," << record.disconnectTime << "," << record.reconnectTime
        << "," << record.trackId << "," << (record.dstOn ? 1 : 0) << ","
        << (record.dstOverlap ? 1 : 0) << ")";
    const auto bind = [&record](SQLite::Statement& statement) {
        statement.bind(1, record.cameraId);
    };
    return RunInsert(connection_.lock(), sql.str(), bind, modified_.get(), record.rowId);
}

bool ArbTable::UpdateReconnectTime(const media_arb_s& record) {
    std::ostringstream sql;
    sql << "UPDATE [T_ARB] SET RECONNECT_TIME = '" << record.reconnectTime << "' WHERE rowid = '"
        << record.rowId << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

bool ArbTable::DeleteByRowId(int64_t rowId) {
    std::ostringstream sql;
    sql << "DELETE FROM [T_ARB] WHERE rowid = '" << rowId << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

bool ArbTable::DeleteByCameraId(const std::string& cameraId) {
    const auto bind = [&cameraId](SQLite::Statement& statement) { statement.bind(1, cameraId); };
    return RunWrite(connection_.lock(), "DELETE FROM [T_ARB] WHERE CAMERAID = ?", bind,
                    modified_.get());
}

}  // namespace orvale::recorder
