#include "recorder/recording/RecordDecisions.h"
#include "tests/support/Times.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/Time.h"

namespace orvale::recorder {
namespace {

// The zone is nine hours east of UTC, so local and UTC dates differ at night.
constexpr int64_t kZoneOffset = int64_t{9} * 3600;

int64_t Local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return test::UtcSeconds(year, month, day, hour, minute, second) - kZoneOffset;
}

std::tm Date(int year, int month, int day) {
    return platform::UtcTime(Local(year, month, day) + kZoneOffset);
}

class ZoneEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("TZ", "XST-9", 1);
        ::tzset();
    }
};
const auto* const kZone = ::testing::AddGlobalTestEnvironment(new ZoneEnvironment);

void Allow(media_schedule_s& schedule, int row, int hour, int minute, int slot) {
    schedule.table[(row * kScheduleMinutes + hour * 60 + minute) * kScheduleSlots + slot] = 1;
}

TEST(RecordDecisions, ScheduleSlotOfEachType) {
    const std::vector<std::pair<uint32_t, int32_t>> cases = {
        {1, 2},      {2, 1},       {4, 0},    {8, 0},    {16, 5},
        {32, 3},     {128, 4},     {2048, 0}, {8192, 0}, {0x4000, 3},
        {0x8000, 3}, {0x10000, 4}, {0, 0},    {64, 0},   {0x40000, 0},
    };
    for (const auto& [type, slot] : cases) {
        EXPECT_EQ(RecordDecisions::GetScheduleSlot(type), slot) << type;
    }
}

struct IsoWeekCase {
    int year, month, day, week;
};

TEST(RecordDecisions, IsoWeekAroundNewYear) {
    const std::vector<IsoWeekCase> cases = {
        {2019, 12, 30, 1},  {2024, 12, 30, 1}, {2024, 12, 31, 1}, {2025, 1, 5, 1},
        {2025, 1, 6, 2},    {2021, 1, 1, 53},  {2021, 1, 3, 53},  {2021, 1, 4, 1},
        {2020, 12, 31, 53}, {2016, 1, 3, 53},  {2023, 1, 1, 52},  {2026, 12, 31, 53},
        {2027, 1, 1, 53},   {2027, 1, 4, 1},   {2026, 6, 15, 25}, {2000, 1, 1, 52},
    };
    for (const IsoWeekCase& c : cases) {
        EXPECT_EQ(IsoWeekNumber(Date(c.year, c.month, c.day)), c.week)
            << c.year << "-" << c.month << "-" << c.day;
    }
}

media_holiday_s Fixed(int year, int month, int day) {
    media_holiday_s h;
    h.kind = 0;
    h.year = static_cast<int16_t>(year);
    h.month = static_cast<int16_t>(month);
    h.day = static_cast<int16_t>(day);
    return h;
}

media_holiday_s Floating(int month, int week, int dayOfWeek) {
    media_holiday_s h;
    h.kind = 1;
    h.weekMonth = static_cast<int16_t>(month);
    h.week = static_cast<int16_t>(week);
    h.dayOfWeek = dayOfWeek;
    return h;
}

struct HolidayCase {
    const char* name;
    media_holiday_s holiday;
    int year, month, day;
    bool holidayExpected;
};

TEST(RecordDecisions, HolidaysFixedAndFloating) {
    const std::vector<HolidayCase> cases = {
        {"fixed date", Fixed(2026, 12, 25), 2026, 12, 25, true},
        {"fixed date other year", Fixed(2026, 12, 25), 2025, 12, 25, false},
        {"fixed date next day", Fixed(2026, 12, 25), 2026, 12, 26, false},
        {"december in week one", Floating(12, 1, 2), 2024, 12, 31, true},
        {"same weekday a week before", Floating(12, 1, 2), 2024, 12, 24, false},
        {"january in week 53", Floating(1, 53, 5), 2021, 1, 1, true},
        {"january is not week one", Floating(1, 1, 5), 2021, 1, 1, false},
        {"wrong weekday", Floating(1, 53, 6), 2021, 1, 1, false},
        {"wrong month", Floating(2, 53, 5), 2021, 1, 1, false},
        {"mid year", Floating(6, 25, 1), 2026, 6, 15, true},
    };
    for (const HolidayCase& c : cases) {
        RecordDecisions decisions;
        decisions.SetHolidays({Floating(3, 10, 0), c.holiday});
        EXPECT_EQ(decisions.IsHoliday(Date(c.year, c.month, c.day)), c.holidayExpected) << c.name;
    }
}

