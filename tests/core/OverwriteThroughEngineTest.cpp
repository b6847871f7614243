// The overwrite setting and the overwrite step through the exported engine,
// on a small tmpfs of the test's own that really runs full: one channel
// records an older hour, then a second hour until the drive is full.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/HostFolder.h"
#include "platform/LinuxVolumeProvider.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/store/IndexFile.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/support/IndexedSeconds.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kOlderHour = 1709632800;             // 2024-03-05 10:00:00 UTC
constexpr int64_t kRecordingHour = kOlderHour + 3600;  // 11:00
// About 50 kB a second into data files of 4 MiB on a drive of 32 MiB that
// keeps 4 MiB free: the older hour takes two data files, and the recording
// hour fills the rest long before its 900 seconds are pushed.
constexpr int64_t kOlderSeconds = 100;
constexpr int64_t kRecordingSeconds = 900;

struct OverwriteCase {
    const char* name;
    bool onAtCreation;
    bool onWhileRecording;
};
void PrintTo(const OverwriteCase& c, std::ostream* out) {
    *out << c.name;
}

class OverwriteThroughEngineTest : public ::testing::TestWithParam<OverwriteCase> {
  protected:
    void SetUp() override {
        fs::create_directories(mount_);
        if (::mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=32m") != 0) {
            GTEST_SKIP() << "Mounting a 32 MiB tmpfs is not permitted here ("
                         << std::strerror(errno)
                         << "); run as root to test overwrite on a drive that runs full.";
        }
        mounted_ = true;
        platform::SetHostFolder(host_.Str());
        ::setenv("OSTREL_DRIVES", ("D=" + mount_.string()).c_str(), 1);
        platform::InstallVolumeProvider(std::make_shared<platform::LinuxVolumeProvider>());
        engine_ = std::make_unique<MediaRecorder>();
        engine_->SetMinFreeSpace(4);  // before the drives are listed: they are small
        engine_->SetDataFileSize(4);
        engine_->Initialize();
    }
    void TearDown() override {
        if (engine_) engine_->Finalize(false);
        engine_.reset();
        platform::InstallVolumeProvider(nullptr);
        ::unsetenv("OSTREL_DRIVES");
        platform::SetHostFolder("");
        if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
    }

    fs::path HourFolder(int64_t hour) const {
        const int hh = static_cast<int>((hour - kOlderHour) / 3600) + 10;
        return mount_ / "KVTRecordData" / "cam1" / "2024" / "03" / "05" / std::to_string(hh);
    }

    // The seconds of the hour's normal profile that its index holds.
    std::vector<int64_t> StoredSeconds(int64_t hour) const {
        return test::IndexedSeconds(HourFolder(hour) / "0001" / IndexFile::MakeFileName(hour));
    }
    static bool Holds(const std::vector<int64_t>& seconds, int64_t t) {
        return std::find(seconds.begin(), seconds.end(), t) != seconds.end();
    }

    test::TempDir host_;
    fs::path mount_ = host_.Path() / "mnt";
    bool mounted_ = false;
    std::unique_ptr<MediaRecorder> engine_;
};

// Overwrite follows the setting of the moment, also for a channel made
// before it changed; it never takes the hour being recorded.
TEST_P(OverwriteThroughEngineTest, AFullDriveLosesOnlyOlderHoursAndOnlyWhileOverwriteIsOn) {
    const OverwriteCase& c = GetParam();
    engine_->SetUseOverwrite(c.onAtCreation);
    std::string id = "cam1";
    std::string schedule = "1";
    IRecorder* recorder = engine_->CreateRecorder(id, schedule, 0, false);
    ASSERT_NE(recorder, nullptr);
    engine_->SetUseOverwrite(c.onWhileRecording);
    ASSERT_TRUE(engine_->SetSchedule(schedule, test::FullSchedule(), {}));
    recorder->SetUseFrameTime(true);
    test::HeardStatuses heard;
    heard.Listen(*recorder);
    ASSERT_TRUE(recorder->StartRecording());
    test::PushSecondsPaced(*recorder, kOlderHour, kOlderSeconds);
    test::PushSecondsPaced(*recorder, kRecordingHour, kRecordingSeconds);
    recorder->StopRecording();
    engine_->DeleteRecorder(id);

    const std::vector<int64_t> older = StoredSeconds(kOlderHour);
    const std::vector<int64_t> recording = StoredSeconds(kRecordingHour);
    // The hour being recorded keeps its first seconds, whatever the setting.
    EXPECT_TRUE(Holds(recording, kRecordingHour)) << recording.size() << " seconds stored";
    if (c.onWhileRecording) {
        EXPECT_FALSE(fs::exists(HourFolder(kOlderHour)));
        // The room of the older hour took more of the recording hour.
        EXPECT_GT(recording.size(), 300u);
    } else {
        EXPECT_TRUE(Holds(older, kOlderHour));
        EXPECT_EQ(older.size(), static_cast<size_t>(kOlderSeconds));
        EXPECT_TRUE(heard.Heard(RECORDER_STATUS_NO_SPACE));
    }
    EXPECT_LT(recording.size(), static_cast<size_t>(kRecordingSeconds));  // it did run full
}

INSTANTIATE_TEST_SUITE_P(
    Settings, OverwriteThroughEngineTest,
    ::testing::Values(OverwriteCase{"OnThroughout", true, true},
                      OverwriteCase{"SwitchedOnAfterTheChannelWasMade", false, true},
                      OverwriteCase{"SwitchedOffAfterTheChannelWasMade", true, false}),
    [](const ::testing::TestParamInfo<OverwriteCase>& info) { return info.param.name; });

}  // namespace
}  // namespace orvale::recorder
