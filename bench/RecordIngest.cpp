// Ingest throughput of the engine's recorders: N channels of 25 fps video at
// 4 Mbit/s (20 000-byte frames, a key frame every 25) pushed with their own
// frame times through MediaRecorder recorders on a full schedule, one pushing
// thread per channel, as fast as the recorders' back-pressure allows: before
// each frame a channel waits, as the converter does, while the recorder's
// write buffer count is above 1 (WaitWriteBufferCount, which returns as soon
// as a write completes). All channels record onto one drive D, mapped for the
// run to a folder inside the bench folder through the [drives] section of the
// run's own host folder.
//
//   record_ingest [folder] [--seconds S] [--seconds-64 S] [--channels 1,16,64]
//                 [--rounds R] [--pre-record P] [--wait-ms W]
//
// S seconds of video per channel (1200; S-64 for 64 channels, S / 4 unless
// given); R rounds (3); P seconds of pre-record kept by every recorder (0);
// W the longest single wait before the count is looked at again (100 ms).
// A run's clock covers the pushing and each channel's StopRecording (which
// writes the tail and waits for every write), so every byte counted is on the
// disk. CPU is the process's (user + system, every engine thread included)
// over the run, per frame pushed. Resident memory per channel is the peak
// during the run less what was resident before the first recorder, divided by
// the channels. In the same run and folder, before every round and after the
// last, the pushed bytes of the 16-channel run are written raw (unbuffered
// pwrite from one thread, blocks of one recorder write, the clock running
// until the file is synced, as the engine's runs until its data files are),
// so the raw side is measured interleaved with the engine's runs. Everything
// written is removed at the end. The figures of the rounds are printed, then
// their medians as cpu_us_per_frame= and rss_mb_per_channel= (16 channels),
// ratio_64_to_16=, and last ingest_ratio=<median over the rounds of the
// 16-channel MB/s / the mean raw MB/s before and after it>.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <latch>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchFigures.h"
#include "bench/RawWrite.h"
#include "common/AsioThreadPool.h"
#include "platform/HostFolder.h"
#include "platform/ProcessMemory.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/store/FrameRecord.h"

namespace {

namespace fs = std::filesystem;
using namespace orvale;
using bench::Clock;
using bench::PrintSpread;
using bench::Since;
using bench::SpreadOf;

constexpr uint32_t kFramesPerSecond = 25;
constexpr uint32_t kFrameBytes = 4'000'000 / 8 / kFramesPerSecond;
constexpr uint64_t kFirstSecond = 1704067200;  // 2024-01-01 00:00:00 UTC
// A recorder hands a second buffer to the disk after this many new seconds.
constexpr uint64_t kSecondsPerWrite = 16;

struct Options {
    fs::path folder = ".";
    // Long enough that what a channel pays once (its files, its first write
    // buffers, its stop) does not outweigh its recording: at 300 s, the 64
    // channels' 75 s each measured their starts and stops more than their
    // writes. Still 3 to 12 times more often than an hour's recording pays it.
    uint64_t seconds = 1200;
    uint64_t seconds64 = 0;  // 0: seconds / 4
    uint64_t waitMs = 100;
    uint64_t rounds = 3;
    uint32_t preRecord = 0;
    std::vector<uint64_t> channels = {1, 16, 64};
};

std::vector<uint64_t> ParseList(const std::string& text) {
    std::vector<uint64_t> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        if (const uint64_t value = std::strtoull(item.c_str(), nullptr, 10); value > 0) {
            values.push_back(value);
        }
    }
    return values;
}

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto text = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        const auto value = [&] { return std::strtoull(text().c_str(), nullptr, 10); };
        if (arg == "--seconds") {
            options.seconds = std::max<uint64_t>(1, value());
        } else if (arg == "--seconds-64") {
            options.seconds64 = value();
        } else if (arg == "--wait-ms") {
            options.waitMs = value();
        } else if (arg == "--channels") {
            options.channels = ParseList(text());
        } else if (arg == "--rounds") {
            options.rounds = std::max<uint64_t>(1, value());
        } else if (arg == "--pre-record") {
            options.preRecord = static_cast<uint32_t>(value());
        } else {
            options.folder = arg;
        }
    }
    if (options.seconds64 == 0) options.seconds64 = std::max<uint64_t>(1, options.seconds / 4);
    return options;
}

