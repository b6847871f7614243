// Searches that occupy every thread of their pool still answer: each waiting
// search runs its own tasks.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include "common/AsioThreadPool.h"
#include "recorder/playback/TimelineSearcher.h"
#include "tests/playback/TimelineFixture.h"

namespace orvale::recorder {
namespace {

using test::kDay1;
using test::kHour;

constexpr int64_t kH = kDay1 + 10 * kHour;
constexpr int kSearches = 16;

class TimelineConcurrencyTest : public test::TimelineFixture {
  protected:
    // Two tracks over two hours, so every search has several tasks.
    void SetUp() override {
        TimelineFixture::SetUp();
        for (int track = 1; track <= 2; ++track) {
            RecordRuns({{kH, kH + 9, 0x4}}, track);
            RecordRuns({{kH + kHour, kH + kHour + 9, 0x2}}, track);
        }
    }
};

TEST_F(TimelineConcurrencyTest, SixteenSearchesOnASixteenThreadPoolAllAnswer) {
    common::AsioThreadPool searchPool(kSearches);
    std::vector<std::shared_ptr<TimelineSearcher>> searchers;
    std::vector<std::promise<TimelineSearcher::Result>> promises(kSearches);
    std::vector<std::future<TimelineSearcher::Result>> answers;
    for (int i = 0; i < kSearches; ++i) {
        searchers.push_back(std::make_shared<TimelineSearcher>(
            i, TimelineSearcher::Channels{channel_}, &searchPool));
        answers.push_back(promises[i].get_future());
    }
    for (int i = 0; i < kSearches; ++i) {
        searchers[i]->Search(kH, kH + 2 * kHour - 1, {0xFFFFFFFF, 0xFFFF, 0xFFFF},
                             [&promises](unsigned seq, TimelineSearcher::Result& result) {
                                 promises[seq].set_value(std::move(result));
                             });
    }
    for (auto& answer : answers) {
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        const TimelineSearcher::Result result = answer.get();
        ASSERT_EQ(result.size(), 2u);
        for (const auto& track : result) {
            ASSERT_EQ(track.size(), 2u);
            EXPECT_EQ(track[0].start, kH);
            EXPECT_EQ(track[0].end, kH + 9);
            EXPECT_EQ(track[1].start, kH + kHour);
            EXPECT_EQ(track[1].flags0, 0x2u);
        }
    }
}

}  // namespace
}  // namespace orvale::recorder
