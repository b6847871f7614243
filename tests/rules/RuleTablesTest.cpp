// Loading a rule record into the grid tables.
#include "rules/RuleTables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace orvale::rules {
namespace {

float X(int32_t gx) {
    return (static_cast<float>(gx) + 0.5F) / 160.0F - 1.0F;
}
float Y(int32_t gy) {
    return 1.0F - (static_cast<float>(gy) + 0.5F) / 120.0F;
}

std::unique_ptr<forensic_rule_s> EmptyRule() {
    auto rule = std::make_unique<forensic_rule_s>();
    std::memset(rule.get(), 0, sizeof(*rule));
    return rule;
}

void SetArea(forensic_area_s& slot, std::initializer_list<GridPoint> points, int32_t used = 1) {
    slot.used = used;
    slot.pointCount = 0;
    for (const GridPoint& p : points) slot.points[slot.pointCount++] = {X(p.x), Y(p.y)};
}

TEST(RuleTables, LoadsKindsIntoFlagsAndModes) {
    auto rule = EmptyRule();
    rule->lineCount = 4;
    const int32_t kinds[] = {FORENSIC_LINE_DIRECTION_A, FORENSIC_LINE_DIRECTION_B,
                             FORENSIC_LINE_BOTH, 0};
    for (int32_t i = 0; i < 4; ++i) rule->lines[i].kind = kinds[i];
    rule->enterExitCount = 2;
    rule->enterExit[0].kind = FORENSIC_AREA_ENTER;
    rule->enterExit[1].kind = FORENSIC_AREA_EXIT;
    auto tables = std::make_unique<RuleTables>();
    tables->Load(*rule);
    EXPECT_EQ(tables->lines[0].mode, kDirectionA);
    EXPECT_EQ(tables->lines[1].mode, kDirectionB);
    EXPECT_EQ(tables->lines[2].mode, kDirectionA | kDirectionB);
    EXPECT_EQ(tables->lines[3].mode, 0);
    EXPECT_TRUE(tables->enterExit[0].enter && !tables->enterExit[0].exit);
    EXPECT_TRUE(tables->enterExit[1].exit && !tables->enterExit[1].enter);
    EXPECT_EQ(tables->slotCount, 4);
}

// The remembered answers agree with the polygons, on the grid and beyond it;
// a slot whose used flag is not 1 excludes nothing.
TEST(RuleTables, ExcludedAnswersAgreeWithTheAreasUntilTheNextRuleSet) {
    auto rule = EmptyRule();
    rule->excludedCount = 4;
    SetArea(rule->excluded[0], {{10, 10}, {60, 20}, {40, 70}});
    SetArea(rule->excluded[1], {{200, 100}, {330, 100}, {330, 250}, {200, 250}});  // past the edge
    SetArea(rule->excluded[2], {{100, 150}, {180, 150}, {180, 200}}, 2);           // not used
    SetArea(rule->excluded[3], {{-40, -40}, {5, -40}, {5, 5}, {-40, 5}});          // off the grid
    auto tables = std::make_unique<RuleTables>();
    tables->Load(*rule);
    int32_t excluded = 0;
    for (int32_t y = -50; y <= 260; ++y) {
        for (int32_t x = -50; x <= 340; ++x) {
            const bool expected = Contains(tables->excluded[0].area.polygon, {x, y}) ||
                                  Contains(tables->excluded[1].area.polygon, {x, y}) ||
                                  Contains(tables->excluded[3].area.polygon, {x, y});
            ASSERT_EQ(tables->Excluded({x, y}), expected) << x << ", " << y;
            excluded += expected ? 1 : 0;
        }
    }
    EXPECT_GT(excluded, 20000);
    EXPECT_FALSE(tables->Excluded({170, 160}));  // in the unused slot 2

    SetArea(rule->excluded[1], {{100, 150}, {180, 150}, {180, 200}});
    tables->Load(*rule);
    EXPECT_FALSE(tables->Excluded({250, 150}));
    EXPECT_TRUE(tables->Excluded({170, 160}));
}

TEST(RuleTables, ForgettingATrackClearsItsStateInEverySlot) {
    auto rule = EmptyRule();
    rule->lineCount = rule->enterExitCount = rule->motionCount = 3;
    auto tables = std::make_unique<RuleTables>();
    tables->Load(*rule);
    for (int32_t s = 0; s < 3; ++s) {
        tables->enterExit[s].state[7] = kTrackInside;
        tables->motion[s].state[7] = kTrackMoving;
        tables->lines[s].crossings[7] = 3;
        tables->lines[s].crossings[8] = 3;
    }
    tables->ForgetTrack(7);
    for (int32_t s = 0; s < 3; ++s) {
        EXPECT_EQ(tables->enterExit[s].state[7], kTrackOutside);
        EXPECT_EQ(tables->motion[s].state[7], 0);
        EXPECT_EQ(tables->lines[s].crossings[7], 0);
        EXPECT_EQ(tables->lines[s].crossings[8], 3);
    }
}

}  // namespace
}  // namespace orvale::rules
