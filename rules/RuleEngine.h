// The whole state of the rule library: the loaded rule set, the tracker and
// the events of the last frame. The library keeps one instance for the
// process (behind a mutex, see Exports.cpp); tests make their own.
//
// Frames are taken as untrusted bytes: the object count is clamped to the 32
// boxes a frame step tracks (the caller's bytes must hold that many), and an object whose box is
// not finite or lies beyond the grid limit is not tracked. Events name the frame object they came
// from by its own index in that frame.
#pragma once

#include <cstdint>

#include "rules/Pimbrel.h"
#include "rules/RuleEvaluation.h"
#include "rules/RuleTables.h"
#include "rules/Tracker.h"

namespace orvale::rules {

class RuleEngine {
  public:
    // Back to the state after loading: no rule set.
    void Reset();

    // Replaces the rule set and forgets every track.
    void SetRule(const forensic_rule_s& rule);

    bool Loaded() const { return loaded_; }

    // Tracks the frame's boxes, evaluates the rules and writes the first
    // maxEvents events into events (which may be null when maxEvents <= 0).
    // Returns the number written. Needs a loaded rule set.
    int32_t ProcessFrame(const rule_frame_s& frame, int32_t maxEvents, rule_event_s* events);

    const EventBlock& LastEvents() const { return events_; }

  private:
    rule_event_s ToRuleEvent(const InternalEvent& event, const rule_frame_s& frame) const;

    bool loaded_ = false;
    RuleTables rules_;
    Tracker tracker_;
    EventBlock events_;
};

}  // namespace orvale::rules