struct MinuteCase {
    const char* name;
    int64_t second;
    bool useContinuous;
    bool useHoliday;
    bool recordable;
    std::vector<uint8_t> slots;
};
void PrintTo(const MinuteCase& c, std::ostream* out) {
    *out << c.name;
}

class ScheduleMinutes : public ::testing::TestWithParam<MinuteCase> {};

// 2026-12-07 is a Monday; 2026-12-25 a Friday and a holiday.
std::unique_ptr<media_schedule_s> MinuteSchedule() {
    auto schedule = std::make_unique<media_schedule_s>();
    Allow(*schedule, 1, 10, 0, kSlotMotion);
    Allow(*schedule, 1, 10, 0, kSlotContinuous);
    Allow(*schedule, 1, 10, 1, kSlotContinuous);
    Allow(*schedule, 0, 23, 59, kSlotVideoLoss);
    for (int minute = 0; minute < kScheduleMinutes; ++minute) {
        Allow(*schedule, 7, minute / 60, minute % 60, kSlotAlarm);
    }
    return schedule;
}

TEST_P(ScheduleMinutes, DecidesByLocalMinute) {
    const MinuteCase& c = GetParam();
    auto schedule = MinuteSchedule();
    schedule->useHoliday = c.useHoliday;
    RecordDecisions decisions;
    decisions.SetSchedule(*schedule);
    decisions.SetHolidays({Fixed(2026, 12, 25)});
    decisions.SetUseContinuous(c.useContinuous);
    uint8_t slots[kSlotCount] = {};
    EXPECT_EQ(decisions.IsRecordingTime(c.second, slots), c.recordable);
    EXPECT_EQ(std::vector<uint8_t>(slots, slots + kSlotCount), c.slots);
}

const std::vector<uint8_t> kNone = {0, 0, 0, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Table, ScheduleMinutes,
    ::testing::Values(
        MinuteCase{"MotionAndContinuous",
                   Local(2026, 12, 7, 10, 0, 59),
                   true,
                   false,
                   true,
                   {1, 0, 0, 0, 0, 1}},
        MinuteCase{"ContinuousOffForChunk",
                   Local(2026, 12, 7, 10, 0, 0),
                   false,
                   false,
                   true,
                   {1, 0, 0, 0, 0, 0}},
        MinuteCase{
            "OnlyContinuous", Local(2026, 12, 7, 10, 1, 30), true, false, true, {0, 0, 0, 0, 0, 1}},
        MinuteCase{"OnlyContinuousButOff", Local(2026, 12, 7, 10, 1, 30), false, false, false,
                   kNone},
        MinuteCase{"MinuteOutside", Local(2026, 12, 7, 10, 2, 0), true, false, false, kNone},
        MinuteCase{"OtherWeekday", Local(2026, 12, 8, 10, 0, 0), true, false, false, kNone},
        MinuteCase{"SundayLastMinute",
                   Local(2026, 12, 6, 23, 59, 59),
                   true,
                   false,
                   true,
                   {0, 0, 1, 0, 0, 0}},
        MinuteCase{"HolidayRow", Local(2026, 12, 25, 10, 0), true, true, true, {0, 1, 0, 0, 0, 0}},
        MinuteCase{"HolidayByLocalDateNotUtc",
                   Local(2026, 12, 25, 5, 0),
                   true,
                   true,
                   true,
                   {0, 1, 0, 0, 0, 0}},
        MinuteCase{"DayBeforeHoliday", Local(2026, 12, 24, 23, 0), true, true, false, kNone},
        MinuteCase{"DayAfterHolidayStillUtcHoliday", Local(2026, 12, 26, 8, 0), true, true, false,
                   kNone},
        MinuteCase{"HolidaySwitchOff", Local(2026, 12, 25, 10, 0), true, false, false, kNone}),
    [](const auto& info) { return std::string(info.param.name); });

// A profile's seconds as the chunk keeps them: queued summaries plus the
// current one, the decisions asked once per new second.
class EventSeconds : public ::testing::Test {
  protected:
    static constexpr int64_t kMonday = 1796605200;  // 2026-12-07 10:00:00 local

