// Writes a small old-format recording tree to convert: for each channel one
// date folder `<root>/ZERoza/<channel>/<yyyymmdd>` with two media data files
// (video with a key frame every `keyInterval` frames, and audio) and one
// metadata file whose records carry object boxes. Payloads are synthetic but
// differ from frame to frame, so a mix-up would show when they are read back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvale::tools {

struct demo_tree_options_s {
    std::vector<std::string> channels = {"cam01", "cam02"};
    uint32_t start = 1710496800;  // 2024-03-15 10:00:00 UTC
    int minutes = 3;              // split over the two data files of a channel
    int videoPerSecond = 10;
    int keyInterval = 10;
    int audioPerSecond = 5;
    uint32_t videoBytes = 6000;  // average video payload
};

struct demo_tree_s {
    std::vector<std::filesystem::path> files;
    uint64_t videoFrames = 0;
    uint64_t audioFrames = 0;
    uint64_t metaFrames = 0;
};

demo_tree_s WriteDemoTree(const std::filesystem::path& root, const demo_tree_options_s& options);

}  // namespace orvale::tools