struct RunResult {
    uint64_t channels = 0;
    uint64_t frames = 0;
    uint64_t bytes = 0;  // frame payload pushed
    uint64_t onDisk = 0;
    double wall = 0;
    double push = 0;  // until the last frame of the slowest channel
    double stop = 0;  // the longest StopRecording
    double cpu = 0;
    double rssPerChannel = 0;  // bytes
    uint64_t waits = 0;
    double waitSeconds = 0;  // summed over the channels
    double inPush = 0;       // summed time inside PushVideoFrame
    std::atomic<uint64_t> failures{0};
    std::atomic<int32_t> lastFailure{0};  // the code of a failure heard, 0 if none
};

// What one pushing thread saw.
struct ChannelTimes {
    double pushEnd = 0;
    double stop = 0;
    uint64_t waits = 0;
    double waitSeconds = 0;
    double inPush = 0;
};

void PushChannel(recorder::IRecorder& recorder, uint64_t seconds, uint64_t waitMs,
                 const std::vector<uint8_t>& payload, std::latch& go, Clock::time_point& start,
                 ChannelTimes& times) {
    recorder::video_frame_header_s header;
    header.profile = 1;
    header.codec = 0x1B;
    header.width = 1920;
    header.height = 1080;
    go.arrive_and_wait();
    const uint64_t frames = seconds * kFramesPerSecond;
    const auto step = static_cast<uint32_t>(waitMs);
    for (uint64_t frame = 0; frame < frames; ++frame) {
        if (recorder.GetWriteBufferCount() > 1) {
            const auto held = Clock::now();
            while (recorder.WaitWriteBufferCount(1, step) > 1) {
            }
            times.waitSeconds += Since(held);
            ++times.waits;
        }
        header.frameType = frame % kFramesPerSecond == 0 ? 1 : 2;
        header.time = kFirstSecond + frame / kFramesPerSecond;
        header.timeMs = static_cast<uint32_t>(frame % kFramesPerSecond * 40);
        const auto pushed = Clock::now();
        recorder.PushVideoFrame(header, payload.data(), static_cast<uint32_t>(payload.size()), 0);
        times.inPush += Since(pushed);
    }
    times.pushEnd = Since(start);
    const auto stopping = Clock::now();
    recorder.StopRecording();
    times.stop = Since(stopping);
}

uint64_t DataBytesOnDisk(const fs::path& drive) {
    uint64_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(drive)) {
        const std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() && (extension == ".kvthdt" || extension == ".kvtldt")) {
            bytes += entry.file_size();
        }
    }
    return bytes;
}

// A host folder of the run's own whose settings map drive D to `drive`.
void PrepareFolders(const fs::path& host, const fs::path& drive) {
    fs::create_directories(host);
    fs::create_directories(drive);
    std::ofstream ini(host / "ostrel.ini");
    ini << "[drives]\nD = " << fs::absolute(drive).string() << "\n";
    platform::SetHostFolder(fs::absolute(host).string());
}

