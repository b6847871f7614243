// Timeline spans of a recorded channel: motion and alarm runs, a gap without
// recording, analytics bits, a span across an hour boundary and a second
// track, read through the masks of a search.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "recorder/playback/TimelineSearcher.h"
#include "recorder/playback/TimelineSpans.h"
#include "tests/playback/TimelineFixture.h"

namespace orvale::recorder {
namespace {

using test::kDay1;
using test::kHour;

constexpr int64_t kH = kDay1 + 10 * kHour;  // first recorded hour
constexpr int64_t kH2 = kH + kHour;
constexpr timeline_filter_s kAll{0xFFFFFFFF, 0xFFFF, 0xFFFF};

// "flags0/flags1/flags2 start..end track [end]" with times as offsets from kH.
std::vector<std::vector<std::string>> Describe(
    const std::vector<std::vector<timeline_record_s>>& result) {
    std::vector<std::vector<std::string>> out;
    for (const auto& track : result) {
        auto& lines = out.emplace_back();
        for (const auto& span : track) {
            char text[128];
            std::snprintf(text, sizeof(text), "%x/%x/%x %lld..%lld t%d%s%s", span.flags0,
                          span.flags1, span.flags2, static_cast<long long>(span.start - kH),
                          static_cast<long long>(span.end - kH), span.trackId,
                          span.closedByEnd ? " end" : "", span.channelId == "cam1" ? "" : " ?");
            lines.emplace_back(text);
        }
    }
    return out;
}

class TimelineSearcherTest : public test::TimelineFixture {
  protected:
    // Track 1: motion 0-9, motion+alarm 10-14, nothing 15-19, motion with
    // the passing analytics bit 20-24, motion 3590 to 3604 across the hour
    // boundary. Track 2: alarm 100-104.
    void SetUp() override {
        TimelineFixture::SetUp();
        RecordRuns({{kH, kH + 9, 0x4},
                    {kH + 10, kH + 14, 0x6},
                    {kH + 20, kH + 24, 0x24, 0x1},
                    {kH + 3590, kH + 3599, 0x4}});
        RecordRuns({{kH2, kH2 + 4, 0x4}});
        RecordRuns({{kH + 100, kH + 104, 0x2}}, 2);
    }

