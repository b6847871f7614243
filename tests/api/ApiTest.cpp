// Uses the engine only through its shared library and exported header.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <type_traits>

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

TEST(ExportedApiTest, DriveText) {
    media_drive_s drive;
    drive.name = "E";
    drive.type = MEDIA_DRIVE_TYPE_FIXED;
    drive.status = MEDIA_DRIVE_STATUS_RELEASE;
    EXPECT_EQ(drive.ToString(),
              "drive(E), type(MEDIA_DRIVE_TYPE_FIXED), status(MEDIA_DRIVE_STATUS_RELEASE), ");
}

}  // namespace
