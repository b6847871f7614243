// Playback of one recorded hour (25 fps, a key frame each second, written
// through the channel's file writer onto drive D, mapped for the run to a
// folder inside the bench folder):
//   - open: the time from the open answer to the first delivered frame, the
//     medium driven as the engine's playback timer drives it (one Process,
//     then 1 ms of sleep), opened at several places of the hour;
//   - on time: 64 media at speed 1 through MediaRecorder, all on the
//     engine's one playback timer thread, each at its own place of the hour;
//     the share of video frames delivered within 5 ms of their due time (the
//     previous frame's delivery + the difference of their timestamps; the
//     first frame of an open and a frame after a jump of the timestamps,
//     where pacing starts afresh, are not counted);
//   - backup: a backup (export) of the whole hour against raw unbuffered
//     reads of the same data files from one thread, in reads of the read
//     buffer's size, one in flight; raw and backup runs take turns.
// Everything written is removed at the end. Last lines: ontime_ratio=<median
// share>, then backup_ratio=<median backup MB/s / median raw MB/s>.
//
//   playback [folder] [--seconds S] [--kbps K] [--runs R] [--media M]
//            [--play-seconds P]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/log/core.hpp>

#include "bench/BenchFigures.h"
#include "common/AsioThreadPool.h"
#include "platform/DirectFile.h"
#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/playback/PlaybackMediaImpl.h"
#include "recorder/storage/Channel.h"
#include "recorder/storage/Drive.h"
#include "recorder/store/AlignedBytes.h"
#include "recorder/store/FrameBuffer.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/MetaDataFile.h"

namespace {

namespace fs = std::filesystem;
using namespace orvale;
using bench::Clock;
using bench::Since;

constexpr int64_t kHourStart = 1704067200;  // 2024-01-01 00:00:00 UTC
constexpr uint32_t kFramesPerSecond = 25;
constexpr uint32_t kSecondsPerWrite = 16;

struct Options {
    fs::path folder = ".";
    int seconds = 3600;
    uint32_t kbps = 2000;
    int runs = 3;
    int media = 64;
    int playSeconds = 15;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
        if (arg == "--seconds") {
            options.seconds = std::clamp(value(), 60, 3600);
        } else if (arg == "--kbps") {
            options.kbps = static_cast<uint32_t>(std::max(100, value()));
        } else if (arg == "--runs") {
            options.runs = std::max(1, value());
        } else if (arg == "--media") {
            options.media = std::clamp(value(), 1, 128);
        } else if (arg == "--play-seconds") {
            options.playSeconds = std::clamp(value(), 2, 50);
        } else {
            options.folder = arg;
        }
    }
    return options;
}

double CpuPerGb(std::clock_t since, uint64_t bytes) {
    const double seconds = static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC;
    return seconds * 1e3 / (static_cast<double>(bytes) / 1e9);
}

struct Figures {
    std::vector<double> values;
    double Min() const { return *std::min_element(values.begin(), values.end()); }
    double Max() const { return *std::max_element(values.begin(), values.end()); }
    double Median() const { return bench::Median(values); }
};

void PrintFigures(const char* name, const Figures& f) {
    std::printf("%s runs=%zu min=%.3f median=%.3f max=%.3f\n", name, f.values.size(), f.Min(),
                f.Median(), f.Max());
}

std::shared_ptr<recorder::FrameBuffer> MakeSecond(int64_t time, uint32_t frameBytes) {
    static std::vector<uint8_t> payload;
    payload.assign(frameBytes, static_cast<uint8_t>(time));
    auto second = recorder::FrameBuffer::Create();
    for (uint32_t f = 0; f < kFramesPerSecond; ++f) {
        recorder::record_header_s header;
        header.type = recorder::RECORD_TYPE_VIDEO;
        header.infoLength = recorder::kVideoInfoLength;
        header.payloadLength = frameBytes + recorder::kVideoInfoLength;
        recorder::video_frame_info_s info;
        info.codec = 0x1B;
        info.time = static_cast<uint64_t>(time);
        info.timeMs = static_cast<uint32_t>((time - kHourStart) * 1000 + int64_t{f} * 40);
        info.width = 1920;
        info.height = 1080;
        info.frameType = f == 0 ? 1 : 2;
        recorder::timeline_flags_s flags;
        flags.time = time;
        flags.eventBits = 0x10;
        second->AddVideoFrame(header, info, payload.data(), frameBytes, flags);
    }
    return second;
}

