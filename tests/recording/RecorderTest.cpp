#include "recorder/recording/Recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <SQLiteCpp/Database.h>

#include "tests/recording/RecorderFrames.h"
#include "tests/storage/ChannelFixture.h"
#include "tests/support/HourDatabase.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kDay1;

using test::FullSchedule;
using test::kMetaXml;

constexpr int64_t kStart = kDay1 + 10 * test::kHour;  // 10:00:00 UTC

// A recorder of channel "cam1" over drive D, with clocks the test moves.
class RecorderTest : public test::ChannelFixture {
  protected:
    void SetUp() override {
        ChannelFixture::SetUp();
        drive_ = AddDrive('D', 50 * test::kGiB);
        channel_ = MakeChannel();
        channel_->AddDrives({drive_});
        recorder_ = Make(channel_, 0);
    }

    std::shared_ptr<Recorder> Make(std::shared_ptr<Channel> channel, uint32_t recordTime,
                                   common::AsioThreadPool* pool = nullptr) {
        Recorder::Clocks clocks{[this] { return wall_.load(); }, [this] { return steady_.load(); }};
        auto recorder = std::make_shared<Recorder>(1, std::move(channel), media_encrypt_s{}, "1",
                                                   400LL << 20, pool != nullptr ? pool : &pool_,
                                                   nullptr, recordTime, clocks);
        // The callback may run after the test ends: it owns what it writes.
        recorder->SetEventCallback([seen = seen_](const std::string&, int32_t code, int64_t) {
            std::lock_guard lock(seen->mutex);
            seen->codes.push_back(code);
        });
        std::string id = "1";
        recorder->SetSchedule(id, FullSchedule(), {});
        recorder->SetUseFrameTime(true);
        return recorder;
    }

    void PushSecond(int64_t t, int32_t profile = 1, uint32_t eventFlags = 0) {
        test::PushSecond(*recorder_, t, profile, eventFlags);
    }
    void PushMeta(int64_t t, int32_t profile = 1, const std::string& xml = kMetaXml) {
        test::PushMeta(*recorder_, t, profile, xml);
    }

    std::shared_ptr<IndexFile> Index(int64_t t, int track = 1) {
        auto index = std::make_shared<IndexFile>(
            drive_->GetTrackPath("cam1", t, track) / IndexFile::MakeFileName(t), folders_);
        return index;
    }
    // Key times of the index rows of one profile in the hour of `t`.
    std::vector<int64_t> KeyTimes(int64_t t, int profile, int track = 1) {
        auto index = Index(t, track);
        std::vector<std::string> names;
        index->ListDataFileNames(profile, names);
        std::vector<int64_t> times;
        for (const auto& name : names) {
            std::vector<index_row_s> rows;
            index->ReadIndexRowsByName(profile, rows, name);
            for (const auto& row : rows) times.push_back(row.keyTime);
        }
        return times;
    }
    static std::vector<int64_t> Range(int64_t from, int64_t to) {
        std::vector<int64_t> times;
        for (int64_t t = from; t <= to; ++t) times.push_back(t);
        return times;
    }

