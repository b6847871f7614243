// T_COMMON of the catalogue: the engine's boolean settings by name
// ("OVERWRITE", "DUALRECORD"). The table has no key: a name may have several
// rows; a read takes the first, a write changes them all.
//
// The object uses the catalogue's connection without owning it (a weak
// reference) and shares the catalogue's modified mark. Once the catalogue
// releases its connection, every operation reports "Failed to connect db.".
// No operation throws.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include <SQLiteCpp/Database.h>

#include "recorder/database/DatabaseConnection.h"

namespace orvale::recorder {

class CommonTable {
  public:
    CommonTable(const std::shared_ptr<DatabaseConnection>& connection,
                std::shared_ptr<std::atomic<bool>> modified);

    // Creates the table when missing and adds the default rows, both settings
    // on. For a new catalogue only; errors are thrown.
    static bool CreateTable(SQLite::Database& database);

    // The setting `name` (true only for a stored 1); false, with `value`
    // untouched, when no row has the name or the read fails.
    bool GetValue(const std::string& name, bool& value);

    // Writes the setting into every row of that name; adds no row.
    bool SetValue(const std::string& name, bool value);

  private:
    std::weak_ptr<DatabaseConnection> connection_;
    std::shared_ptr<std::atomic<bool>> modified_;
};

}  // namespace orvale::recorder
