// Rule frames per second of a forensic search through MediaRecorder: one
// channel records 24 hours with one metadata document a second (30 objects
// moving over the picture) and one tiny video frame a second, pushed with
// their own frame times; then one searcher searches the whole day with one
// line and one motion area, several times. Interleaved with each search, in
// the same run: the same frames fed to the rule library straight from memory
// (what the search could reach were reading free) and O_DIRECT reads of the
// pages of the day's metadata databases (what reading costs the disk alone).
// The search reads through the system cache, warm from the recording and the
// earlier runs. Drive D is a folder inside the bench folder, mapped through
// the [drives] section of the run's own host folder; everything written is
// removed at the end.
//
//   forensic [folder] [--hours H] [--runs N]
//
// H hours recorded (24), N runs (5). Last line: forensic_fps=<median of the
// searches>.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchFigures.h"
#include "common/AsioThreadPool.h"
#include "platform/DirectFile.h"
#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/playback/ForensicRule.h"
#include "rules/Pimbrel.h"

namespace {

namespace fs = std::filesystem;
using namespace orvale;
using bench::Clock;
using bench::Median;
using bench::Since;

constexpr int64_t kFirstSecond = 1704067200;  // 2024-01-01 00:00:00 UTC
constexpr int kObjects = RULE_FRAME_MAX_OBJECTS;
constexpr size_t kReadBlock = 1 << 20;

struct Options {
    fs::path folder = ".";
    int64_t hours = 24;
    int runs = 5;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&] { return i + 1 < argc ? std::strtoll(argv[++i], nullptr, 10) : 0; };
        if (arg == "--hours") {
            options.hours = std::max<int64_t>(1, value());
        } else if (arg == "--runs") {
            options.runs = static_cast<int>(std::max<long long>(1, value()));
        } else {
            options.folder = arg;
        }
    }
    return options;
}

float X(double gx) {
    return static_cast<float>(gx / 160.0 - 1.0);
}
float Y(double gy) {
    return static_cast<float>(1.0 - gy / 120.0);
}

// 30 objects bouncing inside the picture at 1 to 4 grid units a second.
class MovingObjects {
  public:
    MovingObjects() {
        for (int i = 0; i < kObjects; ++i) {
            x_[i] = 20 + (i * 37) % 280;
            y_[i] = 20 + (i * 53) % 200;
            vx_[i] = (i % 2 == 1 ? -1 : 1) * (1 + i % 4);
            vy_[i] = 1 + (i / 4) % 3;
            half_[i] = 6 + i % 5;
        }
    }

    rule_frame_s Next(int64_t time) {
        rule_frame_s frame;
        std::memset(&frame, 0, sizeof(frame));
        frame.time = time;
        frame.objectCount = kObjects;
        for (int i = 0; i < kObjects; ++i) {
            x_[i] += vx_[i];
            y_[i] += vy_[i];
            if (x_[i] < 12 || x_[i] > 308) vx_[i] = -vx_[i];
            if (y_[i] < 12 || y_[i] > 228) vy_[i] = -vy_[i];
            frame.objects[i] = {static_cast<uint32_t>(i + 1), X(x_[i] - half_[i]),
                                Y(y_[i] - half_[i]), X(x_[i] + half_[i]), Y(y_[i] + half_[i])};
        }
        return frame;
    }

  private:
    double x_[kObjects] = {}, y_[kObjects] = {}, vx_[kObjects] = {}, vy_[kObjects] = {},
           half_[kObjects] = {};
};

// The frame's boxes as a camera's metadata document.
std::string MetadataXml(const rule_frame_s& frame) {
    std::string xml =
        "<tt:MetadataStream xmlns:tt=\"http://www.onvif.org/ver10/schema\"><tt:VideoAnalytics>"
        "<tt:Frame>";
    char object[256];
    for (int i = 0; i < frame.objectCount; ++i) {
        const rule_object_s& o = frame.objects[i];
        std::snprintf(object, sizeof(object),
                      "<tt:Object ObjectId=\"%u\"><tt:Appearance><tt:Shape><tt:BoundingBox "
                      "left=\"%.9g\" top=\"%.9g\" right=\"%.9g\" bottom=\"%.9g\"/></tt:Shape>"
                      "</tt:Appearance></tt:Object>",
                      o.objectId, static_cast<double>(o.x1), static_cast<double>(o.y1),
                      static_cast<double>(o.x2), static_cast<double>(o.y2));
        xml += object;
    }
    return xml + "</tt:Frame></tt:VideoAnalytics></tt:MetadataStream>";
}

