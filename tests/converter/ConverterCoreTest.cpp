#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "converter/ConverterSettings.h"
#include "converter/DateList.h"
#include "converter/DurationText.h"
#include "converter/InstallChecks.h"
#include "platform/ProfileIni.h"
#include "platform/RegistryValues.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"

namespace orvale::converter {
namespace {

namespace fs = std::filesystem;

TEST(ProfileIniTest, ReadsValuesByTheProfileRules) {
    const auto ini = platform::ProfileIni::Parse(
        "\xEF\xBB\xBF; comment\r\n"
        "[ Converter ]\r\n"
        "  Delay_Time =  42 \r\n"
        "QUOTED=\"  spaced  \"\n"
        "EMPTY=\n"
        "delay_time=7\n"
        "[other]\n"
        "ASCENDING=0\n"
        "[CONVERTER]\n"
        "ASCENDING=5\n");
    EXPECT_EQ(ini.Find("CONVERTER", "DELAY_TIME"), "42");  // first key wins
    EXPECT_EQ(ini.Find("CONVERTER", "QUOTED"), "  spaced  ");
    EXPECT_EQ(ini.Find("CONVERTER", "EMPTY"), "");
    EXPECT_EQ(ini.Find("CONVERTER", "ASCENDING"), std::nullopt);  // first section wins
    EXPECT_EQ(ini.GetString("CONVERTER", "MISSING", "dflt"), "dflt");
    EXPECT_EQ(ini.GetString("nowhere", "ASCENDING", "1"), "1");
}

TEST(ProfileIniTest, LeadingIntReadsLikeAtoi) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"100", 100}, {" -5", -5}, {"+7x", 7}, {"abc", 0}, {"", 0}, {"99999999999", INT_MAX}};
    for (const auto& [text, value] : cases) EXPECT_EQ(platform::LeadingInt(text), value) << text;
}

struct settings_case_s {
    std::string ini;
    bool showDeleteCheck;
    int delayTimeMs;
    bool ascending;
};

TEST(ConverterSettingsTest, KeysGiveTheirValuesOrDefaults) {
    const std::vector<settings_case_s> cases = {
        {"", false, 1, true},  // no section at all: every default
        {"[CONVERTER]\nDELETE_CHECK=0\nDELAY_TIME=100\nASCENDING=1\n", false, 100, true},
        {"[CONVERTER]\nDELETE_CHECK=00\nDELAY_TIME=101\nASCENDING=2\n", true, 0, false},
        {"[CONVERTER]\nDELETE_CHECK=1\nDELAY_TIME=-5\nASCENDING=abc\n", true, 0, false},
        {"[CONVERTER]\nDELAY_TIME=0\n", false, 0, true},
    };
    test::TempDir dir;
    const fs::path path = dir.Path() / kSettingsFileName;
    for (const settings_case_s& c : cases) {
        test::WriteFile(path, c.ini);
        const converter_settings_s settings = ReadConverterSettings(path.string());
        EXPECT_EQ(settings.showDeleteCheck, c.showDeleteCheck) << c.ini;
        EXPECT_EQ(settings.delayTimeMs, c.delayTimeMs) << c.ini;
        EXPECT_EQ(settings.ascending, c.ascending) << c.ini;
    }
    const converter_settings_s missing = ReadConverterSettings((dir.Path() / "none.ini").string());
    EXPECT_FALSE(missing.showDeleteCheck);
    EXPECT_EQ(missing.delayTimeMs, 1);
    EXPECT_TRUE(missing.ascending);
}

TEST(ConverterSettingsTest, FileLiesInTheHostFolder) {
    setenv("OSTREL_HOST_DIR", "/opt/host/", 1);
    EXPECT_EQ(ConverterSettingsPath(), "/opt/host/converter.ini");
}

class VersionCheckTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("OSTREL_REGISTRY_FILE", path_.c_str(), 1); }
    void WriteVersion(const std::string& values) {
        test::WriteFile(path_, std::string("[") + kHostProductKey + "]\n" + values);
    }
    test::TempDir dir_;
    std::string path_ = (dir_.Path() / "registry.ini").string();
};

TEST_F(VersionCheckTest, AcceptsFromTwoTenOn) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"VersionMajor=2\nVersionMinor=9\n", false},
        {"VersionMajor=2\nVersionMinor=10\n", true},
        {"VersionMajor=3\nVersionMinor=0\n", true},
        {"VersionMajor=3\n", true},  // the minor is read only for 2
        {"VersionMajor=1\nVersionMinor=99\n", false},
        {"VersionMajor=2\n", false},  // unreadable minor
        {"VersionMajor=x3\nVersionMinor=10\n", false},
        {"VersionMinor=10\n", false},
    };
    for (const auto& [values, accepted] : cases) {
        WriteVersion(values);
        EXPECT_EQ(CheckInstalledVersion(), accepted) << values;
    }
}

