#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/HostFolder.h"
#include "platform/Time.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/database/QzDatabase.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/MetaDataFile.h"
#include "recorder/store/RecordFileInfo.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kGiB;

constexpr int64_t kStart = 1733824800;  // 2024-12-10 10:00:00 UTC
// Event types as a host passes them.
constexpr int32_t kVideoLossEvent = 1;
constexpr int32_t kMotionEvent = 4;
using test::FullSchedule;

// The exported engine on a host folder of its own, with fixed drives D, E
// and F on folders of the test.
class RecorderRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        for (const char letter : {'D', 'E', 'F'}) {
            fs::create_directories(Root(letter));
            volumes_->AddFixed(letter, Root(letter).string(), 500 * kGiB, 200 * kGiB);
        }
        engine_ = std::make_unique<MediaRecorder>();
        engine_->Initialize();
    }
    void TearDown() override {
        engine_->Finalize(false);
        engine_.reset();
        platform::SetHostFolder("");
    }

    fs::path Root(char letter) const { return drives_.Path() / std::string(1, letter); }

    media_channel_s Row(std::string id) {
        media_channel_s row;
        engine_->GetMediaChannel(id, row);
        return row;
    }

    IRecorder* Create(std::string id, std::string schedule = "1", int protocol = 0,
                      bool failover = false) {
        return engine_->CreateRecorder(id, schedule, protocol, failover);
    }

    // Files of the given extension anywhere under the drives.
    std::vector<fs::path> Find(const std::string& extension) const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(drives_.Path())) {
            if (entry.path().extension() == extension) found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    // A second of video, audio and one metadata frame on the normal profile.
    static void PushSecond(IRecorder& recorder, int64_t t, int32_t profile) {
        test::PushSecond(recorder, t, profile, 0, 3000);
        if (profile == 1) test::PushMeta(recorder, t);
    }

    test::TempDir host_;
    test::TempDir drives_;
    test::InstalledFakeVolumes volumes_;
    std::unique_ptr<MediaRecorder> engine_;
};

TEST_F(RecorderRegistryTest, ARecorderWritesBothProfilesAndMetadataThroughTheEngine) {
    std::string schedule = "1";
    IRecorder* recorder = Create("cam1");
    ASSERT_NE(recorder, nullptr);
    EXPECT_TRUE(engine_->SetSchedule(schedule, FullSchedule(), {}));
    recorder->SetUseFrameTime(true);
    ASSERT_TRUE(recorder->StartRecording());
    for (int64_t t = kStart; t < kStart + 30; ++t) {
        PushSecond(*recorder, t, 1);
        PushSecond(*recorder, t, 2);
    }
    recorder->StopRecording();

    const auto indexes = Find(".kvtidx");
    ASSERT_EQ(indexes.size(), 1u);
    IndexFile index(indexes.front(), FolderInUseContainer::Create());
    for (const int profile : {kProfileNormal, kProfileLow}) {
        std::vector<std::string> names;
        ASSERT_TRUE(index.ListDataFileNames(profile, names));
        ASSERT_EQ(names.size(), 1u);
        std::vector<index_row_s> rows;
        ASSERT_TRUE(index.ReadIndexRowsByName(profile, rows, names.front()));
        ASSERT_EQ(rows.size(), 30u) << profile;
        for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].keyTime, kStart + int64_t(i));
    }
    std::vector<dual_track_row_s> dual;
    ASSERT_TRUE(index.ReadDualTrackRows(dual));
    EXPECT_EQ(std::count_if(dual.begin(), dual.end(), [](auto& r) { return r.high && r.low; }), 30);
    const auto metas = Find(".kvtmtd");
    ASSERT_EQ(metas.size(), 1u);
    auto meta = MetaDataFile::Create(metas.front(), FolderInUseContainer::Create());
    MetaDataFrames rows;
    ASSERT_TRUE(meta->Read(kStart, kStart + 29, rows));
    EXPECT_EQ(rows.size(), 30u);

    // Releasing the drive the channel wrote to tells the host once.
    std::atomic<int> events{0};
    engine_->RegisterEventHandler([&](media_config_type_e) { ++events; });
    std::string drive = indexes.front().lexically_relative(drives_.Path()).begin()->string();
    ASSERT_TRUE(engine_->SetMediaDrive(drive, MEDIA_DRIVE_STATUS_RELEASE));
    for (int i = 0; i < 100 && events == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(events.load(), 1);
    EXPECT_EQ(Row("cam1").disk.find(drive), std::string::npos);
}

