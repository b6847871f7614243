// Conversion throughput: a generated old-format tree (OldFormatWriter) of at
// least 2 GiB, C channels of 25 fps video at 4 Mbit/s (20 000-byte frames, a
// key frame every 25) with 5 audio frames a second, in files of F minutes, is
// converted by the conversion worker through the engine's shared library with
// no delay (DELAY_TIME 0), the way the converter program does it, onto drive
// D mapped to the bench folder.
//
//   convert [folder] [--gib G] [--channels C] [--file-minutes F] [--rounds R]
//           [--pre-record P]
//
// G GiB of old files at least (2); C channels (2); F minutes per old file
// (6; a file must stay below the old format's 300 MiB of minute offsets);
// R rounds (3); P seconds of pre-record stored for every channel before the
// run (0), which its recorders keep back while converting.
//
// The compared limit, interleaved with the conversions (before every round
// and after the last): the same old files read and their bytes written
// unbuffered (O_DIRECT) into new preallocated files of the same folder, in
// 4 MiB blocks with one write in flight (the next block is read while it is
// written), each file synced at its end, as the engine syncs each data file
// when its recorder stops. Both sides read the old files from the page cache:
// each is preceded by one read of the whole tree. Conversion MB/s and raw MB/s
// are both the old files' bytes over the side's time. Everything written is
// removed at the end. Last line:
// convert_ratio=<median over the rounds of conversion MB/s / mean raw MB/s
// before and after it>.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "bench/BenchFigures.h"
#include "converter/ConversionWorker.h"
#include "converter/OldFolders.h"
#include "platform/DirectFile.h"
#include "platform/Environment.h"
#include "platform/Time.h"
#include "recorder/api/MediaRecorder.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace orvale;
using bench::Clock;
using bench::Since;
using bench::Spread;
using bench::SpreadOf;

constexpr uint32_t kFramesPerSecond = 25;
constexpr uint32_t kFrameBytes = 4'000'000 / 8 / kFramesPerSecond;
constexpr uint32_t kAudioPerSecond = 5;
constexpr uint32_t kAudioBytes = 320;
constexpr uint32_t kStart = 1710496800;  // 2024-03-15 10:00:00 UTC
constexpr uint64_t kBlock = uint64_t{4} * 1024 * 1024;
constexpr uint64_t kGiB = uint64_t{1} << 30;

struct Options {
    fs::path folder = ".";
    double gib = 2.0;
    uint32_t channels = 2;
    uint32_t fileMinutes = 6;
    uint64_t rounds = 3;
    uint32_t preRecord = 0;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto text = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (arg == "--gib") {
            options.gib = std::max(0.01, std::strtod(text().c_str(), nullptr));
        } else if (arg == "--channels") {
            options.channels = std::max(1u, static_cast<uint32_t>(std::stoul(text())));
        } else if (arg == "--file-minutes") {
            options.fileMinutes = std::clamp(static_cast<uint32_t>(std::stoul(text())), 1u, 9u);
        } else if (arg == "--rounds") {
            options.rounds = std::max<uint64_t>(1, std::stoull(text()));
        } else if (arg == "--pre-record") {
            options.preRecord = static_cast<uint32_t>(std::stoul(text()));
        } else {
            options.folder = arg;
        }
    }
    return options;
}

std::string UtcText(uint32_t time, const char* format) {
    const std::tm utc = platform::UtcTime(time);
    char text[32];
    std::strftime(text, sizeof(text), format, &utc);
    return text;
}

// The seconds [first, first + count) of one channel, as old-format frames.
std::vector<oldformat::test_second_s> Seconds(uint32_t first, uint32_t count, uint32_t channel) {
    std::vector<oldformat::test_second_s> seconds;
    std::string payload(kFrameBytes, static_cast<char>('a' + channel % 26));
    const std::string sound(kAudioBytes, static_cast<char>('0' + channel % 10));
    for (uint32_t s = first; s < first + count; ++s) {
        const uint32_t time = kStart + s;
        const uint32_t inFile = s - first;
        oldformat::test_second_s second{
            static_cast<int>(inFile / 60), static_cast<int>(inFile % 60), 0x10, {}};
        for (uint32_t v = 0; v < kFramesPerSecond; ++v) {
            std::memcpy(payload.data(), &s, sizeof(s));
            std::memcpy(payload.data() + sizeof(s), &v, sizeof(v));
            second.frames.push_back({false, 1, time, v * (1000 / kFramesPerSecond), 1920, 1080, 0,
                                     static_cast<uint16_t>(v == 0 ? 1 : 2), payload});
        }
        for (uint32_t a = 0; a < kAudioPerSecond; ++a) {
            second.frames.push_back(
                {true, 'A', time, a * (1000 / kAudioPerSecond), 0, 0, 0x0105, 0, sound});
        }
        seconds.push_back(std::move(second));
    }
    return seconds;
}