// The hour through the channel's file writer, a few writes in flight as a
// recorder keeps them.
void RecordHour(recorder::Channel& channel, const Options& options) {
    const uint32_t frameBytes = options.kbps * 1000 / 8 / kFramesPerSecond;
    const int64_t size =
        int64_t{options.seconds + 60} * (frameBytes * kFramesPerSecond + 8192) + (64 << 20);
    auto writer = channel.GetFileWriter(recorder::kProfileNormal, 1, kHourStart, size);
    if (!writer) {
        std::cerr << "no file writer\n";
        std::exit(1);
    }
    std::vector<std::future<int32_t>> pending;
    for (int first = 0; first < options.seconds; first += static_cast<int>(kSecondsPerWrite)) {
        auto buffer = std::make_shared<recorder::WriteBuffer>(8 << 20);
        for (int s = first;
             s < std::min(first + static_cast<int>(kSecondsPerWrite), options.seconds); ++s) {
            buffer->Append(MakeSecond(kHourStart + s, frameBytes));
        }
        if (pending.size() == 3) {
            if (pending.front().get() != 0) std::exit(1);
            pending.erase(pending.begin());
        }
        auto done = std::make_shared<std::promise<int32_t>>();
        pending.push_back(done->get_future());
        writer->Write(buffer, [done](uint32_t, int32_t error, const std::string&, uint64_t, int64_t,
                                     int32_t) { done->set_value(error); });
    }
    for (auto& f : pending) {
        if (f.get() != 0) std::exit(1);
    }
    writer->Close();
}