    std::shared_ptr<TimelineSearcher> MakeSearcher(common::AsioThreadPool* pool) {
        return std::make_shared<TimelineSearcher>(7, TimelineSearcher::Channels{channel_}, pool);
    }
};

TEST_F(TimelineSearcherTest, SpansFollowTheMasks) {
    const struct {
        const char* name;
        int64_t start;
        int64_t end;
        timeline_filter_s filter;
        std::vector<std::vector<std::string>> expected;
    } cases[] = {
        {"every bit",
         kH,
         kH2 + kHour - 1,
         kAll,
         {{"4/0/0 0..10 t1", "6/0/0 10..14 t1 end", "24/1/0 20..24 t1 end",
           "4/0/0 3590..3604 t1 end"},
          {"2/0/0 100..104 t2 end"}}},
        {"motion only: the alarm change does not split",
         kH,
         kH2 + kHour - 1,
         {0x4, 0, 0},
         {{"4/0/0 0..14 t1 end", "4/0/0 20..24 t1 end", "4/0/0 3590..3604 t1 end"}}},
        {"alarm only",
         kH,
         kH2 + kHour - 1,
         {0x2, 0, 0},
         {{"2/0/0 10..14 t1 end"}, {"2/0/0 100..104 t2 end"}}},
        {"analytics only marks the event word",
         kH,
         kH2 + kHour - 1,
         {0, 0x1, 0},
         {{"20/1/0 20..24 t1 end"}}},
        {"nothing passes", kH, kH2 + kHour - 1, {0, 0, 0}, {}},
        {"a range ending inside its last hour",
         kH + 5,
         kH2 + 2,
         kAll,
         {{"4/0/0 5..10 t1", "6/0/0 10..14 t1 end", "24/1/0 20..24 t1 end", "4/0/0 3590..3602 t1"},
          {"2/0/0 100..104 t2 end"}}},
        {"a range ending where the recording of the last hour ends",
         kH + 3595,
         kH2 + 4,
         kAll,
         {{"4/0/0 3595..3604 t1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TimelineSearcher::Result result;
        EXPECT_TRUE(MakeSearcher(&pool_)->GetTimeline(c.start, c.end, c.filter, result));
        EXPECT_EQ(Describe(result), c.expected);
    }
}

TEST_F(TimelineSearcherTest, ASpanEndsWithTheLastHourThatHasAFile) {
    // Hour kH2 + 1 has no file: the span running to the end of kH2's
    // recording is closed there, not at the end of the range.
    RecordRuns({{kH2 + kHour - 5, kH2 + kHour - 1, 0x4}});
    TimelineSearcher::Result result;
    MakeSearcher(nullptr)->GetTimeline(kH2 + kHour - 10, kH2 + 3 * kHour, {0x4, 0, 0}, result);
    EXPECT_EQ(Describe(result),
              (std::vector<std::vector<std::string>>{{"4/0/0 7195..7199 t1 end"}}));
}

TEST_F(TimelineSearcherTest, SearchAnswersOnceWithTheSequenceIdAndRepeatsItself) {
    const auto searcher = MakeSearcher(&pool_);
    std::vector<std::vector<std::vector<std::string>>> answers;
    for (int i = 0; i < 2; ++i) {
        std::promise<std::pair<unsigned, TimelineSearcher::Result>> promise;
        auto answer = promise.get_future();
        EXPECT_TRUE(searcher->Search(kH, kH + 200, {0x2, 0, 0},
                                     [&promise](unsigned seq, TimelineSearcher::Result& result) {
                                         promise.set_value({seq, std::move(result)});
                                     }));
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        const auto [seq, result] = answer.get();
        EXPECT_EQ(seq, 7u);
        answers.push_back(Describe(result));
    }
    // The second search starts from nothing: no span of the first comes back.
    const std::vector<std::vector<std::string>> expected{{"2/0/0 10..14 t1 end"},
                                                         {"2/0/0 100..104 t2 end"}};
    EXPECT_EQ(answers[0], expected);
    EXPECT_EQ(answers[1], expected);
}

TEST_F(TimelineSearcherTest, AChannelWithoutRecordingGivesNoVector) {
    auto empty = std::make_shared<Channel>("cam2", 0, true, &pool_, buffers_);
    empty->AddDrives({drives_.at('D')});
    TimelineSearcher searcher(1, {empty}, &pool_);
    TimelineSearcher::Result result;
    EXPECT_TRUE(searcher.GetTimeline(kH, kH2, kAll, result));
    EXPECT_TRUE(result.empty());
}

// The folding rule on rows that no single hour file gives: the same second
// in two files (two drives holding one hour).
TEST(TimelineSpansTest, AReopenedSpanForgetsHowItWasClosed) {
    auto row = [](int64_t t, uint32_t event, bool end = false) {
        timeline_flags_s flags;
        flags.time = t;
        flags.eventBits = event;
        flags.end = end;
        return flags;
    };
    TimelineSpans spans(1, "cam1");
    spans.Add(row(10, 0x4));
    spans.Add(row(15, 0, true));  // closes 10..14
    spans.Add(row(15, 0x4));      // the other file goes on at 15
    spans.Add(row(20, 0x2));      // other flags begin at 20
    spans.CloseOpenSpan(30, false);
    const auto& result = spans.Spans();
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].start, 10);
    EXPECT_EQ(result[0].end, 20);
    EXPECT_FALSE(result[0].closedByEnd);
    EXPECT_EQ(result[1].start, 20);
    EXPECT_EQ(result[1].end, 30);
}

}  // namespace
}  // namespace orvale::recorder
