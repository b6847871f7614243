#include "tools/convert_demo/DemoTree.h"

#include <ctime>

#include "platform/Time.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::tools {
namespace {

namespace fs = std::filesystem;
using oldformat::OldMediaWriter;
using oldformat::OldMetaWriter;
using oldformat::SyntheticPayload;
using oldformat::test_meta_s;
using oldformat::test_second_s;

constexpr uint32_t kContinuous = 0x10;  // the event flags of every recorded second

std::string UtcText(uint32_t time, const char* format) {
    const std::tm utc = platform::UtcTime(time);
    char text[32];
    std::strftime(text, sizeof(text), format, &utc);
    return text;
}

std::string ObjectBox(int second) {
    const double left = -0.8 + 0.01 * (second % 100);
    return "<MetadataStream><VideoAnalytics><Frame><Object ObjectId=\"1\"><Appearance><Shape>"
           "<BoundingBox left=\"" +
           std::to_string(left) + "\" top=\"0.5\" right=\"" + std::to_string(left + 0.2) +
           "\" bottom=\"0.1\"/></Shape></Appearance></Object></Frame></VideoAnalytics>"
           "</MetadataStream>";
}

// The seconds of minutes [first, last) of one channel.
std::vector<test_second_s> Seconds(const demo_tree_options_s& options, uint32_t channelSeed,
                                   int first, int last, demo_tree_s& tree) {
    std::vector<test_second_s> seconds;
    uint32_t frame = static_cast<uint32_t>(first) * 60 * options.videoPerSecond;
    for (int minute = first; minute < last; ++minute) {
        for (int second = 0; second < 60; ++second) {
            const uint32_t time = options.start + minute * 60 + second;
            test_second_s entry{minute, second, kContinuous, {}};
            for (int v = 0; v < options.videoPerSecond; ++v, ++frame) {
                const bool key = frame % options.keyInterval == 0;
                const size_t size =
                    key ? options.videoBytes * 3 : options.videoBytes / 2 + frame % 512;
                const auto ms = static_cast<uint32_t>(v * 1000 / options.videoPerSecond);
                entry.frames.push_back({false, 1, time, ms, 1280, 720, 0,
                                        static_cast<uint16_t>(key ? 1 : 2),
                                        SyntheticPayload(size, channelSeed + frame)});
                ++tree.videoFrames;
            }
            for (int a = 0; a < options.audioPerSecond; ++a) {
                const auto ms = static_cast<uint32_t>(a * 1000 / options.audioPerSecond);
                // 'A' with format bits of a mono 16-bit stream.
                entry.frames.push_back({true, 'A', time, ms, 0, 0, 0x0105, 0,
                                        SyntheticPayload(320, channelSeed * 7 + time * 16 + a)});
                ++tree.audioFrames;
            }
            seconds.push_back(std::move(entry));
        }
    }
    return seconds;
}

}  // namespace

demo_tree_s WriteDemoTree(const fs::path& root, const demo_tree_options_s& options) {
    demo_tree_s tree;
    const int split = (options.minutes + 1) / 2;
    uint32_t channelSeed = 1;
    for (const std::string& channel : options.channels) {
        const fs::path folder = root / "ZERoza" / channel / UtcText(options.start, "%Y%m%d");
        fs::create_directories(folder);
        const int bounds[][2] = {{0, split}, {split, options.minutes}};
        for (const auto& [first, last] : bounds) {
            if (first >= last) continue;
            const uint32_t fileStart = options.start + first * 60;
            const fs::path file = folder / ("0001_" + UtcText(fileStart, "%Y%m%d%H%M%S") + ".nmd");
            OldMediaWriter({Seconds(options, channelSeed, first, last, tree)}, fileStart)
                .Save(file);
            tree.files.push_back(file);
        }
        std::vector<test_meta_s> metas;
        for (int second = 0; second < options.minutes * 60; ++second) {
            metas.push_back({options.start + second, 0, 1, ObjectBox(second), 0});
            ++tree.metaFrames;
        }
        const fs::path meta = folder / ("0001_" + UtcText(options.start, "%Y%m%d%H%M%S") + ".nmt");
        OldMetaWriter(metas).Save(meta);
        tree.files.push_back(meta);
        channelSeed += 1000003;
    }
    return tree;
}

}  // namespace orvale::tools