std::vector<fs::path> DataFiles(const fs::path& drive) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(drive)) {
        if (entry.path().extension() == ".kvthdt") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The written bytes of a data file: what follows them is the margin that a
// closed file keeps.
uint64_t WrittenBytes(const fs::path& file) {
    const auto size = static_cast<int64_t>(fs::file_size(file));
    return static_cast<uint64_t>(std::max<int64_t>(0, size - recorder::DataFile::kTrimMargin));
}

// Raw MB/s: every data file read from its start in reads of `block` bytes,
// one at a time, unbuffered.
double RawRead(const std::vector<fs::path>& files, uint32_t block, boost::asio::io_context& io) {
    recorder::AlignedBytes bytes(block);
    uint64_t total = 0;
    const auto start = Clock::now();
    for (const fs::path& path : files) {
        platform::DirectFile file(io);
        if (file.Open(path, platform::DirectFile::Access::kRead)) std::exit(1);
        const uint64_t written = WrittenBytes(path);
        for (uint64_t offset = 0; offset < written; offset += block) {
            size_t read = 0;
            if (file.ReadAt(static_cast<int64_t>(offset), bytes.Data(), block, read)) std::exit(1);
            total += std::min<uint64_t>(read, written - offset);
        }
    }
    return static_cast<double>(total) / Since(start) / 1e6;
}

// Delivered frames of one medium, waited for by the bench's thread.
struct Sink {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t checksum = 0;
    bool answered = false;
    unsigned result = 0;
    bool ended = false;
    int endMarker = -1;
    Clock::time_point answerAt;
    Clock::time_point firstFrameAt;

    recorder::OpenMediaCallback Data() {
        return [this](recorder::playback_media_header_s* header, long size, unsigned char* data) {
            std::lock_guard lock(mutex);
            if (header->backup != 0 && size == 0) {
                ended = true;
                endMarker = header->video.endMarker;
                changed.notify_all();
                return 0L;
            }
            if (frames++ == 0) firstFrameAt = Clock::now();
            bytes += static_cast<uint64_t>(size);
            if (size > 0) checksum += data[size - 1];
            return 0L;
        };
    }
    recorder::OpenMediaResponseCallback Answer() {
        return [this](unsigned, unsigned r) {
            std::lock_guard lock(mutex);
            answered = true;
            result = r;
            answerAt = Clock::now();
            changed.notify_all();
        };
    }
};

// Milliseconds from the open answer to the first frame at `time`.
double OpenMs(const std::shared_ptr<recorder::Channel>& channel, common::AsioThreadPool& workers,
              int64_t time, double& answerMs) {
    auto buffers = std::make_shared<recorder::BufferPool>();
    auto medium =
        std::make_shared<recorder::PlaybackMediaImpl>(1, 1, channel, "", &workers, buffers);
    Sink sink;
    const auto opened = Clock::now();
    medium->OpenMedia(1, time, kHourStart + 3600, 1, false, false, 4, sink.Data(), sink.Answer());
    for (int tick = 0; tick < 10000; ++tick) {
        medium->Process(0);
        {
            std::lock_guard lock(sink.mutex);
            if (sink.frames > 0 || (sink.answered && sink.result != 0)) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard lock(sink.mutex);
    if (sink.frames == 0) {
        std::cerr << "no frame after the open\n";
        std::exit(1);
    }
    answerMs = std::chrono::duration<double, std::milli>(sink.answerAt - opened).count();
    return std::chrono::duration<double, std::milli>(sink.firstFrameAt - sink.answerAt).count();
}

// Backup MB/s of the data files' bytes, the whole hour exported.
double BackupRate(const std::shared_ptr<recorder::Channel>& channel,
                  common::AsioThreadPool& workers, uint64_t fileBytes, uint64_t expectedFrames) {
    auto buffers = std::make_shared<recorder::BufferPool>();
    auto medium =
        std::make_shared<recorder::PlaybackMediaImpl>(2, 1, channel, "", &workers, buffers);
    Sink sink;
    const auto start = Clock::now();
    medium->OpenMedia(1, kHourStart, kHourStart + 3600, 1, false, true, 4, sink.Data(),
                      sink.Answer());
    double seconds = 0;
    {
        std::unique_lock lock(sink.mutex);
        sink.changed.wait(lock, [&] { return sink.ended; });
        seconds = Since(start);
        if (sink.endMarker != 3 || sink.frames != expectedFrames) {
            std::cerr << "backup ended with marker " << sink.endMarker << " after " << sink.frames
                      << " of " << expectedFrames << " frames\n";
            std::exit(1);
        }
    }
    // The worker lets go of the medium (and its files) just after the end.
    while (medium.use_count() > 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return static_cast<double>(fileBytes) / seconds / 1e6;
}

// The video frames of one medium as its data callback sees them; every
// callback runs on the engine's timer thread.
struct Timeliness {
    static constexpr int64_t kToleranceNs = 5'000'000;
    static constexpr uint32_t kPacingRestartMs = 2000;  // larger jumps restart pacing

    int64_t lastNs = 0;
    uint32_t lastStamp = 0;
    uint64_t counted = 0;
    uint64_t onTime = 0;

    void Heard(uint32_t stamp) {
        const int64_t now =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count();
        if (lastNs != 0 && stamp > lastStamp && stamp - lastStamp <= kPacingRestartMs) {
            const int64_t due = lastNs + int64_t{stamp - lastStamp} * 1'000'000;
            ++counted;
            if (std::llabs(now - due) <= kToleranceNs) ++onTime;
        }
        lastNs = now;
        lastStamp = stamp;
    }
};

// Share of the frames on time, `media` media at speed 1 for `seconds`.
double OnTimeRatio(recorder::MediaRecorder& engine, const Options& options, uint64_t& frames,
                   uint64_t& late) {
    std::vector<Timeliness> media(static_cast<size_t>(options.media));
    std::atomic<int> answered{0};
    std::string channel = "bench";
    const int spread = std::max(1, options.seconds - options.playSeconds - 5);
    for (int i = 0; i < options.media; ++i) {
        const auto id = static_cast<unsigned>(i + 1);
        const int64_t start = kHourStart + int64_t{spread} * i / options.media;
        Timeliness* seen = &media[static_cast<size_t>(i)];
        const auto result = engine.OpenMedia(
            id, start, kHourStart + options.seconds, 1, id, channel, false, false, 4, "",
            [seen](recorder::playback_media_header_s* header, long size, unsigned char*) {
                if (header->kind == 1 && size > 0) seen->Heard(header->value);
                return 0L;
            },
            [&answered](unsigned, unsigned result) {
                if (result == 0) ++answered;
            });
        if (result != recorder::MEDIA_ERROR_NONE) {
            std::cerr << "OpenMedia answered " << result << "\n";
            std::exit(1);
        }
    }
    std::this_thread::sleep_for(std::chrono::seconds(options.playSeconds));
    // The callbacks end with the deletes.
    for (int i = 0; i < options.media; ++i)
        engine.DeletePlaybackMedia(static_cast<unsigned>(i + 1));
    if (answered != options.media) {
        std::cerr << "only " << answered << " opens answered\n";
        std::exit(1);
    }
    uint64_t counted = 0;
    uint64_t onTime = 0;
    for (const auto& m : media) {
        counted += m.counted;
        onTime += m.onTime;
    }
    frames = counted;
    late = counted - onTime;
    if (counted == 0) {
        std::cerr << "no frame played\n";
        std::exit(1);
    }
    return static_cast<double>(onTime) / static_cast<double>(counted);
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    if (!bench::DriveMapIsUnset()) return 1;
    // The engine's log lines are not what is measured.
    boost::log::core::get()->set_logging_enabled(false);
    const fs::path root = fs::absolute(options.folder) / "playback_bench";
    const fs::path host = root / "host";
    const fs::path driveFolder = root / "D";
    fs::remove_all(root);
    fs::create_directories(host);
    fs::create_directories(driveFolder);
    {
        std::ofstream ini(host / "ostrel.ini");
        ini << "[drives]\nD = " << driveFolder.string() << "\n";
    }
    platform::SetHostFolder(host.string());
    recorder::IndexFile::CreateTemplate();
    recorder::MetaDataFile::CreateTemplate();

    Figures open;
    Figures answer;
    Figures raw;
    Figures backup;
    Figures ratio;
    Figures onTime;
    {
        common::AsioThreadPool drivePool(8);
        common::AsioThreadPool workers(8);
        auto readBuffers = std::make_shared<recorder::BufferPool>();
        auto drive = recorder::MakeDrive(
            {"D", recorder::MEDIA_DRIVE_TYPE_FIXED, recorder::MEDIA_DRIVE_STATUS_ALLOCATE, 0}, 0);
        auto channel =
            std::make_shared<recorder::Channel>("bench", 0, false, &drivePool, readBuffers);
        channel->AddDrives({drive});

        const auto recordStart = Clock::now();
        RecordHour(*channel, options);
        const std::vector<fs::path> files = DataFiles(driveFolder);
        uint64_t fileBytes = 0;
        for (const fs::path& file : files) fileBytes += WrittenBytes(file);
        std::printf("seconds=%d kbps=%u data_files=%zu data_MB=%.1f record_s=%.1f\n",
                    options.seconds, options.kbps, files.size(),
                    static_cast<double>(fileBytes) / 1e6, Since(recordStart));

        const int openRuns = std::max(5, options.runs);
        for (int run = 0; run < openRuns; ++run) {
            const int64_t at = kHourStart + (options.seconds - 1) * (run + 1) / (openRuns + 1);
            double answerMs = 0;
            open.values.push_back(OpenMs(channel, workers, at, answerMs));
            answer.values.push_back(answerMs);
        }

        {
            // The engine finds the channel on drive D by its folders.
            recorder::MediaRecorder engine;
            engine.Initialize();
            for (int run = 0; run < options.runs; ++run) {
                uint64_t frames = 0;
                uint64_t late = 0;
                const std::clock_t cpu = std::clock();
                const auto start = Clock::now();
                onTime.values.push_back(OnTimeRatio(engine, options, frames, late));
                const double cpuShare =
                    static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC / Since(start);
                std::printf(
                    "run=%d media=%d frames=%llu off_time=%llu ontime=%.4f cpu_cores=%.2f\n",
                    run + 1, options.media, static_cast<unsigned long long>(frames),
                    static_cast<unsigned long long>(late), onTime.values.back(), cpuShare);
                std::fflush(stdout);
            }
            engine.Finalize(true);
        }

        const uint32_t block = recorder::kDefaultBufferSize;
        const uint64_t frames = uint64_t{kFramesPerSecond} * static_cast<uint64_t>(options.seconds);
        for (int run = 0; run < options.runs; ++run) {
            // Processor time of the whole process per GB, all threads.
            std::clock_t cpu = std::clock();
            raw.values.push_back(RawRead(files, block, drivePool.IoService()));
            const double rawCpu = CpuPerGb(cpu, fileBytes);
            cpu = std::clock();
            backup.values.push_back(BackupRate(channel, workers, fileBytes, frames));
            const double backupCpu = CpuPerGb(cpu, fileBytes);
            ratio.values.push_back(backup.values.back() / raw.values.back());
            std::printf(
                "run=%d raw_MBps=%.1f backup_MBps=%.1f ratio=%.3f raw_cpu_ms_per_GB=%.0f "
                "backup_cpu_ms_per_GB=%.0f\n",
                run + 1, raw.values.back(), backup.values.back(), ratio.values.back(), rawCpu,
                backupCpu);
            std::fflush(stdout);
        }
    }
    PrintFigures("answer_ms", answer);
    PrintFigures("open_ms", open);
    PrintFigures("raw_MBps", raw);
    PrintFigures("backup_MBps", backup);
    PrintFigures("run_ratio", ratio);
    PrintFigures("ontime", onTime);
    platform::SetHostFolder("");
    std::error_code error;
    fs::remove_all(root, error);
    std::printf("open_ms=%.3f\n", open.Median());
    std::printf("ontime_ratio=%.4f\n", onTime.Median());
    std::printf("backup_ratio=%.3f\n", backup.Median() / raw.Median());
    return 0;
}
