// Forensic searches as a host makes them: searchers made and deleted through
// MediaRecorder over recordings that the engine's recorders made from video
// and metadata frames with object boxes. Motion, line, enter and exit rules,
// excluded areas, the rule record's limits, searches that find nothing and
// leave the recording tree as it was, searchers gone before their search
// ran, and two searchers searching at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/playback/ForensicScenes.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/EngineOnFakeDrives.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TreeSnapshot.h"
#include "tests/support/WaitFor.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kGiB;
using test::forensic::Area;
using test::forensic::Excluded;
using test::forensic::Frame;
using test::forensic::Hit;
using test::forensic::Line;
using test::forensic::Moving;
using test::forensic::Rect;

constexpr int64_t kStart = 1733824800;  // 2024-12-10 10:00:00 UTC
constexpr auto kPatience = std::chrono::seconds(30);
// The threads of the engine's service pool.
constexpr int kServiceThreads = 16;

using Answer = std::optional<std::vector<Hit>>;  // empty: no answer came

// The answers of one search as they come.
class Answers {
  public:
    ForensicCallback Callback() {
        return [state = state_](unsigned seqID, const std::vector<forensic_event_s>& events) {
            std::lock_guard lock(state->mutex);
            state->seqIDs.push_back(seqID);
            state->answers.push_back(test::forensic::Hits(events));
            state->changed.notify_all();
        };
    }
    // The first answer; empty when none came in time.
    Answer First(std::chrono::milliseconds patience = kPatience) {
        std::unique_lock lock(state_->mutex);
        if (!state_->changed.wait_for(lock, patience, [&] { return !state_->answers.empty(); })) {
            return std::nullopt;
        }
        return state_->answers.front();
    }
    size_t Count() const {
        std::lock_guard lock(state_->mutex);
        return state_->answers.size();
    }
    std::vector<unsigned> SeqIDs() const {
        std::lock_guard lock(state_->mutex);
        return state_->seqIDs;
    }

  private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::vector<Hit>> answers;
        std::vector<unsigned> seqIDs;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

std::vector<Hit> Each(int64_t from, int64_t to, int32_t code, int32_t subCode) {
    std::vector<Hit> hits;
    for (int64_t t = from; t <= to; ++t) hits.push_back({t, code, subCode});
    return hits;
}

// The area around the centre of the picture.
const forensic_search_area_s kCentreMotion = Area(Rect({100, 60}, {220, 180}), 0x1);
// A vertical line through the middle, drawn from top to bottom.
const std::vector<test::forensic::Point> kMiddleLine = {{160, 20}, {160, 220}};
// A box crossing it from left to right at 4 units a second: its centre
// passes from 158 to 162 with the 16th frame.
const std::vector<Frame> kCrossing = Moving(1, {102, 120}, {4, 0}, 30);
constexpr int64_t kCrossingFrame = 15;
// The answer of a line that the crossing fires.
const std::vector<Hit> kCrossed = {{kStart + kCrossingFrame, 41, 1}};

class ForensicThroughEngineTest : public test::EngineOnFakeDrives {
  protected:
    // Records frame i of `frames` at second first + i through the channel's
    // recorder: a small key frame and, unless `withMetadata` is false, the
    // metadata document of the frame's boxes.
    void Record(const std::string& channelId, int64_t first, const std::vector<Frame>& frames,
                bool withMetadata = true) {
        std::string id = channelId;
        std::string schedule = "1";
        IRecorder* recorder = engine_->CreateRecorder(id, schedule, 0, false);
        ASSERT_NE(recorder, nullptr);
        engine_->SetSchedule(schedule, test::FullSchedule(), {});
        recorder->SetUseFrameTime(true);
        ASSERT_TRUE(recorder->StartRecording());
        const std::vector<uint8_t> video(100, 0x5A);
        for (size_t i = 0; i < frames.size(); ++i) {
            const int64_t t = first + static_cast<int64_t>(i);
            video_frame_header_s header;
            header.codec = 0x1B;
            header.frameType = 1;
            header.time = static_cast<uint64_t>(t);
            header.timeMs = static_cast<uint32_t>(t * 1000);
            ASSERT_TRUE(recorder->PushVideoFrame(header, video.data(),
                                                 static_cast<uint32_t>(video.size()), 0));
            if (withMetadata) {
                ASSERT_TRUE(
                    test::PushMeta(*recorder, t, 1, test::forensic::MetadataXml(frames[i])));
            }
        }
        recorder->StopRecording();
    }