// One line across the picture and one motion area on its right.
std::list<recorder::forensic_search_line_s> SearchLines() {
    return {{255, {{X(20), Y(120)}, {X(300), Y(120)}}}};
}
std::list<recorder::forensic_search_area_s> SearchAreas() {
    return {{false, 0x1, {{X(180), Y(40)}, {X(280), Y(40)}, {X(280), Y(200)}, {X(180), Y(200)}}}};
}

// A host folder of the run's own whose settings map drive D to `drive`.
void PrepareFolders(const fs::path& host, const fs::path& drive) {
    fs::create_directories(host);
    fs::create_directories(drive);
    std::ofstream ini(host / "ostrel.ini");
    ini << "[drives]\nD = " << fs::absolute(drive).string() << "\n";
    ini << "[recorder]\nlog_level = error\n";
    platform::SetHostFolder(fs::absolute(host).string());
}

// Records the day and returns its frames as stored.
std::vector<rule_frame_s> RecordDay(recorder::MediaRecorder& engine, int64_t seconds) {
    std::string id = "cam1";
    std::string scheduleId = "forensic";
    recorder::IRecorder* recorder = engine.CreateRecorder(id, scheduleId, 0, false);
    if (recorder == nullptr) {
        std::cerr << "cannot create the recorder\n";
        std::exit(1);
    }
    auto schedule = std::make_unique<recorder::media_schedule_s>();
    std::fill(std::begin(schedule->table), std::end(schedule->table), uint8_t{1});
    engine.SetSchedule(scheduleId, *schedule, {});
    recorder->SetUseFrameTime(true);
    recorder->StartRecording();

    std::vector<rule_frame_s> frames;
    frames.reserve(static_cast<size_t>(seconds));
    MovingObjects objects;
    const std::vector<uint8_t> video(64, 0x5A);
    uint64_t refused = 0;
    for (int64_t s = 0; s < seconds; ++s) {
        const int64_t t = kFirstSecond + s;
        recorder::video_frame_header_s header;
        header.codec = 0x1B;
        header.frameType = 1;
        header.time = static_cast<uint64_t>(t);
        header.timeMs = static_cast<uint32_t>(t * 1000);
        if (!recorder->PushVideoFrame(header, video.data(), static_cast<uint32_t>(video.size()),
                                      0)) {
            ++refused;
        }
        frames.push_back(objects.Next(t));
        const std::string xml = MetadataXml(frames.back());
        recorder::meta_frame_header_s meta;
        meta.time = t;
        meta.timeMs = static_cast<uint32_t>(t * 1000);
        if (!recorder->PushMetaFrame(meta, xml.data(), static_cast<uint32_t>(xml.size()))) {
            ++refused;
        }
    }
    recorder->StopRecording();
    if (refused > 0) {
        std::cerr << refused << " frames refused\n";
        std::exit(1);
    }
    return frames;
}

struct SearchFigure {
    double seconds = 0;
    double cpu = 0;  // of the whole process, which does nothing else meanwhile
    size_t hits = 0;
};

SearchFigure SearchOnce(recorder::MediaRecorder& engine, unsigned seqId, int64_t seconds) {
    std::string id = "cam1";
    recorder::IForensicSearcher* searcher = engine.CreateForensicSearcher(seqId, id);
    if (searcher == nullptr) {
        std::cerr << "cannot create the searcher\n";
        std::exit(1);
    }
    std::promise<size_t> answer;
    const std::clock_t cpuStart = std::clock();
    const auto start = Clock::now();
    const bool posted =
        searcher->Search(kFirstSecond, kFirstSecond + seconds - 1, 1, SearchAreas(), SearchLines(),
                         [&answer](unsigned, const std::vector<recorder::forensic_event_s>& hits) {
                             answer.set_value(hits.size());
                         });
    if (!posted) {
        std::cerr << "the search was refused\n";
        std::exit(1);
    }
    SearchFigure figure;
    figure.hits = answer.get_future().get();
    figure.seconds = Since(start);
    figure.cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    engine.DeleteForensicSearcher(seqId);
    return figure;
}

// The same rule set and frames through the library alone.
double LibrarySeconds(const std::vector<rule_frame_s>& frames, size_t& hits) {
    const forensic_rule_s rule = recorder::MakeForensicRule(SearchAreas(), SearchLines());
    rule_event_s events[100];
    hits = 0;
    const auto start = Clock::now();
    QDX_setRule(nullptr, &rule);
    for (const rule_frame_s& frame : frames) {
        int count = 0;
        QDX_processFrameSingle(nullptr, &frame, 100, events, &count);
        hits += static_cast<size_t>(count);
    }
    return Since(start);
}

