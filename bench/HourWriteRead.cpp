// One channel hour of 4 Mbit/s video (30 frames a second, a key frame each
// second) written through file writers and read back through file readers,
// against plain O_DIRECT writes and reads of the same bytes in the same
// folder (the raw writes from the engine's own write buffers: writing from
// memory that other writes just used is faster on a virtual disk). The hour is cut into slices,
// each its own data file of the hour (as when a data file runs out of room; the first one makes the
// hour's index); each slice is written and read by the engine and raw in turn, the side that goes
// first alternating, so that both meet the same disk weather. Last line: hour_ratio=<the smaller of
// the write and the read ratio>.
//
//   hour_write_read [folder] [seconds] [slices]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <vector>

#include "common/AsioThreadPool.h"
#include "platform/DirectFile.h"
#include "platform/HostFolder.h"
#include "recorder/store/FileReader.h"
#include "recorder/store/FileWriter.h"
#include "recorder/store/FrameBuffer.h"
#include "recorder/store/IndexFile.h"

namespace fs = std::filesystem;
using namespace orvale;
using recorder::WriteBuffer;

namespace {

constexpr int64_t kHour = 1704114000;
constexpr uint32_t kFramesPerSecond = 30;
constexpr uint32_t kBytesPerSecond = 4'000'000 / 8;
constexpr uint32_t kBufferSize = 4 << 20;
constexpr size_t kInFlight = 3;
constexpr size_t kReadsInFlight = 2;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::shared_ptr<recorder::FrameBuffer> MakeSecond(int64_t time) {
    static const std::vector<uint8_t> payload(kBytesPerSecond / kFramesPerSecond, 0x5A);
    auto second = recorder::FrameBuffer::Create();
    for (uint32_t f = 0; f < kFramesPerSecond; ++f) {
        recorder::record_header_s header;
        header.type = recorder::RECORD_TYPE_VIDEO;
        header.infoLength = recorder::kVideoInfoLength;
        header.payloadLength = static_cast<uint32_t>(payload.size()) + recorder::kVideoInfoLength;
        recorder::video_frame_info_s info;
        info.time = static_cast<uint64_t>(time);
        info.frameType = f == 0 ? 1 : 2;
        second->AddVideoFrame(header, info, payload.data(), static_cast<uint32_t>(payload.size()),
                              {});
    }
    return second;
}

// Seconds [first, first + count) of the hour in write buffers, as the
// recording pipeline hands them over; built before the clock starts, since
// they are not the store's work.
std::vector<std::shared_ptr<WriteBuffer>> BuildBuffers(int first, int count) {
    std::vector<std::shared_ptr<WriteBuffer>> buffers;
    auto buffer = std::make_shared<WriteBuffer>(kBufferSize);
    for (int s = first; s < first + count; ++s) {
        auto second = MakeSecond(kHour + s);
        if (buffer->UsedLength() + second->Length() + 2 * recorder::kSectorSize > kBufferSize) {
            buffers.push_back(std::exchange(buffer, std::make_shared<WriteBuffer>(kBufferSize)));
        }
        buffer->Append(second);
    }
    buffers.push_back(buffer);
    return buffers;
}

// Writes the buffers of seconds from `first` on through a new file writer of
// the hour, a few in flight as the recorder keeps them, and closes it.
void WriteSlice(const fs::path& track, int first, int seconds,
                const std::vector<std::shared_ptr<WriteBuffer>>& buffers,
                const std::shared_ptr<recorder::WriteCommandHandler>& handler,
                common::AsioThreadPool& pool) {
    auto writer = recorder::FileWriter::Create(1, track, "", pool.IoService(), handler, nullptr);
    const recorder::record_file_info_s location{"bench", 1, kHour + first,
                                                recorder::kProfileNormal};
    const int64_t size = int64_t{seconds + 60} * (kBytesPerSecond + 8192) + (64 << 20);
    if (!writer->CreateDataFile(location, size) || !writer->CreateIndexFile(location)) std::exit(1);

    std::vector<std::future<void>> pending;
    for (const auto& buffer : buffers) {
        if (pending.size() == kInFlight) {
            pending.front().get();
            pending.erase(pending.begin());
        }
        auto done = std::make_shared<std::promise<void>>();
        pending.push_back(done->get_future());
        writer->Write(buffer, [done](uint32_t, int32_t error, const std::string&, uint64_t, int64_t,
                                     int32_t) {
            if (error != 0) std::exit(1);
            done->set_value();
        });
    }
    for (auto& f : pending) f.get();
    writer->Close();
}

// Reads the data file that holds second `first` of the hour through a file
// reader, 4 MiB windows in order, the next one queued while one is read (as
// a medium reading ahead does).
uint64_t ReadSlice(const fs::path& track, int first,
                   const std::shared_ptr<recorder::ReadCommandHandler>& reads,
                   common::AsioThreadPool& pool) {
    auto reader = recorder::FileReader::Create(track, 1, "", pool.IoService(), nullptr, nullptr);
    if (!reader->OpenIndexFile(kHour) || !reader->OpenDataFileAt(kHour + first, true)) {
        std::exit(1);
    }
    const int64_t end = reader->GetCurrentDataFile()->GetFileSize();
    const std::array<std::shared_ptr<recorder::ReadBuffer>, kReadsInFlight> requests = {
        std::make_shared<recorder::ReadBuffer>(kBufferSize),
        std::make_shared<recorder::ReadBuffer>(kBufferSize)};
    std::deque<std::future<uint64_t>> pending;
    uint64_t total = 0;
    size_t next = 0;
    for (int64_t offset = recorder::DataFile::kDataStart; offset < end; offset += kBufferSize) {
        // A window's buffer is used again once its read is back.
        if (pending.size() == kReadsInFlight) {
            total += pending.front().get();
            pending.pop_front();
        }
        const auto& request = requests[next++ % kReadsInFlight];
        request->Reset();
        request->windowStart = offset;
        request->windowEnd = std::min<int64_t>(offset + kBufferSize, end);
        reader->QueueRead(request);
        auto done = std::make_shared<std::promise<uint64_t>>();
        pending.push_back(done->get_future());
        reads->Enqueue("bench",
                       {[reader](unsigned q, recorder::ReadCommandHandler::Done d) {
                            reader->OnReadCommand(q, std::move(d));
                        },
                        [done](uint32_t, uint32_t, uint64_t bytes) { done->set_value(bytes); }});
    }
    for (auto& read : pending) total += read.get();
    return total;
}

// The writes the engine makes of `buffers`, made plainly: from the same
// arrays, of the same lengths (data, padding and end sector), each starting
// on the sector of the previous one's end, into a new preallocated file,
// which is then forced to the device as the engine's close does.
void RawWrite(const fs::path& file, uint64_t bytes,
              const std::vector<std::shared_ptr<WriteBuffer>>& buffers,
              boost::asio::io_context& io) {
    platform::CreatePreallocatedFile(file, static_cast<int64_t>(bytes));
    platform::DirectFile out(io);
    out.Open(file, platform::DirectFile::Access::kReadWrite);
    int64_t offset = 0;
    for (const auto& buffer : buffers) {
        const uint64_t data = buffer->UsedLength() + recorder::PadLength(buffer->UsedLength());
        out.WriteAt(offset, buffer->Data(), data + recorder::kSectorSize);
        offset += static_cast<int64_t>(data);
    }
    out.Sync();
}

void RawRead(const fs::path& file, uint64_t bytes, boost::asio::io_context& io) {
    platform::DirectFile in(io);
    in.Open(file, platform::DirectFile::Access::kRead);
    recorder::AlignedBytes block(kBufferSize);
    size_t read = 0;
    for (uint64_t offset = 0; offset < bytes; offset += kBufferSize) {
        const uint64_t length = std::min<uint64_t>(kBufferSize, bytes - offset);
        in.ReadAt(static_cast<int64_t>(offset), block.Data(), length, read);
    }
}

// Seconds taken by `step`.
template <class Step>
double Timed(Step&& step) {
    const auto start = Clock::now();
    step();
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 3600;
    const int slices = std::max(1, argc > 3 ? std::atoi(argv[3]) : 4);
    const fs::path root = base / "hour_write_read_bench";
    fs::remove_all(root);
    const fs::path track = root / "KVTRecordData" / "bench" / "2024" / "01" / "01" / "13" / "0001";
    fs::create_directories(track);
    platform::SetHostFolder(root.string());
    recorder::IndexFile::CreateTemplate();
    common::AsioThreadPool pool(8);
    auto writes = std::make_shared<recorder::WriteCommandHandler>();
    auto reads = std::make_shared<recorder::ReadCommandHandler>();

    uint64_t written = 0;
    uint64_t read = 0;
    double writeSeconds = 0;
    double readSeconds = 0;
    double rawWriteSeconds = 0;
    double rawReadSeconds = 0;
    const fs::path raw = root / "raw.bin";
    for (int slice = 0; slice < slices; ++slice) {
        const int first = seconds * slice / slices;
        const int count = seconds * (slice + 1) / slices - first;
        auto buffers = BuildBuffers(first, count);
        // What the slice puts into its data file after the header: the
        // seconds, their padding and the end record. Both sides write it,
        // from the same arrays.
        uint64_t bytes = recorder::kSectorSize;
        for (const auto& buffer : buffers) {
            bytes += buffer->UsedLength() + recorder::PadLength(buffer->UsedLength());
        }
        uint64_t sliceRead = 0;
        const auto engineWrite = [&] {
            writeSeconds += Timed([&] { WriteSlice(track, first, count, buffers, writes, pool); });
        };
        const auto engineRead = [&] {
            readSeconds += Timed([&] { sliceRead = ReadSlice(track, first, reads, pool); });
        };
        const auto rawWrite = [&] {
            fs::remove(raw);
            rawWriteSeconds += Timed([&] { RawWrite(raw, bytes, buffers, pool.IoService()); });
        };
        const auto rawRead = [&] {
            rawReadSeconds += Timed([&] { RawRead(raw, bytes, pool.IoService()); });
        };
        if (slice % 2 == 0) {
            engineWrite();
            rawWrite();
            engineRead();
            rawRead();
        } else {
            rawWrite();
            engineWrite();
            rawRead();
            engineRead();
        }
        written += bytes;
        read += sliceRead;
    }
    fs::remove_all(root);

    const double writtenMb = static_cast<double>(written) / 1e6;
    const double readMb = static_cast<double>(read) / 1e6;
    const double writeRatio = rawWriteSeconds / writeSeconds;
    const double readRatio = (readMb / readSeconds) / (writtenMb / rawReadSeconds);
    std::printf("seconds=%d slices=%d written_MB=%.1f read_MB=%.1f\n", seconds, slices, writtenMb,
                readMb);
    std::printf("write engine_MBps=%.1f raw_MBps=%.1f ratio=%.3f\n", writtenMb / writeSeconds,
                writtenMb / rawWriteSeconds, writeRatio);
    std::printf("read engine_MBps=%.1f raw_MBps=%.1f ratio=%.3f\n", readMb / readSeconds,
                writtenMb / rawReadSeconds, readRatio);
    std::printf("hour_ratio=%.3f\n", std::min(writeRatio, readRatio));
    return 0;
}
