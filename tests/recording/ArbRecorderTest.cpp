// Back-fill of a channel's recording: the ARB recorder writes only the
// seconds the recording lacks, never across an hour inside one data file,
// everything it received when stopped, and refuses frames it cannot take.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/AsioThreadPool.h"
#include "recorder/playback/TimelineSearcher.h"
#include "recorder/recording/ArbRecorder.h"
#include "tests/playback/TimelineFixture.h"
#include "tests/recording/RecorderFrames.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kDay1;
using test::kHour;

constexpr int64_t kH = kDay1 + 10 * kHour;  // 2024-03-05 10:00:00 UTC
constexpr uint32_t kFrameBytes = 1500;
constexpr uint32_t kMainProfileType = 4;

// (second - kH, data file) of an index row.
using Row = std::pair<int64_t, std::string>;

std::vector<Row> RowsNamed(int64_t from, int64_t to, const std::string& name) {
    std::vector<Row> rows;
    for (int64_t t = from; t <= to; ++t) rows.emplace_back(t, name);
    return rows;
}

class ArbRecorderTest : public test::TimelineFixture {
  protected:
    std::shared_ptr<ArbRecorder> StartArb(common::AsioThreadPool& pool) {
        auto arb = std::make_shared<ArbRecorder>(channel_, 64 << 20, &pool);
        auto schedule = std::make_unique<media_schedule_s>();
        std::fill(std::begin(schedule->table), std::end(schedule->table), uint8_t{1});
        EXPECT_TRUE(arb->SetSchedule(*schedule));
        arb->SetRecordCallback([this](const std::string&, int32_t code, int64_t) {
            std::lock_guard lock(statusMutex_);
            statuses_.push_back(code);
        });
        EXPECT_TRUE(arb->Start(1));
        return arb;
    }

    static void PushSeconds(ArbRecorder& arb, int64_t from, int64_t to) {
        test::PushArbSeconds(arb, from, to, kFrameBytes);
    }

    fs::path TrackFolder(int64_t hour) const {
        return drives_.at('D')->GetTrackPath("cam1", hour, 1);
    }

    std::vector<Row> IndexRows(int64_t hour) {
        IndexFile index(TrackFolder(hour) / IndexFile::MakeFileName(hour), folders_);
        std::vector<index_row_s> rows;
        EXPECT_TRUE(index.ReadAllIndexRows(rows));
        std::vector<Row> out;
        for (const auto& row : rows) out.emplace_back(row.keyTime - kH, row.name);
        std::sort(out.begin(), out.end());
        return out;
    }

    bool ArbIndexLeft(int64_t hour) const {
        for (const auto& entry : fs::directory_iterator(TrackFolder(hour))) {
            if (entry.path().extension() == ".kvtarb") return true;
        }
        return false;
    }

    // The key-frame times of the hour, data file after data file, as read
    // back from the files.
    std::vector<int64_t> ReadKeyTimes(int64_t hour) {
        std::vector<int64_t> times;
        auto reader = channel_->FindFileReader(1, 1, hour, kMainProfileType, true);
        EXPECT_TRUE(reader);
        if (!reader || !reader->OpenDataFileAt(0, true)) return times;
        do {
            std::vector<index_row_s> rows;
            EXPECT_TRUE(reader->GetIFrameIndex(rows));
            if (rows.empty()) continue;
            auto request = std::make_shared<ReadBuffer>(256 << 10);
            request->windowStart = DataFile::kDataStart;
            request->windowEnd = static_cast<int64_t>(rows.back().endOffset);
            request->scanKeyFrames = 1;
            reader->QueueRead(request);
            auto done = std::make_shared<std::promise<void>>();
            auto landed = done->get_future();
            reads_->Enqueue("cam1", {[reader](unsigned q, ReadCommandHandler::Done finish) {
                                         reader->OnReadCommand(q, std::move(finish));
                                     },
                                     [done](uint32_t, uint32_t, uint64_t) { done->set_value(); }});
            EXPECT_EQ(landed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
            EXPECT_TRUE(request->ready);
            for (const auto& key : request->keyFrames) times.push_back(key.keyTime - hour);
        } while (reader->OpenNextDataFile());
        return times;
    }

    std::vector<int32_t> Statuses() {
        std::lock_guard lock(statusMutex_);
        return statuses_;
    }

    common::AsioThreadPool arbPool_{2};
    std::mutex statusMutex_;
    std::vector<int32_t> statuses_;
};

TEST_F(ArbRecorderTest, TheGapIsFilledAndTheHourReadsBackInOrder) {
    RecordRuns({{kH, kH + 9, 0x4}});
    RecordRuns({{kH + 20, kH + 29, 0x4}});
    auto arb = StartArb(arbPool_);
    PushSeconds(*arb, kH, kH + 29);
    arb->Stop(true);

    auto expected = RowsNamed(0, 9, "20240305100000.kvthdt");
    for (auto rows :
         {RowsNamed(10, 19, "20240305100010.kvthdt"), RowsNamed(20, 29, "20240305100020.kvthdt")}) {
        expected.insert(expected.end(), rows.begin(), rows.end());
    }
    EXPECT_EQ(IndexRows(kH), expected);
    EXPECT_FALSE(ArbIndexLeft(kH));

    TimelineSearcher::Result timeline;
    arb->GetTimeline(kH, kH + kHour - 1, timeline);
    ASSERT_EQ(timeline.size(), 1u);
    ASSERT_EQ(timeline[0].size(), 3u);
    EXPECT_EQ(timeline[0][1].flags0, 0x800u);
    EXPECT_EQ(timeline[0][1].start, kH + 10);

    std::vector<int64_t> seconds(30);
    for (int64_t i = 0; i < 30; ++i) seconds[i] = i;
    EXPECT_EQ(ReadKeyTimes(kH), seconds);

    const auto statuses = Statuses();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), ARB_STATUS_STOPPED), statuses.end());
    EXPECT_EQ(std::find(statuses.begin(), statuses.end(), ARB_STATUS_NO_FILE), statuses.end());
    EXPECT_EQ(std::find(statuses.begin(), statuses.end(), ARB_STATUS_WRITE_FAILED), statuses.end());
}

