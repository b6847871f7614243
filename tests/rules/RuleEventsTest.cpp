// Worked cases of the rule library through its C functions: which frames of a
// scene fire which events.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "tests/rules/RuleScenes.h"

namespace orvale::rules::scene {
namespace {

using Hits = std::vector<Hit>;

const Shape kHorizontal{{40, 120}, {280, 120}};
const Shape kHorizontalReversed{{280, 120}, {40, 120}};

// One object at x = 160 moving 10 units a frame down (from y 85) or up (from
// y 155): its centre crosses y = 120 on frame 4.
std::vector<Object> Vertical(bool down) {
    return down ? Path(7, {160, 85}, {0, 10}, 8) : Path(7, {160, 155}, {0, -10}, 8);
}

struct CrossingCase {
    const char* name;
    Shape line;
    int32_t kind;
    bool down;
    int32_t expectedType;  // 0: no event
    friend void PrintTo(const CrossingCase& c, std::ostream* out) { *out << c.name; }
};

class LineCrossing : public ::testing::TestWithParam<CrossingCase> {};

TEST_P(LineCrossing, FiresOnceAtTheCrossingFrameInTheSelectedDirection) {
    const CrossingCase& c = GetParam();
    RuleBuilder rules;
    rules.Line(c.line, c.kind, 41);
    const Hits hits = RunScene(rules.Rule(), Compose(8, {{0, Vertical(c.down)}}));
    if (c.expectedType == 0) {
        EXPECT_TRUE(hits.empty());
    } else {
        EXPECT_EQ(hits, (Hits{{4, c.expectedType, 41, 7}}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Directions, LineCrossing,
    ::testing::Values(
        CrossingCase{"DownwardFiresA", kHorizontal, FORENSIC_LINE_DIRECTION_A, true,
                     RULE_EVENT_LINE_A},
        CrossingCase{"UpwardIgnoredByA", kHorizontal, FORENSIC_LINE_DIRECTION_A, false, 0},
        CrossingCase{"UpwardFiresB", kHorizontal, FORENSIC_LINE_DIRECTION_B, false,
                     RULE_EVENT_LINE_B},
        CrossingCase{"DownwardIgnoredByB", kHorizontal, FORENSIC_LINE_DIRECTION_B, true, 0},
        CrossingCase{"BothDownward", kHorizontal, FORENSIC_LINE_BOTH, true, RULE_EVENT_LINE_A},
        CrossingCase{"BothUpward", kHorizontal, FORENSIC_LINE_BOTH, false, RULE_EVENT_LINE_B},
        CrossingCase{"ReversedUpwardIsA", kHorizontalReversed, FORENSIC_LINE_DIRECTION_A, false,
                     RULE_EVENT_LINE_A},
        CrossingCase{"ReversedDownwardIgnoredByA", kHorizontalReversed, FORENSIC_LINE_DIRECTION_A,
                     true, 0},
        CrossingCase{"ReversedDownwardIsB", kHorizontalReversed, FORENSIC_LINE_DIRECTION_B, true,
                     RULE_EVENT_LINE_B},
        CrossingCase{"KindZeroNeverFires", kHorizontal, 0, true, 0},
        CrossingCase{"OnePointIsNoLine", Shape{{40, 120}}, FORENSIC_LINE_BOTH, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineCrossing, FiresAgainOnlyAfterTheObjectMovedAwayFromTheLine) {
    // Centre heights of one object: it crosses down (fires), wobbles across the
    // line within 7 units (silent), moves away, crosses up (direction B, not
    // selected), moves away again and crosses down again (fires).
    const std::vector<int32_t> heights{85,  95,  105, 115, 125, 117, 125, 117, 125,
                                       135, 145, 130, 110, 100, 95,  105, 115, 125};
    std::vector<Object> path;
    path.reserve(heights.size());
    for (const int32_t y : heights) path.push_back({7, 160, y, 15});
    RuleBuilder rules;
    rules.Line(kHorizontal, FORENSIC_LINE_DIRECTION_A, 41);
    EXPECT_EQ(RunScene(rules.Rule(), Compose(path.size(), {{0, path}})),
              (Hits{{4, RULE_EVENT_LINE_A, 41, 7}, {17, RULE_EVENT_LINE_A, 41, 7}}));
}

TEST(LineCrossing, PolylineFiresOnTheSegmentCrossed) {
    // A bent line; the object crosses its second segment only.
    RuleBuilder rules;
    rules.Line({{20, 40}, {100, 120}, {300, 120}}, FORENSIC_LINE_BOTH, 41);
    const Hits hits = RunScene(rules.Rule(), Compose(8, {{0, Vertical(true)}}));
    EXPECT_EQ(hits, (Hits{{4, RULE_EVENT_LINE_A, 41, 7}}));
}

struct ExcludedCase {
    const char* name;
    Shape excluded;
    Hits expected;
    friend void PrintTo(const ExcludedCase& c, std::ostream* out) { *out << c.name; }
};

class ExcludedLine : public ::testing::TestWithParam<ExcludedCase> {};

// Two objects cross a line on frame 4: object 1 (first in the frame) at
// x = 60, object 2 at x = 200.
TEST_P(ExcludedLine, AnExcludedAreaStopsTheLine) {
    const ExcludedCase& c = GetParam();
    RuleBuilder rules;
    rules.Line({{20, 120}, {300, 120}}, FORENSIC_LINE_BOTH, 41);
    if (!c.excluded.empty()) rules.Excluded(c.excluded);
    const Scene scene =
        Compose(8, {{0, Path(1, {60, 85}, {0, 10}, 8)}, {0, Path(2, {200, 85}, {0, 10}, 8)}});
    EXPECT_EQ(RunScene(rules.Rule(), scene), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, ExcludedLine,
    ::testing::Values(
        ExcludedCase{"None", {}, {{4, RULE_EVENT_LINE_A, 41, 1}, {4, RULE_EVENT_LINE_A, 41, 2}}},
        ExcludedCase{"OverTheSecondCrossing",
                     {{180, 100}, {220, 100}, {220, 140}, {180, 140}},
                     {{4, RULE_EVENT_LINE_A, 41, 1}}},
        // The first object's boxes touch the area on every frame: the line is
        // not evaluated for any later object of the frame either.
        ExcludedCase{"AlongTheFirstPath", {{40, 60}, {80, 60}, {80, 180}, {40, 180}}, {}},
        ExcludedCase{"UnusedShapeOfTwoPoints",
                     {{0, 0}, {320, 240}},
                     {{4, RULE_EVENT_LINE_A, 41, 1}, {4, RULE_EVENT_LINE_A, 41, 2}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct AreaCase {
    const char* name;
    Shape area;
    friend void PrintTo(const AreaCase& c, std::ostream* out) { *out << c.name; }
};

class EnterExit : public ::testing::TestWithParam<AreaCase> {};

// An object moves right along y = 120 by 4 units a frame from x = 60. Its
// centre is first inside the square at x = 104 (frame 11); it leaves the
// square at x = 224 (frame 41) but the area grown by 5 only at x = 228
// (frame 42), where the exit fires.
TEST_P(EnterExit, EntersTheAreaAndLeavesPastItsGrownBorder) {
    RuleBuilder rules;
    rules.Area(GetParam().area, FORENSIC_AREA_ENTER, 11)
        .Area(GetParam().area, FORENSIC_AREA_EXIT, 12);
    const Scene scene = Compose(50, {{0, Path(3, {60, 120}, {4, 0}, 50)}});
    EXPECT_EQ(RunScene(rules.Rule(), scene),
              (Hits{{11, RULE_EVENT_ENTERED, 11, 3}, {42, RULE_EVENT_EXITED, 12, 3}}));
}

INSTANTIATE_TEST_SUITE_P(
    Outlines, EnterExit,
    ::testing::Values(
        AreaCase{"Square", kSquare},
        AreaCase{"Clockwise", {{100, 80}, {100, 160}, {220, 160}, {220, 80}}},
        AreaCase{"CollinearPoints",
                 {{100, 80}, {160, 80}, {220, 80}, {220, 120}, {220, 160}, {100, 160}}},
        AreaCase{"RepeatedPoints",
                 {{100, 80}, {100, 80}, {220, 80}, {220, 160}, {220, 160}, {100, 160}, {100, 80}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EnterExit, DegenerateAreasNeverFire) {
    for (const Shape& area : {Shape{{100, 120}, {160, 120}, {220, 120}}, Shape(11, Point{160, 120}),
                              Shape{{100, 80}, {220, 160}}}) {
        RuleBuilder rules;
        rules.Area(area, FORENSIC_AREA_ENTER, 11).Area(area, FORENSIC_AREA_EXIT, 12);
        EXPECT_TRUE(
            RunScene(rules.Rule(), Compose(50, {{0, Path(3, {60, 120}, {4, 0}, 50)}})).empty());
    }
}

struct MotionCase {
    const char* name;
    size_t firstFrame;
    size_t firstEvent;
    friend void PrintTo(const MotionCase& c, std::ostream* out) { *out << c.name; }
};

class MotionArea : public ::testing::TestWithParam<MotionCase> {};

// Object 5 stands inside the motion area from firstFrame on; object 6 stands
// outside from frame 0, so that no frame after the first only seeds tracking.
TEST_P(MotionArea, FiresOnEveryFrameOnceTheTrackIsConfirmed) {
    const MotionCase& c = GetParam();
    RuleBuilder rules;
    rules.Motion({{100, 60}, {220, 60}, {220, 180}, {100, 180}}, 21);
    const Scene scene = Compose(12, {{0, std::vector<Object>(12, {6, 290, 210})},
                                     {c.firstFrame, std::vector<Object>(12, {5, 160, 120})}});
    Hits expected;
    for (size_t f = c.firstEvent; f < 12; ++f) expected.push_back({f, RULE_EVENT_MOTION, 21, 5});
    EXPECT_EQ(RunScene(rules.Rule(), scene), expected);
}

INSTANTIATE_TEST_SUITE_P(Arrivals, MotionArea,
                         ::testing::Values(MotionCase{"PresentAtTheSeedingFrame", 0, 1},
                                           MotionCase{"ArrivingLater", 2, 7}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MotionArea, AFrameWithoutObjectsEndsAllTracks) {
    RuleBuilder rules;
    rules.Motion({{100, 60}, {220, 60}, {220, 180}, {100, 180}}, 21);
    Scene scene(8, std::vector<Object>{{5, 160, 120}});
    scene[4].clear();  // frame 5 seeds again, frame 6 confirms
    EXPECT_EQ(RunScene(rules.Rule(), scene), (Hits{{1, RULE_EVENT_MOTION, 21, 5},
                                                   {2, RULE_EVENT_MOTION, 21, 5},
                                                   {3, RULE_EVENT_MOTION, 21, 5},
                                                   {6, RULE_EVENT_MOTION, 21, 5},
                                                   {7, RULE_EVENT_MOTION, 21, 5}}));
}

TEST(MotionArea, ANewRuleSetForgetsEveryTrack) {
    RuleBuilder rules;
    rules.Motion({{100, 60}, {220, 60}, {220, 180}, {100, 180}}, 21);
    const Scene scene(3, std::vector<Object>{{5, 160, 120}});
    EXPECT_EQ(RunScene(rules.Rule(), scene).size(), 2U);
    EXPECT_EQ(RunScene(rules.Rule(), scene).size(), 2U);  // its first frame seeds again
}

struct LimitCase {
    const char* name;
    int maxEvents;
    bool nullEvents;
    std::vector<uint32_t> objects;
    friend void PrintTo(const LimitCase& c, std::ostream* out) { *out << c.name; }
};

class EventLimit : public ::testing::TestWithParam<LimitCase> {};

// Two confirmed objects in a motion area: two events a frame, in frame order.
TEST_P(EventLimit, WritesOnlyTheFirstEvents) {
    const LimitCase& c = GetParam();
    RuleBuilder rules;
    rules.Motion({{100, 60}, {220, 60}, {220, 180}, {100, 180}}, 21);
    ASSERT_EQ(QDX_setRule(nullptr, &rules.Rule()), 1);
    const std::vector<Object> objects{{5, 140, 120}, {6, 180, 120}};
    std::vector<rule_event_s> events(4);
    int count = -1;
    for (size_t f = 0; f < 2; ++f) {
        const rule_frame_s frame = MakeFrame(FrameTime(f), objects);
        ASSERT_EQ(QDX_processFrameSingle(nullptr, &frame, c.maxEvents,
                                         c.nullEvents ? nullptr : events.data(), &count),
                  1);
    }
    ASSERT_EQ(count, static_cast<int>(c.objects.size()));
    for (size_t i = 0; i < c.objects.size(); ++i) EXPECT_EQ(Copy(events[i].objectId), c.objects[i]);
    if (c.objects.size() < 4) {
        EXPECT_EQ(Copy(events[c.objects.size()].objectId), 0U);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, EventLimit,
                         ::testing::Values(LimitCase{"One", 1, false, {5}},
                                           LimitCase{"Two", 2, false, {5, 6}},
                                           LimitCase{"MoreThanThereAre", 4, false, {5, 6}},
                                           LimitCase{"Zero", 0, false, {}},
                                           LimitCase{"Negative", -3, false, {}},
                                           LimitCase{"NullArray", 4, true, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Object 1 fires and disappears; object 2 stands apart and keeps the frames
// from being empty; object 3 appears later and is given object 1's track
// number. It must start from a clean state: it fires when it does the same.
TEST(TrackNumbers, AReusedNumberStartsFromACleanState) {
    {
        RuleBuilder rules;  // object 1 enters (frame 6); object 3 enters on frame 23
        rules.Area(kSquare, FORENSIC_AREA_ENTER, 11);
        const Scene scene = Compose(30, {{0, Path(1, {80, 120}, {4, 0}, 11)},
                                         {0, std::vector<Object>(30, {2, 290, 210})},
                                         {12, Path(3, {60, 120}, {4, 0}, 18)}});
        EXPECT_EQ(RunScene(rules.Rule(), scene),
                  (Hits{{6, RULE_EVENT_ENTERED, 11, 1}, {23, RULE_EVENT_ENTERED, 11, 3}}));
    }
    {
        RuleBuilder rules;  // object 1 crosses (frame 4); object 3 crosses on frame 11,
        rules.Line(kHorizontal, FORENSIC_LINE_DIRECTION_A, 41);  // its first confirmed one
        const Scene scene = Compose(14, {{0, Path(1, {100, 85}, {0, 10}, 5)},
                                         {0, std::vector<Object>(14, {2, 300, 210})},
                                         {6, Path(3, {100, 75}, {0, 10}, 8)}});
        EXPECT_EQ(RunScene(rules.Rule(), scene),
                  (Hits{{4, RULE_EVENT_LINE_A, 41, 1}, {11, RULE_EVENT_LINE_A, 41, 3}}));
    }
}

struct StepCase {
    const char* name;
    Shape line;
    Point start;
    Point step;
    int32_t half;
    Hits expected;
    friend void PrintTo(const StepCase& c, std::ostream* out) { *out << c.name; }
};

class CentreStep : public ::testing::TestWithParam<StepCase> {};

TEST_P(CentreStep, ALargeStepIsNotACrossing) {
    const StepCase& c = GetParam();
    RuleBuilder rules;
    rules.Line(c.line, FORENSIC_LINE_BOTH, 41);
    EXPECT_EQ(RunScene(rules.Rule(), Compose(6, {{0, Path(7, c.start, c.step, 6, c.half)}})),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CentreStep,
    ::testing::Values(
        StepCase{"FortyFour", kHorizontal, {160, 28}, {0, 44}, 30, {{3, RULE_EVENT_LINE_A, 41, 7}}},
        StepCase{"FortyFive", kHorizontal, {160, 28}, {0, 45}, 30, {}},
        // A vertical line at x = 256 (0.6): steps across it are small in full
        // coordinates, though not in their low 8 bits.
        StepCase{"AcrossX256",
                 {{256, 20}, {256, 220}},
                 {236, 120},
                 {8, 0},
                 10,
                 {{3, RULE_EVENT_LINE_B, 41, 7}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CentreStep, AVerticalLineAtXZeroPointSixFires) {
    RuleBuilder rules;
    rules.Line({{0, 20}, {0, 220}}, FORENSIC_LINE_BOTH, 41);
    forensic_line_s& line = rules.Rule().lines[0];
    line.points[0] = {0.6F, 0.8F};
    line.points[1] = {0.6F, -0.8F};
    EXPECT_EQ(RunScene(rules.Rule(), Compose(6, {{0, Path(7, {236, 120}, {8, 0}, 6)}})),
              (Hits{{3, RULE_EVENT_LINE_B, 41, 7}}));
}

// A box in grid units, corner to corner.
struct Edges {
    int32_t x1;
    int32_t y1;
    int32_t x2;
    int32_t y2;
};

struct EdgeCase {
    const char* name;
    Edges first;
    Edges second;
    bool followed;  // the second box continues the first one's track
    friend void PrintTo(const EdgeCase& c, std::ostream* out) { *out << c.name; }
};

class PictureEdge : public ::testing::TestWithParam<EdgeCase> {};

// A box seen first is matched with 3 units of slack left and right and 2 up
// and down, capped at the picture (x 0..319, y 0..239) even where the cap
// cuts into the box. Under a motion area larger than the picture, a box that
// continues the seeded track is confirmed and fires at once; one that starts
// a new track does not.
TEST_P(PictureEdge, TheSlackIsCappedAtThePicture) {
    const EdgeCase& c = GetParam();
    RuleBuilder rules;
    rules.Motion({{-50, -50}, {370, -50}, {370, 290}, {-50, 290}}, 21);
    ASSERT_EQ(QDX_setRule(nullptr, &rules.Rule()), 1);
    int count = -1;
    for (const Edges& box : {c.first, c.second}) {
        rule_frame_s frame;
        std::memset(&frame, 0, sizeof(frame));
        frame.objectCount = 1;
        frame.objects[0] = {5, X(box.x1), Y(box.y1), X(box.x2), Y(box.y2)};
        rule_event_s events[4];
        ASSERT_EQ(QDX_processFrameSingle(nullptr, &frame, 4, events, &count), 1);
    }
    EXPECT_EQ(count, c.followed ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, PictureEdge,
    ::testing::Values(
        // Right: the slack reaches 319, which cuts a box ending at 320.
        EdgeCase{"RightCapCutsTheBox", {316, 100, 320, 104}, {319, 100, 320, 104}, false},
        EdgeCase{"RightSlackUpToTheCap", {310, 100, 316, 104}, {318, 100, 320, 104}, true},
        // Bottom: likewise at 239.
        EdgeCase{"BottomCapCutsTheBox", {100, 236, 104, 240}, {100, 239, 104, 240}, false},
        EdgeCase{"BottomSlackUpToTheCap", {100, 230, 104, 236}, {100, 237, 104, 240}, true},
        // Left and top: a box beyond the picture is pulled in to 0.
        EdgeCase{"LeftCapCutsTheBox", {-6, 100, -2, 104}, {-6, 100, -2, 104}, false},
        EdgeCase{"LeftSlackDownToTheCap", {1, 100, 5, 104}, {-3, 100, 1, 104}, true},
        EdgeCase{"TopCapCutsTheBox", {100, -5, 104, -1}, {100, -5, 104, -1}, false},
        EdgeCase{"TopSlackDownToTheCap", {100, 1, 104, 5}, {100, -3, 104, 1}, true},
        // Inside the picture nothing caps the slack.
        EdgeCase{"SlackInside", {100, 100, 104, 104}, {106, 104, 110, 108}, true},
        EdgeCase{"BeyondTheSlackInside", {100, 100, 104, 104}, {107, 100, 111, 104}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    rule_object_s refused;
    friend void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }
};

class RefusedBox : public ::testing::TestWithParam<RefusedCase> {};

// A refused box before the crossing object must not shift which object an
// event names.
TEST_P(RefusedBox, EventsNameTheirOwnObject) {
    RuleBuilder rules;
    rules.Line(kHorizontal, FORENSIC_LINE_DIRECTION_A, 41);
    ASSERT_EQ(QDX_setRule(nullptr, &rules.Rule()), 1);
    const std::vector<Object> path = Vertical(true);
    std::vector<Hit> hits;
    for (size_t f = 0; f < path.size(); ++f) {
        rule_frame_s frame = MakeFrame(FrameTime(f), {{9, 0, 0}, path[f]});
        frame.objects[0] = GetParam().refused;
        rule_event_s events[4];
        int count = 0;
        ASSERT_EQ(QDX_processFrameSingle(nullptr, &frame, 4, events, &count), 1);
        for (int i = 0; i < count; ++i) {
            hits.push_back({f, events[i].eventType, events[i].ruleId, events[i].objectId});
            EXPECT_EQ(Copy(events[i].x1), Copy(frame.objects[1].x1));
            EXPECT_EQ(Copy(events[i].y2), Copy(frame.objects[1].y2));
        }
    }
    EXPECT_EQ(hits, (Hits{{4, RULE_EVENT_LINE_A, 41, 7}}));
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Boxes, RefusedBox,
    ::testing::Values(RefusedCase{"NaN", {9, kNaN, 0.5F, 0.1F, 0.1F}},
                      RefusedCase{"Infinite", {9, -0.5F, kInfinity, 0.1F, 0.1F}},
                      RefusedCase{"Huge", {9, -0.5F, 0.5F, 3e38F, 0.1F}},
                      RefusedCase{"WiderThanTheGrid", {9, -1.0F, 0.5F, 1.2F, 0.1F}},
                      RefusedCase{"UpsideDown", {9, -0.5F, -0.5F, 0.1F, 0.5F}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvale::rules::scene
