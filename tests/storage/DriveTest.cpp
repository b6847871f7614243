// A drive through a fake volume layer: the listing filter, the space report,
// status changes, the operation database, reservations and refused ids.
#include "recorder/storage/Drive.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "platform/HostFolder.h"
#include "tests/database/DatabaseTestSupport.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using platform::VolumeKind;
using test::kGiB;
using test::kMiB;

constexpr int64_t kTime = 1709649000;  // 2024-03-05 14:30:00 UTC

using DriveRow = std::tuple<std::string, uint32_t, uint32_t, uint32_t>;

std::vector<DriveRow> Rows(const std::vector<media_drive_s>& drives) {
    std::vector<DriveRow> rows;
    rows.reserve(drives.size());
    for (const auto& d : drives) rows.emplace_back(d.name, d.type, d.status, d.busType);
    return rows;
}

bool Logged(test::LogCapture& log, int severity, const std::string& part) {
    for (const auto& line : log.Lines()) {
        if (line.severity == severity && line.text.find(part) != std::string::npos) return true;
    }
    return false;
}

class DriveTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetHostFolder(host_.Str()); }
    void TearDown() override { platform::SetHostFolder(""); }

    std::string Folder(const std::string& name) {
        const fs::path path = host_.Path() / name;
        fs::create_directories(path);
        return path.string();
    }
    // Drive D on a folder of its own, `available` of 100 GiB free.
    std::shared_ptr<Drive> MakeD(uint64_t available, uint64_t minFree = 0) {
        volumes_->AddFixed('D', Folder("d"), 100 * kGiB, available);
        return MakeDrive(
            {"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_ALLOCATE, platform::kBusSata},
            minFree);
    }
    static record_file_info_s At(const std::string& channel) { return {channel, 1, kTime, 1}; }

    test::TempDir host_;
    test::LogCapture log_;
    test::InstalledFakeVolumes volumes_;
};

