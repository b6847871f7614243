// The operation database of one drive ("operation.kvtdb" in its record
// folder): the track id under which recordings are filed (TRACKID) and a
// last time in seconds since 1970, UTC (LASTTIME), one row each in
// T_KEYVALUE_INT.
//
// The object owns its connection from a successful Open until it is
// destroyed. Before every get or set it checks that the path still names the
// file it opened; when that file was removed or replaced underneath it, the
// connection is dropped and the path opened anew (made anew when missing), so
// that a value is never written into a deleted file.
//
// The owning drive calls it under its own lock: one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileIdentity.h"
#include "recorder/database/DatabaseConnection.h"

namespace orvale::recorder {

class OperationDatabase : public std::enable_shared_from_this<OperationDatabase> {
  public:
    // Makes the file when it is missing (a zero-length file or one without
    // any table counts as missing) and opens it when not open yet.
    bool Open(std::wstring path);

    // Makes a new file with both tables, TRACKID 1 and LASTTIME now, in one
    // transaction; a failure leaves no file behind. Used by Open.
    static bool CreateTables(const std::wstring& path);

    // False when not open, on a failed read, or when the row is missing.
    bool GetTrackId(int& trackId);
    bool GetLastTime(int64_t& lastTime);
    // True once the statement ran, also when the row is missing.
    bool SetTrackId(int trackId);
    bool SetLastTime(uint64_t lastTime);

  private:
    // The connection to the file the path names now; empty when not open.
    std::shared_ptr<DatabaseConnection> CurrentConnection();
    bool GetValue(const std::string& sql, int64_t& value);

    std::shared_ptr<DatabaseConnection> connection_;
    std::wstring path_;
    std::optional<platform::FileIdentity> identity_;
};

}  // namespace orvale::recorder
