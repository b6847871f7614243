// A test's own connection to an hour file (index or metadata database). It
// goes through the engine's heap log index, as every connection of the
// process to an hour file must: a connection of the default file system
// would keep a second, separate index of the same write-ahead log.
#pragma once

#include <string>

#include <SQLiteCpp/SQLiteCpp.h>

#include "recorder/database/HeapWalIndex.h"

namespace orvale::test {

inline SQLite::Database HourDatabase(const std::string& path, int flags = SQLite::OPEN_READONLY) {
    return SQLite::Database(path.c_str(), flags, 0, recorder::HeapWalIndexVfs());
}

}  // namespace orvale::test
