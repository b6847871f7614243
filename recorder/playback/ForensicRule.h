// The rule record of a forensic search, built from the caller's areas and
// lines: what fits the record's tables (32 slots each, 11 points a shape) is
// taken in list order, the rest is dropped with a warning, and every point
// taken is logged.
#pragma once

#include <list>

#include "recorder/api/MediaTypes.h"
#include "rules/Pimbrel.h"

namespace orvale::recorder {

// Area flags that select rule slots; other bits are not read.
inline constexpr uint32_t kForensicMotionArea = 0x1;
inline constexpr uint32_t kForensicEnterArea = 0x2;
inline constexpr uint32_t kForensicExitArea = 0x4;

// Excluded areas fill excluded slots only. Any other area takes a motion
// slot (0x1), an enter slot (0x2) and an exit slot (0x4), in that order;
// when one of its tables is full, the rest of that area is dropped. Lines
// take line slots; direction 1 fires on one crossing direction, 2 on the
// other, 255 on both, anything else on none. Slots not filled stay zero.
forensic_rule_s MakeForensicRule(const std::list<forensic_search_area_s>& areas,
                                 const std::list<forensic_search_line_s>& lines);

// True when the record has no slot at all.
bool IsEmptyRule(const forensic_rule_s& rule);

}  // namespace orvale::recorder
