// A channel's drives and writers: which drive takes a new hour, how large its
// data file is, and what drive changes do to the current drive.
#include "recorder/storage/Channel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/storage/ChannelFixture.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kDay;
using test::kDay1;
using test::kGiB;
using test::kHour;
using test::kMiB;

constexpr int64_t kRequest = 1 * kMiB;
constexpr int64_t kTime = kDay1 + kDay + 10 * kHour;
constexpr uint64_t kPlenty = 50 * kGiB;
constexpr uint64_t kShort = 50 * kMiB;  // enough for the request, not with the margin

class ChannelTest : public test::ChannelFixture {};

// Each row: three writable drives D, E, F with their free space and the
// hours (offsets from the request) they already hold; an offset of 0 is the
// request's own track folder.
struct SelectionCase {
    const char* name;
    bool overwrite;
    uint64_t free[3];
    std::vector<int64_t> hours[3];
    char expected;
};

TEST_F(ChannelTest, SelectsTheDriveForANewHourByTheRoomRules) {
    const SelectionCase cases[] = {
        {"no recording: first drive with room", true, {kPlenty, kPlenty, kPlenty}, {}, 'D'},
        {"room is strictly above request and margin",
         true,
         {kRequest + Channel::kOverwriteMargin, kPlenty, kPlenty},
         {},
         'E'},
        {"without overwrite one byte over is room",
         false,
         {kRequest + 1, kPlenty, kPlenty},
         {},
         'D'},
        {"a started hour goes on on its drive",
         true,
         {kPlenty, kPlenty, kPlenty},
         {{2 * kHour}, {0}, {}},
         'E'},
        {"of two started drives only the later is tried, then the newest",
         true,
         {kPlenty, kShort, kPlenty},
         {{0, kHour}, {0}, {}},
         'D'},
        {"newest drive full: a drive without channel folders",
         true,
         {kPlenty, kShort, kPlenty},
         {{-kDay}, {-kHour}, {}},
         'F'},
        {"no room anywhere: the drive with the oldest recording",
         true,
         {kShort, kShort, kShort},
         {{}, {-kHour}, {-kDay}},
         'F'},
        {"no room and no recording: the first drive", true, {kShort, kShort, kShort}, {}, 'D'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        drives_.clear();
        std::filesystem::remove_all(host_.Path() / "D");
        std::filesystem::remove_all(host_.Path() / "E");
        std::filesystem::remove_all(host_.Path() / "F");
        const char letters[] = {'D', 'E', 'F'};
        std::vector<std::shared_ptr<Drive>> drives;
        for (int i = 0; i < 3; ++i) {
            drives.push_back(AddDrive(letters[i], c.free[i]));
            for (const int64_t offset : c.hours[i]) MakeHour(letters[i], kTime + offset);
        }
        auto channel = MakeChannel(c.overwrite);
        channel->AddDrives(drives);
        auto writer = channel->GetFileWriter(kProfileNormal, 1, kTime, kRequest);
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->GetDriveName(), std::string(1, c.expected));
        EXPECT_EQ(channel->GetCurrentDrive()->GetName(), std::string(1, c.expected));
        writer->Close();
    }
}

TEST_F(ChannelTest, OverwriteSettingChangesTheMarginOfTheNextChoice) {
    auto d = AddDrive('D', kShort);
    auto e = AddDrive('E', kPlenty);
    auto channel = MakeChannel(false);
    channel->AddDrives({d, e});
    auto first = channel->GetFileWriter(kProfileNormal, 1, kTime, kRequest);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetDriveName(), "D");
    first->Close();

    // D stays current while it holds the request; only a new choice sees the margin.
    channel->SetUseOverwrite(true);
    EXPECT_TRUE(test::Logged(log_, "CH[cam1], useOverwrite  = 1"));
    volumes_->SetAvailable('D', kRequest / 2);
    auto second = channel->GetFileWriter(kProfileNormal, 1, kTime + kHour, kRequest);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->GetDriveName(), "E");
    EXPECT_EQ(d->Reservations().Get("cam1"), 0);
    second->Close();
}