    void SetUp() override {
        ASSERT_EQ(kMonday, Local(2026, 12, 7, 10, 0, 0));
        auto schedule = std::make_unique<media_schedule_s>();
        for (int minute = 0; minute < kScheduleMinutes; ++minute) {
            if (minute == 10 * 60 + 5) continue;
            for (int slot = 0; slot < kSlotContinuous; ++slot) {
                Allow(*schedule, 1, minute / 60, minute % 60, slot);
            }
        }
        Allow(*schedule, 1, 10, 5, kSlotAlarm);
        decisions.SetSchedule(*schedule);
        event_duration_s durations;
        for (auto& slot : durations.slots) slot = {0, 3, 2};
        decisions.SetEventRecordDuration(durations);
    }

    // Starts the next second and returns the event bits it was given.
    uint32_t NextSecond(int64_t second = 0) {
        current = second != 0 ? second : current + 1;
        uint8_t slots[kSlotCount] = {};
        timeline_flags_s flags;
        if (decisions.IsRecordingTime(current, slots)) {
            flags.time = current;
            decisions.CollectSecondEvents(slots, flags);
        }
        second_frame_info_s info;
        info.CopyFlags(flags);
        seconds.push_back(info);
        return info.eventBits;
    }

    bool Start(uint32_t type, uint32_t value = 0, bool momentary = false) {
        const RecordDecisions::EventStart start =
            decisions.StartEvent(type, value, momentary, current);
        if (start.markRecent) {
            std::vector<second_frame_info_s*> queued;
            for (size_t i = 0; i + 1 < seconds.size(); ++i) queued.push_back(&seconds[i]);
            AddEventToRecentSeconds(start.preSeconds, start.flags, queued,
                                    seconds.empty() ? nullptr : &seconds.back());
        }
        return start.accepted;
    }

    std::vector<uint32_t> Bits() const {
        std::vector<uint32_t> out;
        for (const second_frame_info_s& s : seconds) out.push_back(s.eventBits);
        return out;
    }

    RecordDecisions decisions;
    std::vector<second_frame_info_s> seconds;
    int64_t current = kMonday - 1;
};

TEST_F(EventSeconds, PreAndPostTimesOfAnOpenEvent) {
    for (int i = 0; i < 5; ++i) NextSecond();
    seconds[3].eventBits = RECORD_CONTINUOUS;  // counted by the walk, never re-marked
    ASSERT_TRUE(Start(RECORD_MOTION));
    EXPECT_EQ(Bits(), (std::vector<uint32_t>{0, 4, 4, 0x10, 4}));
    EXPECT_EQ(NextSecond(), 4U);
    EXPECT_EQ(NextSecond(), 4U);
    EXPECT_EQ(decisions.StopEvent(RECORD_MOTION, 0), 1);
    EXPECT_EQ(NextSecond(), 4U);
    EXPECT_EQ(NextSecond(), 4U);
    EXPECT_EQ(NextSecond(), 0U);
    EXPECT_TRUE(decisions.OpenEvents().empty());
}

TEST_F(EventSeconds, MomentaryAndZeroPostStarts) {
    NextSecond();
    ASSERT_TRUE(Start(RECORD_ALARM, 0, true));
    EXPECT_EQ(NextSecond(), 2U);
    EXPECT_EQ(NextSecond(), 2U);
    EXPECT_EQ(NextSecond(), 0U);

    event_duration_s noPost;
    for (auto& slot : noPost.slots) slot = {0, 1, 0};
    decisions.SetEventRecordDuration(noPost);
    ASSERT_TRUE(Start(RECORD_MOTION));
    EXPECT_TRUE(decisions.OpenEvents().empty());
    EXPECT_EQ(Bits(), (std::vector<uint32_t>{2, 2, 6, 4}));  // pre 1: the newest queued second
    EXPECT_EQ(NextSecond(), 0U);
}

TEST_F(EventSeconds, EntryEndsInAMinuteWithoutItsSlot) {
    NextSecond(Local(2026, 12, 7, 10, 4, 58));
    ASSERT_TRUE(Start(RECORD_MOTION));
    ASSERT_TRUE(Start(RECORD_ALARM));
    EXPECT_EQ(NextSecond(), 6U);
    EXPECT_EQ(NextSecond(), 2U);  // 10:05 allows only the alarm: motion ends for good
    EXPECT_EQ(decisions.OpenEvents().size(), 1U);
    EXPECT_EQ(NextSecond(Local(2026, 12, 7, 10, 6, 0)), 2U);
}

