#include "rules/RuleEvaluation.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>

#include "rules/Polygon.h"

namespace orvale::rules {
namespace {

// A centre that jumps this far in x or y between two frames is taken for a
// mismatch, not a movement. Full coordinates: comparing only their low 8 bits
// would also refuse every step across x = 256.
constexpr int64_t kMaxCentreStep = 45;
// A track that fired on a segment may fire again once its centre is more than
// this far (squared) from the segment's line, or past its ends.
constexpr int64_t kNearSquared = 49;

enum class Side { kPositive, kNegative, kOnLine };

bool SmallStep(GridPoint from, GridPoint to) {
    return std::llabs(int64_t{from.x} - to.x) < kMaxCentreStep &&
           std::llabs(int64_t{from.y} - to.y) < kMaxCentreStep;
}

// Cross product of (to - from) and (point - from), in the sign the rules use.
int64_t Cross(GridPoint from, GridPoint to, GridPoint point) {
    return (int64_t{point.y} - from.y) * (int64_t{to.x} - from.x) -
           (int64_t{point.x} - from.x) * (int64_t{to.y} - from.y);
}

Side SideOf(GridPoint from, GridPoint to, GridPoint point) {
    const int64_t cross = Cross(from, to, point);
    if (cross == 0) return Side::kOnLine;
    return cross < 0 ? Side::kNegative : Side::kPositive;
}

// The point projects onto the segment and lies within 7 units of its line.
bool Near(GridPoint from, GridPoint to, GridPoint point) {
    const int64_t dx = int64_t{to.x} - from.x;
    const int64_t dy = int64_t{to.y} - from.y;
    const int64_t along = (int64_t{point.x} - from.x) * dx + (int64_t{point.y} - from.y) * dy;
    const int64_t lengthSquared = dx * dx + dy * dy;
    if (along < 0 || along > lengthSquared) return false;
    const int64_t cross = Cross(from, to, point);
    return cross * cross <= kNearSquared * lengthSquared;
}

bool StrictlyOpposite(int64_t a, int64_t b) {
    return (a < 0 && b > 0) || (a > 0 && b < 0);
}

GridPoint Corner(const GridBox& box, int32_t i) {
    return GridPoint{i == 1 || i == 2 ? box.x2 : box.x1, i >= 2 ? box.y2 : box.y1};
}

bool TouchesExcluded(const RuleTables& rules, const Blob& blob, GridPoint m0, GridPoint m1) {
    if (rules.excludedCount == 0) return false;
    for (int32_t i = 0; i < 4; ++i) {
        if (rules.Excluded(Corner(blob.box, i)) || rules.Excluded(Corner(blob.previous, i))) {
            return true;
        }
    }
    return rules.Excluded(m0) || rules.Excluded(m1);
}

void CountCrossing(int32_t& crossings) {
    if (crossings < std::numeric_limits<int32_t>::max()) ++crossings;
}

// One segment of a line against one track's step from m0 to m1: the event
// kind, or 0.
int32_t CrossSegment(const RuleTables& rules, int32_t mode, GridPoint s0, GridPoint s1,
                     GridPoint m0, GridPoint m1, Blob& blob, int32_t& crossings) {
    if (rules.Excluded(m1)) return 0;
    if (crossings > 0 && !Near(s0, s1, m1)) crossings = 0;
    const Side from = SideOf(s0, s1, m0);
    const Side to = SideOf(s0, s1, m1);
    if (to == Side::kOnLine) blob.box = blob.previous;

    int32_t direction = 0;
    if (from != Side::kPositive && to == Side::kPositive) {
        direction = kDirectionA;
    } else if (from != Side::kNegative && to == Side::kNegative) {
        direction = kDirectionB;
    } else {
        return 0;
    }
    const bool proper =
        from != Side::kOnLine && StrictlyOpposite(Cross(m0, m1, s0), Cross(m0, m1, s1));
    if (!proper) {
        const GridBox swept{
            std::min(blob.previous.x1, blob.box.x1), std::min(blob.previous.y1, blob.box.y1),
            std::max(blob.previous.x2, blob.box.x2), std::max(blob.previous.y2, blob.box.y2)};
        if (!Contains(swept, s0) && !Contains(swept, s1)) return 0;
    }
    if ((mode & direction) == 0 || crossings != 0) {
        CountCrossing(crossings);
        return 0;
    }
    blob.hold = kEventHold;
    CountCrossing(crossings);
    return direction == kDirectionA ? kLineCrossedA : kLineCrossedB;
}

}  // namespace

void EventBlock::Add(int32_t kind, int32_t slot, const Blob& blob) {
    if (count >= kMaxInternalEvents) return;
    events[count++] = InternalEvent{kind, slot, blob.trackNumber, blob.box, blob.frameIndex};
}

void EvaluateRules(RuleTables& rules, BlobList& blobs, EventBlock& events) {
    for (int32_t slot = 0; slot < rules.slotCount; ++slot) {
        if (rules.enterExit[slot].used != 0) {
            EvaluateEnterExit(rules, rules.enterExit[slot], slot, blobs, events);
        }
        if (rules.motion[slot].used != 0) {
            EvaluateMotion(rules, rules.motion[slot], slot, blobs, events);
        }
        if (rules.lines[slot].used != 0) {
            EvaluateLine(rules, rules.lines[slot], slot, blobs, events);
        }
    }
}

void EvaluateEnterExit(const RuleTables& rules, EnterExitSlot& area, int32_t slot, BlobList& blobs,
                       EventBlock& events) {
    if (blobs.count == 0) {
        std::fill(std::begin(area.state), std::end(area.state), kTrackOutside);
        return;
    }
    for (int32_t i = 0; i < blobs.count; ++i) {
        Blob& blob = blobs.blobs[i];
        const GridPoint m0 = Centre(blob.previous);
        const GridPoint m1 = Centre(blob.box);
        if (!SmallStep(m0, m1)) continue;
        uint8_t& state = area.state[blob.trackNumber];
        if (int64_t{blob.previous.x1} + blob.previous.x2 <= 1 &&
            int64_t{blob.previous.y1} + blob.previous.y2 <= 1) {
            state = kTrackOutside;
            continue;
        }
        if (!blob.Confirmed()) continue;

        // An excluded centre stops the slot for this frame and forgets the
        // track's state.
        if (rules.Excluded(m0) || rules.Excluded(m1)) {
            state = kTrackOutside;
            return;
        }
        int32_t kind = 0;
        const Region* outline = &area.grown;
        if (state != kTrackInside) {
            const bool wasInside = area.area.Contains(m0);
            const bool isInside = area.area.Contains(m1);
            if (!wasInside && isInside) {
                state = kTrackInside;
                if (area.enter) {
                    blob.hold = kEventHold;
                    kind = kAreaEntered;
                }
            } else if (state == kTrackLeft) {
                continue;
            } else {
                outline = &area.area;
            }
        }
        // A track that entered leaves only past the grown outline, so that a
        // centre wobbling on the border does not fire again and again; any
        // other track leaves the area itself.
        if (outline->Contains(m0) && !outline->Contains(m1)) {
            state = kTrackLeft;
            if (area.exit) {
                blob.hold = kEventHold;
                kind = kAreaLeft;
            }
        }
        if (kind != 0) events.Add(kind, slot, blob);
    }
}

void EvaluateMotion(const RuleTables& rules, MotionSlot& area, int32_t slot, BlobList& blobs,
                    EventBlock& events) {
    for (int32_t i = 0; i < blobs.count; ++i) {
        Blob& blob = blobs.blobs[i];
        if (!blob.Confirmed()) continue;
        const GridPoint centre = Centre(blob.box);
        if (!area.area.Contains(centre) || rules.Excluded(centre)) continue;
        blob.hold = kEventHold;
        area.state[blob.trackNumber] = kTrackMoving;
        events.Add(kMotionInArea, slot, blob);
    }
}

void EvaluateLine(const RuleTables& rules, LineSlot& line, int32_t slot, BlobList& blobs,
                  EventBlock& events) {
    if (line.line.count < 2) return;
    for (int32_t i = 0; i < blobs.count; ++i) {
        Blob& blob = blobs.blobs[i];
        if (!blob.Confirmed()) continue;
        const GridPoint m0 = Centre(blob.previous);
        const GridPoint m1 = Centre(blob.box);
        if (TouchesExcluded(rules, blob, m0, m1)) {
            blob.hold = 0;
            return;
        }
        if (!SmallStep(m0, m1) || (m0.x == 0 && m0.y == 0)) continue;
        int32_t& crossings = line.crossings[blob.trackNumber];
        for (int32_t k = 0; k + 1 < line.line.count; ++k) {
            const GridPoint& s0 = line.line.points[k];
            const GridPoint& s1 = line.line.points[k + 1];
            if (s0 == s1) continue;  // a repeated point: no line to cross, nothing to be near
            const int32_t kind = CrossSegment(rules, line.mode, s0, s1, m0, m1, blob, crossings);
            if (kind != 0) {
                events.Add(kind, slot, blob);
                break;
            }
        }
    }
}

}  // namespace orvale::rules
