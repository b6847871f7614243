// The overwrite step of a channel: which hours of the oldest day go, which
// stay in use, and a real small volume that fills and is cleared again.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/LinuxVolumeProvider.h"
#include "recorder/storage/Channel.h"
#include "tests/storage/ChannelFixture.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kDay;
using test::kDay1;
using test::kGiB;
using test::kHour;
using test::kMiB;

class ChannelOverwriteTest : public test::ChannelFixture {
  protected:
    void SetUp() override {
        ChannelFixture::SetUp();
        d_ = AddDrive('D', 50 * kGiB);
        e_ = AddDrive('E', 50 * kGiB, MEDIA_DRIVE_STATUS_RELEASE);
        channel_ = MakeChannel();
        channel_->AddDrives({d_, e_});
    }
    void Hold(char letter, int64_t hour) {
        channel_->GetFolders()->Add(drives_.at(letter)->GetHourKey("cam1", hour));
    }

    std::shared_ptr<Drive> d_;
    std::shared_ptr<Drive> e_;
    std::shared_ptr<Channel> channel_;
};

TEST_F(ChannelOverwriteTest, OneStepRemovesTheOldestDayOnEveryDriveButHoursInUse) {
    const int64_t oldest = kDay1 + 3 * kHour;
    for (int64_t hour = oldest; hour < oldest + kDay + 2 * kHour; hour += kHour)
        MakeHour('D', hour);
    MakeHour('E', oldest + 5 * kHour);
    Hold('D', oldest + 2 * kHour);
    now_ = kDay1 + 3 * kDay;

    EXPECT_EQ(channel_->DeleteFirstDay(now_), oldest + kDay - kHour);
    for (int64_t hour = oldest; hour < oldest + kDay; hour += kHour) {
        EXPECT_EQ(HourExists('D', hour), hour == oldest + 2 * kHour) << (hour - oldest) / kHour;
    }
    EXPECT_TRUE(HourExists('D', oldest + kDay));
    EXPECT_FALSE(HourExists('E', oldest + 5 * kHour));
    EXPECT_TRUE(test::Logged(log_, "Delete Folder of firset day. Path = "));
}

