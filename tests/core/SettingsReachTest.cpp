// The engine's settings through the exported class: each one reaches the
// recorders, ARB recorders and drives that exist already, not only those
// made later (overwrite, which deletes data, is tested on a drive that runs
// full in OverwriteThroughEngineTest); sizes that cannot work are refused;
// and the encryption key never reaches the log.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/EngineOnFakeDrives.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kGiB;
using test::kMiB;

constexpr int64_t kStart = 1733824800;  // 2024-12-10 10:00:00 UTC
constexpr long long kLargestDataFileMiB = LLONG_MAX >> 20;

// The exported engine with one fixed drive D of 500 GiB.
class SettingsReachTest : public test::EngineOnFakeDrives {
  protected:
    IRecorder* Create(std::string id) {
        std::string schedule = "1";
        return engine_->CreateRecorder(id, schedule, 0, false);
    }

    size_t IndexFiles() const {
        size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(drives_.Path())) {
            if (entry.path().extension() == ".kvtidx") ++count;
        }
        return count;
    }

    std::string id_ = "cam1";
};

// Each setting is changed after the channel's recorder and ARB recorder were
// made, and must show on them.
TEST_F(SettingsReachTest, EverySettingReachesTheObjectsThatExistAlready) {
    IRecorder* recorder = Create(id_);
    ASSERT_NE(recorder, nullptr);
    ASSERT_NE(engine_->CreateArbRecorder(id_), nullptr);
    struct Case {
        const char* name;
        std::function<void(MediaRecorder&)> change;
        std::function<void(MediaRecorder&, IRecorder&, test::LogCapture&)> reached;
    };
    const Case cases[] = {
        {"dual record", [](MediaRecorder& engine) { engine.SetUseDualRecord(false); },
         [](MediaRecorder&, IRecorder& recorder, test::LogCapture&) {
             EXPECT_FALSE(recorder.UseLowProfile());
         }},
        {"minimum free space", [](MediaRecorder& engine) { engine.SetMinFreeSpace(100'000); },
         [this](MediaRecorder& engine, IRecorder&, test::LogCapture&) {
             // One idle recorder counts 86 bytes a second on the drive.
             const uint64_t seconds = (500 * kGiB - 100'000 * kMiB) / 86;
             EXPECT_EQ(engine.GetExpectedRetention(id_), seconds / 3600 - 1);
         }},
        {"encryption",
         [](MediaRecorder& engine) {
             media_encrypt_s info{3, 7, "k3y-s3cr3t"};
             engine.SetEncryptionInfo(info);
         },
         [](MediaRecorder&, IRecorder&, test::LogCapture& log) {
             EXPECT_EQ(log.Count("CH=[cam1],Encrypt Type = 7, Algorithm = 3"), 1u);
             EXPECT_EQ(log.Count("CH=[cam1] ARB Encrypt Type = 7, Algorithm = 3"), 1u);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture log;
        c.change(*engine_);
        c.reached(*engine_, *recorder, log);
    }
}

// The key is kept as given and never written to the log, whatever is logged
// on the way: the setting, recorders and ARB recorders made with it, a
// recording.
TEST_F(SettingsReachTest, TheEncryptionKeyNeverReachesTheLog) {
    const std::string key = "k3y-s3cr3t";
    test::LogCapture log;
    media_encrypt_s info{2, 1, key};
    engine_->SetEncryptionInfo(info);
    IRecorder* recorder = Create(id_);
    ASSERT_NE(recorder, nullptr);
    ASSERT_NE(engine_->CreateArbRecorder(id_), nullptr);
    engine_->SetEncryptionInfo(info);
    std::string schedule = "1";
    engine_->SetSchedule(schedule, test::FullSchedule(), {});
    recorder->SetUseFrameTime(true);
    recorder->StartRecording();
    for (int64_t t = kStart; t < kStart + 3; ++t) test::PushSecond(*recorder, t);
    recorder->StopRecording();

    EXPECT_EQ(engine_->GetEncryptionInfo().key, key);
    ASSERT_GT(log.Count("Encrypt Type = 1, Algorithm = 2"), 0u);
    EXPECT_EQ(log.Count(key), 0u);
}

// A data file size of no bytes, or one whose byte count does not fit, is
// refused and the size stays; so does a buffer size of 0.
TEST_F(SettingsReachTest, SizesThatCannotWorkAreRefused) {
    struct Case {
        long long mib;
        long long kept;  // GetDataFileSize afterwards
    };
    const Case cases[] = {
        {-1, 400},        {0, 400},
        {LLONG_MIN, 400}, {kLargestDataFileMiB + 1, 400},
        {LLONG_MAX, 400}, {kLargestDataFileMiB, kLargestDataFileMiB},
        {1, 1},           {100, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mib);
        engine_->SetDataFileSize(400);
        test::LogCapture log;
        engine_->SetDataFileSize(c.mib);
        EXPECT_EQ(engine_->GetDataFileSize(), c.kept);
        EXPECT_EQ(log.LinesFrom(common::kLogError).size(), c.kept == c.mib ? 0u : 1u);
    }
    engine_->SetBufferSize(0);
    EXPECT_EQ(engine_->GetBufferSize(), 4u << 20);

    // A recorder made after a refused size records as before.
    engine_->SetDataFileSize(400);
    engine_->SetDataFileSize(-1);
    IRecorder* recorder = Create(id_);
    ASSERT_NE(recorder, nullptr);
    std::string schedule = "1";
    engine_->SetSchedule(schedule, test::FullSchedule(), {});
    recorder->SetUseFrameTime(true);
    recorder->StartRecording();
    for (int64_t t = kStart; t < kStart + 3; ++t) test::PushSecond(*recorder, t);
    recorder->StopRecording();
    EXPECT_EQ(IndexFiles(), 1u);
}

}  // namespace
}  // namespace orvale::recorder
