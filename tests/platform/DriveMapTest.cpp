#include "platform/DriveMap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvale::platform {
namespace {

using Kind = VolumeKind;

TEST(DriveMapTest, ParsesTheDriveListVariable) {
    const struct {
        const char* text;
        std::vector<DriveMapping> drives;
    } cases[] = {
        {"D=/srv/rec1;E=/srv/rec2",
         {{'D', Kind::kFixed, "/srv/rec1"}, {'E', Kind::kFixed, "/srv/rec2"}}},
        {" d = /srv/rec1/ ; ;", {{'D', Kind::kFixed, "/srv/rec1"}}},
        {"C=/", {{'C', Kind::kFixed, "/"}}},
        {"F=removable:/media/usb;G=remote:/net/share;H=cdrom:/media/cd;I=RAMDISK:/dev/shm/r",
         {{'F', Kind::kRemovable, "/media/usb"},
          {'G', Kind::kRemote, "/net/share"},
          {'H', Kind::kCdrom, "/media/cd"},
          {'I', Kind::kRamdisk, "/dev/shm/r"}}},
        {"J=/a/./b/../c//", {{'J', Kind::kFixed, "/a/c"}}},
        {"K=/with:colon", {{'K', Kind::kFixed, "/with:colon"}}},
        // Skipped entries never move the good ones.
        {"DD=/x;1=/y;E=relative;F=;G=floppy:/z;=/w;H/nothing;I=/ok", {{'I', Kind::kFixed, "/ok"}}},
        // Letter order, and a repeated letter keeps its first folder.
        {"E=/b;D=/a;E=/c", {{'D', Kind::kFixed, "/a"}, {'E', Kind::kFixed, "/b"}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseDriveList(c.text), c.drives);
    }
}

TEST(DriveMapTest, ReadsOnlyTheDrivesSectionOfTheIniFile) {
    const std::string text =
        "[Core]\n"
        "D = /not/a/drive\n"
        "\n"
        "[ Drives ]\r\n"
        "; a comment = /x\n"
        "# another = /y\n"
        "E = removable:/media/usb\r\n"
        "D = /srv/rec1\n"
        "garbage line\n"
        "[Sinks.Console]\n"
        "F = /srv/rec3\n";
    const auto drives = ParseIniDrives(text);
    ASSERT_TRUE(drives.has_value());
    EXPECT_EQ(*drives, (std::vector<DriveMapping>{{'D', Kind::kFixed, "/srv/rec1"},
                                                  {'E', Kind::kRemovable, "/media/usb"}}));

    EXPECT_FALSE(ParseIniDrives("[Core]\nFilter = x\n").has_value());
    EXPECT_FALSE(ParseIniDrives("").has_value());
    // An empty section is a mapping without drives, not a missing one.
    const auto empty = ParseIniDrives("[drives]\n[Core]\nD = /x\n");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST(DriveMapTest, WritingTheSectionKeepsEveryOtherLine) {
    const std::vector<DriveMapping> drives = {{'C', Kind::kFixed, "/"},
                                              {'D', Kind::kRemovable, "/media/usb"}};
    const std::string other = "; settings\n[Core]\nFilter = \"%Severity% >= 2\"\n";

    EXPECT_EQ(WithIniDrives(other, drives), other + "[drives]\nC = /\nD = removable:/media/usb\n");
    EXPECT_EQ(WithIniDrives("[Core]\nx=1", drives),
              "[Core]\nx=1\n[drives]\nC = /\nD = removable:/media/usb\n");
    EXPECT_EQ(WithIniDrives("", drives), "[drives]\nC = /\nD = removable:/media/usb\n");

    // An existing section is replaced where it stands.
    const std::string replaced =
        WithIniDrives("[a]\nk=1\n[drives]\nQ = /old\n; note\n[b]\nk=2\n", drives);
    EXPECT_EQ(replaced, "[a]\nk=1\n[drives]\nC = /\nD = removable:/media/usb\n[b]\nk=2\n");
    EXPECT_EQ(ParseIniDrives(replaced), drives);
}

}  // namespace
}  // namespace orvale::platform
