// The engine's searcher registries, used as a host uses them: searchers made
// and deleted through MediaRecorder over recordings made through the engine,
// answers once on the engine's threads, no answer for a searcher deleted (or
// dropped by Finalize) before its search ran, and channels reached after
// DeleteChannel without their data.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/EngineOnFakeDrives.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitFor.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kGiB;

// Calendar days in this file are UTC days.
class UtcEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};
const auto* const kUtc = ::testing::AddGlobalTestEnvironment(new UtcEnvironment);

constexpr int64_t kStart = 1733824800;  // 2024-12-10 10:00:00 UTC
constexpr int64_t kDay = 86400;
// The threads of the engine's service pool, on which searches run.
constexpr int kServiceThreads = 16;
using test::Await;

class SearcherRegistryTest : public test::EngineOnFakeDrives {
  protected:
    void SetUp() override {
        AddDrives({'D', 'E'});
        StartEngine();
    }

    // Records the seconds [from, to] of channel `id` in one profile; with a
    // track change, the seconds from `changeAt` on go to track 2.
    void Record(std::string id, int64_t from, int64_t to, int32_t profile = 1,
                int64_t changeAt = 0) {
        std::string schedule = "1";
        IRecorder* recorder = engine_->CreateRecorder(id, schedule, 0, false);
        ASSERT_NE(recorder, nullptr);
        engine_->SetSchedule(schedule, test::FullSchedule(), {});
        recorder->SetUseFrameTime(true);
        ASSERT_TRUE(recorder->StartRecording());
        for (int64_t t = from; t <= to; ++t) {
            if (t == changeAt) engine_->ChangeTrackId(2);
            test::PushSecond(*recorder, t, profile);
        }
        recorder->StopRecording();
    }

    static std::set<int> Days(ICalendarSearcher& searcher, int year, int month) {
        auto answer = std::make_shared<std::promise<std::list<unsigned char>>>();
        auto future = answer->get_future();
        searcher.Search(year, month, [answer](unsigned, int, int, std::list<unsigned char> flags) {
            answer->set_value(std::move(flags));
        });
        std::set<int> days;
        int day = 1;
        for (const unsigned char flag : Await(future)) {
            if (flag != 0) days.insert(day);
            ++day;
        }
        return days;
    }

    static std::list<int> Tracks(ITrackSearcher& searcher, int64_t start, int64_t end) {
        auto answer = std::make_shared<std::promise<std::list<int>>>();
        auto future = answer->get_future();
        searcher.Search(start, end, [answer](unsigned, int64_t, int64_t, std::list<int> ids) {
            answer->set_value(std::move(ids));
        });
        return Await(future);
    }

    // The spans per track of a timeline search with every bit let through.
    static std::vector<std::vector<timeline_record_s>> Timeline(ITimelineSearcher& searcher,
                                                                int64_t start, int64_t end) {
        auto answer = std::make_shared<std::promise<std::vector<std::vector<timeline_record_s>>>>();
        auto future = answer->get_future();
        searcher.Search(start, end, {0xFFFFFFFF, 0xFFFF, 0xFFFF},
                        [answer](unsigned, std::vector<std::vector<timeline_record_s>>& result) {
                            answer->set_value(result);
                        });
        return Await(future);
    }

    // Holds every thread of the service pool inside the callbacks of track
    // searches (ids from `firstSeqId` on) until Open.
    class PoolGate {
      public:
        PoolGate(MediaRecorder& engine, unsigned firstSeqId) {
            for (int i = 0; i < kServiceThreads; ++i) {
                ITrackSearcher* searcher = engine.CreateTrackSearcher(firstSeqId + i);
                EXPECT_NE(searcher, nullptr);
                if (searcher == nullptr) return;
                // The callbacks may outlive the gate: they hold what they use.
                searcher->Search(0, 0,
                                 [inside = inside_, opened = opened_](unsigned, int64_t, int64_t,
                                                                      const std::list<int>&) {
                                     ++*inside;
                                     opened.wait();
                                 });
            }
            EXPECT_TRUE(test::WaitFor([this] { return *inside_ == kServiceThreads; }));
        }
        ~PoolGate() { Open(); }
        PoolGate(const PoolGate&) = delete;
        PoolGate& operator=(const PoolGate&) = delete;

        void Open() {
            if (!open_.exchange(true)) gate_.set_value();
        }

