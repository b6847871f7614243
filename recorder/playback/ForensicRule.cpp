#include "recorder/playback/ForensicRule.h"

#include <cstring>

#include "common/Log.h"

namespace orvale::recorder {
using common::kLogInfo;
using common::kLogWarning;

namespace {

// Line kinds of the record by the caller's direction.
int32_t LineKind(int32_t direction) {
    switch (direction) {
        case 1:
            return FORENSIC_LINE_DIRECTION_B;
        case 2:
            return FORENSIC_LINE_DIRECTION_A;
        case 255:
            return FORENSIC_LINE_BOTH;
        default:
            return 0;
    }
}

// Copies the shape's points into a slot, at most FORENSIC_RULE_MAX_POINTS;
// `label` names the slot's table in the log lines.
void TakePoints(const std::list<forensic_point_s>& points, const char* label, int32_t slot,
                rule_point_s* out, int32_t& count) {
    for (const forensic_point_s& point : points) {
        if (count == FORENSIC_RULE_MAX_POINTS) {
            OLOG(kLogWarning) << "Points is too big.";
            return;
        }
        OLOG(kLogInfo) << label << slot << "][" << count << "], X = " << point.x
                       << ", y = " << point.y;
        out[count++] = {point.x, point.y};
    }
}

// Fills the next enter/exit slot with `kind`; false when the table is full.
bool TakeEnterExit(forensic_rule_s& rule, const forensic_search_area_s& area, int32_t kind,
                   const char* label) {
    if (rule.enterExitCount == FORENSIC_RULE_MAX_SLOTS) {
        OLOG(kLogWarning) << "Enter/Exit Area Size is too big.";
        return false;
    }
    forensic_line_s& slot = rule.enterExit[rule.enterExitCount];
    slot.used = 1;
    slot.kind = kind;
    TakePoints(area.points, label, rule.enterExitCount, slot.points, slot.pointCount);
    ++rule.enterExitCount;
    return true;
}

void TakeArea(forensic_rule_s& rule, const forensic_search_area_s& area) {
    if (area.excluded) {
        if (rule.excludedCount == FORENSIC_RULE_MAX_SLOTS) {
            OLOG(kLogWarning) << "Exclued Area Size is too big.";
            return;
        }
        forensic_area_s& slot = rule.excluded[rule.excludedCount];
        slot.used = 1;
        TakePoints(area.points, "Excluded Area[", rule.excludedCount, slot.points, slot.pointCount);
        ++rule.excludedCount;
        return;
    }
    if ((area.flags & kForensicMotionArea) != 0) {
        if (rule.motionCount == FORENSIC_RULE_MAX_SLOTS) {
            OLOG(kLogWarning) << "Motion Area Size is too big.";
            return;
        }
        forensic_motion_s& slot = rule.motion[rule.motionCount];
        slot.used = 1;
        TakePoints(area.points, "MD Area[", rule.motionCount, slot.points, slot.pointCount);
        ++rule.motionCount;
    }
    if ((area.flags & kForensicEnterArea) != 0 &&
        !TakeEnterExit(rule, area, FORENSIC_AREA_ENTER, "(Enter)/Exit Area[")) {
        return;
    }
    if ((area.flags & kForensicExitArea) != 0) {
        TakeEnterExit(rule, area, FORENSIC_AREA_EXIT, "Enter/(Exit) Area[");
    }
}

}  // namespace

forensic_rule_s MakeForensicRule(const std::list<forensic_search_area_s>& areas,
                                 const std::list<forensic_search_line_s>& lines) {
    forensic_rule_s rule;
    std::memset(&rule, 0, sizeof(rule));
    for (const forensic_search_area_s& area : areas) TakeArea(rule, area);
    for (const forensic_search_line_s& line : lines) {
        if (rule.lineCount == FORENSIC_RULE_MAX_SLOTS) {
            OLOG(kLogWarning) << "Line Size is too big.";
            break;
        }
        forensic_line_s& slot = rule.lines[rule.lineCount];
        slot.used = 1;
        slot.kind = LineKind(line.direction);
        TakePoints(line.points, "Enter/(Exit) Area[", rule.lineCount, slot.points, slot.pointCount);
        ++rule.lineCount;
    }
    OLOG(kLogInfo) << "Forensic Search Rule Total =>  Excluded = " << rule.excludedCount
                   << ", MD = " << rule.motionCount << ", Enter/Exit = " << rule.enterExitCount
                   << ", Line = " << rule.lineCount;
    return rule;
}

bool IsEmptyRule(const forensic_rule_s& rule) {
    return rule.excludedCount == 0 && rule.lineCount == 0 && rule.enterExitCount == 0 &&
           rule.motionCount == 0;
}

}  // namespace orvale::recorder
