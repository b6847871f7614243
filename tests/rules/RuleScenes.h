// Rule sets and frame sequences drawn in grid units, fed through the rule
// library's two C functions as the engine feeds them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "rules/Pimbrel.h"

namespace orvale::rules::scene {

// Normalised coordinates that convert to exactly the grid value given
// (conversion truncates towards zero).
inline float X(int32_t gx) {
    const float g = static_cast<float>(gx) + (gx >= 0 ? 0.5F : -0.5F);
    return g / 160.0F - 1.0F;
}
inline float Y(int32_t gy) {
    const float g = static_cast<float>(gy) + (gy >= 0 ? 0.5F : -0.5F);
    return 1.0F - g / 120.0F;
}

// The records are byte-packed: their fields are copied out before gtest's
// macros bind references to them.
template <class T>
T Copy(T value) {
    return value;
}

struct Point {
    int32_t x;
    int32_t y;
};
using Shape = std::vector<Point>;

// The square used by the area cases: inside means 100 < x <= 220, 80 <= y < 160.
inline const Shape kSquare{{100, 80}, {220, 80}, {220, 160}, {100, 160}};

class RuleBuilder {
  public:
    RuleBuilder() : rule_(std::make_unique<forensic_rule_s>()) {
        std::memset(rule_.get(), 0, sizeof(forensic_rule_s));
    }

    RuleBuilder& Line(const Shape& points, int32_t kind, int32_t id = 0) {
        forensic_line_s& slot = rule_->lines[rule_->lineCount++];
        slot.id = id;
        slot.kind = kind;
        slot.used = 1;
        slot.pointCount = Fill(points, slot.points);
        return *this;
    }
    RuleBuilder& Area(const Shape& points, int32_t kind, int32_t id = 0) {
        forensic_line_s& slot = rule_->enterExit[rule_->enterExitCount++];
        slot.id = id;
        slot.kind = kind;
        slot.used = 1;
        slot.pointCount = Fill(points, slot.points);
        return *this;
    }
    RuleBuilder& Motion(const Shape& points, int32_t id = 0) {
        forensic_motion_s& slot = rule_->motion[rule_->motionCount++];
        slot.id = id;
        slot.used = 1;
        slot.pointCount = Fill(points, slot.points);
        return *this;
    }
    RuleBuilder& Excluded(const Shape& points) {
        forensic_area_s& slot = rule_->excluded[rule_->excludedCount++];
        slot.used = 1;
        slot.pointCount = Fill(points, slot.points);
        return *this;
    }

    forensic_rule_s& Rule() { return *rule_; }

  private:
    static int32_t Fill(const Shape& points, rule_point_s* out) {
        int32_t count = 0;
        for (const Point& p : points) out[count++] = {X(p.x), Y(p.y)};
        return count;
    }

    std::unique_ptr<forensic_rule_s> rule_;
};

// An object box by its grid centre and half sizes.
struct Object {
    uint32_t id;
    int32_t cx;
    int32_t cy;
    int32_t half = 10;
};

using Scene = std::vector<std::vector<Object>>;  // the objects of each frame

inline int64_t FrameTime(size_t frame) {
    return 1700000000 + static_cast<int64_t>(frame);
}

inline rule_frame_s MakeFrame(int64_t time, const std::vector<Object>& objects) {
    rule_frame_s frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.time = time;
    for (const Object& o : objects) {
        rule_object_s& out = frame.objects[frame.objectCount++];
        out = {o.id, X(o.cx - o.half), Y(o.cy - o.half), X(o.cx + o.half), Y(o.cy + o.half)};
    }
    return frame;
}

// The frame's bytes for any number of objects: a whole rule_frame_s, running
// on 20 bytes an object beyond its 30.
inline std::vector<uint8_t> FrameBytes(int64_t time, const std::vector<Object>& objects) {
    constexpr size_t kHead = offsetof(rule_frame_s, objects);
    std::vector<uint8_t> bytes(
        std::max(sizeof(rule_frame_s), kHead + objects.size() * sizeof(rule_object_s)));
    const auto count = static_cast<int32_t>(objects.size());
    std::memcpy(bytes.data(), &time, sizeof(time));
    std::memcpy(bytes.data() + offsetof(rule_frame_s, objectCount), &count, sizeof(count));
    for (size_t i = 0; i < objects.size(); ++i) {
        const Object& o = objects[i];
        const rule_object_s object = {o.id, X(o.cx - o.half), Y(o.cy - o.half), X(o.cx + o.half),
                                      Y(o.cy + o.half)};
        std::memcpy(bytes.data() + kHead + i * sizeof(object), &object, sizeof(object));
    }
    return bytes;
}

// One event as seen by the caller, with the frame it came from.
struct Hit {
    size_t frame;
    int32_t type;
    int32_t ruleId;
    uint32_t objectId;