    std::vector<int32_t> Statuses() {
        std::lock_guard lock(seen_->mutex);
        return seen_->codes;
    }
    // Waits until the callback has seen `count` codes (or a few seconds).
    std::vector<int32_t> WaitForStatuses(size_t count) {
        for (int i = 0; i < 500 && Statuses().size() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return Statuses();
    }

    std::shared_ptr<Drive> drive_;
    std::shared_ptr<Channel> channel_;
    std::shared_ptr<Recorder> recorder_;
    std::atomic<int64_t> wall_{kStart};
    std::atomic<int64_t> steady_{1'000'000'000};
    struct Seen {
        std::mutex mutex;
        std::vector<int32_t> codes;
    };
    std::shared_ptr<Seen> seen_ = std::make_shared<Seen>();
};

TEST_F(RecorderTest, RefusesInvalidFramesWithOneLineEach) {
    ASSERT_TRUE(recorder_->StartRecording());
    std::vector<uint8_t> data(Recorder::kMaxFrameSize + 1, 1);
    struct Case {
        const char* name;
        bool audio;
        uint32_t size;
        int32_t codec;
        bool nullData;
        bool accepted;
    };
    const Case cases[] = {
        {"largest video", false, 2'465'792, 0x1B, false, true},
        {"empty video", false, 0, 0x1B, false, false},
        {"oversized video", false, 2'465'793, 0x1B, false, false},
        {"video without data", false, 100, 0x1B, true, false},
        {"video codec 0xFFFF", false, 100, 0xFFFF, false, true},
        {"video with an audio codec", false, 100, 0x10000, false, false},
        {"audio codec 0xFFFF", true, 100, 0xFFFF, false, false},
        {"audio codec 0x10000", true, 100, 0x10000, false, true},
        {"oversized audio", true, 2'465'793, 0x10000, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = log_.Count("Invalid Arguments");
        const void* bytes = c.nullData ? nullptr : data.data();
        bool result = false;
        if (c.audio) {
            audio_frame_header_s header;
            header.codec = c.codec;
            result = recorder_->PushAudioFrame(header, bytes, c.size);
        } else {
            video_frame_header_s header;
            header.codec = c.codec;
            header.frameType = 1;
            header.time = kStart;
            result = recorder_->PushVideoFrame(header, bytes, c.size, 0);
        }
        EXPECT_EQ(result, c.accepted);
        EXPECT_EQ(log_.Count("Invalid Arguments"), before + (c.accepted ? 0 : 1));
    }
    recorder_->StopRecording();
}

TEST_F(RecorderTest, AStoppedRecorderTakesNoFramesOrEvents) {
    std::vector<uint8_t> data(10, 1);
    video_frame_header_s video;
    video.time = kStart;
    EXPECT_FALSE(recorder_->PushVideoFrame(video, data.data(), 10, 0));
    EXPECT_FALSE(recorder_->PushMetaFrame(meta_frame_header_s{1, kStart, 0}, data.data(), 10));
    EXPECT_EQ(recorder_->NotifyEvent(2, 0, false), Recorder::kRefused);
    EXPECT_EQ(recorder_->NotifyEventEnd(2, 0), Recorder::kRefused);

    recorder_->StartRecording();
    recorder_->StartRecording();
    EXPECT_EQ(log_.Count("]Already Started Recording "), 1u);
    recorder_->StopRecording();
    recorder_->StopRecording();
    EXPECT_EQ(log_.Count("]Already Stoped Recording "), 1u);
}

TEST_F(RecorderTest, RecordsBothProfilesAudioAndMetadataIntoTheHour) {
    ASSERT_TRUE(recorder_->StartRecording());
    const int64_t last = kStart + 29;
    for (int64_t t = kStart; t <= last; ++t) {
        PushSecond(t, 1, t >= kStart + 10 && t < kStart + 15 ? 0x1 : 0);
        PushSecond(t, 2);
        for (int i = 0; i < 3; ++i) PushMeta(t);
    }
    recorder_->StopRecording();

    EXPECT_EQ(KeyTimes(kStart, kProfileNormal), Range(kStart, last));
    EXPECT_EQ(KeyTimes(kStart, kProfileLow), Range(kStart, last));
    std::vector<dual_track_row_s> dual;
    ASSERT_TRUE(Index(kStart)->ReadDualTrackRows(dual));
    std::vector<int64_t> both;
    for (const auto& row : dual) {
        if (row.high && row.low) both.push_back(row.time);
    }
    EXPECT_EQ(both, Range(kStart, last));

    std::vector<timeline_flags_s> timeline;
    ASSERT_TRUE(Index(kStart)->ReadTimeline(kStart, last, {~0u, ~0u, ~0u}, timeline));
    ASSERT_FALSE(timeline.empty());
    EXPECT_EQ(timeline.front().time, kStart);
    EXPECT_NE(timeline.front().eventBits & RECORD_CONTINUOUS, 0u);

    auto meta = MetaDataFile::Create(
        drive_->GetTrackPath("cam1", kStart, 1) / MetaDataFile::MakeFileName(kStart), folders_);
    MetaDataFrames rows;
    ASSERT_TRUE(meta->Read(kStart, last, rows));
    EXPECT_EQ(rows.size(), 90u);  // three a second, the last second included
    for (const auto& row : rows) EXPECT_FALSE(row->extension.empty());
}

TEST_F(RecorderTest, ATrackChangeTakesEffectAtTheNextKeyFrameAndHoursSplitFiles) {
    const int64_t start = kStart + test::kHour - 10;  // 10:59:50
    ASSERT_TRUE(recorder_->StartRecording());
    for (int64_t t = start; t < start + 20; ++t) {
        if (t == start + 5) recorder_->ChangeTrackId(2);
        PushSecond(t);
    }
    recorder_->StopRecording();

    EXPECT_EQ(KeyTimes(start, kProfileNormal, 1), Range(start, start + 4));
    EXPECT_EQ(KeyTimes(start, kProfileNormal, 2), Range(start + 5, start + 9));
    EXPECT_EQ(KeyTimes(start + 10, kProfileNormal, 2), Range(start + 10, start + 19));
}

TEST_F(RecorderTest, MetadataKeepsTheFirstFramesOfASecondAndRefusesTimeZero) {
    ASSERT_TRUE(recorder_->StartRecording());
    const std::string xml = kMetaXml;
    meta_frame_header_s zero{1, 0, 0};
    EXPECT_FALSE(recorder_->PushMetaFrame(zero, xml.data(), static_cast<uint32_t>(xml.size())));
    meta_frame_header_s low{2, kStart, 0};
    EXPECT_TRUE(recorder_->PushMetaFrame(low, xml.data(), static_cast<uint32_t>(xml.size())));
    PushSecond(kStart);
    for (int i = 0; i < 4; ++i) PushMeta(kStart);
    PushMeta(kStart + 1, 1, "not a document");  // no record: not stored
    PushMeta(kStart + 2);
    PushSecond(kStart + 1);
    recorder_->StopRecording();

    auto meta = MetaDataFile::Create(
        drive_->GetTrackPath("cam1", kStart, 1) / MetaDataFile::MakeFileName(kStart), folders_);
    MetaDataFrames rows;
    ASSERT_TRUE(meta->Read(kStart - 10, kStart + 10, rows));
    std::vector<int64_t> times;
    for (const auto& row : rows) times.push_back(row->utc);
    EXPECT_EQ(times, (std::vector<int64_t>{kStart, kStart, kStart, kStart + 2}));
}

TEST_F(RecorderTest, AVanishedFolderReportsOnceAndRecordingResumes) {
    ASSERT_TRUE(recorder_->StartRecording());
    int64_t t = kStart;
    // Until the first write reports back, five new seconds trigger a write.
    for (; t < kStart + 7; ++t) PushSecond(t);
    ASSERT_EQ(WaitForStatuses(1), std::vector<int32_t>{RECORDER_STATUS_RECORDING});
    // "Recording" is heard at the hand-over; the folder goes only after the
    // write is done, or that write would fail instead.
    for (int i = 0; i < 500 && recorder_->GetWriteBufferCount() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    fs::remove_all(drive_->GetChannelPath("cam1"));
    wall_ = kStart + 10;  // the next paced write is due, once
    for (; t < kStart + 10; ++t) PushSecond(t);
    // The write that found the folder gone goes to the next writer, which
    // makes it again: no second is lost, and recording never paused.
    EXPECT_EQ(WaitForStatuses(2),
              (std::vector<int32_t>{RECORDER_STATUS_RECORDING, RECORDER_STATUS_FOLDER_MISSING}));
    wall_ = kStart + 20;
    PushSecond(t++);
    recorder_->StopRecording();
    EXPECT_EQ(WaitForStatuses(3),
              (std::vector<int32_t>{RECORDER_STATUS_RECORDING, RECORDER_STATUS_FOLDER_MISSING,
                                    RECORDER_STATUS_NOT_RECORDING}));
    const std::vector<int64_t> kept = KeyTimes(kStart + 10, kProfileNormal);
    ASSERT_FALSE(kept.empty());
    EXPECT_LE(kept.front(), kStart + 7);
    EXPECT_EQ(kept, Range(kept.front(), t - 1));
}

TEST_F(RecorderTest, WithoutWritableDrivesTheCallerHearsOnceAndNothingIsHalfWritten) {
    auto bare = MakeChannel();
    recorder_ = Make(bare, 3);
    ASSERT_TRUE(recorder_->StartRecording());
    EXPECT_EQ(recorder_->NotifyEvent(RECORD_MANUAL, 0, false), Recorder::kRefused);
    for (int64_t t = kStart; t < kStart + 20; ++t) PushSecond(t);
    recorder_->StopRecording();
    const auto statuses = WaitForStatuses(1);
    EXPECT_EQ(statuses, std::vector<int32_t>{RECORDER_STATUS_NO_WRITABLE_DRIVE});
}

TEST_F(RecorderTest, AFullDriveIsReportedOnceAndRefusesManualRecording) {
    volumes_->SetAvailable('D', 0);
    ASSERT_TRUE(recorder_->StartRecording());
    for (int64_t t = kStart; t < kStart + 7; ++t) PushSecond(t);
    EXPECT_EQ(WaitForStatuses(2),
              (std::vector<int32_t>{RECORDER_STATUS_NO_SPACE, RECORDER_STATUS_NO_FILE}));
    EXPECT_EQ(recorder_->NotifyEvent(RECORD_MANUAL, 0, false), Recorder::kNoSpace);
    recorder_->StopRecording();
}

// A data file that cannot be made on a drive with room is never no space:
// the drive is left to rest, and with no other drive none is writable.
TEST_F(RecorderTest, AFileThatCannotBeMadeOnADriveWithRoomIsNotNoSpace) {
    fs::create_directories(drive_->GetTrackPath("cam1", kStart, 1) /
                           FileWriter::MakeDataFileName(kStart, kProfileNormal));
    ASSERT_TRUE(recorder_->StartRecording());
    for (int64_t t = kStart; t < kStart + 7; ++t) PushSecond(t);
    recorder_->StopRecording();
    const std::vector<int32_t> heard = Statuses();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), RECORDER_STATUS_NO_WRITABLE_DRIVE), 1)
        << ::testing::PrintToString(heard);
    EXPECT_EQ(std::count(heard.begin(), heard.end(), RECORDER_STATUS_NO_SPACE), 0)
        << ::testing::PrintToString(heard);
}

TEST_F(RecorderTest, SwitchingTheLowProfileOffEndsItsRecording) {
    ASSERT_TRUE(recorder_->StartRecording());
    for (int64_t t = kStart; t < kStart + 10; ++t) {
        PushSecond(t);
        PushSecond(t, 2);
    }
    // The early write of the first seconds reaches the low profile's index.
    for (int i = 0; i < 500 && KeyTimes(kStart, kProfileLow).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    recorder_->SetUseLowProfile(false);
    EXPECT_FALSE(recorder_->UseLowProfile());
    for (int64_t t = kStart + 10; t < kStart + 20; ++t) {
        PushSecond(t);
        PushSecond(t, 2);  // taken and dropped
    }
    recorder_->StopRecording();
    EXPECT_EQ(KeyTimes(kStart, kProfileNormal), Range(kStart, kStart + 19));
    const std::vector<int64_t> low = KeyTimes(kStart, kProfileLow);
    ASSERT_FALSE(low.empty());
    EXPECT_LT(low.back(), kStart + 10);
}

TEST_F(RecorderTest, AManualEventEndsOnlyThirtySecondsAfterItsStart) {
    ASSERT_TRUE(recorder_->StartRecording());
    EXPECT_EQ(recorder_->NotifyEvent(RECORD_MANUAL, 0, false), 0);
    steady_ += 10'000'000'000;
    EXPECT_EQ(recorder_->NotifyEventEnd(RECORD_MANUAL, 0), Recorder::kRefused);
    steady_ += 20'000'000'000;
    EXPECT_EQ(recorder_->NotifyEventEnd(RECORD_MANUAL, 0), 0);
    recorder_->StopRecording();
}

// Finished seconds count as whole buffers (fifteen seconds at the rate)
// whether a writing job has taken them or not, so a pusher faster than the
// disk is held; once it stops pushing, the writes under way let it go.
TEST_F(RecorderTest, FinishedSecondsCountUntilTakenAndACallerThatStoppedIsLetGo) {
    ASSERT_TRUE(recorder_->StartRecording());
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    for (int i = 0; i < 2; ++i) pool_.Post([released] { released.wait(); });
    for (int64_t t = kStart; t < kStart + 32; ++t) PushSecond(t);
    // 31 finished seconds of equal size, no job run yet: two whole units.
    EXPECT_EQ(recorder_->GetWriteBufferCount(), 2u);
    EXPECT_EQ(recorder_->WaitWriteBufferCount(1, 50), 2u);  // nothing moves meanwhile
    release.set_value();
    EXPECT_LE(recorder_->WaitWriteBufferCount(1, 10'000), 1u);
    recorder_->StopRecording();
    EXPECT_EQ(KeyTimes(kStart, kProfileNormal), Range(kStart, kStart + 31));
}

// Seconds kept back for pre-record never count: a keep longer than what a
// caller may hold never holds it.
TEST_F(RecorderTest, SecondsKeptForPreRecordNeverCount) {
    event_duration_s durations;
    durations.slots[kSlotMotion].preRecTime = 120;
    recorder_->SetEventRecordDuration(durations);
    ASSERT_TRUE(recorder_->StartRecording());
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    for (int i = 0; i < 2; ++i) pool_.Post([released] { released.wait(); });
    int64_t t = kStart;
    for (; t < kStart + 130; ++t) PushSecond(t);
    EXPECT_EQ(recorder_->GetWriteBufferCount(), 0u);  // 129 finished, 120 kept
    for (; t < kStart + 152; ++t) PushSecond(t);
    EXPECT_EQ(recorder_->GetWriteBufferCount(), 2u);  // 151 finished, 120 kept
    release.set_value();
    EXPECT_LE(recorder_->WaitWriteBufferCount(1, 10'000), 1u);
    recorder_->StopRecording();
    EXPECT_EQ(KeyTimes(kStart, kProfileNormal), Range(kStart, t - 1));
}

// A caller pushing as fast as it may, with the converter's back-pressure,
// while the pool is also busy elsewhere: it always runs to its end.
TEST_F(RecorderTest, ACallerHeldByTheCountAlwaysRunsToItsEnd) {
    event_duration_s durations;
    durations.slots[kSlotAlarm].preRecTime = 20;
    recorder_->SetEventRecordDuration(durations);
    ASSERT_TRUE(recorder_->StartRecording());
    const int64_t end = kStart + 300;
    for (int64_t t = kStart; t < end; ++t) {
        const auto held = std::chrono::steady_clock::now();
        for (uint32_t count = recorder_->GetWriteBufferCount(); count > 1;
             count = recorder_->WaitWriteBufferCount(1, 100)) {
            ASSERT_LT(std::chrono::steady_clock::now() - held, std::chrono::seconds(10))
                << "held at second " << t - kStart;
        }
        PushSecond(t);
    }
    recorder_->StopRecording();
    EXPECT_EQ(KeyTimes(kStart, kProfileNormal), Range(kStart, end - 1));
}

TEST_F(RecorderTest, VideoLossRestartsTheRecordingAndIsReportedOnce) {
    ASSERT_TRUE(recorder_->StartRecording());
    for (int64_t t = kStart; t < kStart + 7; ++t) PushSecond(t);
    ASSERT_EQ(WaitForStatuses(1), std::vector<int32_t>{RECORDER_STATUS_RECORDING});
    EXPECT_EQ(recorder_->NotifyEvent(RECORD_VIDEOLOSS, 0, false), 0);
    EXPECT_EQ(log_.Count("CH[cam1] VIDEO LOSS"), 1u);
    EXPECT_TRUE(recorder_->IsRecording());
    // Whether the stop's idle codes run before the restart clears the status
    // state is up to the threads; the loss itself is heard once.
    const std::vector<int32_t> heard = WaitForStatuses(2);
    ASSERT_GE(heard.size(), 2u);
    EXPECT_EQ(heard[1], RECORDER_STATUS_VIDEO_LOSS);
    recorder_->StopRecording();
    const std::vector<int32_t> all = Statuses();
    EXPECT_EQ(std::count(all.begin(), all.end(), RECORDER_STATUS_VIDEO_LOSS), 1);
    // Everything pushed before the loss was written when it restarted.
    EXPECT_EQ(KeyTimes(kStart, kProfileNormal), Range(kStart, kStart + 6));
}

TEST_F(RecorderTest, TheStatusLineCountsFramesSinceTheLastOne) {
    ASSERT_TRUE(recorder_->StartRecording());
    PushSecond(kStart);
    PushSecond(kStart, 2);
    PushMeta(kStart);
    recorder_->LogRecordStatus();
    recorder_->LogRecordStatus();
    EXPECT_EQ(log_.Count("CH[cam1],Record Frame Status: Normal(V = 25, A = 5, M = 1), "
                         "Low(V = 25, A = 0)Buffer Status: Normal(F ="),
              1u);
    EXPECT_EQ(log_.Count("CH[cam1],Record Frame Status: Normal(V = 0, A = 0, M = 0), "
                         "Low(V = 0, A = 0)Buffer Status: Normal(F ="),
              1u);
    recorder_->StopRecording();
}

TEST_F(RecorderTest, ThePreRecordKeepOnlyGrowsAndHasACeiling) {
    event_duration_s durations;
    durations.slots[kSlotAlarm].preRecTime = 30;
    recorder_->SetEventRecordDuration(durations);
    durations.slots[kSlotAlarm].preRecTime = 5;
    recorder_->SetEventRecordDuration(durations);
    EXPECT_EQ(recorder_->MaxPreRecordSeconds(), 30u);
    durations.slots[kSlotMotion].preRecTime = 100'000;
    recorder_->SetEventRecordDuration(durations);
    EXPECT_EQ(recorder_->MaxPreRecordSeconds(), Recorder::kPreRecordCeiling);
}

TEST_F(RecorderTest, ReleasingTheDriveClosesItsWriters) {
    ASSERT_TRUE(recorder_->StartRecording());
    for (int64_t t = kStart; t < kStart + 7; ++t) PushSecond(t);
    ASSERT_EQ(WaitForStatuses(1), std::vector<int32_t>{RECORDER_STATUS_RECORDING});
    EXPECT_EQ(recorder_->GetCurrentDrive(), "D");
    recorder_->ReleaseDrive("E");
    EXPECT_EQ(recorder_->GetCurrentDrive(), "D");
    recorder_->ReleaseDrive("D");
    EXPECT_EQ(recorder_->GetCurrentDrive(), "");
    EXPECT_EQ(log_.Count("],  Release Drive = D"), 1u);
    recorder_->StopRecording();
}

// Metadata seconds that cannot be stored are a failed write to the caller,
// whether no metadata file can be had or the insert fails.
TEST_F(RecorderTest, AMetadataSecondThatIsNotStoredIsAFailedWrite) {
    const fs::path meta =
        drive_->GetTrackPath("cam1", kStart, 1) / MetaDataFile::MakeFileName(kStart);
    common::AsioThreadPool recorderPool(2);
    for (const bool noWriter : {true, false}) {
        SCOPED_TRACE(noWriter ? "no metadata writer" : "insert failed");
        {
            std::lock_guard lock(seen_->mutex);
            seen_->codes.clear();
        }
        fs::remove_all(drive_->GetChannelPath("cam1"));
        // No file can open in the folder's place, and nothing is overwritten
        // to make way for one.
        if (noWriter) fs::create_directories(meta);
        channel_->SetUseOverwrite(!noWriter);
        // A job that closes the files waits for their writes: as in the
        // engine, the recorder's jobs and the drive's writes run on two pools.
        recorder_ = Make(channel_, 0, &recorderPool);
        ASSERT_TRUE(recorder_->StartRecording());
        int64_t t = kStart;
        for (; t < kStart + 7; ++t) {
            PushSecond(t);
            for (int i = 0; i < 3; ++i) PushMeta(t);
        }
        if (!noWriter) {
            // Once the first seconds are stored, the table goes under the writer.
            MetaDataFrames rows;
            const auto reader = MetaDataFile::Create(meta, folders_);
            for (int i = 0; i < 500 && rows.empty(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                reader->Read(kStart, kStart + 10, rows);
            }
            ASSERT_FALSE(rows.empty());
            test::HourDatabase(meta.string(), SQLite::OPEN_READWRITE).exec("DROP TABLE T_METADATA");
            for (; t < kStart + 10; ++t) {
                PushSecond(t);
                for (int i = 0; i < 3; ++i) PushMeta(t);
            }
        }
        recorder_->StopRecording();
        // The stop returns once its statuses were heard.
        const std::vector<int32_t> heard = Statuses();
        EXPECT_GE(std::count(heard.begin(), heard.end(), RECORDER_STATUS_WRITE_FAILED), 1)
            << ::testing::PrintToString(heard);
        // The video seconds are stored all the same.
        EXPECT_EQ(KeyTimes(kStart, kProfileNormal), Range(kStart, t - 1));
        recorder_.reset();
    }
}

// A caller decides about its sources by what it heard, so a stop returns only
// once the statuses of the writes it made have been called back, however
// slow the callback.
TEST_F(RecorderTest, AStopReturnsOnlyAfterItsStatusesWereHeard) {
    struct Case {
        const char* name;
        bool writable;
        uint64_t available;
        int seconds;  // five new seconds start the first write before the stop
        std::vector<int32_t> heard;
    };
    const Case cases[] = {
        {"no writable drive", false, 50 * test::kGiB, 3, {RECORDER_STATUS_NO_WRITABLE_DRIVE}},
        {"full drive", true, 0, 3, {RECORDER_STATUS_NO_SPACE, RECORDER_STATUS_NO_FILE}},
        {"writing",
         true,
         50 * test::kGiB,
         7,
         {RECORDER_STATUS_RECORDING, RECORDER_STATUS_NOT_RECORDING}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto seen = std::make_shared<Seen>();
        volumes_->SetAvailable('D', c.available);
        recorder_ = Make(c.writable ? channel_ : MakeChannel(), 0);
        recorder_->SetEventCallback([seen](const std::string&, int32_t code, int64_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::lock_guard lock(seen->mutex);
            seen->codes.push_back(code);
        });
        ASSERT_TRUE(recorder_->StartRecording());
        for (int64_t t = kStart; t < kStart + c.seconds; ++t) PushSecond(t);
        const auto heardAny = [&seen] {
            std::lock_guard lock(seen->mutex);
            return !seen->codes.empty();
        };
        for (int i = 0; i < 500 && c.seconds > 5 && !heardAny(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        recorder_->StopRecording();
        std::lock_guard lock(seen->mutex);
        EXPECT_EQ(seen->codes, c.heard);
    }
}

}  // namespace
}  // namespace orvale::recorder