    IForensicSearcher* Searcher(unsigned seqId, const std::string& channelId = "cam1") {
        std::string id = channelId;
        IForensicSearcher* searcher = engine_->CreateForensicSearcher(seqId, id);
        EXPECT_NE(searcher, nullptr);
        return searcher;
    }

    // The answer of one search, which must come once.
    static Answer Search(IForensicSearcher& searcher, int64_t start, int64_t end,
                         const std::list<forensic_search_area_s>& areas,
                         const std::list<forensic_search_line_s>& lines, int track = 1) {
        Answers answers;
        if (!searcher.Search(start, end, track, areas, lines, answers.Callback())) {
            ADD_FAILURE() << "the search was refused";
            return std::nullopt;
        }
        Answer answer = answers.First();
        // A second answer would come right after the first.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(answers.Count(), 1u);
        return answer;
    }
};

TEST_F(ForensicThroughEngineTest, AMotionAreaFiresEveryFrameFromTheSecondOn) {
    const std::vector<Frame> one = Moving(1, {150, 120}, {1, 0}, 10);
    const std::vector<Frame> twins =
        test::forensic::Together(one, Moving(2, {150, 120}, {1, 0}, 10));
    Record("cam1", kStart, one);
    Record("cam1", kStart + 100, twins);
    test::LogCapture log;
    IForensicSearcher* searcher = Searcher(1);
    ASSERT_NE(searcher, nullptr);
    EXPECT_EQ(log.Count("Added a ForensicSearcher. channel = cam1, seqID = 1"), 1u);

    EXPECT_EQ(Search(*searcher, kStart, kStart + 50, {kCentreMotion}, {}),
              Each(kStart + 1, kStart + 9, 38, 0));
    // Two boxes alike make one answer a frame too.
    EXPECT_EQ(Search(*searcher, kStart + 100, kStart + 150, {kCentreMotion}, {}),
              Each(kStart + 101, kStart + 109, 38, 0));
    // An area elsewhere sees nothing.
    EXPECT_EQ(Search(*searcher, kStart, kStart + 150, {Area(Rect({0, 0}, {60, 60}), 0x1)}, {}),
              std::vector<Hit>{});
}

TEST_F(ForensicThroughEngineTest, ALineFiresOnTheCrossingItsDirectionSelects) {
    Record("cam1", kStart, kCrossing);
    IForensicSearcher* searcher = Searcher(1);
    ASSERT_NE(searcher, nullptr);
    const std::vector<Hit>& crossed = kCrossed;
    struct Case {
        int32_t direction;
        std::vector<Hit> hits;
    };
    const Case cases[] = {{1, crossed}, {2, {}}, {255, crossed}, {7, {}}};
    for (const Case& c : cases) {
        EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {}, {Line(kMiddleLine, c.direction)}),
                  c.hits)
            << "direction " << c.direction;
    }
    // Drawn the other way round, the line swaps its directions.
    const std::vector<test::forensic::Point> upwards = {kMiddleLine[1], kMiddleLine[0]};
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {}, {Line(upwards, 2)}), crossed);
    // Nothing fires where an excluded area covers the crossing.
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {Excluded(Rect({140, 100}, {180, 140}))},
                     {Line(kMiddleLine, 255)}),
              std::vector<Hit>{});
}

