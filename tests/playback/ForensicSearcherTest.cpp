// The forensic searcher over a channel whose hours the test stores by hand:
// hours read in order and only within the range, incomplete frames and rows
// other than XML left out, hours without a usable metadata database skipped
// without a change to the tree, a failing job that answers nothing, and jobs
// that keep their own arguments and wait for the library one at a time.
#include "recorder/playback/ForensicSearcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>

#include "common/AsioThreadPool.h"
#include "recorder/store/MetaDataWriter.h"
#include "tests/playback/ForensicScenes.h"
#include "tests/storage/ChannelFixture.h"
#include "tests/support/HourDatabase.h"
#include "tests/support/TreeSnapshot.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kDay1;
using test::kGiB;
using test::kHour;
using test::forensic::Frame;
using test::forensic::Hit;
using test::forensic::Rect;

constexpr auto kPatience = std::chrono::seconds(30);
// Ten seconds before 11:00 on the first day.
constexpr int64_t kT0 = kDay1 + 11 * kHour - 10;

// The motion area around the centre, and a box standing in it.
const forensic_search_area_s kCentre = test::forensic::Area(Rect({100, 60}, {220, 180}), 0x1);
const Frame kStanding = {{1, 160, 120}};

std::vector<Hit> MotionEach(int64_t from, int64_t to) {
    std::vector<Hit> hits;
    for (int64_t t = from; t <= to; ++t) hits.push_back({t, 38, 0});
    return hits;
}

using Answer = std::optional<std::vector<Hit>>;  // empty: no answer came

// An answer that may or may not come.
class Pending {
  public:
    ForensicCallback Callback(uint32_t expectedSeqId) {
        return [state = state_, expectedSeqId](unsigned seqID,
                                               const std::vector<forensic_event_s>& events) {
            EXPECT_EQ(seqID, expectedSeqId);
            if (state->answers++ == 0) state->answer.set_value(test::forensic::Hits(events));
        };
    }
    Answer Wait(std::chrono::milliseconds patience = kPatience) {
        if (future_.wait_for(patience) != std::future_status::ready) return std::nullopt;
        return future_.get();
    }
    int Answers() const { return state_->answers.load(); }

  private:
    struct State {
        std::promise<std::vector<Hit>> answer;
        std::atomic<int> answers{0};
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::future<std::vector<Hit>> future_ = state_->answer.get_future();
};

class ForensicSearcherTest : public test::ChannelFixture {
  protected:
    void SetUp() override {
        ChannelFixture::SetUp();
        channel_ = MakeChannel();
        channel_->AddDrives({AddDrive('D', 50 * kGiB)});
    }

    static std::shared_ptr<MetaDataFrame> Row(int64_t time, std::vector<uint8_t> extension,
                                              uint32_t dataType = 0) {
        auto row = std::make_shared<MetaDataFrame>();
        row->utc = time;
        row->timestamp = static_cast<uint32_t>(time * 1000);
        row->dataType = dataType;
        row->encodingType = "xml";
        row->content = {'<', 'x', '/', '>'};
        row->extension = std::move(extension);
        return row;
    }

    // Stores rows into the metadata database of their hour, one insert a
    // second as the recorder does.
    void Insert(const MetaDataFrames& rows, int track = 1) {
        std::map<int64_t, MetaDataFrames> seconds;
        for (const auto& row : rows) seconds[row->utc].push_back(row);
        std::shared_ptr<MetaDataWriter> writer;
        for (const auto& [second, frames] : seconds) {
            if (!writer || writer->StartTime() / kHour != second / kHour) {
                if (writer) writer->Close();
                writer = channel_->GetMetaDataWriter(track, second, 4 << 20);
                ASSERT_TRUE(writer && writer->File());
            }
            ASSERT_TRUE(writer->File()->Insert(frames));
        }
        if (writer) writer->Close();
    }

    // Frame i at second first + i.
    void Store(int64_t first, const std::vector<Frame>& frames, int track = 1) {
        MetaDataFrames rows;
        for (size_t i = 0; i < frames.size(); ++i) {
            const int64_t t = first + static_cast<int64_t>(i);
            rows.push_back(Row(t, test::forensic::StoredRuleFrame(t, frames[i])));
        }
        Insert(rows, track);
    }

