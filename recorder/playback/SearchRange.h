// The time range of a search as the searchers work on it: brought within
// the span the engine can store before any hour is worked out from it, so
// that a range reaching past that span (the natural "everything" of
// [INT64_MIN, INT64_MAX]) finds what lies in it.
#pragma once

#include <algorithm>
#include <cstdint>

#include "recorder/store/HourFileName.h"

namespace orvale::recorder {

inline int64_t ClampToStorable(int64_t time) {
    return std::clamp(time, kFirstStorableTime, kLastStorableTime);
}

}  // namespace orvale::recorder
