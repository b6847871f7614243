#include "recorder/database/DatabaseConnection.h"

namespace orvale::recorder {

DatabaseConnection::DatabaseConnection(const std::string& path)
    : database_(path, SQLite::OPEN_READWRITE) {}

int64_t DatabaseConnection::NoteInsert() {
    const int64_t rowId = database_.getLastInsertRowid();
    lastInsertRowIds_[std::this_thread::get_id()] = rowId;
    return rowId;
}

int64_t DatabaseConnection::LastInsertRowId() {
    const std::lock_guard lock(mutex_);
    const auto found = lastInsertRowIds_.find(std::this_thread::get_id());
    return found == lastInsertRowIds_.end() ? 0 : found->second;
}

}  // namespace orvale::recorder
