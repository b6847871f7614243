// Timeline and calendar searches over a store of many channel hours, through
// MediaRecorder: a month's timeline over all channels, one day's, and the
// month's calendar, each several times, at 1/8 of the store and at the whole
// store, with the growth of the process's peak memory over each search.
//
// The store is laid down with the engine's own hour index writer (what a
// recorder writes for small frames with frame times: continuous recording,
// motion for 30 s every 5 min, a one-minute gap every 6 hours); the data
// files the rows name are not written, as no search reads them. Drive D is a
// folder inside the bench folder, mapped through the run's own host folder.
// With --keep the stores stay and a later run reuses them, so that two
// builds can be measured on the very same files.
//
//   search [folder] [--channels C] [--days D] [--runs N] [--keep]
//
// C channels (32), D days (7), N runs (5). Lines: per store
// "store=… timeline_month_ms=… timeline_day_ms=… calendar_month_ms=…
// search_peak_rss_mb=…" (medians), then growth_month=<whole / eighth>.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchFigures.h"
#include "common/GlobalNames.h"
#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/IndexFile.h"

namespace {

namespace fs = std::filesystem;
using namespace orvale;
using bench::Clock;
using bench::Median;
using bench::Since;

constexpr int64_t kFirstSecond = 1704067200;  // 2024-01-01 00:00:00 UTC
constexpr int64_t kHour = 3600;

struct Options {
    fs::path folder = ".";
    int channels = 32;
    int days = 7;
    int runs = 5;
    bool keep = false;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
        if (arg == "--channels") {
            options.channels = std::max(1, value());
        } else if (arg == "--days") {
            options.days = std::max(1, value());
        } else if (arg == "--runs") {
            options.runs = std::max(1, value());
        } else if (arg == "--keep") {
            options.keep = true;
        } else {
            options.folder = arg;
        }
    }
    return options;
}

std::string ChannelId(int channel) {
    return "cam" + std::to_string(channel + 1);
}

void PrepareHost(const fs::path& host, const fs::path& drive) {
    fs::create_directories(host);
    fs::create_directories(drive);
    std::ofstream ini(host / "ostrel.ini");
    ini << "[drives]\nD = " << fs::absolute(drive).string() << "\n";
    ini << "[recorder]\nlog_level = error\n";
    platform::SetHostFolder(fs::absolute(host).string());
}

// One channel hour as the recorder's index writer leaves it.
bool WriteHour(const fs::path& root, int channel, int64_t hour,
               const std::shared_ptr<recorder::FolderInUseContainer>& folders) {
    char track[64];
    const std::string name = recorder::IndexFile::MakeFileName(hour);
    std::snprintf(track, sizeof track, "%s/%s/%s/%s/0001", name.substr(0, 4).c_str(),
                  name.substr(4, 2).c_str(), name.substr(6, 2).c_str(), name.substr(8, 2).c_str());
    const fs::path folder = root / ChannelId(channel) / track;
    fs::create_directories(folder);
    recorder::IndexFile file(folder / name, folders);
    if (!file.Open(hour)) return false;
    const std::string dataFile = name.substr(0, 14) + ".kvthdt";
    std::vector<recorder::dual_track_row_s> seconds;
    std::vector<recorder::index_row_s> rows;
    std::vector<recorder::timeline_flags_s> timeline;
    const bool gap = (hour - kFirstSecond) / kHour % 6 == 5;
    for (int64_t t = hour; t < hour + kHour; ++t) {
        if (gap && t >= hour + 1800 && t < hour + 1860) continue;
        seconds.push_back({t, false, false});
        recorder::index_row_s row;
        row.keyTime = t;
        row.name = dataFile;
        row.keyOffset = static_cast<uint64_t>(t - hour) * 2048;
        row.keySize = 1024;
        rows.push_back(row);
        recorder::timeline_flags_s flags;
        flags.time = t;
        flags.eventBits = 0x10 | ((t + int64_t{channel} * 17) % 300 < 30 ? 0x4 : 0);
        timeline.push_back(flags);
    }
    return file.WriteSeconds(1, seconds, rows, dataFile, timeline);
}

// Lays down `hours` hours of every channel under the drive, unless a former
// run left them complete.
void LayDown(const fs::path& drive, int channels, int64_t hours) {
    const fs::path done = drive / "laid-down";
    if (fs::exists(done)) return;
    const fs::path root = drive / common::kRecordDataFolder;
    auto folders = recorder::FolderInUseContainer::Create();
    if (!recorder::IndexFile::CreateTemplate()) {
        std::cerr << "cannot build the hour template\n";
        std::exit(1);
    }
    std::atomic<int64_t> next{0};
    std::atomic<bool> failed{false};
    const int64_t total = channels * hours;
    std::vector<std::thread> threads;
    threads.reserve(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int64_t n = next++; n < total; n = next++) {
                if (!WriteHour(root, static_cast<int>(n / hours), kFirstSecond + n % hours * kHour,
                               folders)) {
                    failed = true;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    if (failed) {
        std::cerr << "cannot write the hour files\n";
        std::exit(1);
    }
    std::ofstream{done} << total << "\n";
}

// kB of a line of /proc/self/status.
double StatusMb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::atof(line.c_str() + prefix.size()) / 1024.0;
    }
    return 0;
}

