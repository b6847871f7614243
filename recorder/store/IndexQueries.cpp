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

// The rows of [start, end] whose stored values differ from those of the
// second before (or that have none before them in the range): a superset of
// the change points, as equal values decode to equal words, found by the
// primary key without handing every row out.
std::string BuildTimelineCandidatesQuery() {
    std::string differs = "p.UTC IS NULL OR p.UTC < :start OR c.[End] IS NOT p.[End]";
    std::string columns = "c.UTC, c.[End]";
    for (const auto& column : kTimelineColumns) {
        const std::string name = std::string("[") + column.name + "]";
        differs += " OR c." + name + " IS NOT p." + name;
        columns += ", c." + name;
    }
    return "SELECT " + columns +
           " FROM [T_TIMELINE] c LEFT JOIN [T_TIMELINE] p ON p.UTC = c.UTC - 1 WHERE c.UTC >= "
           ":start AND c.UTC <= :end AND (" +
           differs + ") ORDER BY c.UTC ASC";
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
    static const std::string kQuery = BuildTimelineCandidatesQuery();
    // Change points: each entry starts a run of seconds with the same
    // unfiltered words and the same end flag. The flag counts too, so that
    // seconds recorded without any readable event are not taken for seconds
    // without recording; leading unrecorded seconds give no entry. A
    // candidate's predecessor decodes as the last candidate did, so comparing
    // candidates alone finds every change point.
    try {
        if (!timeline_) timeline_ = std::make_unique<SQLite::Statement>(*database_, kQuery);
        SQLite::Statement& statement = *timeline_;
        statement.reset();
        statement.bind(":start", start);
        statement.bind(":end", end);
        bool any = false;
        timeline_flags_s previous;
        while (statement.executeStep()) {
            const timeline_flags_s row = DecodeTimelineRow(statement);
            if (!any && row.end) continue;
            if (!any || row.end != previous.end || row.eventBits != previous.eventBits ||
                row.analyticsBits != previous.analyticsBits ||
                row.audioBits != previous.audioBits) {
                visit(FilterTimelineRow(row, filter));
                previous = row;
                any = true;
            }
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
