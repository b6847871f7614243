#include "recorder/database/DatabaseConnection.h"

#include <atomic>
#include <unordered_map>

namespace orvale::recorder {
namespace {

std::atomic<uint64_t> nextSerial{1};

// The calling thread's last inserted row id, by connection serial. It dies
// with its thread; an entry of a closed connection is never asked again.
std::unordered_map<uint64_t, int64_t>& ThreadRowIds() {
    thread_local std::unordered_map<uint64_t, int64_t> rowIds;
    return rowIds;
}

}  // namespace

DatabaseConnection::DatabaseConnection(const std::string& path)
    : serial_(nextSerial++), database_(path, SQLite::OPEN_READWRITE) {}

int64_t DatabaseConnection::NoteInsert() {
    const int64_t rowId = database_.getLastInsertRowid();
    ThreadRowIds()[serial_] = rowId;
    return rowId;
}

void DatabaseConnection::NoteFailedInsert() {
    ThreadRowIds()[serial_] = -1;
}

int64_t DatabaseConnection::LastInsertRowId() const {
    const auto& rowIds = ThreadRowIds();
    const auto found = rowIds.find(serial_);
    return found == rowIds.end() ? 0 : found->second;
}

}  // namespace orvale::recorder
