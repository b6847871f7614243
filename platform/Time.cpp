#include "platform/Time.h"

#include <mutex>

namespace orvale::platform {

std::tm UtcTime(int64_t seconds) {
    std::tm out{};
    const auto value = static_cast<time_t>(seconds);
    ::gmtime_r(&value, &out);
    return out;
}

std::tm LocalTime(int64_t seconds) {
    static std::once_flag zone;
    std::call_once(zone, [] { ::tzset(); });
    std::tm out{};
    const auto value = static_cast<time_t>(seconds);
    ::localtime_r(&value, &out);
    return out;
}

int64_t FromUtcTime(std::tm utc) {
    return static_cast<int64_t>(::timegm(&utc));
}

int64_t FromLocalTime(std::tm local) {
    local.tm_isdst = -1;
    return static_cast<int64_t>(::mktime(&local));
}

}  // namespace orvale::platform