      private:
        std::promise<void> gate_;
        std::shared_future<void> opened_ = gate_.get_future().share();
        std::shared_ptr<std::atomic<int>> inside_ = std::make_shared<std::atomic<int>>(0);
        std::atomic<bool> open_{false};
    };

    // Returns once every search queued before it has run: the pool takes
    // jobs in order, and these hold all of its threads at once.
    void Drain(unsigned firstSeqId) {
        auto inside = std::make_shared<std::atomic<int>>(0);
        std::vector<std::future<void>> left;
        for (int i = 0; i < kServiceThreads; ++i) {
            ITrackSearcher* searcher = engine_->CreateTrackSearcher(firstSeqId + i);
            ASSERT_NE(searcher, nullptr);
            auto leaving = std::make_shared<std::promise<void>>();
            left.push_back(leaving->get_future());
            searcher->Search(0, 0,
                             [inside, leaving](unsigned, int64_t, int64_t, const std::list<int>&) {
                                 ++*inside;
                                 test::WaitFor([&] { return *inside == kServiceThreads; });
                                 leaving->set_value();
                             });
        }
        for (auto& one : left) one.wait();
        EXPECT_EQ(inside->load(), kServiceThreads);
        for (int i = 0; i < kServiceThreads; ++i) engine_->DeleteTrackSearcher(firstSeqId + i);
    }
};

TEST_F(SearcherRegistryTest, SearchersOverNoKnownChannel) {
    test::LogCapture log;
    std::vector<std::string> nobody = {"nobody"};
    EXPECT_EQ(engine_->CreateTrackSearcher(1), nullptr);
    EXPECT_EQ(engine_->CreateCalendarSearcher(2, nobody), nullptr);
    EXPECT_EQ(log.Count("Channel is empty. seqID = 1"), 1u);
    EXPECT_EQ(log.Count("Channel is empty. seqID = 2"), 1u);
    // A timeline searcher over no channel answers with nothing.
    ITimelineSearcher* timeline = engine_->CreateTimelineSearcher(3, nobody);
    ASSERT_NE(timeline, nullptr);
    EXPECT_TRUE(Timeline(*timeline, kStart, kStart + 3600).empty());
    EXPECT_EQ(log.Count("Added a ITimelineSearcher, seqID = 3"), 1u);
}

TEST_F(SearcherRegistryTest, SearchesAnswerOnceOverRecordingsOfTheEngine) {
    Record("cam1", kStart, kStart + 9, 1, kStart + 5);
    // cam2 records two days later in the low profile alone.
    Record("cam2", kStart + 2 * kDay, kStart + 2 * kDay + 4, 2);
    test::LogCapture log;

    std::vector<std::string> ids = {"cam1", "nobody", "cam2"};
    ICalendarSearcher* calendar = engine_->CreateCalendarSearcher(1, ids);
    ASSERT_NE(calendar, nullptr);
    EXPECT_EQ(Days(*calendar, 2024, 12), (std::set<int>{10, 12}));
    EXPECT_EQ(log.Count("Added a CalendarSearcher. seqID = 1"), 1u);

    ITrackSearcher* tracks = engine_->CreateTrackSearcher(1);
    ASSERT_NE(tracks, nullptr);
    EXPECT_EQ(Tracks(*tracks, kStart, kStart + 3599), (std::list<int>{1, 2}));
    EXPECT_EQ(Tracks(*tracks, kStart + kDay, kStart + 3 * kDay), (std::list<int>{1}));
    EXPECT_EQ(log.Count("Added a SearchOverlapTrackImpl. seqID = 1"), 1u);

    std::vector<std::string> cam1 = {"cam1"};
    ITimelineSearcher* timeline = engine_->CreateTimelineSearcher(1, cam1);
    ASSERT_NE(timeline, nullptr);
    const auto spans = Timeline(*timeline, kStart, kStart + 3599);
    ASSERT_EQ(spans.size(), 2u);  // tracks 1 and 2
    EXPECT_EQ(spans[0].front().trackId, 1);
    EXPECT_EQ(spans[1].front().trackId, 2);

    // Every search answers exactly once.
    std::atomic<int> answers{0};
    calendar->Search(2024, 12,
                     [&](unsigned, int, int, const std::list<unsigned char>&) { ++answers; });
    tracks->Search(kStart, kStart + 10,
                   [&](unsigned, int64_t, int64_t, const std::list<int>&) { ++answers; });
    Drain(900);
    EXPECT_EQ(answers.load(), 2);

    engine_->DeleteCalendarSearcher(1);
    engine_->DeleteTrackSearcher(1);
    engine_->DeleteTimelineSearcher(1);
    EXPECT_EQ(log.Count("Deleted a CalendarSearcher. seqID = 1"), 1u);
    EXPECT_EQ(log.Count("Deleted a SearchMedia. seqID = 1"), 1u);
    EXPECT_EQ(log.Count("Deleted a ITimelineSearcher. seqID = 1"), 1u);
}