TEST_F(RecorderRegistryTest, CreatingFollowsTheCatalogueRowAndTheAllocatedDrives) {
    std::string e = "E";
    ASSERT_TRUE(engine_->SetMediaDrive(e, MEDIA_DRIVE_STATUS_RELEASE));
    test::LogCapture log;
    IRecorder* first = Create("cam1", "7", 3, true);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Create("cam1"), first);  // the same object, nothing written
    const media_channel_s row = Row("cam1");
    EXPECT_EQ(row.disk, "DF");
    EXPECT_EQ(row.scheduleId, "7");
    EXPECT_EQ(row.protocol, 3);
    EXPECT_TRUE(row.failoverStatus);
    std::string id = "cam1";
    EXPECT_EQ(engine_->GetRecorder(id), first);

    // A row outlives its recorder: the next creation reads it back.
    engine_->DeleteRecorder(id);
    EXPECT_EQ(engine_->GetRecorder(id), nullptr);
    IRecorder* again = Create("cam1", "9", 0, false);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->GetScheduleId(), "7");
    EXPECT_EQ(Row("cam1").protocol, 3);

    // Write offsets go round in tens: cam1 had 0, its second recorder 1.
    for (int i = 2; i <= 10; ++i) ASSERT_NE(Create("cam" + std::to_string(i)), nullptr);
    EXPECT_EQ(log.Count("], trackId = 1, recordTime = 0"), 2u);
    EXPECT_EQ(log.Count("CH=[cam10], trackId = 1, recordTime = 0"), 1u);
}

TEST_F(RecorderRegistryTest, DeletingAChannelKeepsOrRemovesItsRecordings) {
    IRecorder* recorder = Create("cam1");
    ASSERT_NE(recorder, nullptr);
    std::string schedule = "1";
    engine_->SetSchedule(schedule, FullSchedule(), {});
    recorder->SetUseFrameTime(true);
    recorder->StartRecording();
    for (int64_t t = kStart; t < kStart + 3; ++t) PushSecond(*recorder, t, 1);
    media_bookmark_s bookmark;
    bookmark.guid = "cam1";
    engine_->RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_INSERT);

    std::string id = "cam1";
    EXPECT_TRUE(engine_->DeleteChannel(id, false));
    EXPECT_EQ(engine_->GetRecorder(id), nullptr);
    media_channel_s row;
    EXPECT_FALSE(engine_->GetMediaChannel(id, row));
    std::map<long long, media_bookmark_s> bookmarks;
    engine_->GetBookmark(id, bookmarks);
    EXPECT_TRUE(bookmarks.empty());
    EXPECT_EQ(Find(".kvtidx").size(), 1u);  // the recording stays, written at the stop

    // Without a channel object the folders still go from every drive.
    for (const char letter : {'D', 'E'}) {
        fs::create_directories(Root(letter) / "KVTRecordData" / "cam1" / "2024");
    }
    EXPECT_TRUE(engine_->DeleteChannel(id, true));
    for (const char letter : {'D', 'E', 'F'}) {
        EXPECT_FALSE(fs::exists(Root(letter) / "KVTRecordData" / "cam1")) << letter;
    }
    std::string unknown = "nobody";
    EXPECT_TRUE(engine_->DeleteChannel(unknown, false));
}

TEST_F(RecorderRegistryTest, IdsThatWouldNameAnotherFolderAreRefused) {
    const std::string ids[] = {
        "", ".", "..", "a/b", "a\\b", std::string("a\0b", 3), std::string(256, 'x')};
    for (std::string id : ids) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Create(id), nullptr);
        EXPECT_FALSE(engine_->DeleteChannel(id, true));
        EXPECT_FALSE(engine_->SetRecordDrives(id, "D"));
    }
    EXPECT_TRUE(fs::exists(Root('D')));
    EXPECT_NE(Create(std::string(255, 'x')), nullptr);
}

