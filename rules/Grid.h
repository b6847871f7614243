// The rule library's integer grid: 320 x 240 units, x to the right and y
// downwards, and the conversion of normalised coordinates onto it.
//
// Conversion is single precision and truncates towards zero, as the stored
// rule sets were drawn against. Values that are not finite or lie beyond
// kGridLimit never reach an integer conversion: a box with such a corner is
// refused, a rule point is clamped. Every grid coordinate therefore stays
// within +-kGridLimit, which keeps all products of the geometry far inside
// 64 bits.
#pragma once

#include <cstdint>

namespace orvale::rules {

inline constexpr int32_t kGridWidth = 320;
inline constexpr int32_t kGridHeight = 240;
// About 25 frame widths; nothing drawn or detected lies further out.
inline constexpr int32_t kGridLimit = 4096;

struct GridPoint {
    int32_t x = 0;
    int32_t y = 0;

    friend bool operator==(const GridPoint&, const GridPoint&) = default;
};

// x1, y1 the top-left corner; x2, y2 the bottom-right one.
struct GridBox {
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t x2 = 0;
    int32_t y2 = 0;

    friend bool operator==(const GridBox&, const GridBox&) = default;
};

// The grid value of x or y, false when it is not finite or beyond kGridLimit.
bool GridX(float x, int32_t& out);
bool GridY(float y, int32_t& out);

// The grid point of a rule point: NaN goes to 0, everything else is clamped
// to +-kGridLimit before the conversion.
GridPoint ClampedGridPoint(float x, float y);

// (x1 + x2) >> 1, (y1 + y2) >> 1 with arithmetic shifts.
inline GridPoint Centre(const GridBox& box) {
    return GridPoint{(box.x1 + box.x2) >> 1, (box.y1 + box.y2) >> 1};
}

// (x2 - x1) * (y2 - y1); negative for a box the wrong way round.
inline int64_t Area(const GridBox& box) {
    return (int64_t{box.x2} - box.x1) * (int64_t{box.y2} - box.y1);
}

}  // namespace orvale::rules
