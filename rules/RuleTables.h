// The loaded rule set: 32 slots each of enter/exit areas, motion areas,
// lines and excluded areas on the grid, with the per-track state that the
// rules keep between frames (indexed by track number 1..64).
//
// Load() takes a forensic_rule_s as untrusted bytes: counts are clamped to
// 0..32 slots and 0..11 points, points to the grid limit. Slots beyond the
// loaded counts stay cleared, so the loops below stop at slotCount.
#pragma once

#include <cstdint>

#include "rules/Grid.h"
#include "rules/Pimbrel.h"
#include "rules/Polygon.h"
#include "rules/Tracker.h"

namespace orvale::rules {

inline constexpr int32_t kMaxSlots = FORENSIC_RULE_MAX_SLOTS;

// Per-track states of an enter/exit slot.
inline constexpr uint8_t kTrackOutside = 0;
inline constexpr uint8_t kTrackInside = 6;
inline constexpr uint8_t kTrackLeft = 7;
// Per-track state of a motion slot after the track moved inside.
inline constexpr uint8_t kTrackMoving = 10;

// Direction mode bits of a line.
inline constexpr int32_t kDirectionA = 1;
inline constexpr int32_t kDirectionB = 2;

struct EnterExitSlot {
    int32_t id = 0;
    int32_t used = 0;
    bool enter = false;
    bool exit = false;
    Region area;
    Region grown;  // the area pushed 5 units outward: where a track that entered leaves
    uint8_t state[kTrackStates] = {};
};

struct MotionSlot {
    int32_t id = 0;
    int32_t used = 0;
    Region area;
    uint8_t state[kTrackStates] = {};
};

struct LineSlot {
    int32_t id = 0;
    int32_t used = 0;
    int32_t mode = 0;  // kDirectionA | kDirectionB
    Polygon line;      // a polyline: segment k runs from point k to point k + 1
    // Crossing counter per track: 0 lets the next crossing fire; it returns to
    // 0 once the track's centre is no longer near the segment it is tested on.
    int32_t crossings[kTrackStates] = {};
};

struct ExcludedSlot {
    int32_t used = 0;
    Region area;
};

// Which points of the grid (0..320 x 0..240) lie in an excluded area, worked
// out once per rule set: the excluded test runs for ten points of every track
// for every line in every frame.
class ExcludedMask {
public:
    void Build(const ExcludedSlot* slots, int32_t count);
    // False when the point lies off the mask's grid: then ask the polygons.
    bool Covers(GridPoint point) const {
        return point.x >= 0 && point.x <= kGridWidth && point.y >= 0 && point.y <= kGridHeight;
    }
    bool Excluded(GridPoint point) const {
        return (rows_[point.y][point.x >> 6] >> (point.x & 63) & 1U) != 0;
    }

private:
    static constexpr int32_t kWords = kGridWidth / 64 + 1;
    uint64_t rows_[kGridHeight + 1][kWords] = {};
};

struct RuleTables {
    EnterExitSlot enterExit[kMaxSlots];
    MotionSlot motion[kMaxSlots];
    LineSlot lines[kMaxSlots];
    ExcludedSlot excluded[kMaxSlots];
    ExcludedMask excludedMask;
    int32_t slotCount = 0;      // slots 0..slotCount-1 of the first three tables may be used
    int32_t excludedCount = 0;  // excluded slots 0..excludedCount-1 may be used

    void Clear();
    void Load(const forensic_rule_s& rule);

    // Inside an excluded slot whose used flag is 1.
    bool Excluded(GridPoint point) const {
        if (excludedCount == 0) return false;
        if (excludedMask.Covers(point)) return excludedMask.Excluded(point);
        return ExcludedByPolygons(point);
    }

    bool ExcludedByPolygons(GridPoint point) const;

    // A track number given to a new track starts from a clean state in every slot.
    void ForgetTrack(int32_t trackNumber);
};

}  // namespace orvale::rules
