// Track and timeline searches through MediaRecorder over ranges that reach
// as far as a 64-bit time goes ("search everything") find what lies in
// them, as the same search over the span the engine can store does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/core/PlaybackEngineFixture.h"
#include "tests/support/WaitFor.h"

namespace orvale::recorder {
namespace {

using test::kPlayStart;

constexpr int64_t kS = kPlayStart;
constexpr int64_t kLast = kS + 9;
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
using test::Await;

class SearchRangesTest : public test::PlaybackEngineFixture {
  protected:
    void SetUp() override {
        PlaybackEngineFixture::SetUp();
        Record("cam1", {{kS, kLast}});
    }

    std::list<int> Tracks(int64_t start, int64_t end) {
        auto answer = std::make_shared<std::promise<std::list<int>>>();
        auto future = answer->get_future();
        tracks_->Search(start, end, [answer](unsigned, int64_t, int64_t, std::list<int> ids) {
            answer->set_value(std::move(ids));
        });
        return Await(future);
    }
    // The spans found, as [start, end] pairs.
    std::vector<std::pair<int64_t, int64_t>> Spans(int64_t start, int64_t end) {
        auto answer = std::make_shared<std::promise<std::vector<std::vector<timeline_record_s>>>>();
        auto future = answer->get_future();
        timeline_->Search(start, end, {0xFFFFFFFF, 0xFFFF, 0xFFFF},
                          [answer](unsigned, std::vector<std::vector<timeline_record_s>>& result) {
                              answer->set_value(result);
                          });
        std::vector<std::pair<int64_t, int64_t>> spans;
        for (const auto& track : Await(future)) {
            for (const auto& record : track) spans.emplace_back(record.start, record.end);
        }
        return spans;
    }

    ITrackSearcher* tracks_ = nullptr;
    ITimelineSearcher* timeline_ = nullptr;
};

TEST_F(SearchRangesTest, ASearchOverAnyRangeFindsWhatLiesInIt) {
    tracks_ = engine_->CreateTrackSearcher(1);
    std::vector<std::string> cams = {"cam1"};
    timeline_ = engine_->CreateTimelineSearcher(2, cams);
    ASSERT_NE(tracks_, nullptr);
    ASSERT_NE(timeline_, nullptr);
    const std::pair<int64_t, int64_t> ranges[] = {
        {kMin, kMax},
        {kMin, kLast},
        {kMin + 1, kLast + 5},
        {kMin + 3599, kMax - 1},
        {kS, kMax},
        {kS, kMax - 3599},
        {kMin, kS},
        {0, 253402300799},
    };
    for (const auto& [from, to] : ranges) {
        SCOPED_TRACE(std::to_string(from) + ".." + std::to_string(to));
        EXPECT_EQ(Tracks(from, to), std::list<int>{1});
        const auto spans = Spans(from, to);
        ASSERT_FALSE(spans.empty());
        EXPECT_EQ(spans.front().first, kS);
        EXPECT_GE(spans.back().second, std::min(to, kLast));
    }
}

}  // namespace
}  // namespace orvale::recorder
