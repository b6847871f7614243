// The recording folder tree of a drive: paths, walks past stray entries,
// listings and removals.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/HostFolder.h"
#include "recorder/storage/Drive.h"
#include "tests/database/DatabaseTestSupport.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTime = 1709649000;           // 2024-03-05 14:30:00 UTC
constexpr int64_t kOldest = 1672635600;         // 2023-01-02 05:00:00 UTC
constexpr int64_t kNewest = 1709647200;         // 2024-03-05 14:00:00 UTC
constexpr int64_t kLastHourOfJan = 1706742000;  // 2024-01-31 23:00:00 UTC

class DriveFoldersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        fs::create_directories(host_.Path() / "d");
        volumes_->AddFixed('D', (host_.Path() / "d").string(), 100 * test::kGiB, test::kGiB);
        drive_ = MakeDrive({"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_ALLOCATE, 11}, 0);
    }
    void TearDown() override { platform::SetHostFolder(""); }

    fs::path Channel(const std::string& id = "cam1") const { return drive_->GetChannelPath(id); }
    // Creates folders below the channel folder, "2024/03/05/14" and the like.
    void Folders(std::initializer_list<const char*> paths, const std::string& id = "cam1") {
        for (const char* path : paths) fs::create_directories(Channel(id) / path);
    }
    void File(const char* path) {
        fs::create_directories((Channel() / path).parent_path());
        test::WriteFile(Channel() / path, "x");
    }

    test::TempDir host_;
    test::LogCapture log_;
    test::InstalledFakeVolumes volumes_;
    std::shared_ptr<Drive> drive_;
};

TEST_F(DriveFoldersTest, PathsFollowTheUtcCalendar) {
    ::setenv("TZ", "Asia/Seoul", 1);  // the local zone must not matter
    const fs::path root = host_.Path() / "d" / "KVTRecordData";
    EXPECT_EQ(drive_->GetTrackPath("cam1", kTime, 7), root / "cam1/2024/03/05/14/0007");
    EXPECT_EQ(drive_->GetTrackPath("cam1", kTime, 10000), root / "cam1/2024/03/05/14/10000");
    EXPECT_EQ(drive_->GetYearPath("cam1", kTime), root / "cam1/2024");
    EXPECT_EQ(drive_->GetMonthPath("cam1", kTime), root / "cam1/2024/03");
    EXPECT_EQ(drive_->GetDayPath("cam1", kTime), root / "cam1/2024/03/05");

    // The overwrite asks with the very text that writers and readers register.
    const std::string key = drive_->GetHourKey("cam1", kTime);
    EXPECT_EQ(key, (root / "cam1/2024/03/05/14").string());
    const fs::path track = drive_->GetTrackPath("cam1", kTime, 7);
    EXPECT_EQ(HourFolderKeyOfTrackFolder(track), key);
    EXPECT_EQ(HourFolderKeyOfFile(track / "20240305140000.kvtidx"), key);
    ::unsetenv("TZ");
}

TEST_F(DriveFoldersTest, OldestAndNewestHourPassOverStrayEntries) {
    Folders({"lost+found/2020/01/01/01",  // not a year
             "20231/01/01/01",            // five digits
             "2022",                      // empty year
             "2023/01/00/03",             // no day 0
             "2023/01/01",                // empty day
             "2023/01/02/05/0001", "2023/01/02/07", "2023/13/01/01", "2024/03/05/09",
             "2024/03/05/14/0007", "2024/03/05/15x",
             "2024/11/31/10",  // November has 30 days
             "2024/12"});      // empty month
    File("2025");
    File("2024/03/05/16");
    EXPECT_EQ(drive_->GetOldestTime("cam1"), kOldest);
    EXPECT_EQ(drive_->GetNewestTime("cam1"), kNewest);

    EXPECT_EQ(drive_->GetOldestTime("cam2"), 0);  // no folder
    Folders({"2024/01", "2023"}, "cam2");
    EXPECT_EQ(drive_->GetOldestTime("cam2"), 0);  // only empty levels
    EXPECT_EQ(drive_->GetNewestTime("cam2"), 0);
}