struct Tree {
    std::vector<fs::path> files;
    uint64_t bytes = 0;
};

// <root>/ZERoza/ch<N>/<yyyymmdd>/0001_<start>.nmd, files of `fileMinutes`
// until every channel holds its share of `gib`.
Tree WriteTree(const fs::path& root, const Options& options) {
    Tree tree;
    const uint64_t perSecond =
        kFramesPerSecond * (kFrameBytes + 76) + kAudioPerSecond * (kAudioBytes + 72);
    const auto wanted = static_cast<uint64_t>(options.gib * static_cast<double>(kGiB));
    const uint64_t secondsPerChannel = wanted / perSecond / options.channels + 1;
    const uint32_t perFile = options.fileMinutes * 60;
    for (uint32_t c = 1; c <= options.channels; ++c) {
        const fs::path folder =
            root / "ZERoza" / ("ch" + std::to_string(c)) / UtcText(kStart, "%Y%m%d");
        fs::create_directories(folder);
        for (uint32_t first = 0; first < secondsPerChannel; first += perFile) {
            const auto count =
                static_cast<uint32_t>(std::min<uint64_t>(perFile, secondsPerChannel - first));
            const fs::path file =
                folder / ("0001_" + UtcText(kStart + first, "%Y%m%d%H%M%S") + ".nmd");
            oldformat::OldMediaWriter({Seconds(first, count, c)}, kStart + first).Save(file);
            tree.files.push_back(file);
            tree.bytes += fs::file_size(file);
        }
    }
    return tree;
}

// Reads every file once, so that both sides find the tree in the page cache.
void WarmUp(const Tree& tree) {
    std::vector<char> block(kBlock);
    for (const fs::path& file : tree.files) {
        std::ifstream in(file, std::ios::binary);
        while (in.read(block.data(), static_cast<std::streamsize>(block.size())) ||
               in.gcount() > 0) {
        }
    }
}

[[noreturn]] void Fail(const std::string& what, const std::error_code& error) {
    std::cerr << what << ": " << error.message() << "\n";
    std::exit(1);
}

// Seconds to read each old file and write its bytes unbuffered into a new
// file in `out`, 4 MiB at a time, one write in flight, each file synced.
double RawSeconds(const Tree& tree, const fs::path& out) {
    boost::asio::io_context io;
    fs::create_directories(out);
    std::unique_ptr<uint8_t, decltype(&std::free)> blocks(
        static_cast<uint8_t*>(std::aligned_alloc(platform::kDirectIoAlignment, 2 * kBlock)),
        &std::free);
    const auto start = Clock::now();
    for (size_t i = 0; i < tree.files.size(); ++i) {
        const uint64_t size = fs::file_size(tree.files[i]);
        const uint64_t rounded = (size + platform::kDirectIoAlignment - 1) /
                                 platform::kDirectIoAlignment * platform::kDirectIoAlignment;
        const fs::path target = out / ("raw" + std::to_string(i));
        if (auto error = platform::CreatePreallocatedFile(target, static_cast<int64_t>(rounded))) {
            Fail("raw: cannot create " + target.string(), error);
        }
        platform::DirectFile file(io);
        if (auto error = file.Open(target, platform::DirectFile::Access::kReadWrite)) {
            Fail("raw: cannot open " + target.string(), error);
        }
        std::ifstream in(tree.files[i], std::ios::binary);
        std::thread writing;
        std::error_code written;
        for (uint64_t offset = 0, turn = 0; offset < size; offset += kBlock, ++turn) {
            uint8_t* block = blocks.get() + (turn % 2) * kBlock;
            const uint64_t length = std::min(kBlock, size - offset);
            in.read(reinterpret_cast<char*>(block), static_cast<std::streamsize>(length));
            const uint64_t padded = (length + platform::kDirectIoAlignment - 1) /
                                    platform::kDirectIoAlignment * platform::kDirectIoAlignment;
            std::memset(block + length, 0, padded - length);
            if (writing.joinable()) writing.join();
            if (written) Fail("raw: write failed", written);
            writing = std::thread([&file, &written, block, offset, padded] {
                written = file.WriteAt(static_cast<int64_t>(offset), block, padded);
            });
        }
        if (writing.joinable()) writing.join();
        if (written) Fail("raw: write failed", written);
        if (auto error = file.Sync()) Fail("raw: sync failed", error);
        file.Close();
    }
    const double seconds = Since(start);
    fs::remove_all(out);
    return seconds;
}

