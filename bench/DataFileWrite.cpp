// Write throughput of the data file against the disk's own.
//
//   datafile_write [folder] [--mib N] [--second-kib K] [--slices S] [--buffers B]
//
// Writes N MiB (2048) of one-second write buffers (K KiB each, 1024) into
// data files as the engine does: through a file writer (its data file only;
// hour_write_read measures the index too), one channel's writes queued on a
// write command handler and written asynchronously on an 8-thread pool, with
// B write buffers (4) circulating between the filling thread and the writes.
// In the same run and folder it writes the same bytes, in blocks of the same
// size and from as many arrays, with plain unbuffered pwrite from one thread
// into preallocated files. Both are cut into S slices (8), one file each, run
// alternately so that both meet the same disk weather; every file is forced
// to the device after its slice (untimed) and all are removed at the end, so
// that no slice pays for another's metadata or discards. The last line is
// write_ratio=<engine MB/s / raw MB/s>.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/RawWrite.h"
#include "common/AsioThreadPool.h"
#include "recorder/store/FileWriter.h"

namespace {

using namespace orvale;
using recorder::FrameBuffer;
using recorder::WriteBuffer;
using Clock = std::chrono::steady_clock;

struct Options {
    std::filesystem::path folder = ".";
    uint64_t mib = 2048;
    uint64_t secondKib = 1024;
    uint64_t slices = 8;
    uint64_t buffers = 4;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&] { return i + 1 < argc ? std::strtoull(argv[++i], nullptr, 10) : 0; };
        if (arg == "--mib") {
            options.mib = value();
        } else if (arg == "--second-kib") {
            options.secondKib = value();
        } else if (arg == "--buffers") {
            options.buffers = std::max<uint64_t>(1, value());
        } else if (arg == "--slices") {
            options.slices = std::max<uint64_t>(1, value());
        } else {
            options.folder = arg;
        }
    }
    return options;
}

// One second of video: a key frame and 29 others, about `bytes` in all.
std::shared_ptr<FrameBuffer> MakeSecond(uint64_t bytes, uint64_t time) {
    auto second = FrameBuffer::Create();
    constexpr int kFrames = 30;
    const uint64_t record = bytes / kFrames;
    std::vector<uint8_t> data(record, 0x5A);
    for (int i = 0; i < kFrames; ++i) {
        const auto size = static_cast<uint32_t>(record - 39);
        recorder::record_header_s header;
        header.type = recorder::RECORD_TYPE_VIDEO;
        header.infoLength = recorder::kVideoInfoLength;
        header.payloadLength = size + recorder::kVideoInfoLength;
        recorder::video_frame_info_s info;
        info.codec = 0x1B;
        info.time = time;
        info.frameType = i == 0 ? 1 : 2;
        second->AddVideoFrame(header, info, data.data(), size, {});
    }
    return second;
}

// The bytes of one engine write of `second`: data, padding and end sector.
uint64_t WriteLength(const FrameBuffer& second) {
    return second.Length() + recorder::PadLength(second.Length()) + recorder::kSectorSize;
}

// Seconds taken by `writes` raw writes of one engine write's length.
double RawRun(const std::filesystem::path& path, const FrameBuffer& second, uint64_t writes,
              uint64_t buffers, boost::asio::io_context& io) {
    return bench::RawWriteSeconds(path, {second.Data(), second.Length()}, WriteLength(second),
                                  writes, buffers, io);
}