TEST_F(ArbRecorderTest, SecondsOfTheNextHourGoToThatHoursFiles) {
    auto arb = StartArb(arbPool_);
    PushSeconds(*arb, kH + kHour - 5, kH + kHour + 4);
    arb->Stop(false);

    EXPECT_EQ(IndexRows(kH), RowsNamed(3595, 3599, "20240305105955.kvthdt"));
    EXPECT_EQ(IndexRows(kH + kHour), RowsNamed(3600, 3604, "20240305110000.kvthdt"));
    EXPECT_FALSE(ArbIndexLeft(kH));
    EXPECT_FALSE(ArbIndexLeft(kH + kHour));
}

TEST_F(ArbRecorderTest, StopWritesEveryQueuedSecond) {
    // The recorder's pool is held busy, so its writing job never runs before
    // Stop: all 25 seconds are still queued when Stop starts.
    common::AsioThreadPool busyPool(1);
    std::promise<void> gate;
    busyPool.Post([opened = gate.get_future().share()] { opened.wait(); });
    struct Opener {
        std::promise<void>& gate;
        ~Opener() { gate.set_value(); }
    } opener{gate};

    auto arb = StartArb(busyPool);
    PushSeconds(*arb, kH, kH + 24);
    arb->Stop(true);
    EXPECT_FALSE(arb->IsStarted());
    EXPECT_EQ(IndexRows(kH), RowsNamed(0, 24, "20240305100000.kvthdt"));
}

TEST_F(ArbRecorderTest, AnExistingDataFileKeepsItsName) {
    // A writer of the recording has written 10:00:10 to 10:00:12 but no
    // index row yet, so the timeline does not show those seconds.
    auto writer = FileWriter::Create(1, TrackFolder(kH), "D", pool_.IoService(), writes_, folders_);
    ASSERT_TRUE(writer->CreateDataFile({"cam1", 1, kH + 10, kProfileNormal}, 4 << 20));
    ASSERT_EQ(WriteAndWait(*writer, test::HourFixture::Seconds(kH + 10, kH + 12)).error, 0);
    const fs::path taken = TrackFolder(kH) / "20240305100010.kvthdt";
    const auto size = fs::file_size(taken);

    auto arb = StartArb(arbPool_);
    PushSeconds(*arb, kH + 10, kH + 12);
    arb->Stop(false);

    EXPECT_EQ(IndexRows(kH), RowsNamed(11, 12, "20240305100011.kvthdt"));
    EXPECT_EQ(fs::file_size(taken), size);
    writer->Close();
}

TEST_F(ArbRecorderTest, FramesItCannotTakeAreRefused) {
    auto arb = StartArb(arbPool_);
    const std::vector<uint8_t> data(16, 0);
    video_frame_header_s video;
    video.profile = kProfileArb;
    video.codec = 0x1B;
    video.frameType = 1;
    video.time = static_cast<uint64_t>(kH);
    const struct {
        const char* name;
        const void* data;
        uint32_t size;
        int32_t codec;
        bool taken;
    } cases[] = {
        {"a frame", data.data(), 16, 0x1B, true},
        {"no data", nullptr, 16, 0x1B, false},
        {"no bytes", data.data(), 0, 0x1B, false},
        {"more than a second may hold", data.data(), ProfileChunk::kSecondByteLimit + 1, 0x1B,
         false},
        {"a size that turns negative", data.data(), 0x80000000u, 0x1B, false},
        {"the largest size", data.data(), 0xFFFFFFFFu, 0x1B, false},
        {"an audio codec", data.data(), 16, 0x10000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        video.codec = c.codec;
        EXPECT_EQ(arb->PushVideoFrame(video, c.data, c.size), c.taken);
    }

    audio_frame_header_s audio;
    audio.profile = kProfileArb;
    audio.codec = 0x10001;
    EXPECT_FALSE(arb->PushAudioFrame(audio, data.data(), 16));  // audio is off
    arb->UseAudioRecord(true);
    EXPECT_TRUE(arb->PushAudioFrame(audio, data.data(), 16));
    EXPECT_FALSE(arb->PushAudioFrame(audio, data.data(), 0xFFFFFFFFu));
    audio.codec = 0x1B;
    EXPECT_FALSE(arb->PushAudioFrame(audio, data.data(), 16));
    arb->Stop(false);
    EXPECT_FALSE(arb->PushVideoFrame(video, data.data(), 16));
}

}  // namespace
}  // namespace orvale::recorder
