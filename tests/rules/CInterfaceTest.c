/* The library's header and functions from plain C, as a host of another
 * language would use them; also the one place where the library is fresh:
 * no rule set has been loaded in this process yet. */
#include <stdio.h>
#include <string.h>

#include "rules/Pimbrel.h"

static forensic_rule_s rule;

int main(void) {
    rule_frame_s frame;
    rule_event_s events[4];
    int count = -1;
    memset(&frame, 0, sizeof frame);
    frame.objectCount = 1;
    frame.objects[0].objectId = 1;
    frame.objects[0].x2 = 0.1f;
    frame.objects[0].y2 = -0.1f;

    if (QDX_processFrameSingle(0, &frame, 4, events, &count) != 0 || count != 0) {
        puts("a frame before any rule set was taken");
        return 1;
    }
    if (QDX_setRule(0, &rule) != 1) {
        puts("an empty rule set was refused");
        return 1;
    }
    count = -1;
    if (QDX_processFrameSingle(0, &frame, 4, events, &count) != 1 || count != 0) {
        puts("a frame after a rule set was not taken");
        return 1;
    }
    puts("1 passed, 0 failed");
    return 0;
}