TEST_F(RecorderRegistryTest, SchedulesReachOnlyTheirRecordersAndRetentionNeedsAChannel) {
    IRecorder* one = Create("cam1", "1");
    IRecorder* two = Create("cam2", "2");
    ASSERT_TRUE(one && two);
    std::string unused = "5";
    EXPECT_TRUE(engine_->SetSchedule(unused, FullSchedule(), {}));
    std::string id = "2";
    EXPECT_TRUE(engine_->ResetSchedule(id));
    EXPECT_EQ(two->GetScheduleId(), "0");
    EXPECT_EQ(Row("cam2").scheduleId, "0");
    EXPECT_EQ(one->GetScheduleId(), "1");

    std::string nobody = "nobody";
    EXPECT_EQ(engine_->GetExpectedRetention(nobody), 0u);
    // Three drives of 500 GiB, 2 GiB of each kept free; the two idle
    // recorders on each drive count 86 bytes a second each.
    std::string cam1 = "cam1";
    const uint64_t perDrive = (500 * kGiB - (2ULL << 30)) / (2ULL * 86);
    EXPECT_EQ(engine_->GetExpectedRetention(cam1), 3 * perDrive / 3600 - 1);
}

TEST_F(RecorderRegistryTest, AnArbRecorderFillsTheGapAndFinalizeMergesIt) {
    std::string id = "cam1";
    test::LogCapture log;
    EXPECT_EQ(engine_->CreateArbRecorder(id), nullptr);
    EXPECT_EQ(log.Count("CH[cam1] Not found channel object."), 1u);

    IRecorder* recorder = Create(id);
    ASSERT_NE(recorder, nullptr);
    std::string schedule = "1";
    engine_->SetSchedule(schedule, FullSchedule(), {});
    recorder->SetUseFrameTime(true);
    recorder->StartRecording();
    for (int64_t t = kStart; t < kStart + 30; ++t) {
        if (t < kStart + 10 || t >= kStart + 20) test::PushSecond(*recorder, t, 1);
    }
    recorder->StopRecording();

    IArbRecorder* arb = engine_->CreateArbRecorder(id);
    ASSERT_NE(arb, nullptr);
    EXPECT_EQ(engine_->CreateArbRecorder(id), arb);
    EXPECT_EQ(engine_->GetArbRecorder(id), arb);
    ASSERT_TRUE(arb->Start(engine_->GetTrackId()));
    test::PushArbSeconds(*arb, kStart, kStart + 29);
    engine_->Finalize(false);  // stops the ARB recorder: its index is merged

    EXPECT_TRUE(Find(".kvtarb").empty());
    const auto indexes = Find(".kvtidx");
    ASSERT_EQ(indexes.size(), 1u);
    IndexFile index(indexes.front(), FolderInUseContainer::Create());
    std::vector<index_row_s> rows;
    ASSERT_TRUE(index.ReadAllIndexRows(rows));
    std::vector<int64_t> keyTimes;
    for (const auto& row : rows) {
        if (row.keyTime != 0) keyTimes.push_back(row.keyTime);
    }
    std::sort(keyTimes.begin(), keyTimes.end());
    std::vector<int64_t> all;
    for (int64_t t = kStart; t < kStart + 30; ++t) all.push_back(t);
    EXPECT_EQ(keyTimes, all);

    engine_->Initialize();
    EXPECT_TRUE(engine_->DeleteChannel(id, false));
    EXPECT_EQ(engine_->GetArbRecorder(id), nullptr);
}