// The pages of an SQLite database: page size times page count from its header.
uint64_t DatabaseBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char header[100] = {};
    in.read(reinterpret_cast<char*>(header), sizeof(header));
    uint64_t pageSize = (uint64_t{header[16]} << 8) | header[17];
    if (pageSize == 1) pageSize = 65536;
    const uint64_t pages = (uint64_t{header[28]} << 24) | (uint64_t{header[29]} << 16) |
                           (uint64_t{header[30]} << 8) | header[31];
    return pageSize * pages;
}

std::vector<fs::path> MetadataFiles(const fs::path& drive) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(drive)) {
        if (entry.is_regular_file() && entry.path().extension() == ".kvtmtd") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// O_DIRECT reads of every database's pages, in 1 MiB blocks, one file after
// the other.
double RawReadSeconds(const std::vector<fs::path>& files, boost::asio::io_context& io,
                      uint64_t& bytes) {
    auto* buffer =
        static_cast<uint8_t*>(std::aligned_alloc(platform::kDirectIoAlignment, kReadBlock));
    bytes = 0;
    const auto start = Clock::now();
    for (const fs::path& path : files) {
        const uint64_t size = DatabaseBytes(path);
        platform::DirectFile file(io);
        if (file.Open(path, platform::DirectFile::Access::kRead)) {
            std::cerr << "cannot open " << path << "\n";
            std::exit(1);
        }
        for (uint64_t offset = 0; offset < size; offset += kReadBlock) {
            const size_t length =
                static_cast<size_t>(std::min<uint64_t>(kReadBlock, size - offset));
            const size_t aligned = (length + platform::kDirectIoAlignment - 1) /
                                   platform::kDirectIoAlignment * platform::kDirectIoAlignment;
            size_t read = 0;
            if (file.ReadAt(static_cast<int64_t>(offset), buffer, aligned, read)) {
                std::cerr << "cannot read " << path << "\n";
                std::exit(1);
            }
            bytes += std::min<uint64_t>(read, length);
        }
    }
    const double seconds = Since(start);
    std::free(buffer);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    if (!bench::DriveMapIsUnset()) return 1;
    const fs::path root = options.folder / "forensic";
    const fs::path drive = root / "D";
    fs::remove_all(root);
    PrepareFolders(root / "host", drive);
    const int64_t seconds = options.hours * 3600;
    std::cout << "folder=" << fs::absolute(options.folder).string() << " hours=" << options.hours
              << " frames=" << seconds << " objects_per_frame=" << kObjects
              << " runs=" << options.runs << std::endl;

    std::vector<double> engineFps, libraryFps, rawFps;
    {
        recorder::MediaRecorder engine;
        engine.Initialize();
        const auto recording = Clock::now();
        const std::vector<rule_frame_s> frames = RecordDay(engine, seconds);
        const std::vector<fs::path> files = MetadataFiles(drive);
        uint64_t onDisk = 0;
        for (const fs::path& file : files) onDisk += DatabaseBytes(file);
        std::printf("recorded_s=%.1f metadata_files=%zu metadata_MB=%.1f\n", Since(recording),
                    files.size(), static_cast<double>(onDisk) / 1e6);

        common::AsioThreadPool pool(1);
        const auto frameCount = static_cast<double>(seconds);
        for (int run = 0; run < options.runs; ++run) {
            uint64_t rawBytes = 0;
            const double raw = RawReadSeconds(files, pool.IoService(), rawBytes);
            size_t libraryHits = 0;
            const double library = LibrarySeconds(frames, libraryHits);
            const SearchFigure search = SearchOnce(engine, static_cast<unsigned>(run + 1), seconds);
            engineFps.push_back(frameCount / search.seconds);
            libraryFps.push_back(frameCount / library);
            rawFps.push_back(frameCount / raw);
            std::printf(
                "run=%d search_s=%.3f search_cpu_s=%.3f search_fps=%.0f hits=%zu library_fps=%.0f "
                "library_events=%zu raw_read_MBps=%.1f raw_read_fps=%.0f\n",
                run + 1, search.seconds, search.cpu, engineFps.back(), search.hits,
                libraryFps.back(), libraryHits, static_cast<double>(rawBytes) / raw / 1e6,
                rawFps.back());
            std::fflush(stdout);
        }
        engine.Finalize(true);
    }
    platform::SetHostFolder("");
    fs::remove_all(root);

    const auto [minIt, maxIt] = std::minmax_element(engineFps.begin(), engineFps.end());
    const double search = Median(engineFps);
    std::printf("search_fps min=%.0f median=%.0f max=%.0f\n", *minIt, search, *maxIt);
    std::printf("library_fps_median=%.0f raw_read_fps_median=%.0f\n", Median(libraryFps),
                Median(rawFps));
    std::printf("search_vs_library=%.3f search_vs_raw_read=%.3f\n", search / Median(libraryFps),
                search / Median(rawFps));
    std::printf("forensic_fps=%.0f\n", search);
    return 0;
}