// The stored motion pre-record of every channel, as its recorder reads it
// when the worker starts it.
void StorePreRecord(recorder::MediaRecorder& engine, const Options& options) {
    for (uint32_t c = 1; c <= options.channels; ++c) {
        std::string channel = "ch" + std::to_string(c);
        std::string schedule = "1";
        recorder::IRecorder* recorder = engine.CreateRecorder(channel, schedule, 0, false);
        if (recorder == nullptr) continue;
        recorder::media_channel_s row = recorder->GetMediaChannel();
        row.motion.preRecTime = options.preRecord;
        recorder->SetMediaChannel(row);
        engine.DeleteRecorder(channel);
    }
}

struct Conversion {
    double seconds = 0;
    converter::conversion_result_s result;
};

// One conversion of the whole tree through a fresh engine whose host folder
// is `host`; what it stored is removed afterwards.
Conversion Convert(const fs::path& root, const fs::path& host, const Options& options) {
    fs::remove_all(host);
    fs::create_directories(host);
    platform::SetEnvironmentVariable("OSTREL_HOST_DIR", host.string());
    Conversion conversion;
    {
        recorder::MediaRecorder engine;
        engine.Initialize();
        if (options.preRecord > 0) StorePreRecord(engine, options);
        converter::MediaRecorderEngine adapter(engine);
        converter::ConversionWorker worker(adapter, [](const std::string&) {});
        converter::conversion_plan_s plan;
        std::error_code error;
        plan.folders = converter::ListDateFolders('D', root, error);
        plan.delayTimeMs = 0;
        const auto start = Clock::now();
        conversion.result = worker.Run(plan);
        conversion.seconds = Since(start);
        engine.Finalize(false);
    }
    fs::remove_all(root / "KVTRecordData");
    fs::remove_all(host);
    return conversion;
}

}  // namespace

int Run(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    const fs::path root = fs::absolute(options.folder) / "convert_bench";
    fs::remove_all(root);
    fs::create_directories(root);
    if (!platform::SetEnvironmentVariable("OSTREL_DRIVES", "D=" + root.string())) {
        std::cerr << "cannot map drive D\n";
        return 1;
    }
    const auto writing = Clock::now();
    const Tree tree = WriteTree(root, options);
    const double mb = static_cast<double>(tree.bytes) / 1e6;
    std::printf(
        "folder=%s files=%zu old_MB=%.1f channels=%u file_minutes=%u rounds=%llu "
        "pre_record=%u written_in_s=%.1f\n",
        root.string().c_str(), tree.files.size(), mb, options.channels, options.fileMinutes,
        static_cast<unsigned long long>(options.rounds), options.preRecord, Since(writing));
    std::fflush(stdout);

    const auto measureRaw = [&] {
        WarmUp(tree);
        return mb / RawSeconds(tree, root / "raw");
    };
    std::vector<double> raws = {measureRaw()};
    std::vector<double> rates;
    std::vector<double> ratios;
    bool failed = false;
    for (uint64_t round = 0; round < options.rounds; ++round) {
        WarmUp(tree);
        const Conversion conversion = Convert(root, root / "host", options);
        const converter::conversion_result_s& r = conversion.result;
        const double rate = mb / conversion.seconds;
        raws.push_back(measureRaw());
        const double limit = (raws[raws.size() - 2] + raws.back()) / 2;
        rates.push_back(rate);
        ratios.push_back(rate / limit);
        failed = failed || r.failedFiles > 0 || r.failedFolders > 0 || r.refusedFrames > 0;
        std::printf(
            "round=%llu convert_s=%.3f convert_MBps=%.1f raw_MBps=%.1f (before %.1f, "
            "after %.1f) files=%u video_frames=%llu failed=%u refused=%llu\n",
            static_cast<unsigned long long>(round) + 1, conversion.seconds, rate, limit,
            raws[raws.size() - 2], raws.back(), r.files,
            static_cast<unsigned long long>(r.videoFrames), r.failedFiles + r.failedFolders,
            static_cast<unsigned long long>(r.refusedFrames));
        std::fflush(stdout);
    }
    fs::remove_all(root);
    const Spread raw = SpreadOf(raws);
    const Spread rate = SpreadOf(rates);
    const Spread ratio = SpreadOf(ratios);
    std::printf("raw_MBps min=%.1f median=%.1f max=%.1f\n", raw.min, raw.median, raw.max);
    std::printf("convert_MBps min=%.1f median=%.1f max=%.1f\n", rate.min, rate.median, rate.max);
    std::printf("ratio rounds=%zu min=%.3f median=%.3f max=%.3f\n", ratios.size(), ratio.min,
                ratio.median, ratio.max);
    if (failed) std::printf("some files or frames did not convert\n");
    std::printf("convert_ratio=%.3f\n", ratio.median);
    return failed ? 1 : 0;
}

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "convert: " << e.what() << "\n";
        return 1;
    }
}
