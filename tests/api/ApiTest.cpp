// Uses the engine only through its shared library and exported header.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "recorder/api/MediaRecorder.h"

namespace {

using namespace orvale::recorder;

static_assert(!std::is_copy_constructible_v<MediaRecorder>);
static_assert(!std::is_copy_assignable_v<MediaRecorder>);

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
    const auto host = std::filesystem::temp_directory_path() / "ostrel-api-engine";
    std::filesystem::remove_all(host);
    std::filesystem::create_directories(host / "drive-d");
    ::setenv("OSTREL_HOST_DIR", host.c_str(), 1);
    ::setenv("OSTREL_DRIVES", ("D=" + (host / "drive-d").string()).c_str(), 1);
    {
        MediaRecorder engine;
        engine.Initialize();
        std::vector<media_drive_s> drives;
        EXPECT_TRUE(engine.GetMediaDrive(drives));
        ASSERT_EQ(drives.size(), 1u);
        EXPECT_EQ(drives[0].name, "D");
        engine.SetUseOverwrite(false);
        EXPECT_FALSE(engine.GetUseOverwrite());
        EXPECT_TRUE(std::filesystem::exists(host / "DB" / "orvale.kvtdb"));
        engine.Finalize(true);
        EXPECT_FALSE(std::filesystem::exists(host / "DB" / "orvale.kvtdb"));
    }
    ::unsetenv("OSTREL_DRIVES");
    std::filesystem::remove_all(host);
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
