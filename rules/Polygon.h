// Shapes on the grid: polygons and polylines of up to 11 points, the
// crossing-number inside test that every rule uses, and the grown outline of
// an enter/exit area.
//
// All arithmetic on grid points runs in 64 bits; nothing here divides by a
// value that can be zero.
#pragma once

#include <cstdint>

#include "rules/Grid.h"

namespace orvale::rules {

inline constexpr int32_t kMaxShapePoints = 11;

struct Polygon {
    int32_t count = 0;  // 0..kMaxShapePoints
    GridPoint points[kMaxShapePoints] = {};
};

// Crossing-number test on the integer grid. A polygon of fewer than 3 points
// contains nothing. An edge toggles when exactly one of its ends lies left of
// the point and the point lies above the edge at that x.
bool Contains(const Polygon& polygon, GridPoint point);

// A polygon with its bounding box, for the tests that run for every track in
// every frame: a point outside the box is outside the polygon (left or right
// of it no edge straddles the point, above it the point lies above an even
// number of edges, below it above none), so most tests end after four
// comparisons.
struct Region {
    Polygon polygon;
    GridBox bounds;

    void Set(const Polygon& shape);
    bool Contains(GridPoint point) const {
        return point.x >= bounds.x1 && point.x <= bounds.x2 && point.y >= bounds.y1 &&
               point.y <= bounds.y2 && rules::Contains(polygon, point);
    }
};

// The same test over the box's corners (left, top), (right, top),
// (right, bottom), (left, bottom): inside when x1 < x <= x2 and y1 <= y < y2.
bool Contains(const GridBox& box, GridPoint point);

// The area pushed 5 grid units outward: every edge's line moves to the side on
// which a probe 2 units off its midpoint is not inside, and every vertex
// becomes the meeting point of its two moved lines, rounded by adding 0.5 and
// truncating. Repeated points (zero-length edges) are skipped; a vertex between
// parallel edges moves along the outward normal instead. Fewer than 3 distinct
// points give an empty polygon.
Polygon Grow(const Polygon& area);

}  // namespace orvale::rules
