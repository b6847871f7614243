// A drive on a real small filesystem that the test mounts itself, seen
// through the machine's own volume layer: its figures must be statvfs's.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "common/AsioThreadPool.h"
#include "platform/HostFolder.h"
#include "platform/LinuxVolumeProvider.h"
#include "recorder/storage/Drive.h"
#include "tests/database/DatabaseTestSupport.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kMiB;

constexpr int64_t kTime = 1709649000;  // 2024-03-05 14:30:00 UTC
constexpr int64_t kMinFree = 8 * kMiB;

int64_t Available(const fs::path& folder) {
    struct statvfs stats {};
    EXPECT_EQ(::statvfs(folder.c_str(), &stats), 0);
    return static_cast<int64_t>(stats.f_bavail) * static_cast<int64_t>(stats.f_frsize);
}

class DriveMountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(mount_);
        if (::mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=64m") != 0) {
            GTEST_SKIP() << "Mounting a 64 MiB tmpfs is not permitted here ("
                         << std::strerror(errno) << "); run as root to test real free space.";
        }
        mounted_ = true;
        platform::SetHostFolder(host_.Str());
        ::setenv("OSTREL_DRIVES", ("D=" + mount_.string()).c_str(), 1);
        platform::InstallVolumeProvider(std::make_shared<platform::LinuxVolumeProvider>());
    }
    void TearDown() override {
        platform::InstallVolumeProvider(nullptr);
        ::unsetenv("OSTREL_DRIVES");
        platform::SetHostFolder("");
        if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
    }

    test::TempDir host_;
    fs::path mount_ = host_.Path() / "mnt";
    bool mounted_ = false;
    test::LogCapture log_;
};

TEST_F(DriveMountTest, FreeSpaceAndReservationsMatchStatvfs) {
    std::vector<media_drive_s> drives;
    Drive::EnumerateLocalDrives(drives, 32 * kMiB);
    ASSERT_EQ(drives.size(), 1u);
    const auto drive = MakeDrive(drives[0], kMinFree);
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    ASSERT_TRUE(fs::is_directory(mount_ / "KVTRecordData"));

    struct statvfs stats {};
    ASSERT_EQ(::statvfs(mount_.c_str(), &stats), 0);
    media_drive_info_s info;
    drive->GetSpace(info);
    EXPECT_EQ(info.totalMB, stats.f_blocks * stats.f_frsize >> 20);
    EXPECT_EQ(info.freeMB, stats.f_bavail * stats.f_frsize >> 20);
    EXPECT_EQ(drive->GetFreeSize(), Available(mount_) - kMinFree);

    // The metadata file takes room; cam1 then keeps all that is left (less
    // than 100 MiB here), which cam2 cannot have.
    auto folders = FolderInUseContainer::Create();
    const auto writer = drive->CreateMetaDataWriter({"cam1", 1, kTime, 1}, 4 * kMiB, folders);
    ASSERT_TRUE(writer);
    const int64_t left = Available(mount_) - kMinFree;
    EXPECT_EQ(drive->Reservations().Get("cam1"), left);
    EXPECT_EQ(drive->GetFreeSizeForChannel("cam1"), left);
    EXPECT_EQ(drive->GetFreeSizeForChannel("cam2"), 0);
    EXPECT_FALSE(drive->CreateMetaDataWriter({"cam2", 1, kTime, 1}, 1, folders));

    // Data written by anyone else shows at once.
    test::WriteFile(mount_ / "other", std::string(16 * kMiB, 'x'));
    EXPECT_EQ(drive->GetFreeSize(), Available(mount_) - kMinFree);
    EXPECT_LE(drive->GetFreeSize(), left - static_cast<int64_t>(16 * kMiB));
}

// A data-file writer takes its preallocated room on the real volume and
// reserves what is left for its channel; a request beyond the room is refused.
TEST_F(DriveMountTest, FileWriterTakesItsRoomAndReserves) {
    std::vector<media_drive_s> drives;
    Drive::EnumerateLocalDrives(drives, 32 * kMiB);
    ASSERT_EQ(drives.size(), 1u);
    const auto drive = MakeDrive(drives[0], kMinFree);
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    common::AsioThreadPool pool(1);
    auto folders = FolderInUseContainer::Create();

    const int64_t before = Available(mount_);
    EXPECT_FALSE(drive->CreateFileWriter({"cam1", 1, kTime, 1}, before, pool.IoService(), folders));
    auto writer =
        drive->CreateFileWriter({"cam1", 1, kTime, 1}, 8 * kMiB, pool.IoService(), folders);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->GetDriveName(), drives[0].name);
    EXPECT_EQ(writer->GetRemainingSize(), 8 * kMiB - 2 * 4096);
    EXPECT_LE(Available(mount_), before - static_cast<int64_t>(8 * kMiB));
    EXPECT_EQ(drive->Reservations().Get("cam1"), Available(mount_) - kMinFree);
    EXPECT_TRUE(folders->IsInUse(drive->GetHourKey("cam1", kTime)));
    writer->Close();
}

TEST_F(DriveMountTest, NothingIsWrittenIntoTheEmptyFolderOfAnUnmountedVolume) {
    const auto drive =
        MakeDrive({"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, 0}, kMinFree);
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    ASSERT_TRUE(fs::is_directory(mount_ / "KVTRecordData"));
    ASSERT_EQ(::umount2(mount_.c_str(), MNT_DETACH), 0);
    mounted_ = false;

    drive->ChangeStatus(MEDIA_DRIVE_STATUS_RELEASE);
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    EXPECT_FALSE(drive->SetTrackId(3));
    EXPECT_FALSE(
        drive->CreateMetaDataWriter({"cam1", 1, kTime, 1}, 0, FolderInUseContainer::Create()));
    common::AsioThreadPool pool(1);
    EXPECT_FALSE(drive->CreateFileWriter({"cam1", 1, kTime, 1}, 0, pool.IoService(),
                                         FolderInUseContainer::Create()));
    EXPECT_EQ(drive->GetFreeSize(), 0);
    EXPECT_TRUE(fs::is_empty(mount_));
}

}  // namespace
}  // namespace orvale::recorder
