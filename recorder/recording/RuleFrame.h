// The object boxes of one metadata frame in the fixed layout that is stored as
// the frame's extension bytes and handed to the motion rule library.
#pragma once

#include <cstdint>

namespace orvale::recorder {

inline constexpr int32_t kRuleFrameMaxObjects = 30;

#pragma pack(push, 1)
struct rule_object_s {
    uint32_t objectId = 0;
    float x1 = 0;  // left
    float y1 = 0;  // top
    float x2 = 0;  // right
    float y2 = 0;  // bottom
};

struct rule_frame_s {
    int64_t time = 0;
    int32_t objectCount = 0;
    rule_object_s objects[kRuleFrameMaxObjects] = {};
};
#pragma pack(pop)

static_assert(sizeof(rule_object_s) == 20);
static_assert(sizeof(rule_frame_s) == 612);

}  // namespace orvale::recorder