TEST_F(ChannelTest, AShortOnlyDriveGivesASmallerFileOrNone) {
    const struct {
        uint64_t free;
        int64_t expectedSize;  // 0: no writer
    } cases[] = {
        {kPlenty, 64 * kMiB},
        {20 * kMiB, 20 * kMiB},
        {Channel::kSmallestDataFile, Channel::kSmallestDataFile},
        {Channel::kSmallestDataFile - 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.free);
        auto d = AddDrive('D', c.free);
        auto channel = MakeChannel(true);
        channel->AddDrives({d});
        auto writer = channel->GetFileWriter(kProfileNormal, 1, kTime, 64 * kMiB);
        ASSERT_EQ(static_cast<bool>(writer), c.expectedSize != 0);
        if (!writer) continue;
        EXPECT_EQ(writer->GetRemainingSize(), c.expectedSize - 2 * 4096);
        EXPECT_TRUE(fs::exists(writer->GetIndexFile()->GetPath()));
        writer->Close();
        writer.reset();
        d->RemoveChannel("cam1");
    }
}

TEST_F(ChannelTest, MetaDataWritersFollowTheSameDrive) {
    auto d = AddDrive('D', kPlenty);
    auto channel = MakeChannel();
    EXPECT_FALSE(channel->GetMetaDataWriter(1, kTime, kRequest));
    channel->AddDrives({d});
    auto writer = channel->GetMetaDataWriter(1, kTime, kRequest);
    ASSERT_TRUE(writer);
    EXPECT_TRUE(fs::exists(d->GetTrackPath("cam1", kTime, 1) / MetaDataFile::MakeFileName(kTime)));
}

// A drive on which no file can be made although it has room rests: the
// request goes to the other drive, later ones do not come back to it while
// it rests (even when it could take them), and once the rest is over the
// drive takes new files again.
TEST_F(ChannelTest, ADriveThatFailsToMakeFilesRestsWhileTheOthersTakeThem) {
    auto d = AddDrive('D', kPlenty);
    auto e = AddDrive('E', kPlenty);
    auto channel = MakeChannel(false);
    channel->AddDrives({d, e});
    // The channel's folder on D is a file: no hour folder can be made there.
    const fs::path blocked = d->GetChannelPath("cam1");
    fs::create_directories(blocked.parent_path());
    test::WriteFile(blocked, "not a folder");

    auto writer = channel->GetFileWriter(kProfileNormal, 1, kTime, kRequest);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->GetDriveName(), "E");
    EXPECT_TRUE(channel->HasHealthyWritableDrive());
    writer->Close();

    // D is whole again, E too short for the next file: D still rests.
    fs::remove(blocked);
    volumes_->SetAvailable('E', kRequest / 2);
    EXPECT_FALSE(channel->GetFileWriter(kProfileNormal, 1, kTime + kHour, kRequest));

    now_ += Channel::kFailedDriveRestSeconds;
    writer = channel->GetFileWriter(kProfileNormal, 1, kTime + kHour, kRequest);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->GetDriveName(), "D");
    writer->Close();
}

// With every writable drive failing there is no healthy one: the caller
// hears of no writable drive, and each drive is tried again on the next
// request rather than never.
TEST_F(ChannelTest, WithEveryDriveRestingEachIsTriedAgain) {
    auto d = AddDrive('D', kPlenty);
    auto channel = MakeChannel();
    channel->AddDrives({d});
    const fs::path blocked = d->GetChannelPath("cam1");
    fs::create_directories(blocked.parent_path());
    test::WriteFile(blocked, "not a folder");
    EXPECT_FALSE(channel->GetFileWriter(kProfileNormal, 1, kTime, kRequest));
    EXPECT_TRUE(channel->HasWritableDrive());
    EXPECT_FALSE(channel->HasHealthyWritableDrive());

    fs::remove(blocked);
    auto writer = channel->GetFileWriter(kProfileNormal, 1, kTime, kRequest);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->GetDriveName(), "D");
    writer->Close();
}