    std::shared_ptr<ForensicSearcher> MakeSearcher(uint32_t seqID = 1,
                                                   common::AsioThreadPool* pool = nullptr) {
        return std::make_shared<ForensicSearcher>(seqID, channel_, pool ? pool : &searchPool_);
    }

    Answer Search(ForensicSearcher& searcher, int64_t start, int64_t end,
                  const std::list<forensic_search_area_s>& areas = {kCentre},
                  const std::list<forensic_search_line_s>& lines = {}, int track = 1) {
        Pending pending;
        EXPECT_TRUE(searcher.Search(start, end, track, areas, lines,
                                    pending.Callback(searcher.GetSeqId())));
        return pending.Wait();
    }

    fs::path MetaFile(int64_t time, int track = 1) const {
        return drives_.at('D')->GetTrackPath("cam1", time, track) /
               MetaDataFile::MakeFileName(time);
    }

    std::shared_ptr<Channel> channel_;
    common::AsioThreadPool searchPool_{4};
};

TEST_F(ForensicSearcherTest, HoursAreReadInOrderWithinTheRange) {
    Store(kT0, std::vector<Frame>(20, kStanding));  // 10:59:50 .. 11:00:09
    const auto searcher = MakeSearcher(7);
    // Tracking goes on across the hour: the first frame only seeds it.
    EXPECT_EQ(Search(*searcher, kT0 - 100, kT0 + 100), MotionEach(kT0 + 1, kT0 + 19));
    // Both ends are in the range.
    EXPECT_EQ(Search(*searcher, kT0 + 5, kT0 + 12), MotionEach(kT0 + 6, kT0 + 12));
    EXPECT_EQ(Search(*searcher, kT0 + 12, kT0 + 5), std::vector<Hit>{});
    // Another track has nothing.
    EXPECT_EQ(Search(*searcher, kT0, kT0 + 20, {kCentre}, {}, 2), std::vector<Hit>{});
}

TEST_F(ForensicSearcherTest, OnlyCompleteXmlFramesReachTheLibrary) {
    const std::vector<uint8_t> whole = test::forensic::StoredRuleFrame(kT0, kStanding);
    std::vector<uint8_t> tooMany = whole;
    const int32_t thirtyOne = 31;
    std::memcpy(tooMany.data() + offsetof(rule_frame_s, objectCount), &thirtyOne, 4);
    MetaDataFrames rows;
    for (int64_t t = kT0; t < kT0 + 20; ++t) {
        std::vector<uint8_t> frame = test::forensic::StoredRuleFrame(t, kStanding);
        if (t == kT0 + 3) frame.clear();  // empty: skipped silently
        if (t == kT0 + 4) frame.resize(11);
        if (t == kT0 + 5) frame = tooMany;
        if (t == kT0 + 6) frame.resize(12 + 19);   // one object announced, 19 bytes of it
        if (t == kT0 + 14) frame.resize(12 + 20);  // exactly one object: complete
        rows.push_back(Row(t, frame));
    }
    // Rows of another data type are never read, not even a frame in them.
    rows.push_back(Row(kT0 + 30, test::forensic::StoredRuleFrame(kT0 + 30, kStanding), 1));
    Insert(rows);

    test::LogCapture& log = log_;
    log.Clear();
    const auto searcher = MakeSearcher();
    std::vector<Hit> expected = MotionEach(kT0 + 1, kT0 + 2);
    for (const Hit& hit : MotionEach(kT0 + 7, kT0 + 19)) expected.push_back(hit);
    EXPECT_EQ(Search(*searcher, kT0, kT0 + 40), expected);
    // One line for the hour before 11:00 (three frames), none for the next.
    EXPECT_EQ(log.Count("stored rule frames are incomplete and were skipped"), 1u);
    EXPECT_EQ(log.Count("CH[cam1] 3 stored rule frames are incomplete"), 1u);
}

// A frame may carry 32 objects: the 31st and 32nd are searched like the
// others, and their frames are no longer skipped as incomplete.
TEST_F(ForensicSearcherTest, TheThirtyFirstAndThirtySecondObjectsAreSearched) {
    for (const size_t objects : {31u, 32u}) {
        SCOPED_TRACE(objects);
        const int64_t first = kT0 + static_cast<int64_t>(objects) * kHour;
        // Every object but the last stands in a row along the top, outside
        // the centre area; the last stands in it.
        Frame frame;
        for (uint32_t i = 0; i + 1 < objects; ++i) {
            frame.push_back({i + 1, 5 + 10 * static_cast<int32_t>(i), 20, 4});
        }
        frame.push_back({static_cast<uint32_t>(objects), 160, 120});
        Store(first, std::vector<Frame>(5, frame));

        test::LogCapture& log = log_;
        log.Clear();
        const auto searcher = MakeSearcher();
        EXPECT_EQ(Search(*searcher, first, first + 4), MotionEach(first + 1, first + 4));
        EXPECT_EQ(log.Count("stored rule frames are incomplete"), 0u);
    }
}

TEST_F(ForensicSearcherTest, HoursWithoutAUsableDatabaseAreSkippedAndLeftAsTheyAre) {
    // 10:00 has video only, 11:00 a file that is no database, 12:00 a
    // database without the metadata table, 13:00 frames.
    Record(*channel_, kDay1 + 10 * kHour, kDay1 + 10 * kHour + 5);
    Store(kDay1 + 11 * kHour, {kStanding});
    test::WriteFile(MetaFile(kDay1 + 11 * kHour), std::string(8192, 'x'));
    Store(kDay1 + 12 * kHour, {kStanding});
    {
        SQLite::Database db =
            test::HourDatabase(MetaFile(kDay1 + 12 * kHour).string(), SQLite::OPEN_READWRITE);
        db.exec("DROP TABLE T_METADATA");
    }
    Store(kDay1 + 13 * kHour, std::vector<Frame>(3, kStanding));
    const fs::path root = drives_.at('D')->GetRootPath();
    const test::TreeSnapshot before = test::SettledTree(root);

    log_.Clear();
    const auto searcher = MakeSearcher();
    EXPECT_EQ(Search(*searcher, kDay1 + 10 * kHour, kDay1 + 14 * kHour),
              MotionEach(kDay1 + 13 * kHour + 1, kDay1 + 13 * kHour + 2));
    EXPECT_EQ(test::SettledTree(root), before);
    EXPECT_FALSE(fs::exists(MetaFile(kDay1 + 10 * kHour)));
    EXPECT_EQ(log_.Count(MetaDataFile::MakeFileName(kDay1 + 11 * kHour)), 1u);
    EXPECT_EQ(log_.Count("no T_METADATA table"), 1u);
}

TEST_F(ForensicSearcherTest, AJobThatFailsAnswersNothing) {
    Store(kT0 - 3600, {kStanding, kStanding});
    Store(kT0, {kStanding, kStanding});
    {
        // A metadata table the query cannot read.
        SQLite::Database db = test::HourDatabase(MetaFile(kT0).string(), SQLite::OPEN_READWRITE);
        db.exec("DROP TABLE T_METADATA");
        db.exec("CREATE TABLE T_METADATA (UTC INTEGER)");
    }
    log_.Clear();
    const auto searcher = MakeSearcher();
    Pending pending;
    ASSERT_TRUE(searcher->Search(kT0 - 3600, kT0 + 10, 1, {kCentre}, {}, pending.Callback(1)));
    EXPECT_EQ(pending.Wait(std::chrono::milliseconds(500)), std::nullopt);
    EXPECT_EQ(log_.Count("Exception : "), 1u);
    EXPECT_EQ(log_.LinesFrom(common::kLogFatal).size(), 1u);
    // The searcher goes on serving.
    EXPECT_EQ(Search(*searcher, kT0 - 3600, kT0 - 3591), MotionEach(kT0 - 3599, kT0 - 3599));
}

TEST_F(ForensicSearcherTest, AnEmptyRuleIsRefused) {
    Store(kT0, {kStanding, kStanding});
    const auto searcher = MakeSearcher();
    Pending pending;
    EXPECT_FALSE(searcher->Search(kT0, kT0 + 10, 1, {}, {}, pending.Callback(1)));
    EXPECT_FALSE(searcher->Search(kT0, kT0 + 10, 1,
                                  {test::forensic::Area(Rect({0, 0}, {9, 9}), 0x8)}, {},
                                  pending.Callback(1)));
    EXPECT_EQ(log_.Count("Rule is empty."), 2u);
    EXPECT_EQ(pending.Wait(std::chrono::milliseconds(300)), std::nullopt);
}

// A pool of one thread that the test holds until Open.
class HeldPool {
  public:
    HeldPool() {
        pool_.Post([opened = opened_] { opened.wait(); });
    }
    ~HeldPool() { Open(); }
    HeldPool(const HeldPool&) = delete;
    HeldPool& operator=(const HeldPool&) = delete;

