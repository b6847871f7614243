#include "recorder/database/BookmarkTable.h"

#include <cstdint>
#include <limits>
#include <sstream>
#include <vector>

#include "common/Log.h"
#include "recorder/database/DatabaseCall.h"

namespace orvale::recorder {
namespace {

constexpr const char* kCreateBookmark =
    "CREATE TABLE [T_BOOKMARK]( \t\t\t [GUID]VARCHAR(64) \t\t\t,[START_TIME]INTEGER "
    "\t\t\t,[END_TIME]INTEGER \t\t\t,[DESCRIPTION]VARCHAR(255) \t\t\t,[TRACKID]INTEGER "
    "\t\t\t,[LOCK]BOOLEAN \t\t\t)";

bool FitsRowIdField(int64_t rowId) {
    return rowId >= std::numeric_limits<int32_t>::min() &&
           rowId <= std::numeric_limits<int32_t>::max();
}

}  // namespace

BookmarkTable::BookmarkTable(const std::shared_ptr<DatabaseConnection>& connection,
                             std::shared_ptr<std::atomic<bool>> modified)
    : connection_(connection), modified_(std::move(modified)) {}

bool BookmarkTable::CreateTable(SQLite::Database& database) {
    if (!database.tableExists("T_BOOKMARK")) database.exec(kCreateBookmark);
    return true;
}

bool BookmarkTable::SelectByGuid(const std::string& guid,
                                 std::map<long long, media_bookmark_s>& bookmarks) {
    const std::string sql = "SELECT rowid, * FROM [T_BOOKMARK] WHERE GUID = ?";
    std::vector<int64_t> skipped;
    const auto bind = [&guid](SQLite::Statement& statement) { statement.bind(1, guid); };
    const bool ran = RunQuery(connection_.lock(), sql, bind, [&](SQLite::Statement& row) {
        const int64_t rowId = row.getColumn(0).getInt64();
        if (!FitsRowIdField(rowId)) {
            skipped.push_back(rowId);
            return true;
        }
        media_bookmark_s bookmark;
        bookmark.rowId = static_cast<int32_t>(rowId);
        bookmark.guid = row.getColumn(1).getString();
        bookmark.startTime = row.getColumn(2).getInt64();
        bookmark.endTime = row.getColumn(3).getInt64();
        bookmark.description = row.getColumn(4).getString();
        bookmark.trackId = row.getColumn(5).getInt();
        bookmark.lock = row.getColumn(6).getInt64() != 0;
        bookmarks.emplace(rowId, bookmark);
        return true;
    });
    for (const int64_t rowId : skipped) {
        OLOG(common::kLogWarning)
            << "Skipped a bookmark whose row id does not fit 32 bits. rowid = " << rowId
            << ", GUID = " << guid;
    }
    return ran;
}

bool BookmarkTable::Insert(const media_bookmark_s& bookmark) {
    std::ostringstream sql;
    sql << "INSERT INTO [T_BOOKMARK] VALUES(?," << bookmark.startTime << "," << bookmark.endTime
        << ",?," << bookmark.trackId << "," << (bookmark.lock ? 1 : 0) << ")";
    const auto bind = [&bookmark](SQLite::Statement& statement) {
        statement.bind(1, bookmark.guid);
        statement.bind(2, bookmark.description);
    };
    int64_t rowId = 0;
    return RunInsert(connection_.lock(), sql.str(), bind, modified_.get(), rowId);
}

bool BookmarkTable::Update(const media_bookmark_s& bookmark) {
    std::ostringstream sql;
    sql << "UPDATE [T_BOOKMARK] SET START_TIME = '" << bookmark.startTime << "', END_TIME = '"
        << bookmark.endTime << "', DESCRIPTION = ? WHERE rowid = '" << bookmark.rowId << "'";
    const auto bind = [&bookmark](SQLite::Statement& statement) {
        statement.bind(1, bookmark.description);
    };
    return RunWrite(connection_.lock(), sql.str(), bind, modified_.get());
}

bool BookmarkTable::DeleteByRowId(long long rowId) {
    std::ostringstream sql;
    sql << "DELETE FROM [T_BOOKMARK] WHERE rowid = '" << rowId << "'";
    return RunWrite(connection_.lock(), sql.str(), modified_.get());
}

bool BookmarkTable::DeleteByGuid(const std::string& guid) {
    const auto bind = [&guid](SQLite::Statement& statement) { statement.bind(1, guid); };
    return RunWrite(connection_.lock(), "DELETE FROM [T_BOOKMARK] WHERE GUID = ?", bind,
                    modified_.get());
}

long long BookmarkTable::GetLastInsertRowId() {
    const auto connection = connection_.lock();
    if (!connection) {
        LogNoConnection();
        return -1;
    }
    return connection->LastInsertRowId();
}

}  // namespace orvale::recorder