TEST_F(DriveTest, ListingKeepsFixedDrivesOffUsbAndLargeEnough) {
    using Volume = test::FakeVolumeProvider::Volume;
    const uint64_t min = 2 * kGiB;
    const struct {
        char letter;
        VolumeKind kind;
        uint32_t bus;
        bool system;
        uint64_t total;
        int spaceError;
    } volumes[] = {
        {'C', VolumeKind::kFixed, platform::kBusNvme, true, kGiB, 0},        // system, small
        {'D', VolumeKind::kFixed, platform::kBusSata, false, min, 0},        // exactly the minimum
        {'E', VolumeKind::kFixed, platform::kBusUsb, false, 8 * min, 0},     // USB
        {'F', VolumeKind::kRemovable, platform::kBusSata, false, min, 0},    // removable
        {'G', VolumeKind::kRemote, platform::kBusUnknown, false, min, 0},    // network
        {'H', VolumeKind::kFixed, platform::kBusSas, false, min - 1, 0},     // too small
        {'I', VolumeKind::kFixed, platform::kBusScsi, false, 0, EIO},        // size unreadable
        {'J', VolumeKind::kCdrom, platform::kBusSata, false, min, 0},        // optical
        {'K', VolumeKind::kFixed, platform::kBusUnknown, false, 9 * min, 0}  // bus unknown
    };
    for (const auto& v : volumes) {
        Volume volume;
        volume.info = {v.letter, "/srv/" + std::string(1, v.letter), v.kind, v.bus, v.system};
        volume.space = {v.total, v.total / 2, v.total / 2};
        volume.spaceError = v.spaceError;
        volumes_->Add(volume);
    }
    std::vector<media_drive_s> drives{{"Z", 0, 0, 0}};  // appended to, not replaced
    Drive::EnumerateLocalDrives(drives, min);
    EXPECT_EQ(Rows(drives),
              (std::vector<DriveRow>{
                  {"Z", 0, 0, 0},
                  {"C", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_SYSTEM_DISK, platform::kBusNvme},
                  {"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, platform::kBusSata},
                  {"I", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, platform::kBusScsi},
                  {"K", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, platform::kBusUnknown},
              }));
    EXPECT_TRUE(Logged(log_, common::kLogInfo, "Drive[/srv/E]USB TYPE"));
    EXPECT_TRUE(Logged(log_, common::kLogDebug, "Drive[/srv/F]Default"));
    EXPECT_TRUE(Logged(log_, common::kLogInfo,
                       "Drive[/srv/H]Fixed Type totalNumberOfBytes < (unsigned long "
                       "long)(minFreeBytes)" +
                           std::to_string(min - 1)));
    EXPECT_TRUE(Logged(log_, common::kLogWarning, "warning Input/output error"));
}

TEST_F(DriveTest, SystemDiskWhoseSpaceCannotBeReadStaysTheSystemDisk) {
    test::FakeVolumeProvider::Volume system;
    system.info = {'C', "/", VolumeKind::kFixed, platform::kBusSata, true};
    system.spaceError = EIO;
    volumes_->Add(system);
    std::vector<media_drive_s> drives;
    Drive::EnumerateLocalDrives(drives, 2 * kGiB);
    EXPECT_EQ(Rows(drives),
              (std::vector<DriveRow>{{"C", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_SYSTEM_DISK,
                                      platform::kBusSata}}));
}

TEST_F(DriveTest, SpaceReportGivesFreeUsedAndTotalMiB) {
    volumes_->AddFixed('D', Folder("d"), 10 * kGiB + 5 * kMiB + 123, 3 * kGiB + 7 * kMiB + 5);
    const auto drive = MakeDrive({"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, 11}, 0);
    media_drive_info_s info{9, 9, 9, 9, 9};
    drive->GetSpace(info);
    EXPECT_EQ(info.freeMB, 3079u);
    EXPECT_EQ(info.usedMB, 7166u);  // (10245 MiB + 123) - (3079 MiB + 5), whole MiB
    EXPECT_EQ(info.totalMB, 10245u);
    EXPECT_EQ(info.driveValue, 0u);
    EXPECT_EQ(info.driveFlag, 0u);
    EXPECT_EQ(drive->GetCapacity(), 10 * kGiB + 5 * kMiB + 123);

    volumes_->SetPresent('D', false);
    info = {9, 9, 9, 9, 9};
    drive->GetSpace(info);
    EXPECT_EQ(std::tie(info.freeMB, info.usedMB, info.totalMB), std::make_tuple(0u, 0u, 0u));
    EXPECT_EQ(drive->GetCapacity(), 0u);
    EXPECT_TRUE(
        Logged(log_, common::kLogError,
               "Drive[D], Failed to get a space of drvie. name = D, error = No such device"));
}

TEST_F(DriveTest, DatabaseServerAtTheVolumeRootRaisesTheMinimum) {
    const auto drive = MakeD(100 * kGiB, kGiB);
    EXPECT_EQ(drive->GetMinFreeSize(), kGiB);
    EXPECT_EQ(drive->GetFreeSize(), static_cast<int64_t>(99 * kGiB));
    test::WriteFile(host_.Path() / "d" / "PostgreSQL", "");  // a plain file counts too
    EXPECT_EQ(drive->GetMinFreeSize(), 90 * kGiB);
    EXPECT_EQ(drive->GetFreeSize(), static_cast<int64_t>(10 * kGiB));
    fs::remove(host_.Path() / "d" / "PostgreSQL");
    drive->SetMinFreeSpace(5000 * kMiB);
    EXPECT_EQ(drive->GetMinFreeSize(), 5000 * kMiB);
    volumes_->SetAvailable('D', kGiB);
    EXPECT_EQ(drive->GetFreeSize(), 0);  // never below 0
}

TEST_F(DriveTest, AllocatingCreatesTheRootFolderOnlyOnAPresentVolume) {
    const auto drive = MakeD(kGiB);
    const fs::path root = host_.Path() / "d" / "KVTRecordData";
    EXPECT_EQ(drive->GetRootPath(), root);
    EXPECT_FALSE(fs::exists(root));  // making a drive touches nothing

    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    EXPECT_TRUE(fs::is_directory(root));
    EXPECT_TRUE(Logged(log_, common::kLogInfo, "Drive[D], Change the status From (1) To (1)"));
    EXPECT_TRUE(Logged(log_, common::kLogInfo,
                       "Drive[D], Created a root directory. path = \"" + root.string() + "\""));
    log_.Clear();
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);  // exists already: only the status line
    EXPECT_EQ(log_.Lines().size(), 1u);

    // A volume gone from its mount point leaves an empty folder of the
    // system disk behind: nothing may be created there.
    fs::remove_all(root);
    volumes_->SetPresent('D', false);
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    EXPECT_FALSE(fs::exists(root));
    EXPECT_TRUE(Logged(log_, common::kLogFatal, "Drive[D], Failed to create a root directory"));
    EXPECT_EQ(drive->GetStatus(), MEDIA_DRIVE_STATUS_ALLOCATE);  // the change stands
    EXPECT_FALSE(drive->SetTrackId(5));
    EXPECT_FALSE(fs::exists(root));
}

TEST_F(DriveTest, OperationDatabaseIsMadeByWritingOnly) {
    const auto drive = MakeD(kGiB);
    int trackId = 42;
    int64_t lastTime = 7;
    EXPECT_FALSE(drive->GetTrackId(trackId));  // no root folder
    EXPECT_FALSE(drive->SetTrackId(5));
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    const fs::path file = drive->GetRootPath() / "operation.kvtdb";
    EXPECT_FALSE(drive->GetTrackId(trackId));
    EXPECT_FALSE(drive->GetLastTime(lastTime));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(trackId, 42);

    EXPECT_TRUE(drive->SetTrackId(5));
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(drive->SetLastTime(1700000000));
    EXPECT_TRUE(drive->GetTrackId(trackId));
    EXPECT_TRUE(drive->GetLastTime(lastTime));
    EXPECT_EQ(trackId, 5);
    EXPECT_EQ(lastTime, 1700000000);

    // Another drive object on the same folder reads what was stored.
    const auto again = MakeDrive({"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, 11}, 0);
    trackId = 0;
    EXPECT_TRUE(again->GetTrackId(trackId));
    EXPECT_EQ(trackId, 5);
}

TEST_F(DriveTest, ChannelMayUseItsOwnReservationButNotTheOthers) {
    const uint64_t min = kGiB;
    const auto drive = MakeD(min + kGiB, min);  // 1 GiB above the minimum
    auto folders = FolderInUseContainer::Create();

    auto cam1 = drive->CreateMetaDataWriter(At("cam1"), 300 * kMiB, folders);
    ASSERT_TRUE(cam1);
    EXPECT_TRUE(fs::exists(drive->GetTrackPath("cam1", kTime, 1) / "20240305140000.kvtmtd"));
    EXPECT_TRUE(folders->IsInUse(drive->GetHourKey("cam1", kTime)));
    EXPECT_EQ(drive->Reservations().Get("cam1"), static_cast<int64_t>(100 * kMiB));
    EXPECT_TRUE(Logged(log_, common::kLogDebug,
                       "CH[cam1] Reserved Free size = " + std::to_string(100 * kMiB)));
    EXPECT_EQ(drive->GetFreeSizeForChannel("cam1"), static_cast<int64_t>(kGiB));
    EXPECT_EQ(drive->GetFreeSizeForChannel("cam2"), static_cast<int64_t>(kGiB - 100 * kMiB));

    // 150 MiB above the minimum: cam2 is offered 50 MiB and keeps all that is left.
    volumes_->SetAvailable('D', min + 150 * kMiB);
    ASSERT_TRUE(drive->CreateMetaDataWriter(At("cam2"), 40 * kMiB, folders));
    EXPECT_EQ(drive->Reservations().Get("cam2"), static_cast<int64_t>(50 * kMiB));

    // Nothing is left for a third channel: refused, no file, no reservation.
    log_.Clear();
    EXPECT_FALSE(drive->CreateMetaDataWriter(At("cam3"), 1, folders));
    EXPECT_FALSE(fs::exists(drive->GetChannelPath("cam3")));
    EXPECT_EQ(drive->Reservations().Total(), static_cast<int64_t>(150 * kMiB));
    EXPECT_TRUE(Logged(log_, common::kLogDebug,
                       "CH[cam3] Not Enough Free size of Meta File. free size = 0, Required "
                       "Size = 1"));

    // cam1 counts its own 100 MiB: 100 MiB is granted, one byte more is not.
    EXPECT_FALSE(drive->CreateMetaDataWriter(At("cam1"), 100 * kMiB + 1, folders));
    ASSERT_TRUE(drive->CreateMetaDataWriter(At("cam1"), 100 * kMiB, folders));
    EXPECT_EQ(drive->Reservations().Get("cam1"), 100 * static_cast<int64_t>(kMiB));

    drive->Reservations().Release("cam9");  // no entry: nothing changes
    EXPECT_EQ(drive->Reservations().Total(), static_cast<int64_t>(150 * kMiB));
    drive->Reservations().Release("cam2");
    EXPECT_EQ(drive->Reservations().Get("cam2"), 0);

    drive->ChangeStatus(MEDIA_DRIVE_STATUS_RELEASE);
    EXPECT_EQ(drive->Reservations().Total(), 0);
}

TEST_F(DriveTest, WriterIsRefusedOnAnAbsentVolumeOrWhenItsFileCannotBeMade) {
    const auto drive = MakeD(10 * kGiB);
    auto folders = FolderInUseContainer::Create();
    volumes_->SetPresent('D', false);
    EXPECT_FALSE(drive->CreateMetaDataWriter(At("cam1"), 0, folders));
    EXPECT_FALSE(fs::exists(drive->GetRootPath()));

    volumes_->SetPresent('D', true);
    // A file where the hour folder belongs keeps the writer from its folder.
    fs::create_directories(drive->GetDayPath("cam1", kTime));
    test::WriteFile(drive->GetHourPath("cam1", kTime), "");
    EXPECT_FALSE(drive->CreateMetaDataWriter(At("cam1"), kMiB, folders));
    EXPECT_EQ(drive->Reservations().Total(), 0);
    EXPECT_FALSE(folders->IsInUse(drive->GetHourKey("cam1", kTime)));
}

// Only the factory's own check knows why it gave nothing: a short room is
// told apart from a drive that could not make the file, for both kinds.
TEST_F(DriveTest, ARefusedWriterSaysWhetherTheRoomWasShortOrTheDriveFailed) {
    const uint64_t min = kGiB;
    const auto drive = MakeD(min + 20 * kMiB, min);
    auto folders = FolderInUseContainer::Create();
    boost::asio::io_context io;
    const auto make = [&](const std::string& channel, int64_t size, bool data) {
        WriterRefusal refusal = WriterRefusal::kNone;
        const bool made = data
                              ? !!drive->CreateFileWriter(At(channel), size, io, folders, &refusal)
                              : !!drive->CreateMetaDataWriter(At(channel), size, folders, &refusal);
        EXPECT_EQ(made, refusal == WriterRefusal::kNone);
        return refusal;
    };
    for (const bool data : {true, false}) {
        SCOPED_TRACE(data ? "data file" : "metadata");
        EXPECT_EQ(make(data ? "cam1" : "cam2", 20 * kMiB + 1, data), WriterRefusal::kNoRoom);
        volumes_->SetPresent('D', false);
        EXPECT_EQ(make("cam3", kMiB, data), WriterRefusal::kFailed);
        volumes_->SetPresent('D', true);
    }
    // A file where the hour folder belongs keeps the writer from its folder.
    fs::create_directories(drive->GetDayPath("cam4", kTime));
    test::WriteFile(drive->GetHourPath("cam4", kTime), "");
    EXPECT_EQ(make("cam4", kMiB, true), WriterRefusal::kFailed);
    EXPECT_EQ(make("cam4", kMiB, false), WriterRefusal::kFailed);
    EXPECT_EQ(make("cam5", 10 * kMiB, false), WriterRefusal::kNone);
}

TEST_F(DriveTest, ChannelIdsThatLeaveTheTreeAreRefused) {
    const auto drive = MakeD(10 * kGiB);
    drive->ChangeStatus(MEDIA_DRIVE_STATUS_ALLOCATE);
    const fs::path hour = drive->GetHourPath("cam1", kTime);
    fs::create_directories(hour / "0001");
    auto folders = FolderInUseContainer::Create();

    const std::string hostile[] = {"",
                                   ".",
                                   "..",
                                   "a/b",
                                   "../d",
                                   "/etc",
                                   "a\\b",
                                   std::string("a\0b", 3),
                                   std::string(256, 'x')};
    for (const auto& id : hostile) {
        SCOPED_TRACE(testing::PrintToString(id));
        log_.Clear();
        EXPECT_TRUE(drive->GetChannelPath(id).empty());
        EXPECT_TRUE(drive->GetHourPath(id, kTime).empty());
        EXPECT_EQ(drive->GetHourKey(id, kTime), "");
        EXPECT_FALSE(drive->HasChannelFolder(id));
        EXPECT_FALSE(drive->ChannelHasFolders(id));
        EXPECT_EQ(drive->GetOldestTime(id), 0);
        drive->RemoveChannel(id);
        EXPECT_TRUE(Logged(log_, common::kLogError, "Refused a channel id"));
        drive->RemoveHour(id, kTime);
        drive->RemoveEmptyFolder(id, kTime);
        EXPECT_FALSE(drive->CreateMetaDataWriter(At(id), 0, folders));
        EXPECT_TRUE(fs::is_directory(hour / "0001"));
    }
    EXPECT_EQ(drive->Reservations().Total(), 0);

    // Any other text is a folder name, non-ASCII and 255 bytes included.
    for (const std::string& id :
         {std::string("카메라1"), std::string(255, 'x'), std::string("..a")}) {
        EXPECT_EQ(drive->GetChannelPath(id), drive->GetRootPath() / id);
        EXPECT_TRUE(drive->CreateMetaDataWriter(At(id), 0, folders));
    }
}

}  // namespace
}  // namespace orvale::recorder