// A channel that started 5 hours ago loses every older hour not in use, but
// never the hour it is recording (its writers are closed when it asks) nor a
// later one: live, that is the hour now running; converting, an hour of the
// past.
TEST_F(ChannelOverwriteTest, TheHourBeingRecordedAndLaterOnesStay) {
    struct Case {
        const char* name;
        int64_t recording;
        std::vector<int64_t> kept;  // hours after 00:00 of day 1
    };
    const Case cases[] = {
        {"live", kDay1 + 10 * kHour + 1800, {7, 10}},
        {"converting", kDay1 + 8 * kHour + 100, {7, 8, 9, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        now_ = kDay1 + 10 * kHour + 1800;
        for (int64_t h = 5; h <= 10; ++h) MakeHour('D', kDay1 + h * kHour);
        Hold('D', kDay1 + 7 * kHour);
        channel_->DeleteFirstDay(c.recording);
        for (int64_t h = 5; h <= 10; ++h) {
            const bool kept = std::find(c.kept.begin(), c.kept.end(), h) != c.kept.end();
            EXPECT_EQ(HourExists('D', kDay1 + h * kHour), kept) << h;
        }
        channel_->GetFolders()->Release(drives_.at('D')->GetHourKey("cam1", kDay1 + 7 * kHour));
    }
}

// When every recorded hour of the first day is in use, the step goes on with
// the next day, up to but not into the hour now running.
TEST_F(ChannelOverwriteTest, AHeldFirstDayMovesTheStepToTheNextDayOnly) {
    const int64_t oldest = kDay1;
    MakeHour('D', oldest);
    Hold('D', oldest);
    for (int64_t hour = oldest + kDay + kHour; hour <= oldest + kDay + 6 * kHour; hour += kHour) {
        MakeHour('D', hour);
    }
    MakeHour('D', oldest + 3 * kDay);
    now_ = oldest + kDay + 5 * kHour + 60;

    EXPECT_EQ(channel_->DeleteFirstDay(now_), oldest + kDay + 4 * kHour);
    EXPECT_TRUE(HourExists('D', oldest));
    for (int64_t h = 1; h <= 4; ++h) EXPECT_FALSE(HourExists('D', oldest + kDay + h * kHour)) << h;
    EXPECT_TRUE(HourExists('D', oldest + kDay + 5 * kHour));  // now running
    EXPECT_TRUE(HourExists('D', oldest + kDay + 6 * kHour));  // in the future
    EXPECT_TRUE(HourExists('D', oldest + 3 * kDay));
}

TEST_F(ChannelOverwriteTest, NothingHappensWithoutRecordingsOrWithoutOverwrite) {
    EXPECT_EQ(channel_->DeleteFirstDay(now_), 0);
    EXPECT_FALSE(test::Logged(log_, "Delete Folder"));

    MakeHour('D', kDay1);
    channel_->SetUseOverwrite(false);
    auto writer = channel_->GetFileWriterOverwriting(kProfileNormal, 1, now_, 4 * kMiB);
    ASSERT_TRUE(writer);
    writer->Close();
    EXPECT_TRUE(HourExists('D', kDay1));
}

TEST_F(ChannelOverwriteTest, RetentionIsStoredAndLoggedOnly) {
    MakeHour('D', kDay1);
    channel_->SetRetentionPeriod(3);
    EXPECT_EQ(channel_->GetRetentionPeriod(), 3u);
    EXPECT_TRUE(test::Logged(log_, "CH[cam1], RetentionPeriod = 3"));
    EXPECT_TRUE(HourExists('D', kDay1));
}

// A 64 MiB tmpfs of the test's own, seen through the machine's volume layer.
class ChannelMountTest : public test::HourFixture {
  protected:
    void SetUp() override {
        HourFixture::SetUp();
        fs::create_directories(mount_);
        if (::mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=64m") != 0) {
            GTEST_SKIP() << "Mounting a 64 MiB tmpfs is not permitted here ("
                         << std::strerror(errno) << "); run as root to test overwrite.";
        }
        mounted_ = true;
        ::setenv("OSTREL_DRIVES", ("D=" + mount_.string()).c_str(), 1);
        platform::InstallVolumeProvider(std::make_shared<platform::LinuxVolumeProvider>());
    }
    void TearDown() override {
        platform::InstallVolumeProvider(nullptr);
        ::unsetenv("OSTREL_DRIVES");
        if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
        HourFixture::TearDown();
    }

    fs::path mount_ = host_.Path() / "mnt";
    bool mounted_ = false;
    test::LogCapture log_;
};

TEST_F(ChannelMountTest, AFullVolumeLosesItsOldestDayAndTakesWritersAgain) {
    std::vector<media_drive_s> records;
    Drive::EnumerateLocalDrives(records, 32 * kMiB);
    ASSERT_EQ(records.size(), 1u);
    const auto drive = MakeDrive(records[0], 4 * kMiB);
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    const int64_t now = kDay1 + kDay + 12 * kHour;
    auto channel = std::make_shared<Channel>("cam1", 0, true, &pool_,
                                             std::make_shared<BufferPool>(), [now] { return now; });
    channel->AddDrives({drive});

    constexpr int64_t kFile = 8 * kMiB;
    // Writers are dropped without Close, so that their files keep their
    // preallocated room. Day 1 from 10:00; the writer of 13:00 stays open.
    std::shared_ptr<FileWriter> open;
    for (int64_t hour = kDay1 + 10 * kHour; hour <= kDay1 + 13 * kHour; hour += kHour) {
        auto writer = channel->GetFileWriter(kProfileNormal, 1, hour, kFile);
        ASSERT_TRUE(writer) << (hour - kDay1) / kHour;
        WriteAndWait(*writer, Seconds(hour, hour + 2));
        if (hour == kDay1 + 13 * kHour) open = writer;
    }
    // Day 2 until the volume is full.
    int64_t hour = kDay1 + kDay;
    for (; hour < now; hour += kHour) {
        auto writer = channel->GetFileWriter(kProfileNormal, 1, hour, kFile);
        if (!writer) break;
    }
    ASSERT_LT(hour, now) << "the volume never filled";
    ASSERT_TRUE(channel->HasWritableDrive());

    auto writer = channel->GetFileWriterOverwriting(kProfileNormal, 1, hour, kFile);
    ASSERT_TRUE(writer);
    writer->Close();
    for (int64_t h = 10; h <= 12; ++h) {
        EXPECT_FALSE(fs::exists(drive->GetHourPath("cam1", kDay1 + h * kHour))) << h;
    }
    EXPECT_TRUE(fs::exists(drive->GetHourPath("cam1", kDay1 + 13 * kHour)));
    EXPECT_TRUE(fs::exists(drive->GetTrackPath("cam1", hour, 1)));
    EXPECT_TRUE(open->FolderExists());
    WriteAndWait(*open, Seconds(kDay1 + 13 * kHour + 3, kDay1 + 13 * kHour + 5));
    open->Close();
}

}  // namespace
}  // namespace orvale::recorder
