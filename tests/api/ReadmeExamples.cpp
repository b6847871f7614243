// The README's code examples, compiled and run by the suite. Each example's
// body stands between its two marker comments exactly as the README shows it
// (less this file's indentation); a test below checks that it does, so the
// README cannot drift from code that builds and runs.
#include "tests/api/ReadmeExamples.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace orvale::readme {

using namespace orvale::recorder;

void Recording(MediaRecorder& engine) {
    // README recording begins
    engine.Initialize();  // the catalogue, the drives and the engine's threads
    std::string drive = "D";
    engine.SetMediaDrive(drive, MEDIA_DRIVE_STATUS_ALLOCATE);  // record onto drive D
    std::string channel = "cam1";
    std::string scheduleId = "always";
    IRecorder* recorder = engine.CreateRecorder(channel, scheduleId, 0, false);
    media_schedule_s schedule;  // byte [day * 8640 + minute * 6 + slot]; slot 5: continuous
    for (int day = 0; day < kScheduleDayRows; ++day) {
        for (int minute = 0; minute < kScheduleMinutes; ++minute) {
            schedule.table[(day * kScheduleMinutes + minute) * kScheduleSlots + 5] = 1;
        }
    }
    engine.SetSchedule(scheduleId, schedule, {});
    recorder->SetEventCallback([](const std::string& channelId, int32_t code, int64_t time) {
        // On an engine thread: RECORDER_STATUS_RECORDING, _NO_SPACE, _WRITE_FAILED, ...
        std::cout << channelId << ": status " << code << " at " << time << "\n";
    });
    recorder->SetUseFrameTime(true);  // each frame's own time is its recording second
    recorder->StartRecording();
    std::vector<unsigned char> picture(20000, 0x5A), sound(320, 0x11);
    for (uint64_t second = 1733824800; second < 1733824810; ++second) {  // 10 s at 25 fps
        for (uint32_t i = 0; i < 25; ++i) {
            video_frame_header_s video;
            video.codec = 0x1B;                // video codecs are below 0x10000
            video.frameType = i == 0 ? 1 : 2;  // a second starts with a key frame
            video.time = second;
            video.timeMs = static_cast<uint32_t>(second * 1000 + i * 40);
            recorder->PushVideoFrame(video, picture.data(), 20000, 0);
            audio_frame_header_s audio;
            audio.codec = 0x10000;  // audio codecs are 0x10000 and above
            audio.timeMs = video.timeMs;
            recorder->PushAudioFrame(audio, sound.data(), 320);
        }
    }
    recorder->StopRecording();  // writes what it holds; its statuses have been heard
    engine.Finalize(false);     // false: the catalogue and the recordings stay
    // README recording ends
}

void Playback(MediaRecorder& engine) {
    // README playback begins
    std::string channel = "cam1";
    std::atomic<int> frames{0};  // counted on the engine's playback thread
    auto onFrame = [&](playback_media_header_s* header, long size, unsigned char* data) {
        if (header->kind == 1 && size > 0 && data != nullptr) ++frames;  // 2 audio, 3 metadata
        return 0L;
    };
    auto onOpen = [](unsigned seqId, unsigned result) {
        std::cout << seqId << ": " << result << "\n";
    };
    engine.OpenMedia(1, 1733824800, 1733828400, -1, 7, channel, false, false, 4, "", onFrame,
                     onOpen);
    engine.ControlMedia(2, PLAYBACK_CONTROL_PAUSE, 7, 1, 0, 0, 4, "", {});
    engine.ControlMedia(3, PLAYBACK_CONTROL_PLAY, 7, 2, 0, 0, 4, "", {});  // on, at speed 2
    engine.ControlMedia(4, PLAYBACK_CONTROL_SEEK, 7, 1, 0, 1733826000, 4, "", {});
    engine.DeletePlaybackMedia(7);  // no callback of it comes after this returns
    // README playback ends
}

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The lines between "// README <name> begins" and "... ends" in this file,
// less the four spaces of the function body.
std::string Example(const std::string& source, const std::string& name) {
    const std::string begin = "// README " + name + " begins\n";
    const std::string end = "    // README " + name + " ends";
    const size_t from = source.find(begin);
    const size_t to = source.find(end);
    if (from == std::string::npos || to == std::string::npos) return {};
    std::istringstream lines(source.substr(from + begin.size(), to - from - begin.size()));
    std::string out;
    for (std::string line; std::getline(lines, line);) {
        out += (line.rfind("    ", 0) == 0 ? line.substr(4) : line) + "\n";
    }
    return out;
}

TEST(ReadmeExamplesTest, TheReadmeShowsTheCodeTheSuiteRuns) {
    const std::string source = ReadFile(ORVALE_SOURCE_DIR "/tests/api/ReadmeExamples.cpp");
    const std::string readme = ReadFile(ORVALE_SOURCE_DIR "/README.md");
    for (const char* name : {"recording", "playback"}) {
        const std::string example = Example(source, name);
        ASSERT_FALSE(example.empty()) << name;
        EXPECT_NE(readme.find("```cpp\n" + example + "```"), std::string::npos)
            << "The README's " << name << " example differs from tests/api/ReadmeExamples.cpp:\n"
            << example;
    }
}

}  // namespace
}  // namespace orvale::readme
