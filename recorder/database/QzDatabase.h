// The catalogue: one SQLite file that keeps what the engine must remember
// between runs (settings, drives, channels, bookmarks, ARB records), and the
// five table objects through which everybody reaches it.
//
// QzDatabase owns the connection; the table objects only borrow it (weak
// references), so Close() ends the catalogue for all of them: the file closes
// as soon as no statement is running, and every later table operation reports
// "Failed to connect db.". The table objects are made by Open and stay valid
// (only failing) after Close; the getters return empty references before the
// first successful Open.
//
// `Modified()` is set by every successful table write and cleared by the
// owner once the backup copy holds the changes; the table objects share it,
// so it outlives any of them.
//
// Open, Close and the getters may be called from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "recorder/database/ArbTable.h"
#include "recorder/database/BookmarkTable.h"
#include "recorder/database/ChannelTable.h"
#include "recorder/database/CommonTable.h"
#include "recorder/database/DatabaseConnection.h"
#include "recorder/database/DriveTable.h"

namespace orvale::recorder {

class QzDatabase : public std::enable_shared_from_this<QzDatabase> {
  public:
    QzDatabase();
    ~QzDatabase();

    QzDatabase(const QzDatabase&) = delete;
    QzDatabase& operator=(const QzDatabase&) = delete;

    // Makes the file when it is missing (a zero-length file or one without
    // any table counts as missing), opens it when not open yet, and makes the
    // table objects anew. A file that lacks only some tables opens as it is.
    bool Open(const std::wstring& path);
    // Whether the last failed Open failed because SQLite found the file
    // damaged (not a database, or corrupt), as opposed to busy or locked.
    bool LastOpenFoundDamage() const { return lastOpenDamaged_; }
    // Whether this process can take the catalogue's exclusive lock now, that
    // is no other process has it open; false too when it is closed.
    bool HeldByNoOther();

    // Makes a new catalogue file with all its tables and default rows in one
    // transaction; a failure leaves no file behind. Used by Open.
    static bool CreateTables(const std::wstring& path);

    // Releases the connection.
    void Close();
    // Copies the open catalogue into `file` with SQLite's online backup (a
    // plain copy of a live write-ahead-logged file can be torn); false when
    // the catalogue is closed or the copy failed.
    bool BackupTo(const std::string& file);

    std::atomic<bool>& Modified() { return *modified_; }

    std::shared_ptr<CommonTable> GetCommonTable() const;
    std::shared_ptr<ChannelTable> GetChannelTable() const;
    std::shared_ptr<DriveTable> GetDriveTable() const;
    std::shared_ptr<BookmarkTable> GetBookmarkTable() const;
    std::shared_ptr<ArbTable> GetArbTable() const;

  private:
    mutable std::mutex mutex_;  // guards the references below, not the statements
    bool lastOpenDamaged_ = false;
    std::shared_ptr<DatabaseConnection> connection_;
    const std::shared_ptr<std::atomic<bool>> modified_;
    std::shared_ptr<CommonTable> commonTable_;
    std::shared_ptr<ChannelTable> channelTable_;
    std::shared_ptr<DriveTable> driveTable_;
    std::shared_ptr<BookmarkTable> bookmarkTable_;
    std::shared_ptr<ArbTable> arbTable_;
};

}  // namespace orvale::recorder
