// Writes the seed files of fuzz_old_format into the folder given as its
// argument, from the same writer the converter's tests use: a small media
// file of two segments with video and audio, one whose chunk needs extra
// frame entries, a one-frame file, and a metadata file.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tools/oldformat/OldFormatWriter.h"

namespace {

using orvale::oldformat::OldMediaWriter;
using orvale::oldformat::OldMetaWriter;
using orvale::oldformat::test_frame_s;

test_frame_s Video(uint32_t seconds, uint32_t ms, const std::string& payload, uint16_t type = 1) {
    return {false, 19, seconds, ms, 640, 480, 0, type, payload};
}

test_frame_s Audio(uint32_t seconds, uint32_t ms, const std::string& payload) {
    return {true, 'C', seconds, ms, 0, 0, 0x0A4D, 0, payload};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: old_format_seeds <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    const uint32_t t = 1710496800;

    OldMediaWriter({{{0, 0, 0x10, {Video(t, 0, "key"), Audio(t, 20, "pcm"), Video(t, 500, "p", 2)}},
                     {0, 1, 0x14, {Video(t + 1, 0, std::string(300, 'v'))}},
                     {2, 59, 0x2, {Audio(t + 179, 999, "late")}}},
                    {{1, 0, 0x10, {Video(t + 60, 7, std::string(1000, 'x'))}}}})
        .Save(folder / "two_segments.nmd");

    std::vector<test_frame_s> many;
    for (uint32_t i = 0; i < 40; ++i) many.push_back(Video(t, i * 25, std::string(20 + i, 'f')));
    OldMediaWriter({{{0, 0, 0x10, many}}}).Save(folder / "extra_entries.nmd");

    OldMediaWriter({{{0, 0, 1, {Video(t, 0, "k")}}}}).Save(folder / "one_frame.nmb");

    OldMetaWriter({{t, 0, 1, "<MetadataStream/>", 0},
                   {t + 1, 500, 2, std::string(200, 'm'), 2},
                   {t + 2, 0, 49, "last", 0}})
        .Save(folder / "three_records.nmt");
    return 0;
}