TEST_F(SearcherRegistryTest, ASequenceIdNamesOneSearcherOfEachKind) {
    Record("cam1", kStart, kStart + 2);
    std::vector<std::string> cam1 = {"cam1"};
    ICalendarSearcher* first = engine_->CreateCalendarSearcher(5, cam1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(engine_->CreateCalendarSearcher(5, cam1), nullptr);
    EXPECT_EQ(engine_->CreateTimelineSearcher(5, cam1) == nullptr, false);
    EXPECT_EQ(engine_->CreateTimelineSearcher(5, cam1), nullptr);
    ITrackSearcher* tracks = engine_->CreateTrackSearcher(5);
    ASSERT_NE(tracks, nullptr);
    EXPECT_EQ(engine_->CreateTrackSearcher(5), nullptr);
    EXPECT_EQ(Days(*first, 2024, 12), (std::set<int>{10}));  // the first one stays

    // Deleting one kind leaves the others of that id.
    engine_->DeleteCalendarSearcher(5);
    EXPECT_EQ(Tracks(*tracks, kStart, kStart + 10), (std::list<int>{1}));
    EXPECT_NE(engine_->CreateCalendarSearcher(5, cam1), nullptr);
    engine_->DeleteTrackSearcher(5);
    EXPECT_NE(engine_->CreateTrackSearcher(5), nullptr);
    engine_->DeleteCalendarSearcher(77);  // unknown: nothing happens
}

TEST_F(SearcherRegistryTest, SearchersGoneBeforeTheirSearchRunsNeverAnswer) {
    Record("cam1", kStart, kStart + 2);
    std::vector<std::string> cam1 = {"cam1"};
    std::atomic<int> answers{0};
    {
        PoolGate gate(*engine_, 800);
        // Queued behind the gate: one deleted, the others dropped by Finalize.
        ICalendarSearcher* calendar = engine_->CreateCalendarSearcher(1, cam1);
        ITrackSearcher* tracks = engine_->CreateTrackSearcher(2);
        ITimelineSearcher* timeline = engine_->CreateTimelineSearcher(3, cam1);
        ASSERT_TRUE(calendar && tracks && timeline);
        calendar->Search(2024, 12,
                         [&](unsigned, int, int, const std::list<unsigned char>&) { ++answers; });
        tracks->Search(kStart, kStart + 10,
                       [&](unsigned, int64_t, int64_t, const std::list<int>&) { ++answers; });
        timeline->Search(
            kStart, kStart + 10, {0xFFFFFFFF, 0xFFFF, 0xFFFF},
            [&](unsigned, std::vector<std::vector<timeline_record_s>>&) { ++answers; });
        engine_->DeleteCalendarSearcher(1);
        engine_->Finalize(false);
    }
    Drain(900);
    EXPECT_EQ(answers.load(), 0);
    // Finalize emptied every registry, the gate's searchers too.
    EXPECT_NE(engine_->CreateTrackSearcher(2), nullptr);
    EXPECT_NE(engine_->CreateTimelineSearcher(3, cam1), nullptr);
    EXPECT_NE(engine_->CreateTrackSearcher(800), nullptr);
    engine_->Initialize();
}

TEST_F(SearcherRegistryTest, AChannelDeletedWithoutItsDataIsStillSearched) {
    std::string d = "D";
    std::string e = "E";
    ASSERT_TRUE(engine_->SetMediaDrive(e, MEDIA_DRIVE_STATUS_RELEASE));
    Record("cam1", kStart, kStart + 2);  // on D
    std::string id = "cam1";
    std::vector<std::string> cam1 = {id};
    ASSERT_TRUE(engine_->DeleteChannel(id, false));

    ICalendarSearcher* calendar = engine_->CreateCalendarSearcher(1, cam1);
    ASSERT_NE(calendar, nullptr);
    EXPECT_EQ(Days(*calendar, 2024, 12), (std::set<int>{10}));
    ITrackSearcher* tracks = engine_->CreateTrackSearcher(1);
    ASSERT_NE(tracks, nullptr);
    EXPECT_EQ(Tracks(*tracks, kStart, kStart + 10), (std::list<int>{1}));
    ITimelineSearcher* timeline = engine_->CreateTimelineSearcher(1, cam1);
    ASSERT_NE(timeline, nullptr);
    EXPECT_EQ(Timeline(*timeline, kStart, kStart + 10).size(), 1u);

    // Recorded again, on E, and deleted again without its data: both
    // recordings stay reachable.
    ASSERT_TRUE(engine_->SetMediaDrive(d, MEDIA_DRIVE_STATUS_RELEASE));
    ASSERT_TRUE(engine_->SetMediaDrive(e, MEDIA_DRIVE_STATUS_ALLOCATE));
    Record("cam1", kStart + kDay, kStart + kDay + 2);
    ASSERT_TRUE(fs::exists(drives_.Path() / "E" / "KVTRecordData" / "cam1"));
    ASSERT_TRUE(engine_->DeleteChannel(id, false));
    EXPECT_NE(engine_->CreateCalendarSearcher(2, cam1), nullptr);
    EXPECT_EQ(Days(*engine_->CreateCalendarSearcher(3, cam1), 2024, 12), (std::set<int>{10, 11}));

    // With its data nothing of it remains.
    ASSERT_TRUE(engine_->DeleteChannel(id, true));
    for (const char* letter : {"D", "E"}) {
        EXPECT_FALSE(fs::exists(drives_.Path() / letter / "KVTRecordData" / "cam1")) << letter;
    }
    EXPECT_EQ(engine_->CreateCalendarSearcher(4, cam1), nullptr);
    EXPECT_EQ(engine_->CreateTrackSearcher(4), nullptr);
    ITimelineSearcher* none = engine_->CreateTimelineSearcher(4, cam1);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(Timeline(*none, kStart, kStart + 10).empty());
    // Searchers made before keep their answers honest: the recordings are gone.
    EXPECT_TRUE(Days(*calendar, 2024, 12).empty());
}

TEST_F(SearcherRegistryTest, DeletingWithItsDataRemovesWhatAnEarlierDeleteKept) {
    std::string d = "D";
    std::string e = "E";
    std::string id = "cam1";
    ASSERT_TRUE(engine_->SetMediaDrive(e, MEDIA_DRIVE_STATUS_RELEASE));
    Record(id, kStart, kStart + 2);  // on D
    ASSERT_TRUE(engine_->DeleteChannel(id, false));
    ASSERT_TRUE(engine_->SetMediaDrive(d, MEDIA_DRIVE_STATUS_RELEASE));
    ASSERT_TRUE(engine_->SetMediaDrive(e, MEDIA_DRIVE_STATUS_ALLOCATE));
    Record(id, kStart + kDay, kStart + kDay + 2);  // on E, by a channel that knows only E

    ASSERT_TRUE(engine_->DeleteChannel(id, true));
    for (const char* letter : {"D", "E"}) {
        EXPECT_FALSE(fs::exists(drives_.Path() / letter / "KVTRecordData" / "cam1")) << letter;
    }
    std::vector<std::string> cam1 = {id};
    EXPECT_EQ(engine_->CreateCalendarSearcher(1, cam1), nullptr);
}

TEST_F(SearcherRegistryTest, AChannelFoundOnTheDrivesWithoutACatalogueRowIsSearched) {
    Record("cam1", kStart, kStart + 2);
    // A new engine whose catalogue knows nothing of cam1.
    engine_->Finalize(true);
    StartEngine();
    std::vector<std::string> cam1 = {"cam1"};
    ICalendarSearcher* calendar = engine_->CreateCalendarSearcher(1, cam1);
    ASSERT_NE(calendar, nullptr);
    EXPECT_EQ(Days(*calendar, 2024, 12), (std::set<int>{10}));
    ITrackSearcher* tracks = engine_->CreateTrackSearcher(1);
    ASSERT_NE(tracks, nullptr);
    EXPECT_EQ(Tracks(*tracks, kStart, kStart + 10), (std::list<int>{1}));
}

}  // namespace
}  // namespace orvale::recorder
