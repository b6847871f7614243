// The forensic search's rule record built from the caller's shapes, the
// answer codes of the library's events, the one-of-each-type rule of a frame
// and the test of a stored rule frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "recorder/playback/ForensicRule.h"
#include "recorder/playback/ForensicSearcher.h"
#include "tests/playback/ForensicScenes.h"
#include "tests/support/LogCapture.h"

namespace orvale::recorder {
namespace {

using test::forensic::Point;

// A shape of `n` points, the i-th at grid (i, 2i).
std::vector<Point> Shape(int n) {
    std::vector<Point> points;
    points.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) points.push_back({i, 2 * i});
    return points;
}

bool AllZero(const void* bytes, size_t size) {
    const auto* begin = static_cast<const unsigned char*>(bytes);
    return std::all_of(begin, begin + size, [](unsigned char b) { return b == 0; });
}

forensic_search_area_s Area(uint32_t flags, int points = 3) {
    return test::forensic::Area(Shape(points), flags);
}

forensic_search_area_s ExcludedArea(int points = 3) {
    return test::forensic::Excluded(Shape(points));
}

struct Counts {
    int32_t excluded;
    int32_t lines;
    int32_t enterExit;
    int32_t motion;

    friend bool operator==(const Counts&, const Counts&) = default;
};
void PrintTo(const Counts& c, std::ostream* out) {
    *out << "{excluded " << c.excluded << ", lines " << c.lines << ", enter/exit " << c.enterExit
         << ", motion " << c.motion << "}";
}
Counts CountsOf(const forensic_rule_s& rule) {
    return {rule.excludedCount, rule.lineCount, rule.enterExitCount, rule.motionCount};
}

struct TableCase {
    const char* name;
    std::list<forensic_search_area_s> areas;
    std::list<forensic_search_line_s> lines;
    Counts counts;
    const char* warning;  // logged once, or null for none
};
void PrintTo(const TableCase& c, std::ostream* out) {
    *out << c.name;
}

std::list<forensic_search_area_s> Repeat(const forensic_search_area_s& area, int times) {
    return std::list<forensic_search_area_s>(static_cast<size_t>(times), area);
}

std::list<forensic_search_area_s> Join(std::list<forensic_search_area_s> a,
                                       const std::list<forensic_search_area_s>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ForensicRuleTables : public ::testing::TestWithParam<TableCase> {};

TEST_P(ForensicRuleTables, TakeWhatFitsInListOrder) {
    const TableCase& c = GetParam();
    test::LogCapture log;
    const forensic_rule_s rule = MakeForensicRule(c.areas, c.lines);
    EXPECT_EQ(CountsOf(rule), c.counts);
    const char* const warnings[] = {"Exclued Area Size is too big.", "Motion Area Size is too big.",
                                    "Enter/Exit Area Size is too big.", "Line Size is too big.",
                                    "Points is too big."};
    for (const char* warning : warnings) {
        const bool expected = c.warning != nullptr && std::string(c.warning) == warning;
        EXPECT_EQ(log.Count(warning), expected ? 1u : 0u) << warning;
    }
    EXPECT_EQ(
        log.Count("Forensic Search Rule Total =>  Excluded = " + std::to_string(c.counts.excluded) +
                  ", MD = " + std::to_string(c.counts.motion) +
                  ", Enter/Exit = " + std::to_string(c.counts.enterExit) +
                  ", Line = " + std::to_string(c.counts.lines)),
        1u);
}

const forensic_search_line_s kLine = test::forensic::Line(Shape(2), 1);

INSTANTIATE_TEST_SUITE_P(
    Cases, ForensicRuleTables,
    ::testing::Values(
        TableCase{"Nothing", {}, {}, {0, 0, 0, 0}, nullptr},
        TableCase{"OneLineAlone", {}, {kLine}, {0, 1, 0, 0}, nullptr},
        TableCase{"FlagsWithoutAKnownBit", {Area(0), Area(0x8)}, {}, {0, 0, 0, 0}, nullptr},
        TableCase{"ExcludedIgnoresItsFlags",
                  {forensic_search_area_s{true, 0x7, test::forensic::Points(Shape(3))}},
                  {},
                  {1, 0, 0, 0},
                  nullptr},
        TableCase{"ThirtyThreeExcludedKeepThirtyTwo",
                  Repeat(ExcludedArea(), 33),
                  {},
                  {32, 0, 0, 0},
                  "Exclued Area Size is too big."},
        TableCase{"MotionEnterExitTakeThreeSlots", {Area(0x7)}, {}, {0, 0, 2, 1}, nullptr},
        TableCase{"FullMotionTableDropsTheRestOfTheArea",
                  Join(Repeat(Area(0x1), 32), {Area(0x3)}),
                  {},
                  {0, 0, 0, 32},
                  "Motion Area Size is too big."},
        TableCase{"FullEnterExitTableDropsTheExitPartToo",
                  Join(Repeat(Area(0x6), 16), {Area(0x6)}),
                  {},
                  {0, 0, 32, 0},
                  "Enter/Exit Area Size is too big."},
        TableCase{"MotionIsKeptWhenOnlyTheExitDoesNotFit",
                  Join(Repeat(Area(0x6), 16), {Area(0x5)}),
                  {},
                  {0, 0, 32, 1},
                  "Enter/Exit Area Size is too big."},
        TableCase{"ThirtyThreeLinesKeepThirtyTwo",
                  {},
                  std::list<forensic_search_line_s>(33, kLine),
                  {0, 32, 0, 0},
                  "Line Size is too big."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ForensicRuleTest, AnAreaWatchingEverythingFillsAMotionAnEnterAndAnExitSlot) {
    const forensic_rule_s rule = MakeForensicRule({Area(0x7, 4)}, {});
    ASSERT_EQ(rule.motionCount, 1);
    ASSERT_EQ(rule.enterExitCount, 2);
    EXPECT_EQ(rule.enterExit[0].kind, FORENSIC_AREA_ENTER);
    EXPECT_EQ(rule.enterExit[1].kind, FORENSIC_AREA_EXIT);
    const rule_point_s* const shapes[] = {rule.motion[0].points, rule.enterExit[0].points,
                                          rule.enterExit[1].points};
    for (const rule_point_s* points : shapes) {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(points[i].x, test::forensic::NX(i));
            EXPECT_EQ(points[i].y, test::forensic::NY(2 * i));
        }
    }
    EXPECT_EQ(rule.motion[0].pointCount, 4);
    EXPECT_EQ(rule.motion[0].used, 1);
    EXPECT_EQ(rule.enterExit[0].used, 1);
    EXPECT_EQ(rule.enterExit[1].pointCount, 4);
    // Slots left unfilled stay zero, ids are never set.
    EXPECT_EQ(rule.enterExit[0].id, 0);
    EXPECT_TRUE(AllZero(&rule.motion[1], sizeof(forensic_motion_s) * 31));
    EXPECT_TRUE(AllZero(rule.excluded, sizeof(rule.excluded)));
}

TEST(ForensicRuleTest, AShapeKeepsItsFirstElevenPoints) {
    test::LogCapture log;
    const forensic_rule_s rule = MakeForensicRule({Area(0x1, 12)}, {});
    ASSERT_EQ(rule.motionCount, 1);
    EXPECT_EQ(rule.motion[0].pointCount, 11);
    EXPECT_EQ(rule.motion[0].points[10].x, test::forensic::NX(10));
    EXPECT_EQ(log.Count("Points is too big."), 1u);
    EXPECT_EQ(log.Count("MD Area[0][10], X = "), 1u);
    EXPECT_EQ(log.Count("MD Area[0][11]"), 0u);
}

TEST(ForensicRuleTest, EveryPointTakenIsLoggedWithItsSlot) {
    test::LogCapture log;
    MakeForensicRule({ExcludedArea(1), Area(0x7, 1)},
                     {test::forensic::Line({{0, 0}}, 1), test::forensic::Line({{5, 5}}, 2)});
    std::ostringstream text;
    text << test::forensic::NX(0);
    const std::string x = text.str();
    EXPECT_EQ(log.Count("Excluded Area[0][0], X = " + x), 1u);
    EXPECT_EQ(log.Count("MD Area[0][0], X = " + x), 1u);
    EXPECT_EQ(log.Count("(Enter)/Exit Area[0][0], X = " + x), 1u);
    EXPECT_EQ(log.Count("Enter/(Exit) Area[1][0], X = " + x), 1u);
    // Lines are logged under the exit label, by their own slot.
    EXPECT_EQ(log.Count("Enter/(Exit) Area[0][0], X = " + x), 1u);
    EXPECT_EQ(log.Count("Enter/(Exit) Area[1][0]"), 2u);
}

TEST(ForensicRuleTest, LineDirectionsSelectTheLibrarysKinds) {
    const std::pair<int32_t, int32_t> cases[] = {{1, 4}, {2, 3}, {255, 5}, {7, 0}, {0, 0}, {-1, 0}};
    for (const auto& [direction, kind] : cases) {
        const forensic_rule_s rule =
            MakeForensicRule({}, {test::forensic::Line(Shape(2), direction)});
        ASSERT_EQ(rule.lineCount, 1);
        EXPECT_EQ(rule.lines[0].kind, kind) << "direction " << direction;
        EXPECT_EQ(rule.lines[0].used, 1);
        EXPECT_EQ(rule.lines[0].pointCount, 2);
    }
}

TEST(ForensicRuleTest, EmptyRules) {
    EXPECT_TRUE(IsEmptyRule(MakeForensicRule({}, {})));
    EXPECT_TRUE(IsEmptyRule(MakeForensicRule({Area(0)}, {})));
    EXPECT_FALSE(IsEmptyRule(MakeForensicRule({ExcludedArea()}, {})));
    // A shape without points still takes its slot.
    EXPECT_FALSE(IsEmptyRule(MakeForensicRule({}, {test::forensic::Line({}, 1)})));
}

rule_event_s Event(int64_t time, int32_t type) {
    rule_event_s event;
    std::memset(&event, 0, sizeof(event));
    event.time = time;
    event.eventType = type;
    return event;
}

TEST(ForensicEventTest, TypesMapToCodes) {
    struct Case {
        int32_t type;
        int32_t code;
        int32_t subCode;
    };
    const Case cases[] = {{1, 41, 2}, {2, 41, 4}, {3, 41, 1}, {4, 41, 1}, {5, 41, 1},
                          {6, 38, 0}, {0, 0, 0},  {7, 0, 0},  {-1, 0, 0}, {1000, 0, 0}};
    for (const Case& c : cases) {
        const forensic_event_s hit = ForensicSearcher::ToForensicEvent(Event(1700000123, c.type));
        EXPECT_EQ(hit.time, 1700000123);
        EXPECT_EQ(hit.code, c.code) << "type " << c.type;
        EXPECT_EQ(hit.subCode, c.subCode) << "type " << c.type;
        EXPECT_EQ(hit.reserved, 0);
    }
}

TEST(ForensicEventTest, AFrameTellsEachTypeOnce) {
    // Times near 1970 count as well as any other.
    const std::vector<rule_event_s> events = {Event(3, 6), Event(3, 3),  Event(3, 6),  Event(3, 4),
                                              Event(3, 3), Event(3, 99), Event(3, -5), Event(3, 1)};
    std::vector<forensic_event_s> hits;
    ForensicSearcher::KeepFirstOfEachType(events.data(), static_cast<int>(events.size()), hits);
    using test::forensic::Hit;
    // Types the library never makes share one entry.
    EXPECT_EQ(test::forensic::Hits(hits),
              (std::vector<Hit>{{3, 38, 0}, {3, 41, 1}, {3, 41, 1}, {3, 0, 0}, {3, 41, 2}}));
    // The next frame starts afresh, even in the same second.
    ForensicSearcher::KeepFirstOfEachType(events.data(), 1, hits);
    EXPECT_EQ(hits.size(), 6u);
}

TEST(RuleFrameTest, OnlyCompleteFramesAreTaken) {
    const std::vector<uint8_t> whole =
        test::forensic::StoredRuleFrame(1700000000, {{7, 100, 100}, {8, 200, 100}});
    const size_t two = offsetof(rule_frame_s, objects) + 2 * sizeof(rule_object_s);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool taken;
    };
    auto crowd = [](uint32_t count) {
        test::forensic::Frame frame;
        for (uint32_t i = 0; i < count; ++i)
            frame.push_back({i + 1, 10 + 9 * static_cast<int32_t>(i), 50});
        return frame;
    };
    auto shortOf = [](const test::forensic::Frame& frame) {
        std::vector<uint8_t> bytes = test::forensic::StoredRuleFrame(1700000000, frame);
        bytes.pop_back();
        return bytes;
    };
    auto withCount = [&](int32_t count) {
        std::vector<uint8_t> bytes = whole;
        std::memcpy(bytes.data() + offsetof(rule_frame_s, objectCount), &count, sizeof(count));
        return bytes;
    };
    const std::vector<Case> cases = {
        {"whole record", whole, true},
        {"just its objects", {whole.begin(), whole.begin() + static_cast<long>(two)}, true},
        {"one byte short", {whole.begin(), whole.begin() + static_cast<long>(two - 1)}, false},
        {"head only, no object", withCount(0), true},
        {"short head", {whole.begin(), whole.begin() + 11}, false},
        {"negative count", withCount(-1), false},
        {"thirty objects", withCount(30), true},
        {"thirty-one objects in the bytes of thirty", withCount(31), false},
        {"huge count", withCount(0x7FFFFFFF), false},
        {"thirty-one objects", test::forensic::StoredRuleFrame(1700000000, crowd(31)), true},
        {"thirty-two objects", test::forensic::StoredRuleFrame(1700000000, crowd(32)), true},
        // The library reads 32 of them.
        {"thirty-three objects", test::forensic::StoredRuleFrame(1700000000, crowd(33)), true},
        {"thirty-two objects less a byte", shortOf(crowd(32)), false},
    };
    for (const Case& c : cases) {
        ForensicSearcher::RuleFrameRoom room{};
        const bool taken = ForensicSearcher::ReadRuleFrame(c.bytes.data(), c.bytes.size(), room);
        EXPECT_EQ(taken, c.taken) << c.name;
        const rule_frame_s& frame = room.frame;
        if (taken && frame.objectCount >= 2 && frame.objectCount <= 30) {
            EXPECT_EQ(frame.objects[1].objectId, 8u) << c.name;
            EXPECT_EQ(frame.objects[1].x1, test::forensic::NX(190)) << c.name;
        }
        if (taken && frame.objectCount > 30) {
            // The last object read is the frame's 32nd, or its last below that.
            const size_t last = std::min<size_t>(static_cast<size_t>(frame.objectCount), 32) - 1;
            EXPECT_EQ(room.beyond[last - 30].objectId, last + 1) << c.name;
        }
    }
    ForensicSearcher::RuleFrameRoom room{};
    EXPECT_FALSE(ForensicSearcher::ReadRuleFrame(nullptr, 0, room));
}

}  // namespace
}  // namespace orvale::recorder
