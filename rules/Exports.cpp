// The library's two C functions over its one process-wide engine. The mutex
// keeps the engine's memory consistent when callers overlap; a forensic search
// still needs the library to itself from its QDX_setRule to its last frame.
#include <mutex>

#include "rules/Pimbrel.h"
#include "rules/RuleEngine.h"

namespace {

std::mutex gEngineMutex;
constinit orvale::rules::RuleEngine gEngine;

}  // namespace

extern "C" PIMBREL_API int QDX_setRule(void* /*handle*/, const forensic_rule_s* rule) {
    if (rule == nullptr) return 0;
    const std::lock_guard lock(gEngineMutex);
    gEngine.SetRule(*rule);
    return 1;
}

extern "C" PIMBREL_API int QDX_processFrameSingle(void* /*handle*/, const rule_frame_s* frame,
                                                  int maxEvents, rule_event_s* events,
                                                  int* eventCount) {
    if (eventCount != nullptr) *eventCount = 0;
    const std::lock_guard lock(gEngineMutex);
    if (!gEngine.Loaded() || frame == nullptr) return 0;
    const int written = gEngine.ProcessFrame(*frame, eventCount == nullptr ? 0 : maxEvents, events);
    if (eventCount != nullptr) *eventCount = written;
    return 1;
}