void RunChannels(const fs::path& root, uint64_t channels, uint64_t seconds, const Options& options,
                 RunResult& result) {
    const fs::path host = root / "host";
    const fs::path drive = root / "D";
    fs::remove_all(root);
    PrepareFolders(host, drive);
    const std::vector<uint8_t> payload(kFrameBytes, 0x5A);
    {
        recorder::MediaRecorder engine;
        engine.Initialize();
        const uint64_t residentBefore = platform::ResidentBytes();
        platform::ResetPeakResident();
        std::string scheduleId = "ingest";
        std::vector<recorder::IRecorder*> recorders;
        for (uint64_t c = 0; c < channels; ++c) {
            std::string id = "ch" + std::to_string(c + 1);
            recorder::IRecorder* recorder = engine.CreateRecorder(id, scheduleId, 0, false);
            if (recorder == nullptr) {
                std::cerr << "cannot create the recorder of " << id << "\n";
                std::exit(1);
            }
            recorder->SetUseFrameTime(true);
            if (options.preRecord > 0) {
                recorder::event_duration_s durations;
                durations.slots[0].preRecTime = options.preRecord;  // motion
                recorder->SetEventRecordDuration(durations);
            }
            recorder->SetEventCallback([&result](const std::string&, int32_t code, int64_t) {
                if (code != recorder::RECORDER_STATUS_RECORDING &&
                    code != recorder::RECORDER_STATUS_NOT_RECORDING) {
                    ++result.failures;
                    result.lastFailure = code;
                }
            });
            recorders.push_back(recorder);
        }
        auto schedule = std::make_unique<recorder::media_schedule_s>();
        std::fill(std::begin(schedule->table), std::end(schedule->table), uint8_t{1});
        engine.SetSchedule(scheduleId, *schedule, {});
        for (recorder::IRecorder* recorder : recorders) recorder->StartRecording();

        std::vector<ChannelTimes> times(channels);
        std::latch go(static_cast<std::ptrdiff_t>(channels) + 1);
        Clock::time_point start;
        std::vector<std::thread> threads;
        for (uint64_t c = 0; c < channels; ++c) {
            threads.emplace_back([&, c] {
                PushChannel(*recorders[c], seconds, options.waitMs, payload, go, start, times[c]);
            });
        }
        const std::clock_t cpuStart = std::clock();
        start = Clock::now();
        go.count_down();
        for (auto& thread : threads) thread.join();
        result.wall = Since(start);
        result.cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const uint64_t peak = platform::PeakResidentBytes();
        result.rssPerChannel = peak > residentBefore ? static_cast<double>(peak - residentBefore) /
                                                           static_cast<double>(channels)
                                                     : 0.0;
        for (const ChannelTimes& t : times) {
            result.push = std::max(result.push, t.pushEnd);
            result.stop = std::max(result.stop, t.stop);
            result.waits += t.waits;
            result.waitSeconds += t.waitSeconds;
            result.inPush += t.inPush;
        }
        engine.Finalize(false);
    }
    platform::SetHostFolder("");
    result.channels = channels;
    result.frames = channels * seconds * kFramesPerSecond;
    result.bytes = result.frames * kFrameBytes;
    result.onDisk = DataBytesOnDisk(drive);
    fs::remove_all(root);
}

// Raw MB/s of `bytes` in blocks of one recorder write of the stream.
double RawRate(const fs::path& root, uint64_t bytes, common::AsioThreadPool& pool) {
    const uint64_t perWrite =
        kSecondsPerWrite * kFramesPerSecond *
        (kFrameBytes + sizeof(recorder::record_header_s) + recorder::kVideoInfoLength);
    const uint64_t block =
        (perWrite + recorder::kSectorSize - 1) / recorder::kSectorSize * recorder::kSectorSize;
    const uint64_t writes = std::max<uint64_t>(1, bytes / block);
    const std::vector<uint8_t> content(block, 0x5A);
    fs::create_directories(root);
    const fs::path file = root / "record_ingest.raw";
    fs::remove(file);
    // The engine's clock runs until its data files are synced at stop; the
    // raw one runs until its file is, so both count making the bytes durable.
    const double seconds = bench::RawWriteSeconds(file, content, block, writes, 2, pool.IoService(),
                                                  /*timeSync=*/true);
    fs::remove(file);
    return static_cast<double>(block * writes) / seconds / 1e6;
}

double Rate(const RunResult& result) {
    return static_cast<double>(result.bytes) / result.wall / 1e6;
}