TEST_F(ForensicThroughEngineTest, EnterAndExitAreasFireOnceEach) {
    // Inside the area the centre runs from 122 (the 11th frame) to 198; the
    // exit counts past the border grown by 5 units: at 206 (the 32nd frame),
    // not at 202.
    Record("cam1", kStart, Moving(1, {82, 120}, {4, 0}, 40));
    IForensicSearcher* searcher = Searcher(1);
    ASSERT_NE(searcher, nullptr);
    const auto area = [](uint32_t flags) { return Area(Rect({120, 60}, {200, 180}), flags); };
    const Hit entered{kStart + 10, 41, 2};
    const Hit left{kStart + 31, 41, 4};
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {area(0x2)}, {}), std::vector<Hit>{entered});
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {area(0x4)}, {}), std::vector<Hit>{left});
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {area(0x6)}, {}),
              (std::vector<Hit>{entered, left}));
    // One area watching everything: motion from the first frame inside on,
    // each frame's answers in type order.
    std::vector<Hit> all;
    for (int64_t t = kStart + 10; t <= kStart + 29; ++t) {
        if (t == entered.time) all.push_back(entered);
        all.push_back({t, 38, 0});
    }
    all.push_back(left);
    test::LogCapture log;
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {area(0x7)}, {}), all);
    EXPECT_EQ(log.Count("Forensic Search Rule Total =>  Excluded = 0, MD = 1, Enter/Exit = 2, "
                        "Line = 0"),
              1u);
}

TEST_F(ForensicThroughEngineTest, TheRuleRecordKeepsWhatFits) {
    Record("cam1", kStart, kCrossing);
    IForensicSearcher* searcher = Searcher(1);
    ASSERT_NE(searcher, nullptr);
    test::LogCapture log;

    // 33 excluded areas: the 33rd, over the crossing, is dropped.
    std::list<forensic_search_area_s> areas(32, Excluded(Rect({0, 0}, {10, 10})));
    areas.push_back(Excluded(Rect({140, 100}, {180, 140})));
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, areas, {Line(kMiddleLine, 255)}), kCrossed);
    EXPECT_EQ(log.Count("Exclued Area Size is too big."), 1u);
    EXPECT_EQ(log.Count("Forensic Search Rule Total =>  Excluded = 32, MD = 0, Enter/Exit = 0, "
                        "Line = 1"),
              1u);

    // A shape of 12 points keeps 11: eleven along the top edge enclose
    // nothing; the twelfth would have made a triangle over the whole path.
    std::vector<test::forensic::Point> points;
    for (int i = 0; i <= 10; ++i) points.push_back({30 * i, 0});
    points.push_back({160, 239});
    log.Clear();
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {Area(points, 0x1)}, {}), std::vector<Hit>{});
    EXPECT_EQ(log.Count("Points is too big."), 1u);
    EXPECT_EQ(log.Count("MD Area[0][10], X = "), 1u);
    // The same triangle drawn with 11 points finds the box.
    points.pop_back();
    points.pop_back();
    points.push_back({160, 239});
    const Answer triangle = Search(*searcher, kStart, kStart + 60, {Area(points, 0x1)}, {});
    ASSERT_TRUE(triangle.has_value());
    EXPECT_FALSE(triangle->empty());
}

TEST_F(ForensicThroughEngineTest, AnEmptyRuleIsRefused) {
    Record("cam1", kStart, kCrossing);
    IForensicSearcher* searcher = Searcher(1);
    ASSERT_NE(searcher, nullptr);
    test::LogCapture log;
    Answers answers;
    EXPECT_FALSE(searcher->Search(kStart, kStart + 60, 1, {}, {}, answers.Callback()));
    // An area whose flags name nothing makes no rule either.
    EXPECT_FALSE(searcher->Search(kStart, kStart + 60, 1, {Area(Rect({0, 0}, {9, 9}), 0x10)}, {},
                                  answers.Callback()));
    EXPECT_EQ(log.Count("Rule is empty."), 2u);
    EXPECT_EQ(answers.First(std::chrono::milliseconds(300)), std::nullopt);
    // A line alone is a rule.
    EXPECT_TRUE(Search(*searcher, kStart, kStart + 60, {}, {Line(kMiddleLine, 1)}).has_value());
}

