#include "converter/DurationText.h"

#include <cstdio>

namespace orvale::converter {

std::string FormatDuration(double seconds, const std::string& label) {
    // Negative or absurd estimates must not overflow the conversion.
    const long long s = seconds > 0 && seconds < 1e15 ? static_cast<long long>(seconds) : 0;
    long long hours = s / 3600;
    long long days = 0;
    if (hours >= 24) {
        days = s / 86400;
        hours -= 24 * days;
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%lldday %02lld:%02lld:%02lld", days, hours, (s % 3600) / 60,
                  s % 60);
    return label + text;
}

}  // namespace orvale::converter
