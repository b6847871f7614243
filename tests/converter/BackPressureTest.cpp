// Callers that hold back their frames while the recorder's write buffer count
// is above 1 (the converter, and the ingest benchmark that imitates it) run
// to their end through the real engine, also with a pre-record keep longer
// than what the count may ever hold: kept seconds never count.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "converter/ConversionWorker.h"
#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/IndexFile.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::converter {
namespace {

namespace fs = std::filesystem;
using recorder::IRecorder;

constexpr uint32_t kStart = 1710496800;  // 2024-03-15 10:00:00 UTC
constexpr uint32_t kPreRecordSeconds = 120;
constexpr int kSeconds = 200;
// Longer than any hold a caller should see on a loaded machine.
constexpr auto kLongestHold = std::chrono::seconds(20);

class BackPressureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        volumes_->AddFixed('D', drive_.Str(), 500 * test::kGiB, 200 * test::kGiB);
        // Made once the host folder is set: an engine takes its folder when
        // it is made, and one made earlier would share the build folder's
        // catalogue with every other test running at the time.
        engine_ = std::make_unique<recorder::MediaRecorder>();
        engine_->Initialize();
    }
    void TearDown() override {
        engine_->Finalize(false);
        engine_.reset();
        platform::SetHostFolder("");
    }

    // The channel's stored motion pre-record, as a recorder made for it
    // later reads it at its start.
    void SetPreRecord(std::string channel) {
        std::string schedule = "1";
        IRecorder* recorder = engine_->CreateRecorder(channel, schedule, 0, false);
        ASSERT_NE(recorder, nullptr);
        recorder::media_channel_s row = recorder->GetMediaChannel();
        row.motion.preRecTime = kPreRecordSeconds;
        recorder->SetMediaChannel(row);
        engine_->DeleteRecorder(channel);
    }

    // Key times of the hour's index rows of one channel.
    std::vector<int64_t> KeyTimes(const std::string& channel, int track) {
        char trackName[8];
        std::snprintf(trackName, sizeof(trackName), "%04d", track);
        const fs::path folder =
            drive_.Path() / "KVTRecordData" / channel / "2024" / "03" / "15" / "10" / trackName;
        recorder::IndexFile index(folder / recorder::IndexFile::MakeFileName(kStart),
                                  recorder::FolderInUseContainer::Create());
        std::vector<recorder::index_row_s> rows;
        index.ReadAllIndexRows(rows);
        std::vector<int64_t> times;
        times.reserve(rows.size());
        for (const auto& row : rows) times.push_back(row.keyTime);
        return times;
    }
    static std::vector<int64_t> Range(int64_t first, int64_t count) {
        std::vector<int64_t> times;
        for (int64_t t = first; t < first + count; ++t) times.push_back(t);
        return times;
    }

    test::TempDir host_;
    test::TempDir drive_;
    test::InstalledFakeVolumes volumes_;
    std::unique_ptr<recorder::MediaRecorder> engine_;
};

TEST_F(BackPressureTest, ChannelsPushedWithBackPressureAndALongPreRecordRunToTheirEnd) {
    const std::vector<std::string> channels = {"cam1", "cam2", "cam3", "cam4"};
    std::string schedule = "1";
    std::vector<IRecorder*> recorders;
    for (const std::string& channel : channels) {
        SetPreRecord(channel);
        std::string id = channel;
        recorders.push_back(engine_->CreateRecorder(id, schedule, 0, false));
        ASSERT_NE(recorders.back(), nullptr);
        recorders.back()->SetUseFrameTime(true);
    }
    ASSERT_TRUE(engine_->SetSchedule(schedule, test::FullSchedule(), {}));
    for (IRecorder* recorder : recorders) ASSERT_TRUE(recorder->StartRecording());

    std::atomic<int> heldTooLong{0};
    std::vector<std::thread> pushers;
    pushers.reserve(recorders.size());
    for (IRecorder* recorder : recorders) {
        pushers.emplace_back([recorder, &heldTooLong] {
            for (int64_t t = kStart; t < kStart + kSeconds; ++t) {
                const auto held = std::chrono::steady_clock::now();
                for (uint32_t count = recorder->GetWriteBufferCount(); count > 1;
                     count = recorder->WaitWriteBufferCount(1, 100)) {
                    if (std::chrono::steady_clock::now() - held > kLongestHold) {
                        ++heldTooLong;
                        return;
                    }
                }
                test::PushSecond(*recorder, t, 1, 0, 4000);
            }
            recorder->StopRecording();
        });
    }
    for (std::thread& pusher : pushers) pusher.join();

    EXPECT_EQ(heldTooLong, 0);
    for (const std::string& channel : channels) {
        EXPECT_EQ(KeyTimes(channel, 1), Range(kStart, kSeconds)) << channel;
    }
}

TEST_F(BackPressureTest, AConversionWithALongPreRecordRunsToItsEnd) {
    std::vector<oldformat::test_second_s> seconds;
    for (int s = 0; s < kSeconds; ++s) {
        const uint32_t time = kStart + s;
        oldformat::test_second_s second{s / 60, s % 60, 0x10, {}};
        for (int v = 0; v < 5; ++v) {
            second.frames.push_back({false, 1, time, uint32_t(v * 200), 640, 480, 0,
                                     static_cast<uint16_t>(v == 0 ? 1 : 2),
                                     std::string(20000, static_cast<char>('a' + v))});
        }
        seconds.push_back(std::move(second));
    }
    const fs::path folder = drive_.Path() / "ZERoza" / "cam1" / "20240315";
    fs::create_directories(folder);
    oldformat::OldMediaWriter({seconds}, kStart).Save(folder / "0001_20240315100000.nmd");
    SetPreRecord("cam1");

    MediaRecorderEngine adapter(*engine_);
    ConversionWorker worker(adapter, [](const std::string&) {});
    conversion_plan_s plan;
    std::error_code error;
    plan.folders = ListDateFolders('D', drive_.Path(), error);
    conversion_result_s result;
    std::atomic<bool> done{false};
    std::thread run([&] {
        result = worker.Run(plan);
        done = true;
    });
    // A conversion held for good would never end; give it up after a while.
    const auto started = std::chrono::steady_clock::now();
    while (!done) {
        if (std::chrono::steady_clock::now() - started > kLongestHold) worker.Cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.join();

    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.videoFrames, static_cast<uint64_t>(5 * kSeconds));
    EXPECT_EQ(result.failedFiles + result.failedFolders + result.refusedFrames, 0u);
    EXPECT_EQ(KeyTimes("cam1", 1), Range(kStart, kSeconds));
}

}  // namespace
}  // namespace orvale::converter
