// T_DRIVE of the catalogue: the engine's drives by name (the drive letter),
// with the status the caller gave each one and its type, so that a drive
// keeps its status from one run to the next. The bus type is not stored;
// records read back carry 0 there.
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

class DriveTable : public std::enable_shared_from_this<DriveTable> {
  public:
    DriveTable(const std::shared_ptr<DatabaseConnection>& connection,
               std::shared_ptr<std::atomic<bool>> modified);

    // Creates the table when missing. For a new catalogue only; errors are thrown.
    static bool CreateTable(SQLite::Database& database);

    // Adds every row to `drives` under its name; a name already in the map
    // keeps its entry.
    bool SelectAll(std::map<std::string, media_drive_s>& drives);
    // False when the name already has a row.
    bool Insert(const media_drive_s& drive);
    // Status and type of the row with the drive's name.
    bool Update(const media_drive_s& drive);
    bool Delete(const std::string& name);

  private:
    std::weak_ptr<DatabaseConnection> connection_;
    std::shared_ptr<std::atomic<bool>> modified_;
};

}  // namespace orvale::recorder
