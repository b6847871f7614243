// Small pieces every benchmark program shares: wall-clock seconds, the
// min/median/max of repeated runs, and the refusal of a drive map from the
// environment (each benchmark maps its own drive D and must not measure
// another folder by accident).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace orvale::bench {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Spread {
    double min = 0;
    double median = 0;
    double max = 0;
};

inline Spread SpreadOf(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median, values.back()};
}

inline double Median(std::vector<double> values) {
    return SpreadOf(std::move(values)).median;
}

// One line "<name> runs=N min=… median=… max=…".
inline void PrintSpread(const char* name, const std::vector<double>& values) {
    const Spread spread = SpreadOf(values);
    std::printf("%s runs=%zu min=%.3f median=%.3f max=%.3f\n", name, values.size(), spread.min,
                spread.median, spread.max);
}

// False, with a line on standard error, when OSTREL_DRIVES is set.
inline bool DriveMapIsUnset() {
    const char* drives = std::getenv("OSTREL_DRIVES");
    if (drives == nullptr || *drives == '\0') return true;
    std::cerr << "OSTREL_DRIVES would override the run's own drive D; unset it\n";
    return false;
}

}  // namespace orvale::bench