TEST_F(DriveFoldersTest, TrackListingCountsNumberedFoldersOnly) {
    Folders({"2024/03/05/14/0001", "2024/03/05/14/0007", "2024/03/05/14/10000", "2024/03/05/14/007",
             "2024/03/05/14/abcd", "2024/03/05/14/99999999999999999999"});
    File("2024/03/05/14/0009");
    std::set<int> tracks{3};
    drive_->ListTrackIds(drive_->GetHourPath("cam1", kTime), tracks);
    EXPECT_EQ(tracks, (std::set<int>{1, 3, 7, 10000}));
    drive_->ListTrackIds(drive_->GetHourPath("cam1", kTime + 3600), tracks);  // missing hour
    EXPECT_EQ(tracks.size(), 4u);
    EXPECT_TRUE(log_.LinesFrom(common::kLogError).empty());
}

TEST_F(DriveFoldersTest, ChannelListingIsSortedFoldersOnly) {
    Folders({"2024"}, "cam2");
    fs::create_directories(Channel("cam1"));
    fs::create_directories(drive_->GetRootPath() / "a\\b");  // not an id the engine accepts
    test::WriteFile(drive_->GetRootPath() / "operation.kvtdb", "");
    std::vector<std::string> channels{"x"};
    drive_->ListChannels(channels);
    EXPECT_EQ(channels, (std::vector<std::string>{"x", "cam1", "cam2"}));

    EXPECT_TRUE(drive_->HasChannelFolder("cam1"));
    EXPECT_FALSE(drive_->ChannelHasFolders("cam1"));
    EXPECT_TRUE(drive_->ChannelHasFolders("cam2"));
    EXPECT_FALSE(drive_->HasChannelFolder("cam3"));
    EXPECT_FALSE(drive_->ChannelHasFolders("cam3"));
}

TEST_F(DriveFoldersTest, RemovingTheLastHourOfAMonthRemovesEmptiedDateFolders) {
    Folders({"2024/01/31/23/0001", "2024/01/31/22", "2024/02/01/00"});
    drive_->RemoveHour("cam1", kLastHourOfJan);
    EXPECT_FALSE(fs::exists(drive_->GetHourPath("cam1", kLastHourOfJan)));
    EXPECT_TRUE(drive_->RemoveEmptyFolder("cam1", kLastHourOfJan));
    EXPECT_TRUE(drive_->DayHasFolders("cam1", kLastHourOfJan));  // hour 22 remains

    drive_->RemoveHour("cam1", kLastHourOfJan - 3600);
    EXPECT_TRUE(drive_->RemoveEmptyFolder("cam1", kLastHourOfJan));
    EXPECT_FALSE(fs::exists(drive_->GetDayPath("cam1", kLastHourOfJan)));
    EXPECT_FALSE(fs::exists(drive_->GetMonthPath("cam1", kLastHourOfJan)));
    EXPECT_TRUE(drive_->YearHasFolders("cam1", kLastHourOfJan));  // February remains
    EXPECT_FALSE(drive_->MonthHasFolders("cam1", kLastHourOfJan));
    EXPECT_TRUE(drive_->MonthHasFolders("cam1", kLastHourOfJan + 3600));
    const std::string removed = "Drive[D], RemoveEmptyFolder Path = \"" + Channel().string();
    const auto lines = log_.LinesFrom(common::kLogInfo);
    ASSERT_EQ(lines.size(), 4u);  // two hours, the day, the month
    EXPECT_TRUE(test::EndsWith(lines[2].text, removed + "/2024/01/31\""));
    EXPECT_TRUE(test::EndsWith(lines[3].text, removed + "/2024/01\""));

    drive_->RemoveHour("cam1", kTime);  // missing: nothing happens
    drive_->RemoveChannel("cam1");
    EXPECT_FALSE(fs::exists(Channel()));
    EXPECT_TRUE(fs::is_directory(drive_->GetRootPath()));
}

}  // namespace
}  // namespace orvale::recorder
