// The track ids recorded in a time range over several channels.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <list>
#include <memory>

#include "recorder/playback/TrackSearcher.h"
#include "tests/playback/SearcherFixture.h"

namespace orvale::recorder {
namespace {

using test::kDay1;
using test::kHour;

constexpr int64_t k10 = kDay1 + 10 * kHour;

class TrackSearcherTest : public test::SearcherFixture {
  protected:
    // Tracks 12 and 3 on cam1 in hour 10, track 12 on cam2 in hour 11, and
    // track 5 on cam2 in hour 14.
    void SetUp() override {
        SearcherFixture::SetUp();
        RecordIn(*cam1_, k10 + 5, k10 + 9, kProfileNormal, 12);
        RecordIn(*cam1_, k10 + 20, k10 + 29, kProfileNormal, 3);
        RecordIn(*cam2_, k10 + kHour, k10 + kHour + 4, kProfileNormal, 12);
        RecordIn(*cam2_, k10 + 4 * kHour, k10 + 4 * kHour + 4, kProfileNormal, 5);
    }

    std::list<int> Search(TrackSearcher::Channels channels, int64_t start, int64_t end) {
        const auto searcher =
            std::make_shared<TrackSearcher>(4, std::move(channels), searchPool_.IoService());
        auto promise = std::make_shared<std::promise<std::list<int>>>();
        auto future = promise->get_future();
        EXPECT_TRUE(searcher->Search(
            start, end,
            [promise, start, end](unsigned seqId, int64_t s, int64_t e, std::list<int> ids) {
                EXPECT_EQ(seqId, 4u);
                EXPECT_EQ(s, start);
                EXPECT_EQ(e, end);
                promise->set_value(std::move(ids));
            }));
        if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        return future.get();
    }
};

TEST_F(TrackSearcherTest, TracksOfEveryChannelAscendingAndOnce) {
    EXPECT_EQ(Search({cam1_, cam2_}, k10, k10 + 2 * kHour - 1), (std::list<int>{3, 12}));
    // A range that ends inside an hour takes that hour's folders.
    EXPECT_EQ(Search({cam1_, cam2_}, k10 + 3 * kHour + 1800, k10 + 4 * kHour + 1),
              (std::list<int>{5}));
    EXPECT_EQ(Search({cam2_}, k10, k10 + 5 * kHour), (std::list<int>{5, 12}));
}

TEST_F(TrackSearcherTest, NothingForAReversedRangeNoChannelOrAnEmptyHour) {
    EXPECT_TRUE(Search({cam1_, cam2_}, k10 + kHour, k10).empty());
    EXPECT_TRUE(Search({}, k10, k10 + 5 * kHour).empty());
    EXPECT_TRUE(Search({cam1_, cam2_}, k10 + 2 * kHour, k10 + 3 * kHour - 1).empty());
}

TEST_F(TrackSearcherTest, ASearcherGoneBeforeItsSearchRunsNeverAnswers) {
    common::AsioThreadPool one(1);
    std::promise<void> gate;
    one.Post([opened = gate.get_future().share()] { opened.wait(); });
    auto searcher =
        std::make_shared<TrackSearcher>(1, TrackSearcher::Channels{cam1_}, one.IoService());
    std::atomic<int> answers{0};
    ASSERT_TRUE(searcher->Search(
        k10, k10 + kHour, [&](unsigned, int64_t, int64_t, const std::list<int>&) { ++answers; }));
    searcher.reset();
    gate.set_value();
    auto drained = std::make_shared<std::promise<void>>();
    one.Post([drained] { drained->set_value(); });
    drained->get_future().wait();
    EXPECT_EQ(answers.load(), 0);
}

}  // namespace
}  // namespace orvale::recorder
