// The days of a month on which channels recorded: local calendar days in
// UTC, across both daylight-saving changes of Berlin and in Kolkata's
// half-hour zone; months and years out of range; searches whose searcher is
// gone, and callbacks that throw.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <list>
#include <memory>
#include <set>
#include <stdexcept>

#include "recorder/playback/CalendarSearcher.h"
#include "tests/playback/SearcherFixture.h"
#include "tests/support/TimeZone.h"
#include "tests/support/Times.h"

namespace orvale::recorder {
namespace {

using test::UtcSeconds;

struct Answer {
    unsigned seqId = 0;
    int year = 0;
    int month = 0;
    std::list<unsigned char> flags;
};

// The days flagged in an answer.
std::set<int> Days(const std::list<unsigned char>& flags) {
    std::set<int> days;
    int day = 1;
    for (const unsigned char flag : flags) {
        EXPECT_LE(flag, 1);
        if (flag != 0) days.insert(day);
        ++day;
    }
    return days;
}

class CalendarSearcherTest : public test::SearcherFixture {
  protected:
    std::shared_ptr<CalendarSearcher> Searcher(CalendarSearcher::Channels channels,
                                               uint32_t seqId = 7) {
        return std::make_shared<CalendarSearcher>(seqId, std::move(channels),
                                                  searchPool_.IoService());
    }

    // One search through the pool, as the engine's caller sees it.
    static Answer Search(CalendarSearcher& searcher, int year, int month) {
        auto promise = std::make_shared<std::promise<Answer>>();
        auto future = promise->get_future();
        EXPECT_TRUE(searcher.Search(
            year, month, [promise](unsigned seqId, int y, int m, std::list<unsigned char> flags) {
                promise->set_value({seqId, y, m, std::move(flags)});
            }));
        if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        return future.get();
    }

