// The creation of one hour's index database (template copy, 3600 + 3601
// pre-filled rows, write-ahead logging, one flush, move into place, first
// connection) against its floor, measured in the same run: the same rows
// inserted with one prepared statement per table, in one transaction, into
// an empty in-memory database of the same schema. Each hour times the floor
// and the creation back to back, so that both meet the same machine load.
// Last line: prefill_ratio=<floor ms / prefill ms> (medians).
//
//   hour_prefill [folder] [hours]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>

#include "bench/BenchFigures.h"
#include "platform/HostFolder.h"
#include "recorder/store/IndexFile.h"

namespace fs = std::filesystem;
using orvale::bench::Median;
using orvale::recorder::IndexFile;

namespace {

template <class Step>
double Milliseconds(Step&& step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The CREATE statements of the template, so that the floor has its schema.
std::vector<std::string> Schema(const fs::path& templatePath) {
    SQLite::Database db(templatePath.string());
    SQLite::Statement query(db, "SELECT sql FROM sqlite_master WHERE type = 'table'");
    std::vector<std::string> statements;
    while (query.executeStep()) statements.push_back(query.getColumn(0).getString());
    return statements;
}

// The hour's rows into a fresh in-memory database of the template's schema.
// The schema is made before the clock starts; the rows are the floor.
double Floor(const std::vector<std::string>& schema, int64_t hour) {
    SQLite::Database db(":memory:", SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    for (const auto& statement : schema) db.exec(statement);
    std::string timelineRow = "INSERT INTO [T_TIMELINE] VALUES(?, 1";
    for (int i = 0; i < 30; ++i) timelineRow += ", 0";
    timelineRow += ")";
    return Milliseconds([&] {
        SQLite::Transaction transaction(db);
        SQLite::Statement dual(db, "INSERT INTO [T_DUALTRACKINDEX] VALUES(?, 0 , 0)");
        for (int64_t t = hour; t < hour + 3600; ++t) {
            dual.bind(1, t);
            dual.exec();
            dual.reset();
        }
        SQLite::Statement timeline(db, timelineRow);
        for (int64_t t = hour; t <= hour + 3600; ++t) {
            timeline.bind(1, t);
            timeline.exec();
            timeline.reset();
        }
        transaction.commit();
    });
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const int hours = argc > 2 ? std::atoi(argv[2]) : 50;
    const fs::path root = base / "hour_prefill_bench";
    fs::remove_all(root);
    fs::create_directories(root / "hours");
    orvale::platform::SetHostFolder(root.string());
    if (!IndexFile::CreateTemplate()) {
        std::fprintf(stderr, "cannot build the template in %s\n", root.c_str());
        return 1;
    }
    const std::vector<std::string> schema = Schema(IndexFile::TemplatePath());
    constexpr int64_t kFirstHour = 1706742000;
    std::vector<double> prefill, floor;
    for (int i = 0; i < hours; ++i) {
        const int64_t hour = kFirstHour + int64_t{3600} * i;
        const fs::path path = root / "hours" / IndexFile::MakeFileName(hour);
        floor.push_back(Floor(schema, hour));
        prefill.push_back(Milliseconds([&] {
            IndexFile file(path, nullptr);
            if (!file.Open(hour)) std::exit(1);
        }));
    }
    fs::remove_all(root);
    const double prefillMs = Median(prefill);
    const double floorMs = Median(floor);
    std::printf("hours=%d floor_ms=%.3f prefill_ms=%.3f (min %.3f, max %.3f)\n", hours, floorMs,
                prefillMs, *std::min_element(prefill.begin(), prefill.end()),
                *std::max_element(prefill.begin(), prefill.end()));
    std::printf("prefill_ratio=%.3f\n", floorMs / prefillMs);
    return 0;
}