TEST_F(ForensicThroughEngineTest, SearchesThatFindNothingAnswerOnceAndChangeNothing) {
    Record("cam1", kStart, kCrossing);
    Record("cam2", kStart, kCrossing, false);  // video only
    const fs::path root = drives_.Path() / "D" / "KVTRecordData";
    const test::TreeSnapshot before = test::SettledTree(root);
    ASSERT_FALSE(before.empty());

    IForensicSearcher* cam1 = Searcher(1);
    IForensicSearcher* cam2 = Searcher(2, "cam2");
    ASSERT_TRUE(cam1 && cam2);
    const std::list<forensic_search_area_s> everywhere = {Area(Rect({0, 0}, {319, 239}), 0x7)};
    const std::list<forensic_search_line_s> line = {Line(kMiddleLine, 255)};
    EXPECT_EQ(Search(*cam1, kStart, kStart + 60, everywhere, line, 5), std::vector<Hit>{});
    EXPECT_EQ(Search(*cam2, kStart, kStart + 60, everywhere, line), std::vector<Hit>{});
    EXPECT_EQ(Search(*cam1, kStart + 3600, kStart + 7200, everywhere, line), std::vector<Hit>{});
    EXPECT_EQ(test::SettledTree(root), before);
}

// A range reaching as far as a 64-bit time goes finds what lies in it.
TEST_F(ForensicThroughEngineTest, ASearchOverAnyRangeFindsWhatLiesInIt) {
    Record("cam1", kStart, kCrossing);
    IForensicSearcher* searcher = Searcher(1);
    ASSERT_NE(searcher, nullptr);
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    const std::pair<int64_t, int64_t> ranges[] = {
        {kMin, kMax},   {kMin, kStart + 60},   {kMin + 1, kStart + 60}, {kMin + 3599, kMax - 1},
        {kStart, kMax}, {kStart, kMax - 3599}, {0, 253402300799},
    };
    for (const auto& [from, to] : ranges) {
        EXPECT_EQ(Search(*searcher, from, to, {}, {Line(kMiddleLine, 255)}), kCrossed)
            << from << ".." << to;
    }
}

TEST_F(ForensicThroughEngineTest, TheRegistryKeepsOneSearcherPerSequenceId) {
    Record("cam1", kStart, kCrossing);
    test::LogCapture log;
    std::string nobody = "nobody";
    EXPECT_EQ(engine_->CreateForensicSearcher(9, nobody), nullptr);
    EXPECT_EQ(log.Count("Failed to find a record channel. channel = nobody, seqID = 9"), 1u);

    IForensicSearcher* first = Searcher(4);
    ASSERT_NE(first, nullptr);
    std::string cam1 = "cam1";
    EXPECT_EQ(engine_->CreateForensicSearcher(4, cam1), nullptr);
    // A calendar searcher of the same id is another kind.
    std::vector<std::string> ids = {cam1};
    ASSERT_NE(engine_->CreateCalendarSearcher(4, ids), nullptr);
    engine_->DeleteCalendarSearcher(4);

    Answers answers;
    ASSERT_TRUE(
        first->Search(kStart, kStart + 60, 1, {}, {Line(kMiddleLine, 1)}, answers.Callback()));
    EXPECT_EQ(answers.First(), kCrossed);
    EXPECT_EQ(answers.SeqIDs(), std::vector<unsigned>{4});

    engine_->DeleteForensicSearcher(4);
    engine_->DeleteForensicSearcher(77);  // unknown: nothing happens
    EXPECT_NE(Searcher(4), nullptr);
}