TEST_F(EventSeconds, ArbReplacesSmallerKeysOnly) {
    NextSecond();
    ASSERT_TRUE(Start(RECORD_MOTION));
    ASSERT_TRUE(Start(RECORD_ARB));
    EXPECT_EQ(NextSecond(), static_cast<uint32_t>(RECORD_ARB));
    ASSERT_TRUE(Start(RECORD_AUDIOANALYTICS, 0x5));
    ASSERT_TRUE(Start(RECORD_IV, 0x300));
    EXPECT_EQ(NextSecond(), static_cast<uint32_t>(RECORD_ARB | RECORD_AUDIOANALYTICS));
    EXPECT_EQ(seconds.back().audioBits, 0x5U);
    EXPECT_EQ(seconds.back().analyticsBits, 0x300U);
    EXPECT_EQ(decisions.StopEvent(RECORD_ARB, 77), 1);
    EXPECT_EQ(NextSecond(), static_cast<uint32_t>(RECORD_MOTION | RECORD_IV | 0x10000));
}

TEST_F(EventSeconds, ManualAndUserDefinedIgnoreTheSchedule) {
    decisions.SetSchedule(media_schedule_s());
    EXPECT_EQ(NextSecond(), 0U);
    EXPECT_FALSE(Start(RECORD_MOTION));
    ASSERT_TRUE(Start(RECORD_MANUAL, 99));
    EXPECT_EQ(NextSecond(), 8U);
    EXPECT_TRUE(decisions.ResetEvents());
    EXPECT_EQ(NextSecond(), 8U);
    EXPECT_EQ(decisions.StopEvent(RECORD_MANUAL, 12345), 1);
    EXPECT_EQ(NextSecond(), 0U);

    ASSERT_TRUE(Start(RECORD_USERDEFINED, 0));
    EXPECT_TRUE(decisions.OpenEvents().empty());
    ASSERT_TRUE(Start(RECORD_USERDEFINED, 2));
    EXPECT_EQ(NextSecond(), 0x2000U);
    EXPECT_EQ(NextSecond(), 0x2000U);
    EXPECT_EQ(NextSecond(), 0U);
    EXPECT_FALSE(decisions.ResetEvents());
}

TEST_F(EventSeconds, VideoLossMarksRecentSecondsOnly) {
    for (int i = 0; i < 5; ++i) NextSecond();
    ASSERT_TRUE(Start(RECORD_VIDEOLOSS));
    EXPECT_TRUE(decisions.OpenEvents().empty());
    EXPECT_EQ(Bits(), (std::vector<uint32_t>{0, 1, 1, 1, 1}));
    EXPECT_EQ(decisions.StopEvent(RECORD_VIDEOLOSS, 0), 1);
    NextSecond(Local(2026, 12, 7, 10, 5, 0));
    EXPECT_FALSE(Start(RECORD_VIDEOLOSS));  // slot 2 not allowed at 10:05
    EXPECT_FALSE(Start(RECORD_MOTION));
    EXPECT_TRUE(Start(RECORD_ALARM));
}

TEST_F(EventSeconds, RefusedTypesChangeNothing) {
    NextSecond();
    for (uint32_t type : {0U, 16U, 64U, 256U, 512U, 1024U, 4096U, 0x40000U, 3U}) {
        EXPECT_FALSE(Start(type, 1)) << type;
        EXPECT_EQ(decisions.StopEvent(type, 1), 0) << type;
    }
    EXPECT_TRUE(decisions.OpenEvents().empty());
    EXPECT_EQ(Bits(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(decisions.StopEvent(RECORD_MOTION, 5), 1);  // not open: still handled
}

TEST(RecordDecisions, DurationTextListsTheEventSlots) {
    event_duration_s durations;
    durations.slots[kSlotAnalytics] = {0, 4, 7};
    EXPECT_EQ(durations.ToString(),
              "- Duration of Event Record - \nMotion\t: Pre = 0, Post = 20\nAlarm\t: Pre = 0, "
              "Post = 20\nVLoss\t: Pre = 0, Post = 20\nVA\t\t: Pre = 4, Post = 7\nAUDIO\t: Pre = "
              "0, Post = 20\n");
}

}  // namespace
}  // namespace orvale::recorder
