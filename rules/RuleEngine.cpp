#include "rules/RuleEngine.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace orvale::rules {
namespace {

bool ToGrid(const rule_object_s& object, GridBox& box) {
    return GridX(object.x1, box.x1) && GridY(object.y1, box.y1) && GridX(object.x2, box.x2) &&
           GridY(object.y2, box.y2);
}

// Object i of the frame, copied out of its bytes: objects 30 and 31 lie past
// the record's own array.
rule_object_s ObjectAt(const rule_frame_s& frame, int32_t i) {
    rule_object_s object;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&frame) +
                        offsetof(rule_frame_s, objects) + sizeof(rule_object_s) * i;
    std::memcpy(&object, bytes, sizeof(object));
    return object;
}

}  // namespace

void RuleEngine::Reset() {
    loaded_ = false;
    rules_.Clear();
    tracker_.Reset();
    events_.count = 0;
}

void RuleEngine::SetRule(const forensic_rule_s& rule) {
    Reset();
    rules_.Load(rule);
    loaded_ = true;
}

int32_t RuleEngine::ProcessFrame(const rule_frame_s& frame, int32_t maxEvents,
                                 rule_event_s* events) {
    const int32_t declared = frame.objectCount;  // by value: the record may lie unaligned
    const int32_t objectCount = std::clamp<int32_t>(declared, 0, RULE_FRAME_MAX_TRACKED);
    FrameBox boxes[RULE_FRAME_MAX_TRACKED];
    int32_t boxCount = 0;
    for (int32_t i = 0; i < objectCount; ++i) {
        if (ToGrid(ObjectAt(frame, i), boxes[boxCount].box)) boxes[boxCount++].frameIndex = i;
    }

    events_.count = 0;
    const bool evaluate = tracker_.Track(boxes, boxCount);
    for (uint64_t bits = tracker_.NewTracks(); bits != 0; bits &= bits - 1) {
        rules_.ForgetTrack(std::countr_zero(bits) + 1);
    }
    if (evaluate) EvaluateRules(rules_, tracker_.Current(), events_);
    tracker_.EndFrame();

    const int32_t written = events == nullptr ? 0 : std::clamp(maxEvents, 0, events_.count);
    for (int32_t i = 0; i < written; ++i) events[i] = ToRuleEvent(events_.events[i], frame);
    return written;
}

rule_event_s RuleEngine::ToRuleEvent(const InternalEvent& event, const rule_frame_s& frame) const {
    rule_event_s out{};
    out.time = frame.time;
    switch (event.kind) {
        case kAreaEntered:
        case kAreaLeft:
            out.eventType = event.kind == kAreaEntered ? RULE_EVENT_ENTERED : RULE_EVENT_EXITED;
            out.ruleId = rules_.enterExit[event.slot].id;
            break;
        case kLineCrossedA:
        case kLineCrossedB:
            out.eventType = event.kind == kLineCrossedA ? RULE_EVENT_LINE_A : RULE_EVENT_LINE_B;
            out.ruleId = rules_.lines[event.slot].id;
            break;
        default:
            out.eventType = RULE_EVENT_MOTION;
            out.ruleId = rules_.motion[event.slot].id;
            break;
    }
    const rule_object_s object = ObjectAt(frame, event.frameIndex);
    out.objectId = object.objectId;
    out.x1 = object.x1;
    out.y1 = object.y1;
    out.x2 = object.x2;
    out.y2 = object.y2;
    return out;
}

}  // namespace orvale::rules
