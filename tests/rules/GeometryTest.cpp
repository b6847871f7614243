// The grid conversion and the shapes every rule is tested against.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "rules/Grid.h"
#include "rules/Polygon.h"

namespace orvale::rules {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

struct ConversionCase {
    const char* name;
    float x;
    float y;
    bool valid;
    GridPoint expected;
    friend void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }
};

class GridConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(GridConversion, TruncatesSinglePrecisionValuesAndRefusesTheUnrepresentable) {
    const ConversionCase& c = GetParam();
    GridPoint point;
    const bool valid = GridX(c.x, point.x) && GridY(c.y, point.y);
    ASSERT_EQ(valid, c.valid);
    if (valid) {
        EXPECT_EQ(point, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, GridConversion,
    ::testing::Values(ConversionCase{"TopLeft", -1.0F, 1.0F, true, {0, 0}},
                      ConversionCase{"BottomRight", 1.0F, -1.0F, true, {320, 240}},
                      ConversionCase{"ThreeQuarters", 0.5F, 0.0F, true, {240, 120}},
                      // 0.6 is just above 0.6 in single precision: 256.
                      ConversionCase{"PointSix", 0.6F, 0.8F, true, {256, 23}},
                      ConversionCase{"TruncatedTowardsZero", -1.01F, 1.01F, true, {-1, -1}},
                      ConversionCase{"AtTheLimit", 24.6F, 1.0F, true, {4096, 0}},
                      ConversionCase{"BeyondTheLimit", 25.0F, 0.0F, false, {}},
                      ConversionCase{"NaN", kNaN, 0.0F, false, {}},
                      ConversionCase{"Infinite", 0.0F, -kInfinity, false, {}},
                      ConversionCase{"Huge", 3e38F, 0.0F, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GridConversion, RulePointsAreClampedInsteadOfRefused) {
    EXPECT_EQ(ClampedGridPoint(0.5F, 0.0F), (GridPoint{240, 120}));
    EXPECT_EQ(ClampedGridPoint(kNaN, kNaN), (GridPoint{0, 0}));
    EXPECT_EQ(ClampedGridPoint(kInfinity, -kInfinity), (GridPoint{kGridLimit, kGridLimit}));
    EXPECT_EQ(ClampedGridPoint(-3e38F, 3e38F), (GridPoint{-kGridLimit, -kGridLimit}));
}

Polygon Shape(std::initializer_list<GridPoint> points) {
    Polygon polygon;
    for (const GridPoint& p : points) polygon.points[polygon.count++] = p;
    return polygon;
}

std::vector<GridPoint> Points(const Polygon& polygon) {
    return {polygon.points, polygon.points + polygon.count};
}

const Polygon kSquare = Shape({{100, 80}, {220, 80}, {220, 160}, {100, 160}});

struct InsideCase {
    const char* name;
    Polygon polygon;
    GridPoint point;
    bool inside;
    friend void PrintTo(const InsideCase& c, std::ostream* out) { *out << c.name; }
};

class PointInPolygon : public ::testing::TestWithParam<InsideCase> {};

TEST_P(PointInPolygon, CrossingNumberOnTheGrid) {
    EXPECT_EQ(Contains(GetParam().polygon, GetParam().point), GetParam().inside);
}

const Polygon kNotched = Shape({{0, 0}, {100, 0}, {100, 100}, {50, 100}, {50, 50}, {0, 50}});

INSTANTIATE_TEST_SUITE_P(
    Points, PointInPolygon,
    ::testing::Values(
        InsideCase{"Centre", kSquare, {160, 120}, true},
        InsideCase{"LeftEdgeIsOutside", kSquare, {100, 120}, false},
        InsideCase{"RightEdgeIsInside", kSquare, {220, 120}, true},
        InsideCase{"TopEdgeIsInside", kSquare, {160, 80}, true},
        InsideCase{"BottomEdgeIsOutside", kSquare, {160, 160}, false},
        InsideCase{"Above", kSquare, {160, 79}, false},
        InsideCase{"SlantedEdge", Shape({{0, 0}, {100, 100}, {0, 100}}), {40, 60}, true},
        InsideCase{"BeyondSlantedEdge", Shape({{0, 0}, {100, 100}, {0, 100}}), {60, 40}, false},
        InsideCase{"InTheNotch", kNotched, {25, 75}, false},
        InsideCase{"BesideTheNotch", kNotched, {75, 75}, true},
        InsideCase{"TwoPointsHoldNothing", Shape({{0, 0}, {320, 240}}), {160, 120}, false},
        InsideCase{
            "FarOutPoints", Shape({{-4096, -4096}, {4096, -4096}, {4096, 4096}}), {4000, 0}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The bounding box only shortens the test: every grid point and some beyond
// get the same answer from the region as from its polygon.
TEST(PointInPolygon, RegionAnswersAsItsPolygon) {
    for (const Polygon& shape :
         {kSquare, kNotched, Shape({{0, 0}, {100, 100}, {0, 100}}),
          Shape({{160, 10}, {300, 230}, {20, 230}, {160, 10}, {200, 120}}),  // self-touching
          Shape({{-50, -40}, {400, 20}, {30, 300}})}) {
        Region region;
        region.Set(shape);
        for (int32_t y = -60; y <= 320; y += 3) {
            for (int32_t x = -60; x <= 420; x += 3) {
                ASSERT_EQ(region.Contains({x, y}), Contains(shape, {x, y})) << x << ", " << y;
            }
        }
    }
}

TEST(PointInRectangle, SameRuleAsPolygons) {
    const GridBox box{100, 80, 220, 160};
    EXPECT_TRUE(Contains(box, {160, 120}));
    EXPECT_TRUE(Contains(box, {220, 80}));
    EXPECT_FALSE(Contains(box, {100, 120}));
    EXPECT_FALSE(Contains(box, {160, 160}));
}

struct GrowCase {
    const char* name;
    Polygon area;
    std::vector<GridPoint> grown;
    friend void PrintTo(const GrowCase& c, std::ostream* out) { *out << c.name; }
};

class GrownArea : public ::testing::TestWithParam<GrowCase> {};

TEST_P(GrownArea, MovesEveryEdgeFiveUnitsOutward) {
    EXPECT_EQ(Points(Grow(GetParam().area)), GetParam().grown);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, GrownArea,
    ::testing::Values(
        GrowCase{"Square", kSquare, {{95, 75}, {225, 75}, {225, 165}, {95, 165}}},
        GrowCase{"Clockwise",
                 Shape({{100, 80}, {100, 160}, {220, 160}, {220, 80}}),
                 {{95, 75}, {95, 165}, {225, 165}, {225, 75}}},
        GrowCase{"CollinearPoint",
                 Shape({{100, 80}, {160, 80}, {220, 80}, {220, 160}, {100, 160}}),
                 {{95, 75}, {160, 75}, {225, 75}, {225, 165}, {95, 165}}},
        GrowCase{
            "RepeatedPoints",
            Shape({{100, 80}, {100, 80}, {220, 80}, {220, 160}, {220, 160}, {100, 160}, {100, 80}}),
            {{95, 75}, {225, 75}, {225, 165}, {95, 165}}},
        // A right triangle: the slanted edge x + y = 120 moves to
        // x + y = 120 + 5 * sqrt(2); its corners are rounded by adding 0.5.
        GrowCase{"Triangle", Shape({{10, 10}, {110, 10}, {10, 110}}), {{5, 5}, {122, 5}, {5, 122}}},
        GrowCase{"OnePointRepeated", Shape({{5, 5}, {5, 5}, {5, 5}}), {}},
        GrowCase{"TwoPoints", Shape({{5, 5}, {50, 5}, {5, 5}}), {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GrownArea, DegenerateOutlinesStayFinite) {
    // Collinear points only, and a spike so sharp that its corner lies far out.
    for (const Polygon& area :
         {Shape({{100, 120}, {160, 120}, {220, 120}}), Shape({{0, 0}, {4096, 1}, {0, 1}}),
          Shape({{-4096, -4096}, {4096, 4096}, {-4096, -4095}})}) {
        const Polygon grown = Grow(area);
        EXPECT_EQ(grown.count, 3);
        for (const GridPoint& p : Points(grown)) {
            EXPECT_LE(std::abs(p.x), 1 << 20);
            EXPECT_LE(std::abs(p.y), 1 << 20);
        }
    }
}

}  // namespace
}  // namespace orvale::rules