// Makes the peak resident size start again from the present one.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Figures {
    std::vector<double> month, day, calendar, peak;
    size_t monthSpans = 0, daySpans = 0, recordedDays = 0;
};

size_t Timeline(recorder::MediaRecorder& engine, unsigned seqId, std::vector<std::string>& ids,
                int64_t start, int64_t end, double& ms) {
    recorder::ITimelineSearcher* searcher = engine.CreateTimelineSearcher(seqId, ids);
    std::promise<size_t> answer;
    const auto began = Clock::now();
    searcher->Search(start, end, {~0u, ~0u, ~0u},
                     [&answer](unsigned, std::vector<std::vector<recorder::timeline_record_s>>& r) {
                         size_t spans = 0;
                         for (const auto& track : r) spans += track.size();
                         answer.set_value(spans);
                     });
    const size_t spans = answer.get_future().get();
    ms = Since(began) * 1000;
    engine.DeleteTimelineSearcher(seqId);
    return spans;
}

size_t Calendar(recorder::MediaRecorder& engine, unsigned seqId, std::vector<std::string>& ids,
                double& ms) {
    recorder::ICalendarSearcher* searcher = engine.CreateCalendarSearcher(seqId, ids);
    std::promise<size_t> answer;
    const auto began = Clock::now();
    searcher->Search(2024, 1, [&answer](unsigned, int, int, std::list<unsigned char> days) {
        answer.set_value(static_cast<size_t>(std::count(days.begin(), days.end(), 1)));
    });
    const size_t recorded = answer.get_future().get();
    ms = Since(began) * 1000;
    engine.DeleteCalendarSearcher(seqId);
    return recorded;
}

Figures Measure(const Options& options, const fs::path& store, int64_t hours) {
    const fs::path drive = store / "D";
    PrepareHost(store / "host", drive);
    const auto laying = Clock::now();
    LayDown(drive, options.channels, hours);
    std::printf("store=%s hours=%lld channel_hours=%lld laid_down_s=%.1f\n",
                store.filename().c_str(), static_cast<long long>(hours),
                static_cast<long long>(hours) * options.channels, Since(laying));
    std::fflush(stdout);
    std::vector<std::string> ids;
    ids.reserve(static_cast<size_t>(options.channels));
    for (int c = 0; c < options.channels; ++c) ids.push_back(ChannelId(c));
    Figures figures;
    recorder::MediaRecorder engine;
    engine.Initialize();
    unsigned seqId = 1;
    for (int run = 0; run < options.runs; ++run) {
        double month = 0, day = 0, calendar = 0;
        const double before = StatusMb("VmRSS");
        ResetPeak();
        figures.monthSpans = Timeline(engine, seqId++, ids, kFirstSecond,
                                      kFirstSecond + int64_t{31} * 86400 - 1, month);
        figures.peak.push_back(StatusMb("VmHWM") - before);
        figures.daySpans =
            Timeline(engine, seqId++, ids, kFirstSecond, kFirstSecond + 86400 - 1, day);
        figures.recordedDays = Calendar(engine, seqId++, ids, calendar);
        figures.month.push_back(month);
        figures.day.push_back(day);
        figures.calendar.push_back(calendar);
        std::printf(
            "store=%s run=%d timeline_month_ms=%.1f spans=%zu timeline_day_ms=%.1f "
            "spans=%zu calendar_month_ms=%.1f days=%zu search_peak_rss_mb=%.1f\n",
            store.filename().c_str(), run + 1, month, figures.monthSpans, day, figures.daySpans,
            calendar, figures.recordedDays, figures.peak.back());
        std::fflush(stdout);
    }
    engine.Finalize(true);
    platform::SetHostFolder("");
    if (!options.keep) fs::remove_all(store);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    if (!bench::DriveMapIsUnset()) return 1;
    const fs::path root = fs::absolute(options.folder / "search");
    const int64_t hours = int64_t{options.days} * 24;
    std::printf("folder=%s channels=%d days=%d runs=%d\n", root.c_str(), options.channels,
                options.days, options.runs);
    const Figures eighth = Measure(options, root / "eighth", std::max<int64_t>(1, hours / 8));
    const Figures whole = Measure(options, root / "whole", hours);
    for (const auto& [name, f] : {std::pair{"eighth", &eighth}, std::pair{"whole", &whole}}) {
        std::printf(
            "store=%s timeline_month_ms=%.1f timeline_day_ms=%.1f calendar_month_ms=%.1f "
            "search_peak_rss_mb=%.1f\n",
            name, Median(f->month), Median(f->day), Median(f->calendar), Median(f->peak));
    }
    std::printf("growth_month=%.2f for_store_growth=%.2f\n",
                Median(whole.month) / Median(eighth.month),
                static_cast<double>(hours) / static_cast<double>(std::max<int64_t>(1, hours / 8)));
    if (!options.keep) fs::remove_all(root);
    return 0;
}
