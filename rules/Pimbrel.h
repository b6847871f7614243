/* The motion rule library's interface, shared by the library and the engine.
 *
 * The library keeps one rule set and one tracking state for the whole
 * process. QDX_setRule replaces both; QDX_processFrameSingle feeds the object
 * boxes of one frame, tracks them and writes the rule events of that frame
 * into the caller's array. Both calls are serialised inside the library, but a
 * rule set and the frames fed after it belong to one caller at a time.
 *
 * The records below cross between separately built binaries and are stored in
 * metadata databases, so their sizes and offsets are fixed (little-endian).
 * Coordinates are normalised: x from -1 (left) to 1 (right), y from 1 (top)
 * to -1 (bottom). Plain C, so that any host can use it. */
#ifndef ORVALE_RULES_PIMBREL_H
#define ORVALE_RULES_PIMBREL_H

#include <stddef.h>
#include <stdint.h>

#define RULE_FRAME_MAX_OBJECTS 30   /* objects held by one rule_frame_s */
#define RULE_FRAME_MAX_TRACKED 32   /* objects QDX_processFrameSingle reads from one frame */
#define FORENSIC_RULE_MAX_SLOTS 32  /* slots of each table of forensic_rule_s */
#define FORENSIC_RULE_MAX_POINTS 11 /* points of one shape */

/* forensic_line_s.kind in lines[]: the crossing directions that fire. */
#define FORENSIC_LINE_DIRECTION_A 3 /* fires RULE_EVENT_LINE_A */
#define FORENSIC_LINE_DIRECTION_B 4 /* fires RULE_EVENT_LINE_B */
#define FORENSIC_LINE_BOTH 5
/* forensic_line_s.kind in enterExit[]. */
#define FORENSIC_AREA_ENTER 1
#define FORENSIC_AREA_EXIT 2

/* rule_event_s.eventType. */
#define RULE_EVENT_ENTERED 1
#define RULE_EVENT_EXITED 2
#define RULE_EVENT_LINE_A 3
#define RULE_EVENT_LINE_B 4
#define RULE_EVENT_MOTION 6

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rule_point_s {
    float x;
    float y;
} rule_point_s;

typedef struct forensic_area_s {
    int32_t pointCount;
    rule_point_s points[FORENSIC_RULE_MAX_POINTS];
    int32_t used;
} forensic_area_s;

/* A line, or an enter/exit area (same shape; kind says which). */
typedef struct forensic_line_s {
    int32_t id;
    int32_t kind;
    int32_t pointCount;
    rule_point_s points[FORENSIC_RULE_MAX_POINTS];
    int32_t used;
} forensic_line_s;

typedef struct forensic_motion_s {
    int32_t id;
    int32_t pointCount;
    rule_point_s points[FORENSIC_RULE_MAX_POINTS];
    int32_t used;
} forensic_motion_s;

/* The rule set given to QDX_setRule. Counts outside 0..32 and point counts
 * outside 0..11 are clamped by the library. */
typedef struct forensic_rule_s {
    int32_t excludedCount;
    int32_t lineCount;
    int32_t enterExitCount;
    int32_t motionCount;
    forensic_area_s excluded[FORENSIC_RULE_MAX_SLOTS];
    forensic_line_s lines[FORENSIC_RULE_MAX_SLOTS];
    forensic_line_s enterExit[FORENSIC_RULE_MAX_SLOTS];
    forensic_motion_s motion[FORENSIC_RULE_MAX_SLOTS];
} forensic_rule_s;

#pragma pack(push, 1)
/* One object box: x1, y1 the top-left corner, x2, y2 the bottom-right one. */
typedef struct rule_object_s {
    uint32_t objectId;
    float x1;
    float y1;
    float x2;
    float y2;
} rule_object_s;

/* The object boxes of one metadata frame, stored as the frame's extension
 * bytes and fed to QDX_processFrameSingle. Byte-aligned, so a stored record
 * can be used where it lies. The recorder stores at most 30 objects; a frame
 * of 31 or 32 objects runs on past this record, 20 bytes an object. */
typedef struct rule_frame_s {
    int64_t time;
    int32_t objectCount;
    rule_object_s objects[RULE_FRAME_MAX_OBJECTS];
} rule_frame_s;

/* One rule hit; box is the object's box as given in the frame. */
typedef struct rule_event_s {
    int64_t time;
    int32_t eventType;
    int32_t ruleId;
    uint32_t objectId;
    float x1;
    float y1;
    float x2;
    float y2;
} rule_event_s;
#pragma pack(pop)

