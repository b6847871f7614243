// One channel records in real time onto drive D (ext4 on a loop image the
// test makes) with drive E (a tmpfs) allocated beside it, and D fails in the
// middle in the ways drives fail. Whatever D does, the engine neither dies
// nor hangs, the recording goes on onto E within a few seconds, the statuses
// name the failure, and after a restart every indexed second holds the very
// bytes pushed for it. A power cut (the filesystem aborted or shut down
// without flushing) loses only the last seconds; the seconds lost per case
// are printed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/HostFolder.h"
#include "platform/LinuxVolumeProvider.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/FrameRecord.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/RecordFileInfo.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kHour = 1709632800;  // 2024-03-05 10:00:00 UTC
constexpr uint32_t kFrameSize = 2000;  // each frame: kFrameSize bytes of the second's low byte
constexpr int kSeconds = 36;           // pushed in real time, one a second
// Seconds after the failure by which E has the writer: a writer is asked for
// at the next paced write, and the seconds meanwhile wait in memory.
constexpr int kSwitchWithin = 11;

// The ext4 shutdown request (as xfs_io's "shutdown"): every later operation
// on the filesystem fails with EIO, and nothing not yet on the device gets there.
constexpr unsigned long kShutdown = _IOR('X', 125, uint32_t);
constexpr uint32_t kShutdownWithoutLogFlush = 2;

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool IsMounted(const fs::path& folder) {
    std::ifstream mounts("/proc/mounts");
    std::string device, point, rest;
    while (mounts >> device >> point && std::getline(mounts, rest)) {
        if (point == folder.string()) return true;
    }
    return false;
}

enum class Failure { kImmutable, kIoErrors, kVanishes, kPowerCut };

struct FailureCase {
    const char* name;
    Failure failure;
    int failAt;       // seconds into the recording
    int allowedLoss;  // seconds
};

class FailingDriveTest : public ::testing::TestWithParam<FailureCase> {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "mounting test drives needs root";
        fs::create_directories(d_);
        fs::create_directories(e_);
        { std::ofstream image(image_, std::ios::binary); }
        fs::resize_file(image_, 256ull << 20);
        if (!Shell("mkfs.ext4 -q -F " + image_.string())) {
            GTEST_SKIP() << "mkfs.ext4 is not available here";
        }
        if (!MountD()) {
            GTEST_SKIP() << "mounting an ext4 loop image is not permitted here; run as root "
                            "where loop devices are available";
        }
        if (::mount("tmpfs", e_.c_str(), "tmpfs", 0, "size=256m") != 0) {
            GTEST_SKIP() << "mounting a tmpfs is not permitted here (" << std::strerror(errno)
                         << ")";
        }
        eMounted_ = true;
        platform::SetHostFolder(host_.Str());
        ::setenv("OSTREL_DRIVES", ("D=" + d_.string() + ";E=" + e_.string()).c_str(), 1);
        platform::InstallVolumeProvider(std::make_shared<platform::LinuxVolumeProvider>());
        StartEngine();
    }
    void TearDown() override {
        StopEngine();
        platform::InstallVolumeProvider(nullptr);
        ::unsetenv("OSTREL_DRIVES");
        platform::SetHostFolder("");
        Shell("chattr -R -i " + d_.string());
        while (IsMounted(d_) && ::umount2(d_.c_str(), MNT_DETACH) == 0) {
        }
        if (eMounted_) ::umount2(e_.c_str(), MNT_DETACH);
    }

    bool MountD() { return Shell("mount -o loop " + image_.string() + " " + d_.string()); }
    void StartEngine() {
        engine_ = std::make_unique<MediaRecorder>();
        engine_->SetMinFreeSpace(4);
        engine_->SetDataFileSize(64);
        engine_->Initialize();
    }
    void StopEngine() {
        if (engine_) engine_->Finalize(false);
        engine_.reset();
    }

    void Fail(Failure failure) {
        switch (failure) {
            case Failure::kImmutable:
                ASSERT_TRUE(Shell("chattr -R +i " + (d_ / "KVTRecordData").string()));
                break;
            case Failure::kIoErrors: {
                const int fd = ::open(d_.c_str(), O_RDONLY | O_DIRECTORY);
                ASSERT_GE(fd, 0);
                uint32_t flags = kShutdownWithoutLogFlush;
                ASSERT_EQ(::ioctl(fd, kShutdown, &flags), 0) << std::strerror(errno);
                ::close(fd);
                break;
            }
            case Failure::kVanishes:
                ASSERT_EQ(::umount2(d_.c_str(), MNT_DETACH), 0);
                break;
            case Failure::kPowerCut:
                ASSERT_TRUE(Shell("mount -o remount,abort " + d_.string()));
                break;
        }
    }
    // D as it is after the machine came back: unlocked files, or the
    // filesystem mounted again (its journal replayed).
    void Heal() {
        Shell("chattr -R -i " + d_.string());
        while (IsMounted(d_) && ::umount2(d_.c_str(), MNT_DETACH) == 0) {
        }
        ASSERT_TRUE(MountD());
    }

    // The seconds of the normal profile that the indexes on `root` hold,
    // each checked against the bytes pushed for it.
    std::set<int64_t> CheckedSeconds(const fs::path& root) {
        std::set<int64_t> seconds;
        const fs::path track =
            root / "KVTRecordData" / "cam1" / "2024" / "03" / "05" / "10" / "0001";
        const fs::path index = track / IndexFile::MakeFileName(kHour);
        if (!fs::exists(index)) return seconds;
        IndexFile file(index, FolderInUseContainer::Create());
        std::vector<std::string> names;
        EXPECT_TRUE(file.ListDataFileNames(kProfileNormal, names));
        for (const auto& name : names) {
            std::vector<index_row_s> rows;
            EXPECT_TRUE(file.ReadIndexRowsByName(kProfileNormal, rows, name));
            std::ifstream data(track / name, std::ios::binary);
            for (const auto& row : rows) {
                std::vector<char> record(sizeof(record_header_s) + kVideoInfoLength + row.keySize);
                data.seekg(static_cast<std::streamoff>(row.keyOffset));
                data.read(record.data(), static_cast<std::streamsize>(record.size()));
                EXPECT_TRUE(data) << name << " is short at second " << row.keyTime;
                if (!data) {
                    data.clear();
                    continue;
                }
                record_header_s header;
                std::memcpy(&header, record.data(), sizeof(header));
                EXPECT_EQ(header.type, RECORD_TYPE_VIDEO) << "second " << row.keyTime;
                EXPECT_EQ(row.keySize, kFrameSize) << "second " << row.keyTime;
                const char expected = static_cast<char>(static_cast<uint8_t>(row.keyTime));
                const auto payload = record.begin() + sizeof(header) + kVideoInfoLength;
                EXPECT_TRUE(std::all_of(payload, record.end(),
                                        [expected](char byte) { return byte == expected; }))
                    << "second " << row.keyTime << " in " << name << " holds other bytes";
                seconds.insert(row.keyTime);
            }
        }
        return seconds;
    }

    test::TempDir host_;
    fs::path image_ = host_.Path() / "d.img";
    fs::path d_ = host_.Path() / "d";
    fs::path e_ = host_.Path() / "e";
    bool eMounted_ = false;
    std::unique_ptr<MediaRecorder> engine_;
};

