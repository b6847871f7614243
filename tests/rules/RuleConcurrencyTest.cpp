// Callers that overlap on the library's process-wide state: each call is
// serialised, so memory stays consistent (the sanitizer build checks for
// races), even though interleaved rule sets make the events meaningless.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/rules/RuleScenes.h"

namespace orvale::rules::scene {
namespace {

TEST(RuleConcurrency, OverlappingCallersKeepTheStateConsistent) {
    RuleBuilder rules;
    rules.Line({{40, 120}, {280, 120}}, FORENSIC_LINE_BOTH, 41)
        .Area({{100, 80}, {220, 80}, {220, 160}, {100, 160}}, FORENSIC_AREA_ENTER, 11)
        .Motion({{0, 0}, {320, 0}, {320, 240}, {0, 240}}, 21);
    std::atomic<int> bad{0};
    std::vector<std::thread> callers;
    callers.reserve(4);
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            rule_event_s events[8];
            for (int round = 0; round < 50; ++round) {
                if (t == 0 && QDX_setRule(nullptr, &rules.Rule()) != 1) ++bad;
                for (int f = 0; f < 20; ++f) {
                    std::vector<Object> objects;
                    for (uint32_t i = 0; i < 10; ++i) {
                        objects.push_back({i + 1, 20 + 28 * static_cast<int32_t>(i), 60 + 6 * f});
                    }
                    const rule_frame_s frame = MakeFrame(f, objects);
                    int count = -1;
                    const int result = QDX_processFrameSingle(nullptr, &frame, 8, events, &count);
                    if (result != 0 && result != 1) ++bad;
                    if (count < 0 || count > 8) ++bad;
                    for (int i = 0; i < count; ++i) {
                        const uint32_t id = events[i].objectId;
                        if (id < 1 || id > 10) ++bad;
                    }
                }
            }
        });
    }
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace orvale::rules::scene