    common::AsioThreadPool* Pool() { return &pool_; }
    void Open() {
        if (!open_.exchange(true)) gate_.set_value();
    }
    // Returns once every job posted before has run.
    void Drain() {
        std::promise<void> done;
        pool_.Post([&done] { done.set_value(); });
        done.get_future().wait();
    }

  private:
    std::promise<void> gate_;
    std::shared_future<void> opened_ = gate_.get_future().share();
    std::atomic<bool> open_{false};
    common::AsioThreadPool pool_{1};
};

TEST_F(ForensicSearcherTest, ASearcherReleasedBeforeItsJobRunsNeverAnswers) {
    Store(kT0, {kStanding, kStanding});
    HeldPool held;
    auto searcher = MakeSearcher(1, held.Pool());
    Pending pending;
    ASSERT_TRUE(searcher->Search(kT0, kT0 + 10, 1, {kCentre}, {}, pending.Callback(1)));
    searcher.reset();
    held.Open();
    held.Drain();
    held.Drain();  // the answer, had there been one, is posted by the job
    EXPECT_EQ(pending.Answers(), 0);
}

TEST_F(ForensicSearcherTest, EachJobKeepsItsOwnArguments) {
    Store(kT0, std::vector<Frame>(10, kStanding));
    const auto searcher = MakeSearcher(3);
    const std::vector<Hit> all = *Search(*searcher, kT0, kT0 + 9);
    const std::vector<Hit> some = *Search(*searcher, kT0 + 4, kT0 + 6);
    ASSERT_EQ(all.size(), 9u);
    ASSERT_EQ(some.size(), 2u);
    const forensic_search_area_s elsewhere = test::forensic::Area(Rect({0, 0}, {50, 50}), 0x1);

    HeldPool held;
    const auto queued = MakeSearcher(3, held.Pool());
    Pending first, second, third;
    ASSERT_TRUE(queued->Search(kT0, kT0 + 9, 1, {kCentre}, {}, first.Callback(3)));
    ASSERT_TRUE(queued->Search(kT0 + 4, kT0 + 6, 1, {kCentre}, {}, second.Callback(3)));
    ASSERT_TRUE(queued->Search(kT0, kT0 + 9, 1, {elsewhere}, {}, third.Callback(3)));
    held.Open();
    EXPECT_EQ(first.Wait(), all);
    EXPECT_EQ(second.Wait(), some);
    EXPECT_EQ(third.Wait(), std::vector<Hit>{});
}

// Two engines in one process have a pool each: their jobs still take the
// library one at a time, so every answer is the one a search alone gets.
TEST_F(ForensicSearcherTest, SearchesOnTwoPoolsTakeTheLibraryInTurn) {
    // One box standing in the centre, one crossing a vertical line.
    const std::vector<Frame> crossing = test::forensic::Moving(2, {40, 40}, {4, 0}, 40);
    Store(kT0, test::forensic::Together(std::vector<Frame>(40, kStanding), crossing));
    const auto line = test::forensic::Line({{90, 0}, {90, 100}}, 255);
    common::AsioThreadPool otherPool(4);
    const auto motion = MakeSearcher(1);
    const auto crossings = MakeSearcher(2, &otherPool);
    const std::vector<Hit> motionAlone = *Search(*motion, kT0, kT0 + 40);
    const std::vector<Hit> crossingsAlone = *Search(*crossings, kT0, kT0 + 40, {}, {line});
    ASSERT_EQ(motionAlone, MotionEach(kT0 + 1, kT0 + 39));
    ASSERT_EQ(crossingsAlone.size(), 1u);

    for (int round = 0; round < 20; ++round) {
        Pending a, b;
        ASSERT_TRUE(motion->Search(kT0, kT0 + 40, 1, {kCentre}, {}, a.Callback(1)));
        ASSERT_TRUE(crossings->Search(kT0, kT0 + 40, 1, {}, {line}, b.Callback(2)));
        EXPECT_EQ(a.Wait(), motionAlone) << "round " << round;
        EXPECT_EQ(b.Wait(), crossingsAlone) << "round " << round;
    }
}

}  // namespace
}  // namespace orvale::recorder
