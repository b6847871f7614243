// T_BOOKMARK of the catalogue: bookmarks on recorded time, each with the id
// of its channel (column GUID), start and end time, description, track id
// and lock switch. A bookmark is addressed by SQLite's row id; the table has
// no key, so two rows may hold equal values.
//
// Row ids are read as 64-bit numbers; a row whose id does not fit the 32-bit
// field of media_bookmark_s is skipped with a warning rather than handed out
// under a truncated id that may name another row.
//
// The GUID and the description go into the statements as bound parameters,
// so they are stored and matched byte for byte, whatever they hold.
//
// The object uses the catalogue's connection without owning it (a weak
// reference) and shares the catalogue's modified mark, which every
// successful write sets. No operation throws.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include <SQLiteCpp/Database.h>

#include "recorder/api/MediaTypes.h"
#include "recorder/database/DatabaseConnection.h"

namespace orvale::recorder {

class BookmarkTable : public std::enable_shared_from_this<BookmarkTable> {
  public:
    BookmarkTable(const std::shared_ptr<DatabaseConnection>& connection,
                  std::shared_ptr<std::atomic<bool>> modified);

    // Creates the table when missing. For a new catalogue only; errors are thrown.
    static bool CreateTable(SQLite::Database& database);

    // Adds the bookmarks of `guid` to `bookmarks` under their row ids; a row
    // id already in the map keeps its entry.
    bool SelectByGuid(const std::string& guid, std::map<long long, media_bookmark_s>& bookmarks);
    // Adds a row; its id is GetLastInsertRowId's afterwards. The record's
    // rowId is neither written nor set.
    bool Insert(const media_bookmark_s& bookmark);
    // Start time, end time and description of the row with the record's rowId.
    bool Update(const media_bookmark_s& bookmark);
    bool DeleteByRowId(long long rowId);
    // Deletes every bookmark of `guid`.
    bool DeleteByGuid(const std::string& guid);

    // The row id of the calling thread's last insert into the catalogue (0
    // before its first); -1 after a failed insert and when the connection is
    // gone.
    long long GetLastInsertRowId();

  private:
    std::weak_ptr<DatabaseConnection> connection_;
    std::shared_ptr<std::atomic<bool>> modified_;
};

}  // namespace orvale::recorder