    friend bool operator==(const Hit&, const Hit&) = default;
};

inline void PrintTo(const Hit& hit, std::ostream* out) {
    *out << "{frame " << hit.frame << ", type " << hit.type << ", rule " << hit.ruleId
         << ", object " << hit.objectId << "}";
}

// Loads the rule set, feeds every frame and collects the events. Every event
// must carry its frame's time and its object's box as given.
inline std::vector<Hit> RunScene(const forensic_rule_s& rule, const Scene& scene,
                                 int maxEvents = 100) {
    EXPECT_EQ(QDX_setRule(nullptr, &rule), 1);
    std::vector<Hit> hits;
    for (size_t f = 0; f < scene.size(); ++f) {
        const rule_frame_s frame = MakeFrame(FrameTime(f), scene[f]);
        std::vector<rule_event_s> events(100);
        int count = -1;
        EXPECT_EQ(QDX_processFrameSingle(nullptr, &frame, maxEvents, events.data(), &count), 1);
        for (int i = 0; i < count; ++i) {
            const rule_event_s& e = events[i];
            EXPECT_EQ(Copy(e.time), Copy(frame.time));
            const rule_object_s* object = nullptr;
            for (int j = 0; j < frame.objectCount; ++j) {
                if (frame.objects[j].objectId == e.objectId) object = &frame.objects[j];
            }
            if (object == nullptr) {
                ADD_FAILURE() << "event for object " << e.objectId << " not in frame " << f;
            } else {
                EXPECT_EQ(Copy(e.x1), Copy(object->x1));
                EXPECT_EQ(Copy(e.y1), Copy(object->y1));
                EXPECT_EQ(Copy(e.x2), Copy(object->x2));
                EXPECT_EQ(Copy(e.y2), Copy(object->y2));
            }
            hits.push_back(Hit{f, e.eventType, e.ruleId, e.objectId});
        }
    }
    return hits;
}

// frames positions of one object moving in a straight line.
inline std::vector<Object> Path(uint32_t id, Point start, Point step, size_t frames,
                                int32_t half = 10) {
    std::vector<Object> out;
    for (size_t i = 0; i < frames; ++i) {
        const auto k = static_cast<int32_t>(i);
        out.push_back({id, start.x + k * step.x, start.y + k * step.y, half});
    }
    return out;
}

// The scene in which frame f holds the f-th entry of each path that has one
// (a path starting later is given by its first frame).
struct Track {
    size_t firstFrame;
    std::vector<Object> positions;
};

inline Scene Compose(size_t frames, const std::vector<Track>& tracks) {
    Scene scene(frames);
    for (size_t f = 0; f < frames; ++f) {
        for (const Track& track : tracks) {
            if (f >= track.firstFrame && f - track.firstFrame < track.positions.size()) {
                scene[f].push_back(track.positions[f - track.firstFrame]);
            }
        }
    }
    return scene;
}

}  // namespace orvale::rules::scene
