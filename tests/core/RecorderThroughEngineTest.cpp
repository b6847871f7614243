// A recorder of the exported engine as a host drives it: its metadata is
// stored beside its video whenever the track changes, and metadata input
// never holds the caller while the hour's metadata database is held by
// another connection.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>
#include <boost/log/core.hpp>

#include "tests/recording/RecorderFrames.h"
#include "tests/support/EngineOnFakeDrives.h"
#include "tests/support/HourDatabase.h"

namespace orvale::test {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kStart = 1733824800;  // 2024-12-10 10:00:00 UTC

// Video frames [from, to) of the 25 of second `t` (the first a key frame).
void PushFrames(recorder::IRecorder& recorder, int64_t t, int from, int to) {
    std::vector<uint8_t> data(1500, static_cast<uint8_t>(t));
    for (int i = from; i < to; ++i) {
        recorder::video_frame_header_s video;
        video.codec = 0x1B;
        video.frameType = i == 0 ? 1 : 2;
        video.time = static_cast<uint64_t>(t);
        video.timeMs = static_cast<uint32_t>(t * 1000 + int64_t{i} * 40);
        ASSERT_TRUE(recorder.PushVideoFrame(video, data.data(), 1500, 0));
    }
}

std::vector<int64_t> Column(const fs::path& database, const std::string& sql) {
    std::vector<int64_t> values;
    if (!fs::exists(database)) return values;
    SQLite::Database db = HourDatabase(database.string());
    SQLite::Statement query(db, sql);
    while (query.executeStep()) values.push_back(query.getColumn(0).getInt64());
    return values;
}

std::vector<int64_t> Range(int64_t from, int64_t to) {
    std::vector<int64_t> times;
    for (int64_t t = from; t <= to; ++t) times.push_back(t);
    return times;
}

class RecorderThroughEngineTest : public EngineOnFakeDrives {
  protected:
    void SetUp() override {
        // Made before any engine thread logs (see the playback fixture).
        boost::log::core::get();
        EngineOnFakeDrives::SetUp();
        std::string channel = "cam1";
        std::string schedule = "1";
        recorder_ = engine_->CreateRecorder(channel, schedule, 0, false);
        ASSERT_NE(recorder_, nullptr);
        engine_->SetSchedule(schedule, FullSchedule(), {});
        recorder_->SetUseFrameTime(true);
    }

    fs::path Track(int track) const {
        char name[8];
        std::snprintf(name, sizeof name, "%04d", track);
        return DriveRoot('D') / "KVTRecordData" / "cam1" / "2024" / "12" / "10" / "10" / name;
    }
    std::vector<int64_t> VideoSeconds(int track) const {
        return Column(Track(track) / "20241210100000.kvtidx",
                      "SELECT UTC FROM T_INDEX ORDER BY UTC");
    }
    std::vector<int64_t> MetaSeconds(int track) const {
        return Column(Track(track) / "20241210100000.kvtmtd",
                      "SELECT UTC FROM T_METADATA ORDER BY UTC");
    }

    recorder::IRecorder* recorder_ = nullptr;
};

// A change made while stopped takes effect at the start; one made while
// running at the next key frame, so the rest of that second's video, and
// its metadata pushed after the change, stay on the old track.
TEST_F(RecorderThroughEngineTest, MetadataGoesToTheTrackOfItsSecondsVideo) {
    for (const bool whileStopped : {true, false}) {
        SCOPED_TRACE(whileStopped ? "changed while stopped" : "changed while running");
        fs::remove_all(DriveRoot('D') / "KVTRecordData" / "cam1");
        engine_->ChangeTrackId(1);
        ASSERT_TRUE(recorder_->StartRecording());
        for (int64_t t = kStart; t < kStart + 10; ++t) {
            PushFrames(*recorder_, t, 0, 25);
            PushMeta(*recorder_, t);
        }
        const int64_t change = kStart + 10;
        if (whileStopped) {
            recorder_->StopRecording();
            engine_->ChangeTrackId(2);
            ASSERT_TRUE(recorder_->StartRecording());
            PushFrames(*recorder_, change, 0, 25);
            PushMeta(*recorder_, change);
        } else {
            PushFrames(*recorder_, change, 0, 10);
            engine_->ChangeTrackId(2);
            PushMeta(*recorder_, change);
            PushFrames(*recorder_, change, 10, 25);
        }
        for (int64_t t = change + 1; t < kStart + 30; ++t) {
            PushFrames(*recorder_, t, 0, 25);
            PushMeta(*recorder_, t);
        }
        recorder_->StopRecording();

        const int64_t firstOnTwo = whileStopped ? change : change + 1;
        EXPECT_EQ(VideoSeconds(1), Range(kStart, firstOnTwo - 1));
        EXPECT_EQ(MetaSeconds(1), Range(kStart, firstOnTwo - 1));
        EXPECT_EQ(VideoSeconds(2), Range(firstOnTwo, kStart + 29));
        EXPECT_EQ(MetaSeconds(2), Range(firstOnTwo, kStart + 29));
    }
}

// While another connection holds the hour's metadata database, its seconds
// pile up in the recorder; the caller is never held (a full queue drops
// the new second instead).
TEST_F(RecorderThroughEngineTest, AStalledMetadataDatabaseNeverHoldsAPush) {
    constexpr auto kBound = std::chrono::milliseconds(100);  // generous: a push takes microseconds
    ASSERT_TRUE(recorder_->StartRecording());
    int64_t t = kStart;
    for (; t < kStart + 3; ++t) {
        PushFrames(*recorder_, t, 0, 25);
        for (int i = 0; i < 3; ++i) PushMeta(*recorder_, t);
    }
    const fs::path meta = Track(1) / "20241210100000.kvtmtd";
    for (int i = 0; i < 500 && MetaSeconds(1).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(MetaSeconds(1).empty()) << "the first seconds were not stored";

    SQLite::Database holder = HourDatabase(meta.string(), SQLite::OPEN_READWRITE);
    holder.exec("BEGIN EXCLUSIVE");
    auto longest = std::chrono::steady_clock::duration::zero();
    // Well past the queue's 40 seconds; stops at the first push held too long.
    for (; t < kStart + 100 && longest < kBound; ++t) {
        for (int i = 0; i < 3; ++i) {
            const auto begin = std::chrono::steady_clock::now();
            EXPECT_TRUE(PushMeta(*recorder_, t));
            longest = std::max(longest, std::chrono::steady_clock::now() - begin);
        }
    }
    holder.exec("ROLLBACK");
    recorder_->StopRecording();
    EXPECT_LT(longest, kBound)
        << "a push was held "
        << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms";
}

}  // namespace
}  // namespace orvale::test
