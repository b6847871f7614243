// libFuzzer target: a rule set through QDX_setRule, then a sequence of frames
// through QDX_processFrameSingle. Counts, kinds and coordinates come either
// small and plausible or as raw hostile values; frames either bring fresh
// boxes or move the last ones a little, so that tracks form and rules fire.
// Each frame (with room for the 32 objects the library may read) and event
// array lies in a heap block of exactly its size, so the address sanitizer
// sees any access beyond them. A broken promise of the
// interface traps.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "rules/Pimbrel.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

int32_t Count(FuzzedDataProvider& in, int32_t plausible) {
    return in.ConsumeBool() ? in.ConsumeIntegral<int32_t>()
                            : in.ConsumeIntegralInRange<int32_t>(0, plausible);
}

// A coordinate on the grid's scale (a little beyond it), or any float at all.
float Coordinate(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        return std::bit_cast<float>(in.ConsumeIntegral<uint32_t>());
    }
    return static_cast<float>(in.ConsumeIntegralInRange<int>(-40, 360)) / 160.0F - 1.0F;
}

void Points(FuzzedDataProvider& in, int32_t& pointCount, rule_point_s* points) {
    pointCount = Count(in, FORENSIC_RULE_MAX_POINTS);
    const int32_t filled = std::clamp<int32_t>(pointCount, 0, FORENSIC_RULE_MAX_POINTS);
    for (int32_t i = 0; i < filled; ++i) points[i] = {Coordinate(in), Coordinate(in)};
}

int32_t Used(FuzzedDataProvider& in) {
    return in.ConsumeIntegralInRange<int>(0, 9) == 0 ? in.ConsumeIntegral<int32_t>() : 1;
}

// The first few slots of each table are filled; the counts may claim more.
void ReadRule(FuzzedDataProvider& in, forensic_rule_s& rule) {
    std::memset(&rule, 0, sizeof(rule));
    rule.excludedCount = Count(in, 2);
    rule.lineCount = Count(in, 4);
    rule.enterExitCount = Count(in, 4);
    rule.motionCount = Count(in, 4);
    for (int s = 0; s < 4; ++s) {
        forensic_area_s& excluded = rule.excluded[s];
        Points(in, excluded.pointCount, excluded.points);
        excluded.used = Used(in);
        forensic_line_s& line = rule.lines[s];
        line.id = in.ConsumeIntegral<int32_t>();
        line.kind = in.ConsumeIntegralInRange<int32_t>(0, 6);
        Points(in, line.pointCount, line.points);
        line.used = Used(in);
        forensic_line_s& area = rule.enterExit[s];
        area.id = in.ConsumeIntegral<int32_t>();
        area.kind = in.ConsumeIntegralInRange<int32_t>(0, 3);
        Points(in, area.pointCount, area.points);
        area.used = Used(in);
        forensic_motion_s& motion = rule.motion[s];
        motion.id = in.ConsumeIntegral<int32_t>();
        Points(in, motion.pointCount, motion.points);
        motion.used = Used(in);
    }
}

// A frame and the objects the library reads beyond the record's 30.
#pragma pack(push, 1)
struct FrameRoom {
    rule_frame_s frame;
    rule_object_s beyond[RULE_FRAME_MAX_TRACKED - RULE_FRAME_MAX_OBJECTS];
};
#pragma pack(pop)

// Object i of the room's 32, written or read through its bytes.
rule_object_s GetObject(const FrameRoom& room, int32_t i) {
    rule_object_s object;
    std::memcpy(&object,
                reinterpret_cast<const uint8_t*>(&room) + offsetof(rule_frame_s, objects) +
                    sizeof(rule_object_s) * static_cast<size_t>(i),
                sizeof(object));
    return object;
}
void PutObject(FrameRoom& room, int32_t i, const rule_object_s& object) {
    std::memcpy(reinterpret_cast<uint8_t*>(&room) + offsetof(rule_frame_s, objects) +
                    sizeof(rule_object_s) * static_cast<size_t>(i),
                &object, sizeof(object));
}