// Until the first frame after a video-loss restart there is no recording
// second: an event is judged by the current time, so a motion event is not
// refused because 1 January 1970 lies outside the schedule.
TEST_F(RecorderRegistryTest, AnEventRightAfterAVideoLossRestartIsJudgedByTheCurrentTime) {
    const auto minuteOf = [](const std::tm& t) {
        return t.tm_wday * 1440 + t.tm_hour * 60 + t.tm_min;
    };
    const int epoch = minuteOf(platform::LocalTime(0));
    ASSERT_NE(minuteOf(platform::LocalTime(kStart)), epoch);
    if (minuteOf(platform::LocalTime(std::time(nullptr))) == epoch) {
        GTEST_SKIP() << "the clock stands in the weekday and minute of 1970-01-01 00:00";
    }
    // Motion only, every minute of the week but that of the epoch.
    media_schedule_s schedule{};
    for (int row = 0; row < 7; ++row) {
        for (int minute = 0; minute < 1440; ++minute) {
            if (row * 1440 + minute != epoch) schedule.table[row * 8640 + minute * 6] = 1;
        }
    }
    IRecorder* recorder = Create("cam1");
    ASSERT_NE(recorder, nullptr);
    std::string id = "1";
    engine_->SetSchedule(id, schedule, {});
    recorder->SetUseFrameTime(true);
    ASSERT_TRUE(recorder->StartRecording());
    EXPECT_EQ(recorder->NotifyEvent(kVideoLossEvent, 0, false), 0);
    ASSERT_TRUE(recorder->IsRecording());
    test::LogCapture log;
    EXPECT_EQ(recorder->NotifyEvent(kMotionEvent, 0, false), 0);
    for (int64_t t = kStart; t < kStart + 10; ++t) test::PushSecond(*recorder, t);
    recorder->StopRecording();

    EXPECT_EQ(log.Count("Dosen't be in a recording time"), 0u);
    const auto indexes = Find(".kvtidx");
    ASSERT_EQ(indexes.size(), 1u);  // the motion seconds were recorded
    IndexFile index(indexes.front(), FolderInUseContainer::Create());
    std::vector<index_row_s> rows;
    ASSERT_TRUE(index.ReadAllIndexRows(rows));
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](auto& r) { return r.keyTime != 0; }), 10);
}

// Frame times that no hour folder or hour file name can express are refused
// as invalid frames with an error line, and nothing is made of them.
TEST_F(RecorderRegistryTest, FrameTimesBeyondTheNameableYearsAreRefused) {
    IRecorder* recorder = Create("cam1");
    ASSERT_NE(recorder, nullptr);
    std::string id = "1";
    engine_->SetSchedule(id, FullSchedule(), {});
    recorder->SetUseFrameTime(true);
    ASSERT_TRUE(recorder->StartRecording());
    test::LogCapture log;
    struct Case {
        const char* name;
        uint64_t time;
        bool accepted;
    };
    const Case cases[] = {
        {"largest signed time", 0x7FFFFFFFFFFFFFFFULL, false},
        {"a negative time", 0xFFFFFFFFFFFFFF00ULL, false},
        {"year 10000", 253402300800ULL, false},
        {"last second of year 9999", 253402300799ULL, true},
        {"a second of 2024", static_cast<uint64_t>(kStart), true},
    };
    std::vector<uint8_t> data(1000, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = log.Count("Invalid Arguments frameTime");
        video_frame_header_s video;
        video.profile = 1;
        video.codec = 0x1B;
        video.frameType = 1;
        video.time = c.time;
        EXPECT_EQ(recorder->PushVideoFrame(video, data.data(), 1000, 0), c.accepted);
        meta_frame_header_s meta;
        meta.profile = 1;
        meta.time = static_cast<int64_t>(c.time);
        const std::string xml = test::kMetaXml;
        if (meta.time > 0) {
            EXPECT_EQ(recorder->PushMetaFrame(meta, xml.data(), static_cast<uint32_t>(xml.size())),
                      c.accepted);
        }
        EXPECT_EQ(log.Count("Invalid Arguments frameTime"),
                  before + (c.accepted ? 0 : (meta.time > 0 ? 2 : 1)));
    }
    recorder->StopRecording();
    std::vector<std::string> years;
    for (const auto& entry : fs::directory_iterator(Root('D') / "KVTRecordData" / "cam1")) {
        years.push_back(entry.path().filename().string());
    }
    std::sort(years.begin(), years.end());
    EXPECT_EQ(years, (std::vector<std::string>{"2024", "9999"}));
}

}  // namespace
}  // namespace orvale::recorder
