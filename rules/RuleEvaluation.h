// Tests the confirmed tracks of one frame against the loaded rules and
// collects the hits as internal events, slot by slot (within a slot: the
// enter/exit area, then the motion area, then the line), blobs in list order.
//
// The rules update the per-track states of RuleTables and the blobs' hold
// (and, for a centre exactly on a line, the blob's box). A frame keeps at most
// kMaxInternalEvents events; later hits still update the states.
#pragma once

#include <cstdint>

#include "rules/Grid.h"
#include "rules/RuleTables.h"
#include "rules/Tracker.h"

namespace orvale::rules {

inline constexpr int32_t kMaxInternalEvents = 200;

// Internal event kinds.
inline constexpr int32_t kLineCrossedA = 2;
inline constexpr int32_t kLineCrossedB = 3;
inline constexpr int32_t kAreaEntered = 6;
inline constexpr int32_t kAreaLeft = 7;
inline constexpr int32_t kMotionInArea = 10;

struct InternalEvent {
    int32_t kind = 0;
    int32_t slot = 0;
    int32_t trackNumber = 0;
    GridBox box;
    int32_t frameIndex = 0;  // the object's own index in the frame
};

struct EventBlock {
    int32_t count = 0;
    InternalEvent events[kMaxInternalEvents];

    void Add(int32_t kind, int32_t slot, const Blob& blob);
};

// Runs every used slot's rules over the current blobs.
void EvaluateRules(RuleTables& rules, BlobList& blobs, EventBlock& events);

void EvaluateEnterExit(const RuleTables& rules, EnterExitSlot& area, int32_t slot, BlobList& blobs,
                       EventBlock& events);
void EvaluateMotion(const RuleTables& rules, MotionSlot& area, int32_t slot, BlobList& blobs,
                    EventBlock& events);
void EvaluateLine(const RuleTables& rules, LineSlot& line, int32_t slot, BlobList& blobs,
                  EventBlock& events);

}  // namespace orvale::rules
