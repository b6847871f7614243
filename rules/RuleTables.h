// The loaded rule set: 32 slots each of enter/exit areas, motion areas,
// lines and excluded areas on the grid, with the per-track state that the
// rules keep between frames (indexed by track number 1..64).
//
// Load() takes a forensic_rule_s as untrusted bytes: counts are clamped to
// 0..32 slots and 0..11 points, points to the grid limit. Slots beyond the
// loaded counts stay cleared, so the evaluation stops at slotCount.
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

// The answers of the excluded test at points of the grid (0..320 x 0..240),
// each worked out from the polygons the first time it is asked for: the test
// runs for ten points of every track for every line in every frame, mostly at
// points asked for before. Cleared with every rule set.
class ExcludedCache {
  public:
    void Clear();
    static bool Covers(GridPoint point) {
        return point.x >= 0 && point.x <= kGridWidth && point.y >= 0 && point.y <= kGridHeight;
    }
    // For a covered point: 0 not known yet, 1 outside, 2 inside.
    uint8_t Get(GridPoint point) const { return answers_[point.y][point.x]; }
    void Put(GridPoint point, bool inside) { answers_[point.y][point.x] = inside ? 2 : 1; }

  private:
    uint8_t answers_[kGridHeight + 1][kGridWidth + 1] = {};
};

struct RuleTables {
    EnterExitSlot enterExit[kMaxSlots];
    MotionSlot motion[kMaxSlots];
    LineSlot lines[kMaxSlots];
    ExcludedSlot excluded[kMaxSlots];
    mutable ExcludedCache excludedCache;
    int32_t slotCount = 0;      // slots 0..slotCount-1 of the first three tables may be used
    int32_t excludedCount = 0;  // excluded slots 0..excludedCount-1 may be used

    void Clear();
    void Load(const forensic_rule_s& rule);

    // Inside an excluded slot whose used flag is 1.
    bool Excluded(GridPoint point) const {
        if (excludedCount == 0) return false;
        if (!ExcludedCache::Covers(point)) return ExcludedByPolygons(point);
        const uint8_t known = excludedCache.Get(point);
        if (known != 0) return known == 2;
        const bool inside = ExcludedByPolygons(point);
        excludedCache.Put(point, inside);
        return inside;
    }

    bool ExcludedByPolygons(GridPoint point) const;

    // A track number given to a new track starts from a clean state in every slot.
    void ForgetTrack(int32_t trackNumber);
};

}  // namespace orvale::rules