TEST_F(ForensicThroughEngineTest, AChannelFoundOnTheDrivesWithoutACatalogueRowIsSearched) {
    Record("cam1", kStart, kCrossing);
    engine_->Finalize(true);
    StartEngine();  // a catalogue that knows nothing of cam1
    IForensicSearcher* searcher = Searcher(1);
    ASSERT_NE(searcher, nullptr);
    EXPECT_EQ(Search(*searcher, kStart, kStart + 60, {}, {Line(kMiddleLine, 1)}), kCrossed);
}

TEST_F(ForensicThroughEngineTest, SearchersGoneBeforeTheirSearchRunsNeverAnswer) {
    Record("cam1", kStart, kCrossing);
    const std::list<forensic_search_line_s> line = {Line(kMiddleLine, 1)};
    // Every thread of the service pool is held inside an answer.
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    auto inside = std::make_shared<std::atomic<int>>(0);
    for (unsigned i = 0; i < kServiceThreads; ++i) {
        IForensicSearcher* holder = Searcher(100 + i);
        ASSERT_NE(holder, nullptr);
        ASSERT_TRUE(
            holder->Search(kStart, kStart + 60, 1, {}, line,
                           [inside, opened](unsigned, const std::vector<forensic_event_s>&) {
                               ++*inside;
                               opened.wait();
                           }));
    }
    ASSERT_TRUE(test::WaitFor([&] { return *inside == kServiceThreads; }));

    Answers deleted, dropped;
    ASSERT_TRUE(Searcher(1)->Search(kStart, kStart + 60, 1, {}, line, deleted.Callback()));
    ASSERT_TRUE(Searcher(2)->Search(kStart, kStart + 60, 1, {}, line, dropped.Callback()));
    engine_->DeleteForensicSearcher(1);
    engine_->Finalize(false);  // drops searcher 2 and the holders
    gate.set_value();

    // A searcher made now searches after the two queued jobs.
    engine_->Initialize();
    IForensicSearcher* after = Searcher(1);
    ASSERT_NE(after, nullptr);
    EXPECT_TRUE(Search(*after, kStart, kStart + 60, {}, line).has_value());
    EXPECT_EQ(deleted.Count(), 0u);
    EXPECT_EQ(dropped.Count(), 0u);
}

TEST_F(ForensicThroughEngineTest, TwoSearchersAtTheSameTimeGetWhatEachGetsAlone) {
    // A box standing in the centre while another crosses the line above it.
    Record("cam1", kStart,
           test::forensic::Together(std::vector<Frame>(40, Frame{{1, 160, 200}}),
                                    Moving(2, {102, 40}, {4, 0}, 40)));
    IForensicSearcher* motion = Searcher(1);
    IForensicSearcher* crossing = Searcher(2);
    ASSERT_TRUE(motion && crossing);
    const std::list<forensic_search_area_s> lowArea = {Area(Rect({100, 160}, {220, 230}), 0x1)};
    const std::list<forensic_search_line_s> line = {Line({{160, 0}, {160, 100}}, 255)};
    const Answer motionAlone = Search(*motion, kStart, kStart + 60, lowArea, {});
    const Answer crossingAlone = Search(*crossing, kStart, kStart + 60, {}, line);
    ASSERT_EQ(motionAlone, Each(kStart + 1, kStart + 39, 38, 0));
    ASSERT_EQ(crossingAlone, kCrossed);

    for (int round = 0; round < 20; ++round) {
        Answers a, b;
        std::thread other(
            [&] { EXPECT_TRUE(crossing->Search(kStart, kStart + 60, 1, {}, line, b.Callback())); });
        EXPECT_TRUE(motion->Search(kStart, kStart + 60, 1, lowArea, {}, a.Callback()));
        other.join();
        EXPECT_EQ(a.First(), motionAlone) << "round " << round;
        EXPECT_EQ(b.First(), crossingAlone) << "round " << round;
    }
}

}  // namespace
}  // namespace orvale::recorder
