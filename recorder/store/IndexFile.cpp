#include "recorder/store/IndexFile.h"

#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>

#include <SQLiteCpp/SQLiteCpp.h>

#include "common/GlobalNames.h"
#include "common/Log.h"
#include "platform/FileRename.h"
#include "recorder/database/SqlText.h"
#include "recorder/store/HourFileName.h"
#include "recorder/store/HourlyDatabase.h"
#include "recorder/store/TimelineColumns.h"

namespace orvale::recorder {
namespace fs = std::filesystem;
using common::kLogError;
using common::kLogTrace;

namespace {

constexpr uintmax_t kTemplateSize = 307'200;

const char* const kCreateVersion = "CREATE TABLE [T_VER]( \t\t\t\t\t[VER]INTEGER \t\t\t\t\t)";
const char* const kInsertVersion = "INSERT INTO [T_VER] VALUES(1)";

std::string CreateIndexTable(const char* name) {
    return std::string("CREATE TABLE [") + name +
           "]( \t\t\t\t\t[UTC]INTEGER \t\t\t\t\t,[NAME]VARCHAR(255) \t\t\t\t\t,[OFFSET]INTEGER "
           "\t\t\t\t\t,[SIZE]INTEGER \t\t\t\t\t,[END] BOOLEAN \t\t\t\t\t,[ENDOFFSET] INTEGER "
           "\t\t\t\t\t,[ENDTIME] INTEGER \t\t\t\t\t,CONSTRAINT [PK_" +
           name + "] PRIMARY KEY ([UTC]) \t\t\t\t\t)";
}

std::string CreateTimelineTable() {
    std::string sql = "CREATE TABLE [T_TIMELINE]( \t\t\t\t\t[UTC]INTEGER \t\t\t\t\t,[End]BOOLEAN ";
    for (const auto& column : kTimelineColumns) {
        sql += std::string("\t\t\t\t\t,[") + column.name + "]BOOLEAN ";
    }
    return sql + "\t\t\t\t\t,CONSTRAINT [PK_T_TIMELINE] PRIMARY KEY ([UTC]) \t\t\t\t\t)";
}

const char* const kCreateDualTrack =
    "CREATE TABLE [T_DUALTRACKINDEX]( \t\t\t\t\t[UTC]INTEGER \t\t\t\t\t,[HIGH]BOOLEAN "
    "\t\t\t\t\t,[LOW]BOOLEAN \t\t\t\t\t,CONSTRAINT [PK_T_DUALTRACKINDEX] PRIMARY KEY ([UTC]) "
    "\t\t\t\t\t)";

const char* IndexTable(int profile) {
    return profile == 2 ? "[T_LOWINDEX] " : "[T_INDEX] ";
}

std::string InsertIndexRow(const char* table, const index_row_s& row, const std::string& name) {
    std::ostringstream sql;
    sql << "INSERT OR REPLACE INTO " << table << "VALUES(" << row.keyTime << ", " << SqlQuote(name)
        << " , " << static_cast<int64_t>(row.keyOffset) << " , " << row.keySize << " , "
        << (row.end ? "1" : "0") << " , " << static_cast<int64_t>(row.endOffset) << " , "
        << static_cast<int64_t>(row.endTime) << ")";
    return sql.str();
}

void AppendIndexRows(std::vector<std::string>& out, const char* table,
                     const std::vector<index_row_s>& rows, const std::string& dataFileName) {
    out.reserve(out.size() + rows.size());
    for (const auto& row : rows) out.push_back(InsertIndexRow(table, row, dataFileName));
}

void AppendTrackMarks(std::vector<std::string>& out, const char* assignment,
                      const std::vector<dual_track_row_s>& seconds) {
    out.reserve(out.size() + seconds.size());
    for (const auto& second : seconds) {
        std::ostringstream sql;
        sql << "UPDATE [T_DUALTRACKINDEX] " << assignment << " WHERE UTC = " << second.time;
        out.push_back(sql.str());
    }
}

// The SET list of a timeline update without its UTC assignment.
std::string TimelineAssignments(const timeline_flags_s& flags) {
    std::string sql = flags.AnyBit() ? ", End = 0" : ", End = 1";
    // Clear columns are not named, so a second written twice keeps what the
    // first write set.
    for (const auto& column : kTimelineColumns) {
        if (ColumnIsSet(column, flags)) sql += std::string(", ") + column.name + " = 1";
    }
    return sql;
}

// The timeline statement of one second, its time written as `time`.
std::string TimelineUpdateText(const timeline_flags_s& flags, const std::string& time) {
    return "UPDATE [T_TIMELINE] SET UTC = " + time + TimelineAssignments(flags) +
           " WHERE UTC = " + time;
}

// The same update for every second from ?1 to ?2.
std::string TimelineRangeText(const timeline_flags_s& flags) {
    return "UPDATE [T_TIMELINE] SET UTC = UTC" + TimelineAssignments(flags) +
           " WHERE UTC BETWEEN ?1 AND ?2";
}

void AppendTimeline(std::vector<std::string>& out, const std::vector<timeline_flags_s>& timeline) {
    out.reserve(out.size() + timeline.size());
    for (const auto& flags : timeline) out.push_back(IndexFile::BuildTimelineUpdate(flags));
}

// Inserts the rows of seconds first..last into a table, `values` being one
// row with its second as the parameter. Each run of a statement costs more
// than the row it inserts, so the prepared statement carries kRowsPerRun
// rows; the last few go one by one.
void InsertSeconds(SQLite::Database& db, const char* table, const std::string& values,
                   int64_t first, int64_t last) {
    constexpr int kRowsPerRun = 25;
    const std::string insert = std::string("INSERT OR IGNORE INTO ") + table + " VALUES";
    std::string rows = insert + values;
    for (int i = 1; i < kRowsPerRun; ++i) rows += ", " + values;
    SQLite::Statement many(db, rows);
    int64_t t = first;
    for (; last - t + 1 >= kRowsPerRun; t += kRowsPerRun) {
        for (int i = 0; i < kRowsPerRun; ++i) many.bind(i + 1, t + i);
        many.exec();
        many.reset();
    }
    if (t > last) return;
    SQLite::Statement one(db, insert + values);
    for (; t <= last; ++t) {
        one.bind(1, t);
        one.exec();
        one.reset();
    }
}

// The pre-filled rows of an hour: 3600 dual-track rows and 3601 timeline rows
// (the last one, the next hour's first second, closes the hour's timeline).
// Rows already present stay, so a partly filled file is completed. Cheap
// matters here: every channel opens a new hour at the top of each hour.
void FillHour(SQLite::Database& db, int64_t hourStart) {
    std::string timelineRow = "(?, 1";
    for (size_t i = 0; i < kTimelineColumns.size(); ++i) timelineRow += ", 0";
    timelineRow += ")";
    SQLite::Transaction transaction(db);
    InsertSeconds(db, "[T_DUALTRACKINDEX]", "(?, 0 , 0)", hourStart, hourStart + 3599);
    InsertSeconds(db, "[T_TIMELINE]", timelineRow, hourStart, hourStart + 3600);
    transaction.commit();
}

bool HourIsFilled(SQLite::Database& db, int64_t hourStart) {
    if (!db.tableExists("T_DUALTRACKINDEX") || !db.tableExists("T_TIMELINE")) return false;
    std::ostringstream sql;
    sql << "SELECT (SELECT count(*) FROM [T_DUALTRACKINDEX] WHERE UTC BETWEEN " << hourStart
        << " AND " << hourStart + 3599 << "), (SELECT count(*) FROM [T_TIMELINE] WHERE UTC BETWEEN "
        << hourStart << " AND " << hourStart + 3600 << ")";
    SQLite::Statement counts(db, sql.str());
    counts.executeStep();
    return counts.getColumn(0).getInt() == 3600 && counts.getColumn(1).getInt() == 3601;
}

// Makes the tables that `db` lacks; the version row comes with its table.
void MakeMissingTables(SQLite::Database& db) {
    if (!db.tableExists("T_VER")) {
        db.exec(kCreateVersion);
        db.exec(kInsertVersion);
    }
    if (!db.tableExists("T_INDEX")) db.exec(CreateIndexTable("T_INDEX"));
    if (!db.tableExists("T_LOWINDEX")) db.exec(CreateIndexTable("T_LOWINDEX"));
    if (!db.tableExists("T_TIMELINE")) db.exec(CreateTimelineTable());
    if (!db.tableExists("T_DUALTRACKINDEX")) db.exec(kCreateDualTrack);
}

}  // namespace

IndexFile::IndexFile(fs::path path, std::shared_ptr<FolderInUseContainer> folders)
    : path_(std::move(path)), folder_(std::move(folders), HourFolderKeyOfFile(path_)) {}

IndexFile::~IndexFile() = default;

fs::path IndexFile::TemplatePath() {
    return TemplateFile(common::kIndexTemplateFileName);
}

bool IndexFile::CreateTemplate() {
    const fs::path path = TemplatePath();
    const bool placed = PlaceTemplate(path, [](const fs::path& building) {
        if (!CreateTables(building)) return false;
        // Every hour copy then starts with this much room on disk.
        std::error_code error;
        fs::resize_file(building, kTemplateSize, error);
        return true;
    });
    if (!placed) OLOG(kLogError) << "EXCEPTION: cannot make " << path;
    return placed;
}

bool IndexFile::CreateTables(const fs::path& path) {
    try {
        SQLite::Database db(path.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        SQLite::Transaction transaction(db);
        MakeMissingTables(db);
        transaction.commit();
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Path: " << path << ", Excpetoion: " << e.what();
        return false;
    }
}

bool IndexFile::CopyTemplate(const fs::path& path) {
    return CopyDatabaseTemplate(TemplatePath(), path);
}

std::string IndexFile::MakeFileName(int64_t time) {
    return HourFileName(time, common::kIndexExtension);
}

bool IndexFile::Exists() const {
    std::error_code error;
    return fs::exists(path_, error) && !error;
}

bool IndexFile::ReportMissing(int severity) const {
    OLOG(severity) << "Not exist a Index File(" << path_ << ")";
    return false;
}

void IndexFile::LogException(const std::exception& e, const std::string& statement) const {
    OLOG(kLogError) << "Path: " << path_ << ", Excpetoion: " << e.what()
                    << (statement.empty() ? "" : ", QUERY: ") << statement;
}

void IndexFile::Connect() {
    database_ = OpenHourlyDatabase(path_);
}

bool IndexFile::EnsureOpen() {
    if (database_ || !Exists()) return true;
    try {
        Connect();
        return true;
    } catch (const std::exception& e) {
        LogException(e);
        return false;
    }
}

bool IndexFile::Open(int64_t hourStart) {
    hourStart = HourStart(hourStart);
    try {
        bool created = false;
        if (!Exists()) {
            static HourImageCache images;
            created = CreateHourlyDatabase(
                path_, {TemplatePath(), CreateTables,
                        [hourStart](SQLite::Database& db) { FillHour(db, hourStart); }, 0, &images,
                        hourStart});
        }
        if (!database_) Connect();
        if (!created && !HourIsFilled(*database_, hourStart)) {
            // A file left behind without its tables or rows: complete it in place.
            SQLite::Transaction transaction(*database_);
            MakeMissingTables(*database_);
            transaction.commit();
            FillHour(*database_, hourStart);
        }
        return true;
    } catch (const std::exception& e) {
        LogException(e);
        return false;
    }
}

bool IndexFile::RunInTransaction(const std::vector<std::string>& statements) {
    if (!Exists()) return ReportMissing(kLogTrace);
    if (!database_ && !EnsureOpen()) return false;
    const std::string* current = nullptr;
    try {
        SQLite::Transaction transaction(*database_);
        for (const auto& statement : statements) {
            current = &statement;
            database_->exec(statement);
        }
        transaction.commit();
        return true;
    } catch (const std::exception& e) {
        LogException(e, current != nullptr ? *current : std::string());
        return false;
    }
}

// The statements of WriteSeconds, each the text the other writes build with
// its numbers as parameters. A timeline statement names the columns set, so
// there is one per set of columns (a handful per recording). A run of
// consecutive seconds that get the same update (every second of a write
// buffer, as a rule) is updated by one ranged statement.
struct IndexFile::WriteStatements {
    explicit WriteStatements(SQLite::Database& db)
        : database(db),
          insertNormal(db, InsertText("[T_INDEX] ")),
          insertLow(db, InsertText("[T_LOWINDEX] ")),
          markHigh(db, "UPDATE [T_DUALTRACKINDEX] SET HIGH = 1 WHERE UTC = ?1"),
          markLow(db, "UPDATE [T_DUALTRACKINDEX] SET LOW = 1 WHERE UTC = ?1"),
          markHighRange(db, "UPDATE [T_DUALTRACKINDEX] SET HIGH = 1 WHERE UTC BETWEEN ?1 AND ?2"),
          markLowRange(db, "UPDATE [T_DUALTRACKINDEX] SET LOW = 1 WHERE UTC BETWEEN ?1 AND ?2") {}

    static std::string InsertText(const char* table) {
        return std::string("INSERT OR REPLACE INTO ") + table +
               "VALUES(?1, ?2 , ?3 , ?4 , ?5 , ?6 , ?7)";
    }

    static uint64_t TimelineKey(const timeline_flags_s& flags) {
        uint64_t key = flags.AnyBit() ? 1 : 0;
        for (size_t i = 0; i < kTimelineColumns.size(); ++i) {
            if (ColumnIsSet(kTimelineColumns[i], flags)) key |= uint64_t{2} << i;
        }
        return key;
    }

    SQLite::Statement& Timeline(const timeline_flags_s& flags, bool range) {
        const uint64_t key = TimelineKey(flags);
        auto& statement = (range ? timelineRange : timeline)[key];
        if (!statement) {
            statement = std::make_unique<SQLite::Statement>(
                database, range ? TimelineRangeText(flags) : TimelineUpdateText(flags, "?1"));
        }
        return *statement;
    }

    SQLite::Database& database;
    SQLite::Statement insertNormal;
    SQLite::Statement insertLow;
    SQLite::Statement markHigh;
    SQLite::Statement markLow;
    SQLite::Statement markHighRange;
    SQLite::Statement markLowRange;
    std::unordered_map<uint64_t, std::unique_ptr<SQLite::Statement>> timeline;
    std::unordered_map<uint64_t, std::unique_ptr<SQLite::Statement>> timelineRange;
};

namespace {

// Calls `run(first, last, index)` for each run of consecutive seconds of
// `items` (in their order) that `same` puts together; `index` is the run's
// first item.
template <class Item, class Time, class Same, class Run>
void ForEachRun(const std::vector<Item>& items, Time time, Same same, Run run) {
    for (size_t begin = 0; begin < items.size();) {
        size_t end = begin + 1;
        while (end < items.size() && time(items[end]) == time(items[end - 1]) + 1 &&
               same(items[begin], items[end])) {
            ++end;
        }
        run(time(items[begin]), time(items[end - 1]), begin);
        begin = end;
    }
}

}  // namespace

bool IndexFile::WriteSeconds(int profile, const std::vector<dual_track_row_s>& seconds,
                             const std::vector<index_row_s>& rows, const std::string& dataFileName,
                             const std::vector<timeline_flags_s>& timeline) {
    if (!Exists()) return ReportMissing(kLogTrace);
    if (!database_ && !EnsureOpen()) return false;
    SQLite::Statement* current = nullptr;
    // Runs `statement` with its parameters bound by `bind`.
    const auto run = [&current](SQLite::Statement& statement, const auto& bind) {
        current = &statement;
        statement.tryReset();
        bind(statement);
        statement.exec();
    };
    // Runs, for seconds first..last, the one-second statement or the ranged
    // one that `statement(ranged)` gives.
    const auto update = [&run](const auto& statement, int64_t first, int64_t last) {
        if (first == last) {
            run(statement(false), [&](SQLite::Statement& s) { s.bind(1, first); });
        } else {
            run(statement(true), [&](SQLite::Statement& s) {
                s.bind(1, first);
                s.bind(2, last);
            });
        }
    };
    try {
        if (!statements_) statements_ = std::make_unique<WriteStatements>(*database_);
        WriteStatements& prepared = *statements_;
        SQLite::Transaction transaction(*database_);
        for (const auto& row : rows) {
            run(profile == 2 ? prepared.insertLow : prepared.insertNormal,
                [&](SQLite::Statement& insert) {
                    insert.bind(1, row.keyTime);
                    insert.bind(2, dataFileName);
                    insert.bind(3, static_cast<int64_t>(row.keyOffset));
                    insert.bind(4, static_cast<int64_t>(row.keySize));
                    insert.bind(5, row.end ? 1 : 0);
                    insert.bind(6, static_cast<int64_t>(row.endOffset));
                    insert.bind(7, static_cast<int64_t>(row.endTime));
                });
        }
        ForEachRun(
            seconds, [](const dual_track_row_s& second) { return second.time; },
            [](const auto&, const auto&) { return true; },
            [&](int64_t first, int64_t last, size_t) {
                const auto mark = [&](bool ranged) -> SQLite::Statement& {
                    if (profile == 2) return ranged ? prepared.markLowRange : prepared.markLow;
                    return ranged ? prepared.markHighRange : prepared.markHigh;
                };
                update(mark, first, last);
            });
        ForEachRun(
            timeline, [](const timeline_flags_s& flags) { return flags.time; },
            [](const timeline_flags_s& a, const timeline_flags_s& b) {
                return WriteStatements::TimelineKey(a) == WriteStatements::TimelineKey(b);
            },
            [&](int64_t first, int64_t last, size_t index) {
                update(
                    [&](bool ranged) -> SQLite::Statement& {
                        return prepared.Timeline(timeline[index], ranged);
                    },
                    first, last);
            });
        transaction.commit();
        undurable_ = true;
        return true;
    } catch (const std::exception& e) {
        LogException(e, current != nullptr ? current->getExpandedSQL() : std::string());
        return false;
    }
}

void IndexFile::MakeDurable(bool now) {
    const auto time = std::chrono::steady_clock::now();
    if (!undurable_ || (!now && time - durableAt_ < kDurableEvery)) return;
    // The log holds the commits since the last checkpoint; flushing it is
    // what a commit under synchronous FULL would do, once for many commits.
    const std::string log = path_.string() + "-wal";
    std::error_code error;
    if (fs::exists(log, error) && !platform::SyncFile(log)) {
        OLOG(kLogError) << "Path: " << path_ << ", failed to flush the write-ahead log";
        return;
    }
    durableAt_ = time;
    undurable_ = false;
}

bool IndexFile::CloseIndexRow(int profile, const std::string& dataFileName, uint64_t endOffset,
                              uint64_t endTime) {
    const char* table = IndexTable(profile);
    std::ostringstream sql;
    sql << "UPDATE " << table << "SET END = 1 ,"
        << "ENDOFFSET = " << static_cast<int64_t>(endOffset)
        << " , ENDTIME = " << static_cast<int64_t>(endTime) << " WHERE UTC = (SELECT max(UTC) FROM "
        << table << "WHERE NAME = " << SqlQuote(dataFileName) << ")";
    const bool closed = RunInTransaction({sql.str()});
    if (closed) undurable_ = true;
    MakeDurable(true);
    return closed;
}

bool IndexFile::InsertIndexRows(const std::vector<index_row_s>& rows,
                                const std::string& dataFileName) {
    std::vector<std::string> statements;
    AppendIndexRows(statements, "[T_INDEX] ", rows, dataFileName);
    return RunInTransaction(statements);
}

bool IndexFile::SetHighTrack(int /*profile*/, const std::vector<dual_track_row_s>& seconds) {
    std::vector<std::string> statements;
    AppendTrackMarks(statements, "SET HIGH = 1", seconds);
    return RunInTransaction(statements);
}

bool IndexFile::UpdateTimeline(const std::vector<timeline_flags_s>& timeline) {
    std::vector<std::string> statements;
    AppendTimeline(statements, timeline);
    return RunInTransaction(statements);
}

bool IndexFile::MergeArbRows(const std::vector<index_row_s>& rows,
                             const std::vector<dual_track_row_s>& highSeconds) {
    constexpr uint32_t kArbEvent = 0x800;
    std::vector<std::string> statements;
    statements.reserve(rows.size() + 2 * highSeconds.size());
    for (const auto& row : rows) statements.push_back(InsertIndexRow("[T_INDEX] ", row, row.name));
    AppendTrackMarks(statements, "SET HIGH = 1", highSeconds);
    for (const auto& second : highSeconds) {
        timeline_flags_s flags;
        flags.time = second.time;
        flags.eventBits = kArbEvent;
        statements.push_back(BuildTimelineUpdate(flags));
    }
    return RunInTransaction(statements);
}

std::string IndexFile::BuildTimelineUpdate(const timeline_flags_s& flags) {
    return TimelineUpdateText(flags, std::to_string(flags.time));
}

}  // namespace orvale::recorder