// Seconds taken by `writes` writes of `second` through a file writer whose
// data file, named by `start`, goes into `folder`; the file's path in `path`.
double EngineRun(const std::filesystem::path& folder, int64_t start,
                 const std::shared_ptr<FrameBuffer>& second, uint64_t writes, uint64_t buffers,
                 common::AsioThreadPool& pool, std::filesystem::path& path) {
    const uint64_t block = WriteLength(*second);
    auto handler = std::make_shared<recorder::WriteCommandHandler>();
    auto writer = recorder::FileWriter::Create(1, folder, "", pool.IoService(), handler, nullptr);
    const recorder::record_file_info_s location{"bench", 1, start, recorder::kProfileNormal};
    const auto alloc = static_cast<int64_t>((block - recorder::kSectorSize) * writes + 8192);
    if (!writer->CreateDataFile(location, alloc)) {
        std::cerr << "engine: cannot create a data file in " << folder << "\n";
        std::exit(1);
    }
    path = writer->GetDataFile()->GetPath();

    // Buffers circulate: filled here, written in order, and given back by
    // their results, as the recorder does.
    std::mutex mutex;
    std::condition_variable returned;
    std::deque<std::shared_ptr<WriteBuffer>> idle;
    for (uint64_t i = 0; i < buffers; ++i) {
        idle.push_back(std::make_shared<WriteBuffer>(static_cast<uint32_t>(block)));
    }
    uint64_t completed = 0;
    bool failed = false;

    const auto begin = Clock::now();
    for (uint64_t i = 0; i < writes; ++i) {
        std::shared_ptr<WriteBuffer> buffer;
        {
            std::unique_lock lock(mutex);
            returned.wait(lock, [&] { return !idle.empty(); });
            buffer = std::move(idle.front());
            idle.pop_front();
        }
        buffer->Reset();
        buffer->Append(second);
        writer->Write(buffer, [&, buffer](uint32_t, int32_t error, const std::string&, uint64_t,
                                          int64_t, int32_t) {
            std::lock_guard lock(mutex);
            failed = failed || error != 0;
            ++completed;
            idle.push_back(buffer);
            returned.notify_one();
        });
    }
    {
        std::unique_lock lock(mutex);
        returned.wait(lock, [&] { return completed == writes; });
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    if (failed) {
        std::cerr << "engine: a write failed\n";
        std::exit(1);
    }
    writer->Close();
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    const auto second = MakeSecond(options.secondKib * 1024, 1704067200);
    const uint64_t block = WriteLength(*second);
    const uint64_t writes = options.mib * 1024 * 1024 / second->Length() / options.slices;
    common::AsioThreadPool pool(8);

    std::cout << "folder=" << std::filesystem::absolute(options.folder).string()
              << " second=" << second->Length() << " block=" << block
              << " writes=" << writes * options.slices << " slices=" << options.slices
              << " total=" << block * writes * options.slices << std::endl;
    double raw = 0;
    double engine = 0;
    std::vector<std::filesystem::path> files;
    const std::filesystem::path engineFolder = options.folder / "datafile_write_engine";
    std::filesystem::remove_all(engineFolder);
    for (uint64_t slice = 0; slice < options.slices; ++slice) {
        const std::string stem = "datafile_write_" + std::to_string(slice);
        const std::filesystem::path rawFile = options.folder / (stem + ".raw");
        std::filesystem::remove(rawFile);
        std::filesystem::path engineFile;
        double rawSeconds = 0;
        double engineSeconds = 0;
        const auto rawSide = [&] {
            rawSeconds = RawRun(rawFile, *second, writes, options.buffers, pool.IoService());
        };
        const auto engineSide = [&] {
            engineSeconds = EngineRun(engineFolder, 1704067200 + static_cast<int64_t>(slice),
                                      second, writes, options.buffers, pool, engineFile);
        };
        // The side that goes first alternates, so that neither always meets
        // the disk still busy with the other's last bytes.
        if (slice % 2 == 0) {
            rawSide();
            engineSide();
        } else {
            engineSide();
            rawSide();
        }
        if (std::getenv("DATAFILE_WRITE_SLICES") != nullptr) {
            std::printf("slice %llu raw %.3f s engine %.3f s\n",
                        static_cast<unsigned long long>(slice), rawSeconds, engineSeconds);
        }
        raw += rawSeconds;
        engine += engineSeconds;
        files.push_back(rawFile);
        files.push_back(engineFile);
    }
    for (const auto& file : files) std::filesystem::remove(file);
    std::filesystem::remove_all(engineFolder);
    const auto bytes = static_cast<double>(block * writes * options.slices);
    const double rawRate = bytes / raw / 1e6;
    const double engineRate = bytes / engine / 1e6;
    std::printf("raw_MBps=%.1f\nengine_MBps=%.1f\nwrite_ratio=%.3f\n", rawRate, engineRate,
                engineRate / rawRate);
    return 0;
}