    std::set<int> DaysOf(int year, int month) {
        const Answer answer = Search(*Searcher({cam1_, cam2_}), year, month);
        EXPECT_EQ(answer.flags.size(), 31u);
        return Days(answer.flags);
    }
};

TEST_F(CalendarSearcherTest, UtcDaysOfEveryChannelInEitherProfile) {
    test::TimeZone zone("UTC");
    // Across midnight from the 3rd to the 4th; the 17th; February 28th and
    // March 1st 2023, which has no February 29th.
    RecordIn(*cam1_, UtcSeconds(2024, 3, 3, 23, 59, 30), UtcSeconds(2024, 3, 3, 23, 59, 59));
    RecordIn(*cam1_, UtcSeconds(2024, 3, 4), UtcSeconds(2024, 3, 4, 0, 0, 30));
    RecordIn(*cam1_, UtcSeconds(2024, 3, 17, 12), UtcSeconds(2024, 3, 17, 12, 0, 5));
    RecordIn(*cam1_, UtcSeconds(2023, 2, 28, 8), UtcSeconds(2023, 2, 28, 8, 0, 5));
    RecordIn(*cam1_, UtcSeconds(2023, 3, 1, 8), UtcSeconds(2023, 3, 1, 8, 0, 5));
    // cam2 on other days: the 20th in the low profile alone, the 5th in both.
    RecordIn(*cam2_, UtcSeconds(2024, 3, 20, 7), UtcSeconds(2024, 3, 20, 7, 0, 5), kProfileLow);
    RecordIn(*cam2_, UtcSeconds(2024, 3, 5, 7), UtcSeconds(2024, 3, 5, 7, 0, 5));
    RecordIn(*cam2_, UtcSeconds(2024, 3, 5, 7), UtcSeconds(2024, 3, 5, 7, 0, 5), kProfileLow);

    const Answer march = Search(*Searcher({cam1_, cam2_}), 2024, 3);
    EXPECT_EQ(march.seqId, 7u);
    EXPECT_EQ(march.year, 2024);
    EXPECT_EQ(march.month, 3);
    ASSERT_EQ(march.flags.size(), 31u);
    EXPECT_EQ(Days(march.flags), (std::set<int>{3, 4, 5, 17, 20}));
    EXPECT_EQ(Days(Search(*Searcher({cam2_}), 2024, 3).flags), (std::set<int>{5, 20}));
    EXPECT_EQ(DaysOf(2023, 2), (std::set<int>{28}));
    EXPECT_EQ(DaysOf(2023, 3), (std::set<int>{1}));
    EXPECT_EQ(DaysOf(2024, 4), (std::set<int>{}));
}

TEST_F(CalendarSearcherTest, BerlinDaysFollowBothDaylightSavingChanges) {
    test::TimeZone zone("Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3");
    // Summer time begins on 31 March 2024, a day of 23 hours.
    RecordIn(*cam1_, UtcSeconds(2024, 3, 30, 22, 30), UtcSeconds(2024, 3, 30, 22, 30, 5));
    // 00:30 on 1 April.
    RecordIn(*cam1_, UtcSeconds(2024, 3, 31, 22, 30), UtcSeconds(2024, 3, 31, 22, 30, 5));
    // Winter time begins on 27 October 2024, a day of 25 hours: 23:30 on
    // the 26th, 23:30 on the 27th, and 00:30 on 29 October.
    RecordIn(*cam1_, UtcSeconds(2024, 10, 26, 21, 30), UtcSeconds(2024, 10, 26, 21, 30, 5));
    RecordIn(*cam1_, UtcSeconds(2024, 10, 27, 22, 30), UtcSeconds(2024, 10, 27, 22, 30, 5));
    RecordIn(*cam1_, UtcSeconds(2024, 10, 28, 23, 30), UtcSeconds(2024, 10, 28, 23, 30, 5));

    EXPECT_EQ(DaysOf(2024, 3), (std::set<int>{30}));
    EXPECT_EQ(DaysOf(2024, 4), (std::set<int>{1}));
    EXPECT_EQ(DaysOf(2024, 10), (std::set<int>{26, 27, 29}));
}

TEST_F(CalendarSearcherTest, KolkataHalfHourZoneCountsTheLastPartialHour) {
    test::TimeZone zone("Asia/Kolkata", "IST-5:30");
    // 23:45 on 10 March (18:15 UTC, in the last partial UTC hour of the
    // local day) and 00:15 on 12 March (18:45 UTC on the 11th).
    RecordIn(*cam1_, UtcSeconds(2024, 3, 10, 18, 15), UtcSeconds(2024, 3, 10, 18, 15, 5));
    RecordIn(*cam1_, UtcSeconds(2024, 3, 11, 18, 45), UtcSeconds(2024, 3, 11, 18, 45, 5));

    EXPECT_EQ(DaysOf(2024, 3), (std::set<int>{10, 12}));
}

TEST_F(CalendarSearcherTest, MonthsAndYearsOutOfRangeAnswerThirtyOneZeros) {
    test::TimeZone zone("UTC");
    RecordIn(*cam1_, UtcSeconds(2024, 1, 1, 8), UtcSeconds(2024, 1, 1, 8, 0, 5));
    struct Case {
        int year;
        int month;
        bool valid;
    };
    const Case cases[] = {{2024, 13, false}, {2024, 0, false}, {2024, -1, false}, {1399, 5, false},
                          {10001, 1, false}, {1400, 1, true},  {10000, 12, true}};
    const auto searcher = Searcher({cam1_});
    for (const Case& c : cases) {
        log_.Clear();
        const Answer answer = Search(*searcher, c.year, c.month);
        EXPECT_EQ(answer.year, c.year);
        EXPECT_EQ(answer.month, c.month);
        EXPECT_EQ(answer.flags, std::list<unsigned char>(31, 0)) << c.year << "-" << c.month;
        const std::string warning = "Out of Range. year = " + std::to_string(c.year) +
                                    " , month = " + std::to_string(c.month);
        EXPECT_EQ(log_.Count(warning), c.valid ? 0u : 1u) << warning;
    }
    EXPECT_EQ(Days(Search(*searcher, 2024, 1).flags), (std::set<int>{1}));
}

TEST_F(CalendarSearcherTest, ASearcherGoneBeforeItsSearchRunsNeverAnswers) {
    common::AsioThreadPool one(1);
    std::promise<void> gate;
    one.Post([opened = gate.get_future().share()] { opened.wait(); });
    auto searcher =
        std::make_shared<CalendarSearcher>(1, CalendarSearcher::Channels{cam1_}, one.IoService());
    std::atomic<int> answers{0};
    ASSERT_TRUE(searcher->Search(
        2024, 3, [&](unsigned, int, int, const std::list<unsigned char>&) { ++answers; }));
    searcher.reset();
    gate.set_value();
    // One thread takes jobs in order: once this one ran, the search did too.
    auto drained = std::make_shared<std::promise<void>>();
    one.Post([drained] { drained->set_value(); });
    drained->get_future().wait();
    EXPECT_EQ(answers.load(), 0);
}

TEST_F(CalendarSearcherTest, ACallbackThatThrowsIsLoggedAndThePoolGoesOn) {
    test::TimeZone zone("UTC");
    common::AsioThreadPool one(1);
    const auto searcher =
        std::make_shared<CalendarSearcher>(3, CalendarSearcher::Channels{cam1_}, one.IoService());
    ASSERT_TRUE(searcher->Search(2024, 3, [](unsigned, int, int, const std::list<unsigned char>&) {
        throw std::runtime_error("caller's fault");
    }));
    const Answer next = Search(*searcher, 2024, 3);
    EXPECT_EQ(next.seqId, 3u);
    EXPECT_EQ(
        log_.Count("CalendarSearcher seqID = 3, The callback threw. Exception: caller's fault"),
        1u);
}

}  // namespace
}  // namespace orvale::recorder