#if defined(__GNUC__)
#define PIMBREL_API __attribute__((visibility("default")))
#else
#define PIMBREL_API
#endif

/* Replaces the rule set and forgets every track. handle is ignored. Returns 1,
 * or 0 (nothing changed) when rule is null. */
PIMBREL_API int QDX_setRule(void* handle, const forensic_rule_s* rule);

/* Tracks the boxes of one frame and writes at most maxEvents events of this
 * frame into events, their number into *eventCount (0 first, always, when
 * eventCount is not null). The first min(objectCount, 32) objects are read:
 * the frame's bytes must hold that many. handle is ignored. Returns 0 when no rule set has
 * been loaded or frame is null (nothing tracked), else 1. With events or
 * eventCount null, or maxEvents <= 0, the frame is tracked and nothing is
 * written. */
PIMBREL_API int QDX_processFrameSingle(void* handle, const rule_frame_s* frame, int maxEvents,
                                       rule_event_s* events, int* eventCount);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define PIMBREL_STATIC_ASSERT(condition, text) static_assert(condition, text)
#else
#define PIMBREL_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#endif

PIMBREL_STATIC_ASSERT(sizeof(forensic_area_s) == 96, "forensic_area_s size");
PIMBREL_STATIC_ASSERT(offsetof(forensic_area_s, points) == 4, "forensic_area_s.points");
PIMBREL_STATIC_ASSERT(offsetof(forensic_area_s, used) == 92, "forensic_area_s.used");
PIMBREL_STATIC_ASSERT(sizeof(forensic_line_s) == 104, "forensic_line_s size");
PIMBREL_STATIC_ASSERT(offsetof(forensic_line_s, kind) == 4, "forensic_line_s.kind");
PIMBREL_STATIC_ASSERT(offsetof(forensic_line_s, pointCount) == 8, "forensic_line_s.pointCount");
PIMBREL_STATIC_ASSERT(offsetof(forensic_line_s, points) == 12, "forensic_line_s.points");
PIMBREL_STATIC_ASSERT(offsetof(forensic_line_s, used) == 100, "forensic_line_s.used");
PIMBREL_STATIC_ASSERT(sizeof(forensic_motion_s) == 100, "forensic_motion_s size");
PIMBREL_STATIC_ASSERT(offsetof(forensic_motion_s, pointCount) == 4, "forensic_motion_s.pointCount");
PIMBREL_STATIC_ASSERT(offsetof(forensic_motion_s, points) == 8, "forensic_motion_s.points");
PIMBREL_STATIC_ASSERT(offsetof(forensic_motion_s, used) == 96, "forensic_motion_s.used");
PIMBREL_STATIC_ASSERT(sizeof(forensic_rule_s) == 12944, "forensic_rule_s size");
PIMBREL_STATIC_ASSERT(offsetof(forensic_rule_s, excluded) == 16, "forensic_rule_s.excluded");
PIMBREL_STATIC_ASSERT(offsetof(forensic_rule_s, lines) == 3088, "forensic_rule_s.lines");
PIMBREL_STATIC_ASSERT(offsetof(forensic_rule_s, enterExit) == 6416, "forensic_rule_s.enterExit");
PIMBREL_STATIC_ASSERT(offsetof(forensic_rule_s, motion) == 9744, "forensic_rule_s.motion");
PIMBREL_STATIC_ASSERT(sizeof(rule_object_s) == 20, "rule_object_s size");
PIMBREL_STATIC_ASSERT(sizeof(rule_frame_s) == 612, "rule_frame_s size");
PIMBREL_STATIC_ASSERT(offsetof(rule_frame_s, objectCount) == 8, "rule_frame_s.objectCount");
PIMBREL_STATIC_ASSERT(offsetof(rule_frame_s, objects) == 12, "rule_frame_s.objects");
PIMBREL_STATIC_ASSERT(sizeof(rule_event_s) == 36, "rule_event_s size");
PIMBREL_STATIC_ASSERT(offsetof(rule_event_s, eventType) == 8, "rule_event_s.eventType");
PIMBREL_STATIC_ASSERT(offsetof(rule_event_s, ruleId) == 12, "rule_event_s.ruleId");
PIMBREL_STATIC_ASSERT(offsetof(rule_event_s, objectId) == 16, "rule_event_s.objectId");
PIMBREL_STATIC_ASSERT(offsetof(rule_event_s, x1) == 20, "rule_event_s.x1");
PIMBREL_STATIC_ASSERT(offsetof(rule_event_s, y2) == 32, "rule_event_s.y2");

#undef PIMBREL_STATIC_ASSERT

#endif /* ORVALE_RULES_PIMBREL_H */
