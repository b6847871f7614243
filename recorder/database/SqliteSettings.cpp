#include "recorder/database/SqliteSettings.h"

#include <sqlite3.h>

#include <mutex>

namespace orvale::recorder {

void ApplySqliteSettings() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Refused (SQLITE_MISUSE) once SQLite is initialised; nothing to do
        // then but keep the host's settings.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    });
}

}  // namespace orvale::recorder
