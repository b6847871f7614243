// Uses the engine only through its shared library and exported header.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "recorder/api/MediaRecorder.h"
#include "tests/api/ReadmeExamples.h"

namespace {

using namespace orvale::recorder;

static_assert(!std::is_copy_constructible_v<MediaRecorder>);
static_assert(!std::is_copy_assignable_v<MediaRecorder>);

// A host folder of the test's own with drive D in it, set up for the
// engines made while it lives, and removed with it.
class HostWithDriveD {
  public:
    explicit HostWithDriveD(const std::string& name)
        : path_(std::filesystem::temp_directory_path() / name) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_ / "drive-d");
        ::setenv("OSTREL_HOST_DIR", path_.c_str(), 1);
        ::setenv("OSTREL_DRIVES", ("D=" + (path_ / "drive-d").string()).c_str(), 1);
        ::setenv("TZ", "UTC", 1);
    }
    ~HostWithDriveD() {
        ::unsetenv("OSTREL_DRIVES");
        std::filesystem::remove_all(path_);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

TEST(ExportedApiTest, HostSetsUpLoggingAndCreatesTheEngine) {
    const auto host = std::filesystem::temp_directory_path() / "ostrel-api-test";
    std::filesystem::create_directories(host);
    ::setenv("OSTREL_HOST_DIR", host.c_str(), 1);

    std::atomic<int> calls{0};
    SetDebugLogger(0, [&](unsigned, const std::string&, const std::string&) {
        ++calls;
        return 0L;
    });
    LOG_SET_LEVEL(2);
    LOG_ADD_FILE_OUT((host / "api").string());
    EXPECT_GE(calls.load(), 1);  // the file banner reached the callback

    auto* engine = new MediaRecorder();
    delete engine;
    LOG_INIT();
    std::filesystem::remove_all(host);
}

TEST(ExportedApiTest, EngineStartsListsDrivesAndStops) {
    const HostWithDriveD host("ostrel-api-engine");
    {
        MediaRecorder engine;
        engine.Initialize();
        std::vector<media_drive_s> drives;
        EXPECT_TRUE(engine.GetMediaDrive(drives));
        ASSERT_EQ(drives.size(), 1u);
        EXPECT_EQ(drives[0].name, "D");
        engine.SetUseOverwrite(false);
        EXPECT_FALSE(engine.GetUseOverwrite());
        EXPECT_TRUE(std::filesystem::exists(host.Path() / "DB" / "orvale.kvtdb"));
        engine.Finalize(true);
        EXPECT_FALSE(std::filesystem::exists(host.Path() / "DB" / "orvale.kvtdb"));
    }
}

// A channel recorded and played back through the exported interface only.
TEST(ExportedApiTest, RecordsAndPlaysBack) {
    const HostWithDriveD host("ostrel-api-playback");
    constexpr int64_t kStart = 1733824800;  // 2024-12-10 10:00:00 UTC
    {
        MediaRecorder engine;
        engine.Initialize();
        std::string channel = "cam1";
        std::string schedule = "1";
        IRecorder* recorder = engine.CreateRecorder(channel, schedule, 0, false);
        ASSERT_NE(recorder, nullptr);
        media_schedule_s always;
        std::fill(std::begin(always.table), std::end(always.table), uint8_t{1});
        engine.SetSchedule(schedule, always, {});
        recorder->SetUseFrameTime(true);
        ASSERT_TRUE(recorder->StartRecording());
        std::vector<uint8_t> frame(1000, 0x5A);
        for (int64_t t = kStart; t < kStart + 3; ++t) {
            for (uint32_t i = 0; i < 25; ++i) {
                video_frame_header_s header;
                header.codec = 0x1B;
                header.frameType = i == 0 ? 1 : 2;
                header.time = static_cast<uint64_t>(t);
                header.timeMs = static_cast<uint32_t>(t * 1000 + i * 40);
                ASSERT_TRUE(recorder->PushVideoFrame(header, frame.data(), 1000, 0));
            }
        }
        recorder->StopRecording();

        std::atomic<int> videos{0};
        std::atomic<unsigned> answer{99};
        ASSERT_EQ(engine.OpenMedia(
                      5, kStart, kStart + 10, -1, 1, channel, false, false, 4, "",
                      [&](playback_media_header_s* header, long size, unsigned char* data) {
                          if (header->kind == 1 && size == 1000 && data[0] == 0x5A) ++videos;
                          return 0L;
                      },
                      [&](unsigned, unsigned result) { answer = result; }),
                  MEDIA_ERROR_NONE);
        for (int i = 0; i < 5000 && videos < 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(answer.load(), 0u);
        EXPECT_GE(videos.load(), 10);
        engine.DeletePlaybackMedia(1);
        EXPECT_EQ(engine.GetPlaybackMedia(1), nullptr);

        orvale::readme::Playback(engine);
        EXPECT_EQ(engine.GetPlaybackMedia(7), nullptr);
        engine.Finalize(true);
    }
}

// The README's recording example stores every frame it pushed: its ten
// seconds play back with their video and audio. (Whether its callback hears
// the recording start depends on a write finishing before the stop.)
TEST(ExportedApiTest, TheReadmeRecordingExampleRecords) {
    const HostWithDriveD host("ostrel-api-readme");
    {
        MediaRecorder engine;
        orvale::readme::Recording(engine);
    }
    {
        MediaRecorder engine;
        engine.Initialize();
        std::string channel = "cam1";
        std::atomic<int> videos{0};
        std::atomic<int> audios{0};
        std::atomic<unsigned> answer{99};
        // Exported (a backup medium), the seconds come as fast as they are read.
        ASSERT_EQ(engine.OpenMedia(
                      5, 1733824800, 1733824810, -1, 1, channel, false, true, 4, "",
                      [&](playback_media_header_s* header, long size, unsigned char* data) {
                          if (header->kind == 1 && size == 20000 && data[0] == 0x5A) ++videos;
                          if (header->kind == 2 && size == 320 && data[0] == 0x11) ++audios;
                          return 0L;
                      },
                      [&](unsigned, unsigned result) { answer = result; }),
                  MEDIA_ERROR_NONE);
        for (int i = 0; i < 10000 && (videos < 250 || audios < 250); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(answer.load(), 0u);
        EXPECT_EQ(videos.load(), 250);
        EXPECT_EQ(audios.load(), 250);
        engine.DeletePlaybackMedia(1);
        engine.Finalize(true);
    }
}

TEST(ExportedApiTest, DriveText) {
    media_drive_s drive;
    drive.name = "E";
    drive.type = MEDIA_DRIVE_TYPE_FIXED;
    drive.status = MEDIA_DRIVE_STATUS_RELEASE;
    EXPECT_EQ(drive.ToString(),
              "drive(E), type(MEDIA_DRIVE_TYPE_FIXED), status(MEDIA_DRIVE_STATUS_RELEASE), ");
}

}  // namespace
