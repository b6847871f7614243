#include "rules/Polygon.h"

#include <algorithm>
#include <cmath>

namespace orvale::rules {
namespace {

constexpr double kGrowth = 5.0;
constexpr double kProbeDistance = 2.0;
// The meeting point of two nearly parallel moved lines can lie very far out;
// it is clamped here so that it stays a valid integer for the inside test.
constexpr double kGrownLimit = 1 << 20;

// Coordinate is int64_t for grid points and double for the probes of Grow.
template <class Coordinate>
bool ContainsAt(const Polygon& polygon, Coordinate px, Coordinate py) {
    if (polygon.count < 3) return false;
    bool inside = false;
    const GridPoint* first = &polygon.points[polygon.count - 1];
    for (int32_t i = 0; i < polygon.count; ++i) {
        const GridPoint* second = &polygon.points[i];
        if ((first->x < px) != (second->x < px)) {
            const GridPoint& high = second->x > first->x ? *second : *first;
            const GridPoint& low = second->x > first->x ? *first : *second;
            const Coordinate lhs = (Coordinate(high.x) - low.x) * (py - low.y);
            const Coordinate rhs = (Coordinate(high.y) - low.y) * (px - low.x);
            if (lhs < rhs) inside = !inside;
        }
        first = second;
    }
    return inside;
}

// The points without consecutive repeats (the last against the first too).
Polygon DistinctPoints(const Polygon& area) {
    Polygon out;
    for (int32_t i = 0; i < area.count; ++i) {
        if (out.count == 0 || !(area.points[i] == out.points[out.count - 1])) {
            out.points[out.count++] = area.points[i];
        }
    }
    while (out.count > 1 && out.points[out.count - 1] == out.points[0]) --out.count;
    return out;
}

struct MovedEdge {
    double originX = 0;  // the edge's start, moved outward
    double originY = 0;
    int64_t dx = 0;  // the edge's direction (never 0, 0)
    int64_t dy = 0;
    double normalX = 0;  // outward unit normal
    double normalY = 0;
};

MovedEdge MoveOutward(const Polygon& shape, GridPoint from, GridPoint to) {
    MovedEdge edge;
    edge.dx = int64_t{to.x} - from.x;
    edge.dy = int64_t{to.y} - from.y;
    const double length = std::hypot(static_cast<double>(edge.dx), static_cast<double>(edge.dy));
    edge.normalX = static_cast<double>(-edge.dy) / length;
    edge.normalY = static_cast<double>(edge.dx) / length;
    const double midX = (static_cast<double>(from.x) + to.x) / 2.0;
    const double midY = (static_cast<double>(from.y) + to.y) / 2.0;
    if (ContainsAt(shape, midX + kProbeDistance * edge.normalX,
                   midY + kProbeDistance * edge.normalY)) {
        edge.normalX = -edge.normalX;
        edge.normalY = -edge.normalY;
    }
    edge.originX = from.x + kGrowth * edge.normalX;
    edge.originY = from.y + kGrowth * edge.normalY;
    return edge;
}

// Adding 0.5 and truncating towards zero, as the grown outlines always were
// (it rounds negative values up).
int32_t Rounded(double value) {
    const double shifted = std::clamp(value, -kGrownLimit, kGrownLimit) + 0.5;
    return static_cast<int32_t>(shifted);
}

// Where the moved lines of the edge ending at vertex and the edge starting
// there meet; along the second edge's normal when they are parallel.
GridPoint MovedVertex(const MovedEdge& in, const MovedEdge& out, GridPoint vertex) {
    const int64_t denominator = in.dx * out.dy - in.dy * out.dx;
    if (denominator == 0) {
        return GridPoint{Rounded(vertex.x + kGrowth * out.normalX),
                         Rounded(vertex.y + kGrowth * out.normalY)};
    }
    const double betweenX = out.originX - in.originX;
    const double betweenY = out.originY - in.originY;
    const double t =
        (betweenX * static_cast<double>(out.dy) - betweenY * static_cast<double>(out.dx)) /
        static_cast<double>(denominator);
    return GridPoint{Rounded(in.originX + t * static_cast<double>(in.dx)),
                     Rounded(in.originY + t * static_cast<double>(in.dy))};
}

}  // namespace

void Region::Set(const Polygon& shape) {
    polygon = shape;
    bounds = GridBox{};
    for (int32_t i = 0; i < shape.count; ++i) {
        const GridPoint& p = shape.points[i];
        if (i == 0) bounds = GridBox{p.x, p.y, p.x, p.y};
        bounds = GridBox{std::min(bounds.x1, p.x), std::min(bounds.y1, p.y),
                         std::max(bounds.x2, p.x), std::max(bounds.y2, p.y)};
    }
}

bool Contains(const Polygon& polygon, GridPoint point) {
    return ContainsAt<int64_t>(polygon, point.x, point.y);
}

bool Contains(const GridBox& box, GridPoint point) {
    Polygon corners;
    corners.count = 4;
    corners.points[0] = {box.x1, box.y1};
    corners.points[1] = {box.x2, box.y1};
    corners.points[2] = {box.x2, box.y2};
    corners.points[3] = {box.x1, box.y2};
    return Contains(corners, point);
}

Polygon Grow(const Polygon& area) {
    const Polygon shape = DistinctPoints(area);
    if (shape.count < 3) return Polygon{};
    MovedEdge edges[kMaxShapePoints];
    for (int32_t i = 0; i < shape.count; ++i) {
        edges[i] = MoveOutward(shape, shape.points[i], shape.points[(i + 1) % shape.count]);
    }
    Polygon grown;
    grown.count = shape.count;
    for (int32_t i = 0; i < shape.count; ++i) {
        const MovedEdge& in = edges[(i + shape.count - 1) % shape.count];
        grown.points[i] = MovedVertex(in, edges[i], shape.points[i]);
    }
    return grown;
}

}  // namespace orvale::rules
