// Conversions through the real engine onto a drive D that is a small tmpfs of
// the test's own: what runs short must fail the folder, never cost a
// recording, converted or old.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "converter/ConversionWorker.h"
#include "platform/HostFolder.h"
#include "platform/LinuxVolumeProvider.h"
#include "platform/VolumeProvider.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/support/SmallVolume.h"
#include "tests/support/TempDir.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::converter {
namespace {

namespace fs = std::filesystem;
using oldformat::test_meta_s;
using oldformat::test_second_s;

constexpr uint32_t kDayA = 1710410400;     // 2024-03-14 10:00:00 UTC
constexpr uint32_t kDayB = kDayA + 86400;  // the next day
constexpr uint64_t kMiB = 1 << 20;

std::string Xml() {
    return "<MetadataStream><VideoAnalytics><Frame/></VideoAnalytics></MetadataStream>";
}

class ConversionOnSmallDriveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!volume_.Mounted())
            GTEST_SKIP() << "The converter's small-drive tests need " << volume_.Why();
        platform::SetHostFolder(host_.Str());
        ::setenv("OSTREL_DRIVES", ("D=" + volume_.Folder().string()).c_str(), 1);
        platform::InstallVolumeProvider(std::make_shared<platform::LinuxVolumeProvider>());
    }
    void TearDown() override {
        platform::InstallVolumeProvider(nullptr);
        ::unsetenv("OSTREL_DRIVES");
        platform::SetHostFolder("");
    }

    // An old date folder of channel cam1 with `seconds` seconds of one key
    // frame each and a metadata record a second.
    fs::path OldDay(uint32_t start, int seconds) {
        std::vector<test_second_s> media;
        std::vector<test_meta_s> metas;
        for (int s = 0; s < seconds; ++s) {
            const uint32_t time = start + static_cast<uint32_t>(s);
            media.push_back(
                {0, s, 0x10, {{false, 19, time, 0, 640, 480, 0, 1, std::string(20000, 'v')}}});
            metas.push_back({time, 0, 1, Xml(), 0});
        }
        const std::string date = start == kDayA ? "20240314" : "20240315";
        fs::path folder = volume_.Folder() / "ZERoza" / "cam1" / date;
        fs::create_directories(folder);
        oldformat::OldMediaWriter({media}, start).Save(folder / ("0001_" + date + "100000.nmd"));
        oldformat::OldMetaWriter(metas).Save(folder / ("0001_" + date + "100000.nmt"));
        return folder;
    }

    conversion_result_s Convert(ConversionWorker& worker, const fs::path& folder) {
        conversion_plan_s plan;
        std::error_code error;
        for (date_folder_s& found : ListDateFolders('D', volume_.Folder(), error)) {
            if (found.path == folder) plan.folders.push_back(found);
        }
        EXPECT_EQ(plan.folders.size(), 1u);
        plan.deleteFiles = true;
        return worker.Run(plan);
    }

    fs::path StoredHour(uint32_t time) const {
        const std::string day = time == kDayA ? "14" : "15";
        return volume_.Folder() / "KVTRecordData" / "cam1" / "2024" / "03" / day / "10";
    }

    test::TempDir host_;
    test::SmallVolume volume_{host_.Path() / "mnt", 64};
};

// A drive that runs short between two conversions: the earlier converted day
// stays, and the folder that could not be stored keeps its old files (its
// three seconds are written only inside the recorder's stop).
TEST_F(ConversionOnSmallDriveTest, ADriveThatRunsShortKeepsEveryRecording) {
    const fs::path dayA = OldDay(kDayA, 10);
    const fs::path dayB = OldDay(kDayB, 3);
    recorder::MediaRecorder engine;
    engine.SetMinFreeSpace(1);
    engine.Initialize();
    MediaRecorderEngine adapter(engine);
    std::vector<std::string> log;
    ConversionWorker worker(adapter, [&](const std::string& line) { log.push_back(line); });

    conversion_result_s result = Convert(worker, dayA);
    EXPECT_EQ(result.failedFolders + result.failedFiles + result.refusedFrames, 0u);
    ASSERT_TRUE(fs::exists(StoredHour(kDayA)));
    ASSERT_FALSE(fs::exists(dayA));

    // Less than the smallest data file is left above the minimum.
    volume_.FillLeaving(kMiB + 4 * kMiB);
    result = Convert(worker, dayB);

    EXPECT_EQ(result.failedFolders, 1u);
    EXPECT_TRUE(fs::exists(dayB / "0001_20240315100000.nmd"));
    EXPECT_TRUE(fs::exists(dayB / "0001_20240315100000.nmt"));
    EXPECT_TRUE(fs::exists(StoredHour(kDayA))) << "a converted day was deleted to make room";
    EXPECT_TRUE(engine.GetUseOverwrite()) << "the stored setting is back after the run";
    engine.Finalize(false);
}

}  // namespace
}  // namespace orvale::converter
