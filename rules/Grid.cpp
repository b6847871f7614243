#include "rules/Grid.h"

#include <cmath>

namespace orvale::rules {
namespace {

// Single precision on purpose: the grid values of stored rule sets and boxes
// were computed that way, and truncation makes the last bit matter.
float RawGridX(float x) {
    return (x + 1.0F) * 160.0F;
}
float RawGridY(float y) {
    return (y - 1.0F) * -120.0F;
}

constexpr float kLimit = static_cast<float>(kGridLimit);

// False for NaN and infinities too: every comparison with NaN fails.
bool Representable(float value) {
    return std::fabs(value) <= kLimit;
}

int32_t Clamped(float value) {
    if (std::isnan(value)) return 0;
    if (value > kLimit) return kGridLimit;
    if (value < -kLimit) return -kGridLimit;
    return static_cast<int32_t>(value);
}

}  // namespace

bool GridX(float x, int32_t& out) {
    const float value = RawGridX(x);
    if (!Representable(value)) return false;
    out = static_cast<int32_t>(value);
    return true;
}

bool GridY(float y, int32_t& out) {
    const float value = RawGridY(y);
    if (!Representable(value)) return false;
    out = static_cast<int32_t>(value);
    return true;
}

GridPoint ClampedGridPoint(float x, float y) {
    return GridPoint{Clamped(RawGridX(x)), Clamped(RawGridY(y))};
}

}  // namespace orvale::rules