TEST_P(FailingDriveTest, RecordingGoesOnOntoTheOtherDriveAndKeepsWhatIsIndexed) {
    const FailureCase& c = GetParam();
    std::string id = "cam1";
    std::string schedule = "1";
    IRecorder* recorder = engine_->CreateRecorder(id, schedule, 0, false);
    ASSERT_NE(recorder, nullptr);
    ASSERT_TRUE(engine_->SetSchedule(schedule, test::FullSchedule(), {}));
    recorder->SetUseFrameTime(true);
    test::HeardStatuses heard;
    heard.Listen(*recorder);
    ASSERT_TRUE(recorder->StartRecording());

    const auto start = std::chrono::steady_clock::now();
    int onE = -1;  // the first second pushed while E took the recording
    for (int i = 0; i < kSeconds; ++i) {
        if (i == c.failAt) {
            ASSERT_EQ(recorder->GetCurrentDrive(), "D");
            Fail(c.failure);
        }
        test::PushSecond(*recorder, kHour + i, 1, 0, kFrameSize);
        if (onE < 0 && i > c.failAt && recorder->GetCurrentDrive() == "E") onE = i;
        std::this_thread::sleep_until(start + std::chrono::seconds(i + 1));
    }
    // A stop that hangs fails the test instead of holding it.
    auto stop = std::async(std::launch::async, [&] { recorder->StopRecording(); });
    ASSERT_EQ(stop.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "stop hangs";
    engine_->DeleteRecorder(id);
    StopEngine();

    ASSERT_GE(onE, 0) << "the recording never went on onto E";
    EXPECT_LE(onE - c.failAt, kSwitchWithin);
    EXPECT_TRUE(heard.Heard(RECORDER_STATUS_WRITE_FAILED) ||
                heard.Heard(RECORDER_STATUS_FOLDER_MISSING));
    EXPECT_FALSE(heard.Heard(RECORDER_STATUS_NO_SPACE));
    EXPECT_FALSE(heard.Heard(RECORDER_STATUS_NO_FILE));

    Heal();
    StartEngine();  // the restart: what it finds is what a host would play
    std::set<int64_t> kept = CheckedSeconds(d_);
    const std::set<int64_t> onDriveE = CheckedSeconds(e_);
    EXPECT_FALSE(onDriveE.empty());
    kept.insert(onDriveE.begin(), onDriveE.end());
    const int lost = kSeconds - static_cast<int>(kept.size());
    std::cout << "[ lost     ] " << c.name << ": " << lost << " of " << kSeconds
              << " seconds lost (failure at " << c.failAt << " s, E from " << onE << " s)\n";
    RecordProperty("seconds_lost", lost);
    EXPECT_LE(lost, c.allowedLoss);
    // What E took runs to the end of the recording.
    EXPECT_TRUE(onDriveE.count(kHour + kSeconds - 1) == 1);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailingDriveTest,
    ::testing::Values(FailureCase{"FilesTurnImmutable", Failure::kImmutable, 12, 2},
                      FailureCase{"WritesFailWithIoErrors", Failure::kIoErrors, 12, 10},
                      FailureCase{"FolderVanishes", Failure::kVanishes, 12, 2},
                      FailureCase{"PowerCutAt8s", Failure::kPowerCut, 8, 10},
                      FailureCase{"PowerCutAt16s", Failure::kPowerCut, 16, 10},
                      FailureCase{"PowerCutAt23s", Failure::kPowerCut, 23, 10}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
}  // namespace orvale::recorder
