// A drive at the edge of its room through the exported engine: drive D is a
// folder behind a volume layer of the test's own whose free space dips for
// one look, as when another writer's journal comes and goes, so that the
// drive's own check finds less room than the channel saw a moment before
// and a moment after. A refusal for room is no failure of the drive: it
// never rests, the request goes on to overwrite, and no second is lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/store/IndexFile.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/IndexedSeconds.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kMiB;

constexpr int64_t kOldestHour = 1709629200;             // 2024-03-05 09:00:00 UTC
constexpr int64_t kOlderHour = kOldestHour + 3600;      // 10:00
constexpr int64_t kRecordingHour = kOldestHour + 7200;  // 11:00
constexpr int64_t kSeconds = 60;
constexpr uint64_t kMinFree = 4 * kMiB;
// The hour's first data file asks for the whole data file size: ~50 kB a
// second over the rest of the hour is more than it.
constexpr uint64_t kAskedFor = 64 * kMiB;
// What the dip takes: the room then lies between the smallest data file and
// the size asked for.
constexpr uint64_t kDip = 48ULL * 1024;

// The fake's space, less kDip at the one look `dipAt` looks after Arm().
class DippingVolumes final : public platform::VolumeProvider {
  public:
    explicit DippingVolumes(std::shared_ptr<test::FakeVolumeProvider> inner)
        : inner_(std::move(inner)) {}
    void Arm(uint64_t dipAt) {
        looks_ = 0;
        dipAt_ = dipAt;
    }
    bool Dipped() const { return dipAt_ != 0 && looks_.load() >= dipAt_; }

    std::vector<platform::VolumeInfo> ListVolumes() override { return inner_->ListVolumes(); }
    std::string RootFolder(char letter) override { return inner_->RootFolder(letter); }
    bool IsPresent(char letter) override { return inner_->IsPresent(letter); }
    int GetSpace(char letter, platform::VolumeSpace& space) override {
        const int error = inner_->GetSpace(letter, space);
        if (error == 0 && ++looks_ == dipAt_.load()) space.available -= kDip;
        return error;
    }

  private:
    const std::shared_ptr<test::FakeVolumeProvider> inner_;
    std::atomic<uint64_t> looks_{0};
    std::atomic<uint64_t> dipAt_{0};
};

class RoomRefusalThroughEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        fs::create_directories(root_);
        fake_->AddFixed('D', root_.string(), 4096 * kMiB, 1024 * kMiB);
        platform::InstallVolumeProvider(volumes_);
        engine_ = std::make_unique<MediaRecorder>();
        engine_->SetMinFreeSpace(kMinFree / kMiB);
        engine_->SetDataFileSize(kAskedFor / kMiB);
        engine_->SetUseOverwrite(true);
        engine_->Initialize();
    }
    void TearDown() override {
        if (engine_) engine_->Finalize(false);
        engine_.reset();
        platform::InstallVolumeProvider(nullptr);
        platform::SetHostFolder("");
    }

    fs::path HourFolder(int64_t hour) const {
        const int hh = static_cast<int>((hour - kOldestHour) / 3600) + 9;
        return root_ / "KVTRecordData" / "cam1" / "2024" / "03" / "05" /
               ((hh < 10 ? "0" : "") + std::to_string(hh));
    }
    std::vector<int64_t> StoredSeconds(int64_t hour) const {
        return test::IndexedSeconds(HourFolder(hour) / "0001" / IndexFile::MakeFileName(hour));
    }

    test::LogCapture log_;
    test::TempDir host_;
    test::TempDir drives_;
    fs::path root_ = drives_.Path() / "D";
    std::shared_ptr<test::FakeVolumeProvider> fake_ = std::make_shared<test::FakeVolumeProvider>();
    std::shared_ptr<DippingVolumes> volumes_ = std::make_shared<DippingVolumes>(fake_);
    std::unique_ptr<MediaRecorder> engine_;
};

TEST_F(RoomRefusalThroughEngineTest, ARefusalForRoomRestsNoDriveAndGoesOnToOverwrite) {
    std::string id = "cam1";
    std::string schedule = "1";
    IRecorder* recorder = engine_->CreateRecorder(id, schedule, 0, false);
    ASSERT_NE(recorder, nullptr);
    ASSERT_TRUE(engine_->SetSchedule(schedule, test::FullSchedule(), {}));
    recorder->SetUseFrameTime(true);
    test::HeardStatuses heard;
    heard.Listen(*recorder);
    ASSERT_TRUE(recorder->StartRecording());
    test::PushSecondsPaced(*recorder, kOldestHour, 20);
    test::PushSecondsPaced(*recorder, kOlderHour, 20);
    recorder->StopRecording();  // every write done, every file closed

    // The drive at its minimum: room for the file asked for and 16 kB more,
    // except at the drive's own check of the hour's first writer, the third
    // look (the channel's look at its current drive and at the size go
    // first).
    fake_->SetAvailable('D', kMinFree + kAskedFor + 16ULL * 1024);
    volumes_->Arm(3);
    ASSERT_TRUE(recorder->StartRecording());
    test::PushSecondsPaced(*recorder, kRecordingHour, kSeconds);
    recorder->StopRecording();
    engine_->DeleteRecorder(id);

    // The dip met the drive's own check, and the check alone refused.
    ASSERT_TRUE(volumes_->Dipped());
    ASSERT_EQ(log_.Count("Not Enough Free size of Data File"), 1u);
    EXPECT_EQ(log_.Count("new files go to the other drives"), 0u);
    EXPECT_FALSE(heard.Heard(RECORDER_STATUS_NO_WRITABLE_DRIVE));
    EXPECT_FALSE(fs::exists(HourFolder(kOldestHour))) << "no overwrite ran";
    const std::vector<int64_t> stored = StoredSeconds(kRecordingHour);
    EXPECT_EQ(stored.size(), static_cast<size_t>(kSeconds));
    for (int64_t t = kRecordingHour; t < kRecordingHour + kSeconds; ++t) {
        EXPECT_NE(std::find(stored.begin(), stored.end(), t), stored.end()) << "lost " << t;
    }
}

}  // namespace
}  // namespace orvale::recorder
