// The read side of IndexFile: every query on an hourly index database.
#include <functional>
#include <sstream>

#include <SQLiteCpp/SQLiteCpp.h>

#include "common/Log.h"
#include "recorder/database/SqlText.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/TimelineColumns.h"

namespace orvale::recorder {
using common::kLogTrace;
using common::kLogWarning;

namespace {

constexpr size_t kSecondsPerHour = 3600;

const char* IndexTable(int profile) {
    return profile == 2 ? "[T_LOWINDEX] " : "[T_INDEX] ";
}

index_row_s IndexRowFrom(SQLite::Statement& row) {
    index_row_s out;
    out.keyTime = row.getColumn(0).getInt64();
    out.name = row.getColumn(1).getString();
    out.keyOffset = static_cast<uint64_t>(row.getColumn(2).getInt64());
    out.keySize = static_cast<uint32_t>(row.getColumn(3).getInt64());
    out.end = row.getColumn(4).getInt64() > 0;
    out.endOffset = static_cast<uint64_t>(row.getColumn(5).getInt64());
    out.endTime = static_cast<uint64_t>(row.getColumn(6).getInt64());
    return out;
}

dual_track_row_s DualTrackRowFrom(SQLite::Statement& row) {
    return {row.getColumn(0).getInt64(), row.getColumn(1).getInt64() > 0,
            row.getColumn(2).getInt64() > 0};
}

template <class T>
void ReserveHour(std::vector<T>& out) {
    if (out.capacity() < kSecondsPerHour) out.reserve(kSecondsPerHour);
}

}  // namespace

// Runs one query and hands each row to `visit`, which returns false to stop.
template <class Visit>
bool IndexFile::Query(int missingSeverity, const std::string& sql, Visit&& visit) {
    if (!Exists()) return ReportMissing(missingSeverity);
    if (!database_ && !EnsureOpen()) return false;
    try {
        SQLite::Statement statement(*database_, sql);
        while (statement.executeStep()) {
            if (!visit(statement)) break;
        }
        return true;
    } catch (const std::exception& e) {
        LogException(e);
        return false;
    }
}

// Reads the query's first row into `row`; false when there is none.
bool IndexFile::ReadFirstIndexRow(const std::string& sql, index_row_s& row) {
    bool found = false;
    const bool ok = Query(kLogWarning, sql, [&](SQLite::Statement& statement) {
        row = IndexRowFrom(statement);
        found = true;
        return false;
    });
    return ok && found;
}

bool IndexFile::HasRecord(int64_t start, int64_t end, int profile) {
    std::ostringstream sql;
    sql << "SELECT * FROM " << IndexTable(profile) << "WHERE UTC >= " << start << " AND "
        << " UTC <= " << end;
    bool found = false;
    return Query(kLogTrace, sql.str(), [&](SQLite::Statement&) { return !(found = true); }) &&
           found;
}

bool IndexFile::ReadAllIndexRows(std::vector<index_row_s>& rows) {
    ReserveHour(rows);
    return Query(kLogTrace, "SELECT * FROM [T_INDEX]", [&](SQLite::Statement& row) {
        rows.push_back(IndexRowFrom(row));
        return true;
    });
}

bool IndexFile::FindIndexRow(int profile, index_row_s& row, int64_t time, bool forward) {
    std::ostringstream sql;
    sql << "SELECT * FROM " << IndexTable(profile)
        << (forward ? " WHERE UTC >= " : " WHERE UTC <= ") << time
        << (forward ? " ORDER BY UTC ASC" : " ORDER BY UTC DESC");
    return ReadFirstIndexRow(sql.str(), row);
}

bool IndexFile::ReadIndexRowsByName(int profile, std::vector<index_row_s>& rows,
                                    const std::string& dataFileName) {
    std::ostringstream sql;
    sql << "SELECT * FROM " << IndexTable(profile) << "WHERE NAME = " << SqlQuote(dataFileName);
    return Query(kLogWarning, sql.str(), [&](SQLite::Statement& row) {
        rows.push_back(IndexRowFrom(row));
        return true;
    });
}

bool IndexFile::GetLastIndexRow(int profile, index_row_s& row) {
    std::ostringstream sql;
    sql << "SELECT * FROM " << IndexTable(profile) << "WHERE UTC = (SELECT max(UTC) FROM "
        << (profile == 2 ? "[T_LOWINDEX])" : "[T_INDEX])");
    return ReadFirstIndexRow(sql.str(), row);
}

bool IndexFile::ListDataFileNames(int profile, std::vector<std::string>& names) {
    return Query(kLogTrace, std::string("SELECT DISTINCT [NAME] FROM ") + IndexTable(profile),
                 [&](SQLite::Statement& row) {
                     names.push_back(row.getColumn(0).getString());
                     return true;
                 });
}

bool IndexFile::ListDataFilesInTimeOrder(int profile, std::vector<std::string>& names) {
    return Query(kLogTrace,
                 std::string("SELECT [NAME] FROM ") + IndexTable(profile) +
                     "GROUP BY [NAME] ORDER BY min([UTC]), [NAME]",
                 [&](SQLite::Statement& row) {
                     names.push_back(row.getColumn(0).getString());
                     return true;
                 });
}

bool IndexFile::ReadDualTrackRows(std::vector<dual_track_row_s>& rows) {
    ReserveHour(rows);
    return Query(kLogTrace, "SELECT * FROM [T_DUALTRACKINDEX]", [&](SQLite::Statement& row) {
        rows.push_back(DualTrackRowFrom(row));
        return true;
    });
}

bool IndexFile::ReadHighTrackRows(std::vector<dual_track_row_s>& rows) {
    ReserveHour(rows);
    return Query(kLogTrace, "SELECT * FROM [T_DUALTRACKINDEX] WHERE HIGH = 1",
                 [&](SQLite::Statement& row) {
                     rows.push_back(DualTrackRowFrom(row));
                     return true;
                 });
}

int64_t IndexFile::FindPreviousTrackTime(int profile, int64_t time) {
    std::ostringstream sql;
    sql << "SELECT * FROM [T_DUALTRACKINDEX] WHERE " << (profile == 1 ? "HIGH" : "LOW")
        << " = 1 AND UTC < " << time << " ORDER BY UTC DESC";
    int64_t previous = 0;
    const bool ok = Query(kLogTrace, sql.str(), [&](SQLite::Statement& row) {
        previous = row.getColumn(0).getInt64();
        return false;
    });
    return ok ? previous : 0;
}

int64_t IndexFile::ScanDualTrack(const char* order, int& profile, bool allowSwitch) {
    int64_t found = 0;
    const bool ok = Query(kLogTrace, std::string("SELECT * FROM [T_DUALTRACKINDEX]") + order,
                          [&](SQLite::Statement& statement) {
                              const dual_track_row_s row = DualTrackRowFrom(statement);
                              if (!allowSwitch) {
                                  if ((profile == 1 && row.high) || (profile == 2 && row.low)) {
                                      found = row.time;
                                      return false;
                                  }
                                  return true;
                              }
                              if (!row.high && !row.low) return true;
                              if (profile == 1 && row.low && !row.high) {
                                  profile = 2;
                              } else if (profile != 1 && row.high && !row.low) {
                                  profile = 1;
                              }
                              found = row.time;
                              return false;
                          });
    return ok ? found : 0;
}

int64_t IndexFile::GetDualTrackBound(int& profile, bool allowSwitch) {
    return ScanDualTrack(" ORDER BY UTC DESC", profile, allowSwitch);
}

int64_t IndexFile::GetFirstRecordTime(unsigned& profile, bool allowSwitch) {
    int value = static_cast<int>(profile);
    const int64_t time = ScanDualTrack(" ORDER BY UTC ASC", value, allowSwitch);
    profile = static_cast<unsigned>(value);
    return time;
}

timeline_flags_s IndexFile::DecodeTimelineRow(SQLite::Statement& row) {
    timeline_flags_s flags;
    flags.time = row.getColumn(0).getInt64();
    if (row.getColumn(1).getInt64() != 0) {
        flags.end = true;
        return flags;
    }
    for (size_t i = 0; i < kTimelineColumns.size(); ++i) {
        const auto& column = kTimelineColumns[i];
        if (column.readWord == TimelineWord::kNone) continue;
        if (row.getColumn(static_cast<int>(i) + kTimelineFirstEventColumn).getInt64() <= 0)
            continue;
        switch (column.readWord) {
            case TimelineWord::kEvent:
                flags.eventBits |= column.readBit;
                break;
            case TimelineWord::kAnalytics:
                flags.analyticsBits |= column.readBit;
                break;
            case TimelineWord::kAudio:
                flags.audioBits |= column.readBit;
                break;
            case TimelineWord::kNone:
                break;
        }
    }
    return flags;
}

timeline_flags_s IndexFile::FilterTimelineRow(const timeline_flags_s& row,
                                              const timeline_filter_s& filter) {
    timeline_flags_s out;
    out.time = row.time;
    if (row.end) {
        out.end = true;
        return out;
    }
    out.eventBits = row.eventBits & filter.mask0 & kReadableEventBits;
    out.analyticsBits = row.analyticsBits & filter.mask1 & kReadableAnalyticsBits;
    out.audioBits = row.audioBits & filter.mask2 & kReadableAudioBits;
    return out;
}

namespace {

// Per row of [start, end]: its time, its end flag and its three words as the
// row decoder reads them; only rows whose flag or words differ from the row
// before come out, so the cost follows the change points, not the seconds.
std::string BuildTimelineChangesQuery() {
    const std::string end = "(IFNULL(CAST([End] AS INTEGER), 0) <> 0)";
    std::string words[3];
    for (const auto& column : kTimelineColumns) {
        if (column.readWord == TimelineWord::kNone) continue;
        std::string& word = words[static_cast<int>(column.readWord)];
        word += (word.empty() ? "" : " | ") + std::string("(CASE WHEN CAST([") + column.name +
                "] AS INTEGER) > 0 THEN " + std::to_string(column.readBit) + " ELSE 0 END)";
    }
    std::string sql =
        "SELECT UTC, e, w0, w1, w2 FROM (SELECT UTC, e, w0, w1, w2, "
        "LAG(UTC) OVER w AS pt, LAG(e) OVER w AS pe, LAG(w0) OVER w AS p0, "
        "LAG(w1) OVER w AS p1, LAG(w2) OVER w AS p2 FROM (SELECT UTC, " +
        end + " AS e";
    for (int i = 0; i < 3; ++i) {
        sql += ", CASE WHEN " + end + " THEN 0 ELSE (" + (words[i].empty() ? "0" : words[i]) +
               ") END AS w" + std::to_string(i);
    }
    return sql +
           " FROM [T_TIMELINE] WHERE UTC >= :start AND UTC <= :end) WINDOW w AS (ORDER BY UTC)) "
           "WHERE pt IS NULL OR e IS NOT pe OR w0 IS NOT p0 OR w1 IS NOT p1 OR w2 IS NOT p2 "
           "ORDER BY UTC ASC";
}

}  // namespace

bool IndexFile::ReadTimeline(int64_t start, int64_t end, const timeline_filter_s& filter,
                             std::vector<timeline_flags_s>& out) {
    return ReadTimeline(start, end, filter,
                        [&out](const timeline_flags_s& row) { out.push_back(row); });
}

bool IndexFile::ReadTimeline(int64_t start, int64_t end, const timeline_filter_s& filter,
                             const std::function<void(const timeline_flags_s&)>& visit) {
    if (!Exists()) return ReportMissing(kLogTrace);
    if (!database_ && !EnsureOpen()) return false;
    static const std::string kQuery = BuildTimelineChangesQuery();
    // Change points: each entry starts a run of seconds with the same
    // unfiltered words and the same end flag. The flag counts too, so that
    // seconds recorded without any readable event are not taken for seconds
    // without recording; leading unrecorded seconds give no entry.
    try {
        if (!timeline_) timeline_ = std::make_unique<SQLite::Statement>(*database_, kQuery);
        SQLite::Statement& statement = *timeline_;
        statement.reset();
        statement.bind(":start", start);
        statement.bind(":end", end);
        bool any = false;
        while (statement.executeStep()) {
            timeline_flags_s row;
            row.time = statement.getColumn(0).getInt64();
            row.end = statement.getColumn(1).getInt64() != 0;
            if (!any && row.end) continue;
            row.eventBits = static_cast<uint32_t>(statement.getColumn(2).getInt64());
            row.analyticsBits = static_cast<uint32_t>(statement.getColumn(3).getInt64());
            row.audioBits = static_cast<uint32_t>(statement.getColumn(4).getInt64());
            any = true;
            visit(FilterTimelineRow(row, filter));
        }
        statement.reset();
        return true;
    } catch (const std::exception& e) {
        timeline_.reset();
        LogException(e);
        return false;
    }
}

}  // namespace orvale::recorder
