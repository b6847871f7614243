// Frames per second of QDX_processFrameSingle on one core, with 30 objects
// moving over the grid: once with 32 slots of each rule table (lines,
// enter/exit areas, motion areas, excluded areas) and once with one line, one
// enter/exit area and one motion area. The two run interleaved, several times;
// the figures are processor time of this single thread. Last line:
// rules_fps=<median of the small rule set>.
//
//   rules [folder, unused: nothing touches a disk] [runs] [seconds per run]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "rules/Pimbrel.h"

namespace {

constexpr int kObjects = RULE_FRAME_MAX_OBJECTS;
constexpr int kFrames = 4096;  // played forwards, then backwards, so motion never jumps

float X(double gx) {
    return static_cast<float>(gx / 160.0 - 1.0);
}
float Y(double gy) {
    return static_cast<float>(1.0 - gy / 120.0);
}

void SetPoints(rule_point_s* points, int32_t& count,
               std::initializer_list<std::pair<double, double>> grid) {
    count = 0;
    for (const auto& [gx, gy] : grid) points[count++] = {X(gx), Y(gy)};
}

// Objects bouncing inside the grid at 1 to 4 units a frame.
std::vector<rule_frame_s> MovingObjects() {
    std::vector<rule_frame_s> frames(kFrames);
    double x[kObjects], y[kObjects], vx[kObjects], vy[kObjects], half[kObjects];
    for (int i = 0; i < kObjects; ++i) {
        x[i] = 20 + (i * 37) % 280;
        y[i] = 20 + (i * 53) % 200;
        vx[i] = 1 + i % 4;
        vy[i] = 1 + (i / 4) % 3;
        if (i % 2 == 1) vx[i] = -vx[i];
        half[i] = 6 + i % 5;
    }
    for (int f = 0; f < kFrames; ++f) {
        rule_frame_s& frame = frames[f];
        std::memset(&frame, 0, sizeof(frame));
        frame.time = 1700000000 + f;
        frame.objectCount = kObjects;
        for (int i = 0; i < kObjects; ++i) {
            x[i] += vx[i];
            y[i] += vy[i];
            if (x[i] < 12 || x[i] > 308) vx[i] = -vx[i];
            if (y[i] < 12 || y[i] > 228) vy[i] = -vy[i];
            frame.objects[i] = {static_cast<uint32_t>(i + 1), X(x[i] - half[i]), Y(y[i] - half[i]),
                                X(x[i] + half[i]), Y(y[i] + half[i])};
        }
    }
    return frames;
}

std::unique_ptr<forensic_rule_s> EmptyRule() {
    auto rule = std::make_unique<forensic_rule_s>();
    std::memset(rule.get(), 0, sizeof(*rule));
    return rule;
}

// A grid of shapes over the whole image: lines across, areas in cells,
// excluded areas small in the cells' corners, 11 points where a shape allows.
std::unique_ptr<forensic_rule_s> FullRule() {
    auto rule = EmptyRule();
    for (int s = 0; s < FORENSIC_RULE_MAX_SLOTS; ++s) {
        const int row = s / 8;
        const double cx = 20 + (s % 8) * 40;
        const double cy = 30 + row * 60;
        forensic_line_s& line = rule->lines[s];
        line.used = 1;
        line.kind = FORENSIC_LINE_DIRECTION_A + s % 3;
        line.pointCount = 0;
        for (int p = 0; p < FORENSIC_RULE_MAX_POINTS; ++p) {
            line.points[line.pointCount++] = {X(cx - 15 + 3 * p), Y(cy + ((p % 2) ? 8 : -8))};
        }
        forensic_line_s& area = rule->enterExit[s];
        area.used = 1;
        area.kind = FORENSIC_AREA_ENTER + s % 2;
        area.pointCount = 0;
        for (int p = 0; p < FORENSIC_RULE_MAX_POINTS; ++p) {
            const double angle = 2 * M_PI * p / FORENSIC_RULE_MAX_POINTS;
            area.points[area.pointCount++] = {X(cx + 18 * std::cos(angle)),
                                              Y(cy + 25 * std::sin(angle))};
        }
        forensic_motion_s& motion = rule->motion[s];
        motion.used = 1;
        SetPoints(motion.points, motion.pointCount,
                  {{cx - 20, cy - 30}, {cx + 20, cy - 30}, {cx + 20, cy + 30}, {cx - 20, cy + 30}});
        forensic_area_s& excluded = rule->excluded[s];
        excluded.used = 1;
        SetPoints(excluded.points, excluded.pointCount,
                  {{cx - 20, cy - 30}, {cx - 16, cy - 30}, {cx - 16, cy - 26}, {cx - 20, cy - 26}});
    }
    rule->lineCount = rule->enterExitCount = rule->motionCount = rule->excludedCount =
        FORENSIC_RULE_MAX_SLOTS;
    return rule;
}

std::unique_ptr<forensic_rule_s> SmallRule() {
    auto rule = EmptyRule();
    rule->lineCount = rule->enterExitCount = rule->motionCount = 1;
    rule->lines[0].used = 1;
    rule->lines[0].kind = FORENSIC_LINE_BOTH;
    SetPoints(rule->lines[0].points, rule->lines[0].pointCount, {{20, 120}, {300, 120}});
    rule->enterExit[0].used = 1;
    rule->enterExit[0].kind = FORENSIC_AREA_ENTER;
    SetPoints(rule->enterExit[0].points, rule->enterExit[0].pointCount,
              {{40, 40}, {140, 40}, {140, 200}, {40, 200}});
    rule->motion[0].used = 1;
    SetPoints(rule->motion[0].points, rule->motion[0].pointCount,
              {{180, 40}, {280, 40}, {280, 200}, {180, 200}});
    return rule;
}

struct Figure {
    double fps;
    double eventsPerFrame;
};

// Feeds the frames back and forth until `seconds` of processor time have passed.
Figure Measure(const forensic_rule_s& rule, const std::vector<rule_frame_s>& frames,
               double seconds) {
    QDX_setRule(nullptr, &rule);
    rule_event_s events[100];
    long long processed = 0;
    long long fired = 0;
    const std::clock_t start = std::clock();
    const auto budget = static_cast<std::clock_t>(seconds * CLOCKS_PER_SEC);
    int index = 0;
    int step = 1;
    while (std::clock() - start < budget) {
        for (int i = 0; i < 256; ++i) {
            int count = 0;
            QDX_processFrameSingle(nullptr, &frames[index], 100, events, &count);
            fired += count;
            ++processed;
            if (index + step < 0 || index + step >= kFrames) step = -step;
            index += step;
        }
    }
    const double elapsed = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    return Figure{static_cast<double>(processed) / elapsed,
                  static_cast<double>(fired) / static_cast<double>(processed)};
}

struct Summary {
    double min;
    double median;
    double max;
};

Summary Summarise(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return Summary{values.front(), values[values.size() / 2], values.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const double seconds = argc > 3 ? std::max(0.1, std::atof(argv[3])) : 1.0;
    const std::vector<rule_frame_s> frames = MovingObjects();
    const auto full = FullRule();
    const auto small = SmallRule();
    std::vector<double> fullFps;
    std::vector<double> smallFps;
    for (int run = 0; run < runs; ++run) {
        const Figure f = Measure(*full, frames, seconds);
        const Figure s = Measure(*small, frames, seconds);
        std::printf(
            "run %d: 32 rules of each kind %.0f fps (%.2f events/frame), "
            "1 line + 1 enter/exit + 1 motion %.0f fps (%.2f events/frame)\n",
            run + 1, f.fps, f.eventsPerFrame, s.fps, s.eventsPerFrame);
        fullFps.push_back(f.fps);
        smallFps.push_back(s.fps);
    }
    const Summary f = Summarise(fullFps);
    const Summary s = Summarise(smallFps);
    std::printf("objects=%d runs=%d\n", kObjects, runs);
    std::printf("rules32_fps=%.0f (min %.0f, max %.0f)\n", f.median, f.min, f.max);
    std::printf("small rule set: min %.0f, max %.0f fps (target 200000)\n", s.min, s.max);
    std::printf("rules_fps=%.0f\n", s.median);
    return 0;
}