TEST_F(VersionCheckTest, MissingFileOrKeyFails) {
    EXPECT_FALSE(CheckInstalledVersion());
    test::WriteFile(path_, "[SOFTWARE\\Other]\nVersionMajor=3\n");
    EXPECT_FALSE(CheckInstalledVersion());
}

TEST(FreeSpaceCheckTest, SumsWholeGibibytesPerDrive) {
    test::InstalledFakeVolumes volumes;
    const auto tenths = [](int n) { return static_cast<uint64_t>(n) * test::kGiB / 10; };
    volumes->AddFixed('D', "/d", 1000 * test::kGiB, tenths(609));
    volumes->AddFixed('E', "/e", 1000 * test::kGiB, tenths(505));
    volumes->AddFixed('F', "/f", 1000 * test::kGiB, tenths(398));
    const std::vector<std::string> drives = {"D", "E", "F"};
    EXPECT_EQ(FreeGiB(drives), 149u);
    EXPECT_FALSE(CheckFreeSpace(drives));
    volumes->SetAvailable('F', tenths(402));
    EXPECT_TRUE(CheckFreeSpace(drives));
    // A drive that cannot answer adds nothing; an unknown one neither.
    volumes->SetPresent('F', false);
    EXPECT_EQ(FreeGiB({"D", "E", "F", "Q"}), 110u);
}

TEST(DurationTextTest, FormatsDaysHoursMinutesSeconds) {
    const std::vector<std::pair<double, std::string>> cases = {{59, "0day 00:00:59"},
                                                               {3661, "0day 01:01:01"},
                                                               {90061.9, "1day 01:01:01"},
                                                               {86399, "0day 23:59:59"},
                                                               {0, "0day 00:00:00"}};
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(FormatDuration(seconds, "Time taken : "), "Time taken : " + text);
    }
}

class DateListTest : public ::testing::Test {
  protected:
    void MakeDate(const fs::path& drive, const std::string& channelAndDate) {
        fs::create_directories(drive / kOldRecordFolder / channelAndDate);
        test::WriteFile(drive / kOldRecordFolder / channelAndDate / "0001.nmd", "x");
    }
    test::TempDir d_;
    test::TempDir e_;
};

TEST_F(DateListTest, GroupsEqualDatesOfTwoDrivesInDriveOrder) {
    MakeDate(d_.Path(), "cam1/20240102");
    MakeDate(d_.Path(), "cam2/20240101");
    MakeDate(e_.Path(), "cam1/20240102");
    MakeDate(e_.Path(), "cam3/20231231");
    const DateList list = DateList::Scan({{'D', d_.Path()}, {'E', e_.Path()}});

    EXPECT_EQ(list.Dates(true), (std::vector<std::string>{"20231231", "20240101", "20240102"}));
    EXPECT_EQ(list.Dates(false), (std::vector<std::string>{"20240102", "20240101", "20231231"}));
    const auto& folders = list.FoldersOf("20240102");
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0].drive, 'D');
    EXPECT_EQ(folders[1].drive, 'E');
    EXPECT_EQ(folders[1].path, e_.Path() / "ZERoza/cam1/20240102");
    EXPECT_TRUE(list.FoldersOf("19991231").empty());
}

TEST_F(DateListTest, ScanDeletesEpochFoldersWithoutFollowingLinks) {
    MakeDate(d_.Path(), "cam1/20240102");
    MakeDate(d_.Path(), "cam1/19700101");
    const fs::path outside = e_.Path() / "keep";
    fs::create_directories(outside);
    test::WriteFile(outside / "precious.nmd", "x");
    fs::create_directory_symlink(outside, d_.Path() / "ZERoza/cam1/19700101/link");

    const DateList list = DateList::Scan({{'D', d_.Path()}});

    EXPECT_EQ(list.Dates(true), std::vector<std::string>{"20240102"});
    EXPECT_FALSE(fs::exists(d_.Path() / "ZERoza/cam1/19700101"));
    EXPECT_TRUE(fs::exists(outside / "precious.nmd"));
}

TEST_F(DateListTest, DeleteFolderRecursiveRemovesTreeButNeverALinkTarget) {
    MakeDate(d_.Path(), "cam1/20240102/sub/deeper");
    const fs::path target = e_.Path() / "target";
    fs::create_directories(target);
    test::WriteFile(target / "file", "x");
    const fs::path date = d_.Path() / "ZERoza/cam1/20240102";
    fs::create_symlink(target / "file", date / "filelink");
    fs::create_directory_symlink(target, d_.Path() / "ZERoza/cam1/linkeddate");

    EXPECT_FALSE(DeleteFolderRecursive(d_.Path() / "ZERoza/cam1/linkeddate"));
    EXPECT_TRUE(fs::exists(target / "file"));
    EXPECT_TRUE(DeleteFolderRecursive(date));
    EXPECT_FALSE(fs::exists(date));
    EXPECT_TRUE(fs::exists(target / "file"));
    EXPECT_FALSE(DeleteFolderRecursive(date));  // already gone
    EXPECT_FALSE(DeleteFolderRecursive(fs::path()));
}

}  // namespace
}  // namespace orvale::converter
