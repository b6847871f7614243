// What a run's latencies come to: a percentile of many, and the few largest
// with the moment each was seen (to tell what happened then).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace orvale::bench {

inline double Percentile(std::vector<float>& values, double share) {
    if (values.empty()) return 0;
    const auto at = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size()))) - 1;
    std::nth_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(at), values.end());
    return values[at];
}

// The largest values seen, each with the second of the run it was seen in.
struct Worst {
    std::mutex mutex;
    std::multimap<float, std::string> top;
    void Add(float value, double at, const std::string& what) {
        std::lock_guard lock(mutex);
        if (top.size() >= 8 && value <= top.begin()->first) return;
        char text[96];
        std::snprintf(text, sizeof text, "%.1f@%.1fs(%s)", static_cast<double>(value), at,
                      what.c_str());
        top.emplace(value, text);
        if (top.size() > 8) top.erase(top.begin());
    }
    void Print(const char* name) {
        std::lock_guard lock(mutex);
        std::printf("%s", name);
        for (auto it = top.rbegin(); it != top.rend(); ++it) std::printf(" %s", it->second.c_str());
        std::printf("\n");
    }
};

}  // namespace orvale::bench
