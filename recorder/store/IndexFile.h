// The index database of one channel hour (or an ARB recording's hour index):
// per second, where the key frame lies in which data file (normal and low
// profile apart), which profiles recorded, and which events were active.
//
// A new hour file appears whole: it is built from the template and pre-filled
// under a temporary name, then moved into place only if no other writer put
// the hour there first. A file found without its pre-filled rows is completed.
// The object has no lock: one owner calls it at a time, and several objects
// may hold connections to one file (writer and readers). It connects on first
// use and registers its hour folder as in use for as long as it lives.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/IndexRecords.h"

namespace SQLite {
class Database;
class Statement;
}  // namespace SQLite

namespace orvale::recorder {

class IndexFile : public std::enable_shared_from_this<IndexFile> {
  public:
    IndexFile(std::filesystem::path path, std::shared_ptr<FolderInUseContainer> folders);
    ~IndexFile();

    IndexFile(const IndexFile&) = delete;
    IndexFile& operator=(const IndexFile&) = delete;

    // Builds a fresh template in DBTemp beside the host program.
    static bool CreateTemplate();
    static std::filesystem::path TemplatePath();
    static bool CreateTables(const std::filesystem::path& path);
    static bool CopyTemplate(const std::filesystem::path& path);
    // "YYYYMMDDHH0000.kvtidx" of the UTC hour holding `time`.
    static std::string MakeFileName(int64_t time);

    // --- write side ---
    // Makes sure the file exists, holds the pre-filled rows of the hour that
    // starts at `hourStart`, and is connected.
    bool Open(int64_t hourStart);
    // Connects when the file exists and no connection is held; false only
    // when connecting failed.
    bool EnsureOpen();
    const std::filesystem::path& GetPath() const { return path_; }

    // One batch of written seconds, in one transaction: all or nothing. Its
    // statements are prepared once per connection.
    bool WriteSeconds(int profile, const std::vector<dual_track_row_s>& seconds,
                      const std::vector<index_row_s>& rows, const std::string& dataFileName,
                      const std::vector<timeline_flags_s>& timeline);
    // Makes the committed rows durable when kDurableEvery has passed since
    // they last were (always with `now`): synchronous NORMAL makes them
    // durable only at a checkpoint, which a small hour file may never reach.
    void MakeDurable(bool now);
    static constexpr std::chrono::seconds kDurableEvery{5};
    // Marks the last row of a data file as its end.
    bool CloseIndexRow(int profile, const std::string& dataFileName, uint64_t endOffset,
                       uint64_t endTime);
    // The three steps that merge an ARB index into the hour's index.
    bool InsertIndexRows(const std::vector<index_row_s>& rows, const std::string& dataFileName);
    bool SetHighTrack(int profile, const std::vector<dual_track_row_s>& seconds);
    bool UpdateTimeline(const std::vector<timeline_flags_s>& timeline);
    static std::string BuildTimelineUpdate(const timeline_flags_s& flags);
    // The whole merge of an ARB index in one transaction: its rows (each
    // under its own data-file name), HIGH on its recorded seconds, and the
    // ARB event on them in the timeline.
    bool MergeArbRows(const std::vector<index_row_s>& rows,
                      const std::vector<dual_track_row_s>& highSeconds);

    // --- read side ---
    // A key frame of the profile (1 normal, 2 low) in [start, end].
    bool HasRecord(int64_t start, int64_t end, int profile = 1);
    bool ReadAllIndexRows(std::vector<index_row_s>& rows);
    bool FindIndexRow(int profile, index_row_s& row, int64_t time, bool forward);
    bool ReadIndexRowsByName(int profile, std::vector<index_row_s>& rows,
                             const std::string& dataFileName);
    bool GetLastIndexRow(int profile, index_row_s& row);
    bool ListDataFileNames(int profile, std::vector<std::string>& names);
    // The data files the profile's rows name, by the first second indexed to
    // each: a second stored again moves its row to a newer file, whose name
    // need not sort before the file that keeps the seconds after it.
    bool ListDataFilesInTimeOrder(int profile, std::vector<std::string>& names);
    bool ReadDualTrackRows(std::vector<dual_track_row_s>& rows);
    bool ReadHighTrackRows(std::vector<dual_track_row_s>& rows);
    int64_t FindPreviousTrackTime(int profile, int64_t time);
    // Last recorded second of the hour (0 when none); with allowSwitch the
    // profile follows the one that recorded it.
    int64_t GetDualTrackBound(int& profile, bool allowSwitch);
    int64_t GetFirstRecordTime(unsigned& profile, bool allowSwitch);
    // The timeline of [start, end] as change points in time order.
    bool ReadTimeline(int64_t start, int64_t end, const timeline_filter_s& filter,
                      std::vector<timeline_flags_s>& out);
    // The same change points handed to `visit` one by one as the query
    // finds them; its one statement is prepared once per connection.
    bool ReadTimeline(int64_t start, int64_t end, const timeline_filter_s& filter,
                      const std::function<void(const timeline_flags_s&)>& visit);
    static timeline_flags_s DecodeTimelineRow(SQLite::Statement& row);
    static timeline_flags_s FilterTimelineRow(const timeline_flags_s& row,
                                              const timeline_filter_s& filter);

  private:
    bool Exists() const;
    // Logs the missing file at `severity` and returns false.
    bool ReportMissing(int severity) const;
    void LogException(const std::exception& e, const std::string& statement = {}) const;
    void Connect();
    // Runs `statements` in one transaction; logs and returns false on failure.
    bool RunInTransaction(const std::vector<std::string>& statements);
    template <class Visit>
    bool Query(int missingSeverity, const std::string& sql, Visit&& visit);
    bool ReadFirstIndexRow(const std::string& sql, index_row_s& row);
    int64_t ScanDualTrack(const char* order, int& profile, bool allowSwitch);

    struct WriteStatements;

    const std::filesystem::path path_;
    std::shared_ptr<SQLite::Database> database_;
    std::unique_ptr<WriteStatements> statements_;  // of `database_`: goes first
    std::unique_ptr<SQLite::Statement> timeline_;  // of `database_`: goes first
    FolderInUseRegistration folder_;
    std::chrono::steady_clock::time_point durableAt_ = std::chrono::steady_clock::now();
    bool undurable_ = false;  // rows committed since they last were made durable
};

}  // namespace orvale::recorder
