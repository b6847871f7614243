// T_CHANNEL of the catalogue: one row per channel id with the settings the
// engine must find again after a restart, mapped to and from media_channel_s.
//
// Fields without a column (extraText1..3, the eventValue of each group,
// videoLoss.postRecTime, extraValue) never reach the file; a select sets
// videoLoss.postRecTime and extraValue to 0 and leaves the others as the
// record held them.
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

class ChannelTable : public std::enable_shared_from_this<ChannelTable> {
  public:
    using ChannelMap = std::map<std::string, media_channel_s>;

    ChannelTable(const std::shared_ptr<DatabaseConnection>& connection,
                 std::shared_ptr<std::atomic<bool>> modified);

    // Creates the table when missing. For a new catalogue only; errors are thrown.
    static bool CreateTable(SQLite::Database& database);

    // Add the matching rows to `channels` under their ids; an id already in
    // the map keeps its entry.
    bool SelectAll(ChannelMap& channels);
    bool SelectFailOver(ChannelMap& channels);
    bool SelectNotFailOver(ChannelMap& channels);

    bool Exists(const std::string& id);
    // Fills `channel` (id in) from its row; false, with `channel` untouched,
    // when there is none.
    bool Select(media_channel_s& channel);
    // False when the id already has a row.
    bool Insert(const media_channel_s& channel);
    // Writes every column but the id.
    bool Update(const media_channel_s& channel);
    bool UpdateDisk(const std::string& id, const std::string& disk);
    bool UpdateScheduleId(const std::string& id, const std::string& scheduleId);
    bool Delete(const std::string& id);

  private:
    bool SelectList(const std::string& sql, ChannelMap& channels);

    std::weak_ptr<DatabaseConnection> connection_;
    std::shared_ptr<std::atomic<bool>> modified_;
};

}  // namespace orvale::recorder
