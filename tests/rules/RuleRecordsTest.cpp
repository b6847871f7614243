// The records crossing into the rule library, built and read by their byte
// offsets, and hostile records: nothing read or written beyond them, no
// undefined conversion, whatever the counts and numbers say.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "tests/rules/RuleScenes.h"

namespace orvale::rules::scene {
namespace {

template <class T>
void Put(std::vector<uint8_t>& bytes, size_t offset, T value) {
    ASSERT_LE(offset + sizeof(T), bytes.size());
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

template <class T>
T Get(const std::vector<uint8_t>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// A frame of one object as stored: time at 0, count at 8, objects of 20 bytes
// from 12 (id, x1, y1, x2, y2).
std::vector<uint8_t> StoredFrame(int64_t time, uint32_t id, int32_t cx, int32_t cy) {
    std::vector<uint8_t> bytes(612);
    Put<int64_t>(bytes, 0, time);
    Put<int32_t>(bytes, 8, 1);
    Put<uint32_t>(bytes, 12, id);
    Put<float>(bytes, 16, X(cx - 10));
    Put<float>(bytes, 20, Y(cy - 10));
    Put<float>(bytes, 24, X(cx + 10));
    Put<float>(bytes, 28, Y(cy + 10));
    return bytes;
}

TEST(RuleRecords, ByteLayoutOfRuleFrameAndEvent) {
    // Line slot 2 (lines[] from 3088, 104 bytes each): id +0, kind +4,
    // pointCount +8, points +12, used +100. Two excluded slots from 16, 96
    // bytes each, are counted but unused.
    std::vector<uint8_t> rule(12944);
    Put<int32_t>(rule, 0, 2);  // excludedCount
    Put<int32_t>(rule, 4, 3);  // lineCount
    const size_t line = 3088 + 2 * 104;
    Put<int32_t>(rule, line + 0, 0x5A5A);
    Put<int32_t>(rule, line + 4, 3);
    Put<int32_t>(rule, line + 8, 2);
    Put<float>(rule, line + 12, X(40));
    Put<float>(rule, line + 16, Y(120));
    Put<float>(rule, line + 20, X(280));
    Put<float>(rule, line + 24, Y(120));
    Put<int32_t>(rule, line + 100, 1);
    ASSERT_EQ(QDX_setRule(nullptr, reinterpret_cast<const forensic_rule_s*>(rule.data())), 1);

    // Frames and events lie at odd addresses: stored records are used where
    // they lie.
    std::vector<uint8_t> eventBytes(3 + 3 * 36, 0xEE);
    int count = 0;
    for (int32_t frame = 0; frame < 6; ++frame) {
        const std::vector<uint8_t> stored =
            StoredFrame(500 + frame, 0xC0FFEE, 160, 85 + 10 * frame);
        std::vector<uint8_t> unaligned(1 + stored.size());
        std::memcpy(unaligned.data() + 1, stored.data(), stored.size());
        ASSERT_EQ(QDX_processFrameSingle(
                      nullptr, reinterpret_cast<const rule_frame_s*>(unaligned.data() + 1), 3,
                      reinterpret_cast<rule_event_s*>(eventBytes.data() + 3), &count),
                  1);
        const std::vector<uint8_t> events(eventBytes.begin() + 3, eventBytes.end());
        if (frame < 4) {
            EXPECT_EQ(count, 0) << frame;
            continue;
        }
        if (frame > 4) {
            EXPECT_EQ(count, 0);
            break;
        }
        ASSERT_EQ(count, 1);
        EXPECT_EQ(Get<int64_t>(events, 0), 504);
        EXPECT_EQ(Get<int32_t>(events, 8), 3);
        EXPECT_EQ(Get<int32_t>(events, 12), 0x5A5A);
        EXPECT_EQ(Get<uint32_t>(events, 16), 0xC0FFEEU);
        for (size_t i = 0; i < 16; ++i) EXPECT_EQ(events[20 + i], stored[16 + i]) << i;
        EXPECT_EQ(events[36], 0xEE);  // nothing beyond the event written
    }
}

TEST(RuleRecords, NothingHappensWithoutARuleFrameOrCount) {
    RuleBuilder rules;
    ASSERT_EQ(QDX_setRule(nullptr, nullptr), 0);
    ASSERT_EQ(QDX_setRule(nullptr, &rules.Rule()), 1);
    int count = -1;
    rule_event_s events[2];
    EXPECT_EQ(QDX_processFrameSingle(nullptr, nullptr, 2, events, &count), 0);
    EXPECT_EQ(count, 0);
    const rule_frame_s frame = MakeFrame(1, {{1, 160, 120}});
    EXPECT_EQ(QDX_processFrameSingle(nullptr, &frame, 2, events, nullptr), 1);
}

struct HostileRuleCase {
    const char* name;
    int32_t count;       // every table's count
    int32_t pointCount;  // every slot's point count
    float coordinate;    // every point's x and y
    friend void PrintTo(const HostileRuleCase& c, std::ostream* out) { *out << c.name; }
};

class HostileRule : public ::testing::TestWithParam<HostileRuleCase> {};

// Every slot of every table filled with the same shape and the counts and
// numbers set to the case's values; a crowd of objects walks through.
TEST_P(HostileRule, LoadsAndRunsWithinTheRecord) {
    const HostileRuleCase& c = GetParam();
    auto rule = std::make_unique<forensic_rule_s>();
    std::memset(rule.get(), 0, sizeof(*rule));
    rule->excludedCount = rule->lineCount = rule->enterExitCount = rule->motionCount = c.count;
    for (int32_t s = 0; s < FORENSIC_RULE_MAX_SLOTS; ++s) {
        rule->excluded[s].pointCount = rule->lines[s].pointCount = c.pointCount;
        rule->enterExit[s].pointCount = rule->motion[s].pointCount = c.pointCount;
        rule->excluded[s].used = (s % 3 == 0) ? 1 : 0;
        rule->lines[s].used = rule->enterExit[s].used = rule->motion[s].used = 1;
        rule->lines[s].kind = FORENSIC_LINE_BOTH;
        rule->enterExit[s].kind = 1 + s % 2;
        for (int32_t p = 0; p < FORENSIC_RULE_MAX_POINTS; ++p) {
            const rule_point_s point{p % 2 == 0 ? c.coordinate : -c.coordinate,
                                     p % 3 == 0 ? c.coordinate : 0.25F * static_cast<float>(p % 4)};
            rule->excluded[s].points[p] = rule->lines[s].points[p] = point;
            rule->enterExit[s].points[p] = rule->motion[s].points[p] = point;
        }
    }
    ASSERT_EQ(QDX_setRule(nullptr, rule.get()), 1);
    std::vector<rule_event_s> events(100);
    for (int32_t f = 0; f < 20; ++f) {
        std::vector<Object> crowd;
        for (uint32_t i = 0; i < RULE_FRAME_MAX_OBJECTS; ++i) {
            crowd.push_back({i + 1, static_cast<int32_t>(10 * i) + 3 * f, 20 + 6 * f, 4});
        }
        const rule_frame_s frame = MakeFrame(f, crowd);
        int count = -1;
        ASSERT_EQ(QDX_processFrameSingle(nullptr, &frame, 100, events.data(), &count), 1);
        ASSERT_GE(count, 0);
        ASSERT_LE(count, 100);
        for (int i = 0; i < count; ++i) {
            EXPECT_GE(Copy(events[i].objectId), 1U);
            EXPECT_LE(Copy(events[i].objectId), 30U);
        }
    }
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(Records, HostileRule,
                         ::testing::Values(HostileRuleCase{"Full", 32, 11, 0.5F},
                                           HostileRuleCase{"CountsTooLarge", 1000, 1000, 0.5F},
                                           HostileRuleCase{"CountsMaximal", INT_MAX, INT_MAX,
                                                           0.75F},
                                           HostileRuleCase{"CountsNegative", -1, -7, 0.5F},
                                           HostileRuleCase{"CountsMinimal", INT_MIN, INT_MIN, 0.5F},
                                           HostileRuleCase{"PointsNaN", 32, 11, kNaN},
                                           HostileRuleCase{"PointsInfinite", 32, 11, kInfinity},
                                           HostileRuleCase{"PointsHuge", 32, 11, 3e38F},
                                           HostileRuleCase{"PointsFarOut", 33, 12, 40.0F}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostileRule, ClampedCountsKeepTheSlotsThatFit) {
    RuleBuilder rules;
    rules.Line({{40, 120}, {280, 120}}, FORENSIC_LINE_DIRECTION_A, 41);
    rules.Rule().lineCount = 1000;
    // All 11 stored points count: the last nine repeat the second one, and
    // segments of no length are no line at all.
    rules.Rule().lines[0].pointCount = 1000;
    for (int32_t p = 2; p < FORENSIC_RULE_MAX_POINTS; ++p) {
        rules.Rule().lines[0].points[p] = rules.Rule().lines[0].points[1];
    }
    EXPECT_EQ(RunScene(rules.Rule(), Compose(8, {{0, Path(7, {160, 85}, {0, 10}, 8)}})),
              (std::vector<Hit>{{4, RULE_EVENT_LINE_A, 41, 7}}));
}

struct HostileFrameCase {
    const char* name;
    int32_t objectCount;
    size_t expectedObjects;  // objects tracked when every slot holds one
    friend void PrintTo(const HostileFrameCase& c, std::ostream* out) { *out << c.name; }
};

class HostileFrame : public ::testing::TestWithParam<HostileFrameCase> {};

// The frame lies in a heap block that holds exactly the objects the library
// may read for its count (the record's 612 bytes at least), so that reading
// past it is caught by the address sanitizer.
TEST_P(HostileFrame, ReadsNoMoreThanTheRecordHolds) {
    RuleBuilder rules;
    rules.Motion({{0, 0}, {320, 0}, {320, 240}, {0, 240}}, 21);
    ASSERT_EQ(QDX_setRule(nullptr, &rules.Rule()), 1);
    const int32_t declared = GetParam().objectCount;
    const size_t readable =
        std::max<size_t>(RULE_FRAME_MAX_OBJECTS, std::clamp(declared, 0, RULE_FRAME_MAX_TRACKED));
    std::vector<Object> crowd;
    for (uint32_t i = 0; i < readable; ++i) {
        crowd.push_back({i + 1, 5 + 10 * static_cast<int32_t>(i), 120, 4});
    }
    std::vector<rule_event_s> events(100);
    int count = -1;
    for (int f = 0; f < 2; ++f) {
        std::vector<uint8_t> stored = FrameBytes(f, crowd);
        std::memcpy(stored.data() + offsetof(rule_frame_s, objectCount), &declared,
                    sizeof(declared));
        ASSERT_EQ(
            QDX_processFrameSingle(nullptr, reinterpret_cast<const rule_frame_s*>(stored.data()),
                                   100, events.data(), &count),
            1);
    }
    ASSERT_EQ(count, static_cast<int>(GetParam().expectedObjects));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(Copy(events[i].objectId), static_cast<uint32_t>(i + 1));
}

INSTANTIATE_TEST_SUITE_P(Counts, HostileFrame,
                         ::testing::Values(HostileFrameCase{"Thirty", 30, 30},
                                           HostileFrameCase{"ThirtyOne", 31, 31},
                                           HostileFrameCase{"ThirtyTwo", 32, 32},
                                           HostileFrameCase{"ThirtyThree", 33, 32},
                                           HostileFrameCase{"Huge", INT_MAX, 32},
                                           HostileFrameCase{"Negative", -1, 0},
                                           HostileFrameCase{"Minimal", INT_MIN, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostileFrame, ManyEventsInOneFrameStayWithinTheBlock) {
    // 32 motion areas over the whole grid and 30 objects: 960 hits a frame,
    // more than the 200 kept.
    RuleBuilder rules;
    for (int32_t s = 0; s < FORENSIC_RULE_MAX_SLOTS; ++s) {
        rules.Motion({{0, 0}, {320, 0}, {320, 240}, {0, 240}}, s);
    }
    ASSERT_EQ(QDX_setRule(nullptr, &rules.Rule()), 1);
    std::vector<Object> crowd;
    for (uint32_t i = 0; i < RULE_FRAME_MAX_OBJECTS; ++i) {
        crowd.push_back({i + 1, 5 + 10 * static_cast<int32_t>(i), 120, 4});
    }
    std::vector<rule_event_s> events(1000);
    int count = -1;
    for (int f = 0; f < 3; ++f) {
        const rule_frame_s frame = MakeFrame(f, crowd);
        ASSERT_EQ(QDX_processFrameSingle(nullptr, &frame, 1000, events.data(), &count), 1);
    }
    ASSERT_EQ(count, 200);
    EXPECT_EQ(Copy(events[0].ruleId), 0);
    EXPECT_EQ(Copy(events[199].ruleId), 6);  // slots 0..5 whole, 20 of slot 6
    EXPECT_EQ(Copy(events[199].objectId), 20U);
}

}  // namespace
}  // namespace orvale::rules::scene
