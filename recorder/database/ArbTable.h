// T_ARB of the catalogue: the intervals during which a camera was
// disconnected, one row each, addressed by SQLite's row id (a camera may have
// any number of rows).
//
// A row whose disconnect time is 0 is never handed out: the select that meets
// it collects it and deletes it once its scan is over.
//
// The camera id goes into the statements as a bound parameter, so it is
// stored and matched byte for byte, whatever it holds.
//
// The object uses the catalogue's connection without owning it (a weak
// reference) and shares the catalogue's modified mark, which every
// successful write sets. No operation throws.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <SQLiteCpp/Database.h>

#include "recorder/api/MediaTypes.h"
#include "recorder/database/DatabaseCall.h"
#include "recorder/database/DatabaseConnection.h"

namespace orvale::recorder {

class ArbTable : public std::enable_shared_from_this<ArbTable> {
  public:
    ArbTable(const std::shared_ptr<DatabaseConnection>& connection,
             std::shared_ptr<std::atomic<bool>> modified);

    // Creates the table when missing. For a new catalogue only; errors are thrown.
    static bool CreateTable(SQLite::Database& database);

    // Add the rows to `records` under their row ids; a row id already in the
    // map keeps its entry.
    bool SelectAll(std::map<int64_t, media_arb_s>& records);
    bool SelectByCameraId(const std::string& cameraId, std::map<int64_t, media_arb_s>& records);

    // Adds a row and gives `record` the new row id.
    bool Insert(media_arb_s& record);
    // Sets the reconnect time of the row with the record's row id.
    bool UpdateReconnectTime(const media_arb_s& record);
    bool DeleteByRowId(int64_t rowId);
    // Deletes every row of that camera.
    bool DeleteByCameraId(const std::string& cameraId);

  private:
    bool Select(const std::string& sql, const Binder& bind,
                std::map<int64_t, media_arb_s>& records);

    std::weak_ptr<DatabaseConnection> connection_;
    std::shared_ptr<std::atomic<bool>> modified_;
};

}  // namespace orvale::recorder