TEST_F(ChannelTest, DrivesJoinAndLeave) {
    auto d = AddDrive('D', kPlenty, MEDIA_DRIVE_STATUS_RELEASE);
    auto e = AddDrive('E', kPlenty);
    auto channel = MakeChannel();
    channel->AddDrives({d, e});
    std::vector<std::shared_ptr<Drive>> writable;
    channel->GetWritableDrives(writable);
    ASSERT_EQ(writable.size(), 1u);
    EXPECT_EQ(writable[0]->GetName(), "E");

    d->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    channel->AddDrives({d});
    writable.clear();
    channel->GetWritableDrives(writable);
    EXPECT_EQ(writable.size(), 2u);
    int added = 0;
    for (const auto& line : log_.Lines()) {
        if (line.text.find("Added a recorded drive(D)") != std::string::npos) ++added;
    }
    EXPECT_EQ(added, 1);

    // The current drive leaves: its folder keeps it recorded, its
    // reservation goes and the next request chooses afresh.
    auto writer = channel->GetFileWriter(kProfileNormal, 1, kTime, kRequest);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->GetDriveName(), "D");
    writer->Close();
    EXPECT_GT(d->Reservations().Get("cam1"), 0);
    channel->DeleteDrive("D");
    EXPECT_EQ(d->Reservations().Get("cam1"), 0);
    EXPECT_FALSE(channel->GetCurrentDrive());
    std::vector<std::shared_ptr<Drive>> recorded;
    channel->GetRecordedDrives(recorded);
    EXPECT_EQ(recorded.size(), 2u);
    writer = channel->GetFileWriter(kProfileNormal, 1, kTime + kHour, kRequest);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->GetDriveName(), "E");
    writer->Close();

    // A drive without the channel's folder leaves the recorded drives too.
    auto f = AddDrive('F', kPlenty, MEDIA_DRIVE_STATUS_RELEASE);
    channel->AddRecordedDrive(f);
    channel->DeleteDrive("F");
    recorded.clear();
    channel->GetRecordedDrives(recorded);
    EXPECT_EQ(recorded.size(), 2u);
    EXPECT_TRUE(channel->HasWritableDrive());
}

TEST_F(ChannelTest, ReleasingReservedSpaceClearsEveryDrive) {
    auto d = AddDrive('D', kPlenty);
    auto e = AddDrive('E', kPlenty);
    auto channel = MakeChannel();
    channel->AddDrives({d, e});
    e->Reservations().Set("cam1", 5 * kMiB);
    e->Reservations().Set("cam2", 7 * kMiB);
    auto writer = channel->GetFileWriter(kProfileNormal, 1, kTime, kRequest);
    ASSERT_TRUE(writer);
    writer->Close();
    EXPECT_GT(d->Reservations().Get("cam1"), 0);
    channel->ReleaseReservedSpace();
    EXPECT_EQ(d->Reservations().Get("cam1"), 0);
    EXPECT_EQ(e->Reservations().Get("cam1"), 0);
    EXPECT_EQ(e->Reservations().Get("cam2"), 7 * kMiB);
    EXPECT_FALSE(channel->GetCurrentDrive());
}

TEST_F(ChannelTest, RemovingAllMediaDataClearsEveryDrive) {
    auto d = AddDrive('D', kPlenty);
    auto e = AddDrive('E', kPlenty, MEDIA_DRIVE_STATUS_RELEASE);
    MakeHour('D', kTime);
    MakeHour('E', kTime - kHour);
    auto channel = MakeChannel();
    channel->AddDrives({d, e});
    channel->RemoveAllMediaData();
    EXPECT_FALSE(fs::exists(d->GetChannelPath("cam1")));
    EXPECT_FALSE(fs::exists(e->GetChannelPath("cam1")));
    std::vector<std::shared_ptr<Drive>> recorded;
    channel->GetRecordedDrives(recorded);
    EXPECT_TRUE(recorded.empty());
    EXPECT_TRUE(channel->HasWritableDrive());
    EXPECT_FALSE(channel->FindFileReader(7, 1, kTime, 4, true));
    EXPECT_TRUE(test::Logged(log_, "MID[7], No Record"));
}

}  // namespace
}  // namespace orvale::recorder
