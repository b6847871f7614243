// Object boxes and search shapes drawn in the rule library's grid units (x 0
// at the left to 320, y 0 at the top to 240), the metadata XML a camera
// sends for the boxes, the rule frame stored for them, and the answers of a
// forensic search.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "recorder/api/MediaTypes.h"
#include "rules/Pimbrel.h"

namespace orvale::test::forensic {

// Normalised coordinates that convert to exactly the grid unit given.
inline float NX(int32_t gx) {
    return (static_cast<float>(gx) + 0.5F) / 160.0F - 1.0F;
}
inline float NY(int32_t gy) {
    return 1.0F - (static_cast<float>(gy) + 0.5F) / 120.0F;
}

struct Point {
    int32_t x;
    int32_t y;
};

// An object box by its grid centre and half size.
struct Box {
    uint32_t id;
    int32_t cx;
    int32_t cy;
    int32_t half = 10;
};
using Frame = std::vector<Box>;  // the boxes of one metadata frame

// One box moving in a straight line, a step a frame.
inline std::vector<Frame> Moving(uint32_t id, Point start, Point step, int frames) {
    std::vector<Frame> out;
    for (int i = 0; i < frames; ++i)
        out.push_back({{id, start.x + i * step.x, start.y + i * step.y}});
    return out;
}

// Two scenes side by side: frame i holds the boxes of both.
inline std::vector<Frame> Together(const std::vector<Frame>& a, const std::vector<Frame>& b) {
    std::vector<Frame> out(std::max(a.size(), b.size()));
    for (size_t i = 0; i < out.size(); ++i) {
        if (i < a.size()) out[i].insert(out[i].end(), a[i].begin(), a[i].end());
        if (i < b.size()) out[i].insert(out[i].end(), b[i].begin(), b[i].end());
    }
    return out;
}

inline std::string Number(float value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.9g", static_cast<double>(value));
    return text;
}

// The frame as a camera's metadata document.
inline std::string MetadataXml(const Frame& frame) {
    std::string xml =
        "<tt:MetadataStream xmlns:tt=\"http://www.onvif.org/ver10/schema\"><tt:VideoAnalytics>"
        "<tt:Frame UtcTime=\"2024-01-01T00:00:00Z\">";
    for (const Box& box : frame) {
        xml += "<tt:Object ObjectId=\"" + std::to_string(box.id) +
               "\"><tt:Appearance><tt:Shape><tt:BoundingBox left=\"" +
               Number(NX(box.cx - box.half)) + "\" top=\"" + Number(NY(box.cy - box.half)) +
               "\" right=\"" + Number(NX(box.cx + box.half)) + "\" bottom=\"" +
               Number(NY(box.cy + box.half)) + "\"/></tt:Shape></tt:Appearance></tt:Object>";
    }
    return xml + "</tt:Frame></tt:VideoAnalytics></tt:MetadataStream>";
}

// The frame as the recorder stores it: a whole rule_frame_s, or, for more
// than its 30 objects, the record running on 20 bytes an object.
inline std::vector<uint8_t> StoredRuleFrame(int64_t time, const Frame& frame) {
    constexpr size_t kHead = offsetof(rule_frame_s, objects);
    std::vector<uint8_t> bytes(
        std::max(sizeof(rule_frame_s), kHead + frame.size() * sizeof(rule_object_s)));
    const auto count = static_cast<int32_t>(frame.size());
    std::memcpy(bytes.data(), &time, sizeof(time));
    std::memcpy(bytes.data() + offsetof(rule_frame_s, objectCount), &count, sizeof(count));
    for (size_t i = 0; i < frame.size(); ++i) {
        const Box& box = frame[i];
        const rule_object_s object = {box.id, NX(box.cx - box.half), NY(box.cy - box.half),
                                      NX(box.cx + box.half), NY(box.cy + box.half)};
        std::memcpy(bytes.data() + kHead + i * sizeof(object), &object, sizeof(object));
    }
    return bytes;
}

inline std::list<recorder::forensic_point_s> Points(const std::vector<Point>& points) {
    std::list<recorder::forensic_point_s> out;
    for (const Point& p : points) out.push_back({NX(p.x), NY(p.y)});
    return out;
}

inline recorder::forensic_search_area_s Area(const std::vector<Point>& points, uint32_t flags) {
    return {false, flags, Points(points)};
}
inline recorder::forensic_search_area_s Excluded(const std::vector<Point>& points) {
    return {true, 0, Points(points)};
}
inline recorder::forensic_search_line_s Line(const std::vector<Point>& points, int32_t direction) {
    return {direction, Points(points)};
}

// A rectangle from its top-left and bottom-right corners.
inline std::vector<Point> Rect(Point topLeft, Point bottomRight) {
    return {topLeft, {bottomRight.x, topLeft.y}, bottomRight, {topLeft.x, bottomRight.y}};
}

// An answer of a search, compared whole.
struct Hit {
    int64_t time;
    int32_t code;
    int32_t subCode;

    friend bool operator==(const Hit&, const Hit&) = default;
};
inline void PrintTo(const Hit& hit, std::ostream* out) {
    *out << "{" << hit.time << ", " << hit.code << ", " << hit.subCode << "}";
}

inline std::vector<Hit> Hits(const std::vector<recorder::forensic_event_s>& events) {
    std::vector<Hit> out;
    for (const auto& event : events) {
        EXPECT_EQ(event.reserved, 0);
        out.push_back({event.time, event.code, event.subCode});
    }
    return out;
}

}  // namespace orvale::test::forensic
