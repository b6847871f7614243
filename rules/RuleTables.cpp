#include "rules/RuleTables.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace orvale::rules {
namespace {

int32_t ClampedCount(int32_t count, int32_t limit) {
    return std::clamp(count, 0, limit);
}

Polygon GridShape(int32_t pointCount, const rule_point_s* points) {
    Polygon shape;
    shape.count = ClampedCount(pointCount, kMaxShapePoints);
    for (int32_t i = 0; i < shape.count; ++i) {
        shape.points[i] = ClampedGridPoint(points[i].x, points[i].y);
    }
    return shape;
}

int32_t LineMode(int32_t kind) {
    switch (kind) {
        case FORENSIC_LINE_DIRECTION_A:
            return kDirectionA;
        case FORENSIC_LINE_DIRECTION_B:
            return kDirectionB;
        case FORENSIC_LINE_BOTH:
            return kDirectionA | kDirectionB;
        default:
            return 0;
    }
}

}  // namespace

void RuleTables::Clear() {
    for (EnterExitSlot& slot : enterExit) slot = EnterExitSlot{};
    for (MotionSlot& slot : motion) slot = MotionSlot{};
    for (LineSlot& slot : lines) slot = LineSlot{};
    for (ExcludedSlot& slot : excluded) slot = ExcludedSlot{};
    excludedCache.Clear();
    slotCount = 0;
    excludedCount = 0;
}

void RuleTables::Load(const forensic_rule_s& rule) {
    Clear();
    const int32_t lineCount = ClampedCount(rule.lineCount, kMaxSlots);
    for (int32_t i = 0; i < lineCount; ++i) {
        const forensic_line_s& in = rule.lines[i];
        LineSlot& slot = lines[i];
        slot.id = in.id;
        slot.used = in.used;
        slot.mode = LineMode(in.kind);
        slot.line = GridShape(in.pointCount, in.points);
    }
    const int32_t enterExitCount = ClampedCount(rule.enterExitCount, kMaxSlots);
    for (int32_t i = 0; i < enterExitCount; ++i) {
        const forensic_line_s& in = rule.enterExit[i];
        EnterExitSlot& slot = enterExit[i];
        slot.id = in.id;
        slot.used = in.used;
        slot.enter = in.kind == FORENSIC_AREA_ENTER;
        slot.exit = in.kind == FORENSIC_AREA_EXIT;
        const Polygon area = GridShape(in.pointCount, in.points);
        slot.area.Set(area);
        slot.grown.Set(Grow(area));
    }
    const int32_t motionCount = ClampedCount(rule.motionCount, kMaxSlots);
    for (int32_t i = 0; i < motionCount; ++i) {
        const forensic_motion_s& in = rule.motion[i];
        motion[i].id = in.id;
        motion[i].used = in.used;
        motion[i].area.Set(GridShape(in.pointCount, in.points));
    }
    excludedCount = ClampedCount(rule.excludedCount, kMaxSlots);
    for (int32_t i = 0; i < excludedCount; ++i) {
        excluded[i].used = rule.excluded[i].used;
        excluded[i].area.Set(GridShape(rule.excluded[i].pointCount, rule.excluded[i].points));
    }
    slotCount = std::max({lineCount, enterExitCount, motionCount});
}

namespace {

bool InAnyExcluded(const ExcludedSlot* slots, int32_t count, GridPoint point) {
    for (int32_t i = 0; i < count; ++i) {
        if (slots[i].used == 1 && slots[i].area.Contains(point)) return true;
    }
    return false;
}

}  // namespace

void ExcludedCache::Clear() {
    std::memset(answers_, 0, sizeof(answers_));
}

bool RuleTables::ExcludedByPolygons(GridPoint point) const {
    return InAnyExcluded(excluded, excludedCount, point);
}

void RuleTables::ForgetTrack(int32_t trackNumber) {
    if (trackNumber < 0 || trackNumber > kMaxTrackNumber) return;
    for (int32_t i = 0; i < slotCount; ++i) {
        enterExit[i].state[trackNumber] = kTrackOutside;
        motion[i].state[trackNumber] = 0;
        lines[i].crossings[trackNumber] = 0;
    }
}

}  // namespace orvale::rules
