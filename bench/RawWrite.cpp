#include "bench/RawWrite.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "platform/DirectFile.h"
#include "recorder/store/AlignedBytes.h"

namespace orvale::bench {

double RawWriteSeconds(const std::filesystem::path& path, std::span<const uint8_t> content,
                       uint64_t block, uint64_t writes, uint64_t sources,
                       boost::asio::io_context& io, bool timeSync) {
    if (auto error = platform::CreatePreallocatedFile(path, static_cast<int64_t>(block * writes))) {
        std::cerr << "raw: cannot create " << path << ": " << error.message() << "\n";
        std::exit(1);
    }
    platform::DirectFile file(io);
    if (auto error = file.Open(path, platform::DirectFile::Access::kReadWrite)) {
        std::cerr << "raw: cannot open " << path << ": " << error.message() << "\n";
        std::exit(1);
    }
    if (!file.IsDirect()) std::cerr << "raw: unbuffered access refused, buffered used\n";
    const uint64_t copied = std::min<uint64_t>(content.size(), block);
    std::vector<recorder::AlignedBytes> arrays;
    for (uint64_t i = 0; i < std::max<uint64_t>(1, sources); ++i) {
        arrays.emplace_back(block);
        std::memcpy(arrays.back().Data(), content.data(), copied);
        std::memset(arrays.back().Data() + copied, 0, block - copied);
    }

    const auto start = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < writes; ++i) {
        const uint8_t* data = arrays[i % arrays.size()].Data();
        if (auto error = file.WriteAt(static_cast<int64_t>(i * block), data, block)) {
            std::cerr << "raw: write failed: " << error.message() << "\n";
            std::exit(1);
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    file.Sync();
    if (timeSync) {
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    file.Close();
    return seconds;
}

}  // namespace orvale::bench