void Print(const RunResult& r) {
    const auto frames = static_cast<double>(r.frames);
    std::printf(
        "channels=%llu frames=%llu MB=%.1f on_disk_MB=%.1f wall_s=%.3f push_s=%.3f stop_s=%.3f "
        "fps=%.0f MBps=%.1f cpu_us_per_frame=%.2f rss_mb_per_channel=%.1f waits=%llu "
        "wait_s_per_channel=%.3f in_push_us_per_frame=%.1f status_errors=%llu last_error_code=%d\n",
        static_cast<unsigned long long>(r.channels), static_cast<unsigned long long>(r.frames),
        static_cast<double>(r.bytes) / 1e6, static_cast<double>(r.onDisk) / 1e6, r.wall, r.push,
        r.stop, frames / r.wall, Rate(r), r.cpu * 1e6 / frames, r.rssPerChannel / 1e6,
        static_cast<unsigned long long>(r.waits), r.waitSeconds / static_cast<double>(r.channels),
        r.inPush * 1e6 / frames, static_cast<unsigned long long>(r.failures.load()),
        r.lastFailure.load());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    if (!bench::DriveMapIsUnset()) return 1;
    const fs::path root = options.folder / "record_ingest";
    std::cout << "folder=" << fs::absolute(options.folder).string()
              << " seconds=" << options.seconds << " seconds_64=" << options.seconds64
              << " rounds=" << options.rounds << " pre_record=" << options.preRecord
              << " wait_ms=" << options.waitMs << " frame_bytes=" << kFrameBytes << std::endl;
    common::AsioThreadPool pool(1);
    const uint64_t rawBytes = 16 * options.seconds * kFramesPerSecond * kFrameBytes;
    std::vector<double> raws = {RawRate(root, rawBytes, pool)};
    std::vector<double> at16;
    std::vector<double> ratios;
    std::vector<double> to16;
    std::vector<double> cpu16;
    std::vector<double> rss16;
    for (uint64_t round = 0; round < options.rounds; ++round) {
        double rate16 = 0;
        double rate64 = 0;
        for (const uint64_t channels : options.channels) {
            const uint64_t seconds = channels >= 64 ? options.seconds64 : options.seconds;
            RunResult result;
            RunChannels(root / "run", channels, seconds, options, result);
            Print(result);
            if (channels == 16) {
                rate16 = Rate(result);
                cpu16.push_back(result.cpu * 1e6 / static_cast<double>(result.frames));
                rss16.push_back(result.rssPerChannel / 1e6);
            }
            if (channels == 64) rate64 = Rate(result);
        }
        raws.push_back(RawRate(root, rawBytes, pool));
        const double raw = (raws[raws.size() - 2] + raws.back()) / 2;
        std::printf("raw_MBps=%.1f (before %.1f, after %.1f)\n", raw, raws[raws.size() - 2],
                    raws.back());
        if (rate16 > 0) {
            at16.push_back(rate16);
            ratios.push_back(rate16 / raw);
            if (rate64 > 0) to16.push_back(rate64 / rate16);
        }
    }
    fs::remove_all(root);
    if (ratios.empty()) {
        std::printf("ingest_ratio=n/a (no 16-channel run)\n");
        return 0;
    }
    PrintSpread("raw_MBps", raws);
    PrintSpread("MBps_16", at16);
    PrintSpread("ratio_16", ratios);
    PrintSpread("cpu_us_per_frame_16", cpu16);
    PrintSpread("rss_mb_per_channel_16", rss16);
    if (!to16.empty()) {
        PrintSpread("ratio_64_to_16", to16);
        std::printf("ratio_64_to_16=%.3f\n", SpreadOf(to16).median);
    }
    std::printf("cpu_us_per_frame=%.2f\n", SpreadOf(cpu16).median);
    std::printf("rss_mb_per_channel=%.1f\n", SpreadOf(rss16).median);
    std::printf("ingest_ratio=%.3f\n", SpreadOf(ratios).median);
    return 0;
}