void ReadFrame(FuzzedDataProvider& in, FrameRoom& room, int64_t time) {
    rule_frame_s& frame = room.frame;
    frame.time = time;
    if (in.ConsumeIntegralInRange<int>(0, 3) != 0) {  // the same objects, moved a little
        for (int32_t i = 0; i < RULE_FRAME_MAX_TRACKED; ++i) {
            rule_object_s o = GetObject(room, i);
            const float dx = static_cast<float>(in.ConsumeIntegralInRange<int>(-6, 6)) / 160.0F;
            const float dy = static_cast<float>(in.ConsumeIntegralInRange<int>(-6, 6)) / 120.0F;
            o.x1 += dx;
            o.x2 += dx;
            o.y1 += dy;
            o.y2 += dy;
            PutObject(room, i, o);
        }
        return;
    }
    frame.objectCount = Count(in, RULE_FRAME_MAX_TRACKED);
    for (int32_t i = 0; i < RULE_FRAME_MAX_TRACKED; ++i) {
        rule_object_s o{};
        o.objectId = in.ConsumeIntegral<uint32_t>();
        o.x1 = Coordinate(in);
        o.y1 = Coordinate(in);
        if (in.ConsumeBool()) {  // a plausible box: right of and below its corner
            o.x2 = o.x1 + static_cast<float>(in.ConsumeIntegralInRange<int>(0, 60)) / 160.0F;
            o.y2 = o.y1 - static_cast<float>(in.ConsumeIntegralInRange<int>(0, 60)) / 120.0F;
        } else {
            o.x2 = Coordinate(in);
            o.y2 = Coordinate(in);
        }
        PutObject(room, i, o);
    }
}

// Every event carries the frame's time, a known type and the id and box of
// an object within the frame's clamped count.
void CheckEvent(const rule_event_s& event, const FrameRoom& room) {
    const rule_frame_s& frame = room.frame;
    Check(event.time == frame.time);
    const int32_t type = event.eventType;
    Check(type == RULE_EVENT_ENTERED || type == RULE_EVENT_EXITED || type == RULE_EVENT_LINE_A ||
          type == RULE_EVENT_LINE_B || type == RULE_EVENT_MOTION);
    const int32_t objects = std::clamp<int32_t>(frame.objectCount, 0, RULE_FRAME_MAX_TRACKED);
    bool found = false;
    for (int32_t i = 0; i < objects && !found; ++i) {
        const rule_object_s o = GetObject(room, i);
        found = o.objectId == event.objectId && std::memcmp(&o.x1, &event.x1, 16) == 0;
    }
    Check(found);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    static forensic_rule_s rule;
    ReadRule(in, rule);
    Check(QDX_setRule(nullptr, &rule) == 1);

    auto frame = std::make_unique<FrameRoom>();
    std::memset(frame.get(), 0, sizeof(FrameRoom));
    for (int64_t time = 0; in.remaining_bytes() > 0 && time < 64; ++time) {
        ReadFrame(in, *frame, time);
        const int maxEvents = in.ConsumeIntegralInRange<int>(-2, 40);
        const bool nullEvents = in.ConsumeIntegralInRange<int>(0, 15) == 0;
        std::unique_ptr<rule_event_s[]> events(
            maxEvents > 0 ? new rule_event_s[static_cast<size_t>(maxEvents)] : nullptr);
        int count = -1;
        const int result = QDX_processFrameSingle(nullptr, &frame->frame, maxEvents,
                                                  nullEvents ? nullptr : events.get(), &count);
        Check(result == 1);
        Check(count >= 0 && count <= std::max(maxEvents, 0));
        Check(!nullEvents || count == 0);
        for (int i = 0; i < count; ++i) CheckEvent(events[i], *frame);
    }
    return 0;
}
