// The old-format readers on one input, written as a file: the media data
// reader opens it and walks every frame, the metadata reader reads every
// record. A walk must end, stay inside its buffers (the sanitizers see every
// payload byte touched) and never deliver frames that need more bytes than
// the file holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "converter/FrameWalker.h"
#include "converter/NmtReader.h"
#include "converter/RecFile.h"

namespace {

namespace fs = std::filesystem;
using namespace orvale::converter;

fs::path InputPath() {
    std::error_code error;
    const fs::path folder =
        fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
    return folder / ("fuzz_old_format_" + std::to_string(::getpid()) + ".nmd");
}

uint32_t Touch(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    for (const uint8_t byte : bytes) sum += byte;
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path path = InputPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    volatile uint32_t sink = 0;
    {
        CRecFile file(path);
        if (file.Reader() != nullptr) {
            FrameWalker walker(*file.Reader());
            uint64_t recordBytes = 0;
            walker.Walk([&](const old_frame_s& frame) {
                recordBytes += (frame.audio ? kAudioRecordHeader : kVideoRecordHeader) +
                               uint64_t{frame.record.dataSize};
                sink = sink + Touch(frame.payload);
                return true;
            });
            if (recordBytes > size) __builtin_trap();
        }
    }
    NmtReader metadata(path);
    nmt_record_s record;
    while (metadata.Next(record)) sink = sink + Touch(record.payload);
    return 0;
}
