// Points in time for tests, from calendar fields.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/Time.h"

namespace orvale::test {

// Seconds since 1970 of a UTC calendar time.
inline int64_t UtcSeconds(int year, int month, int day, int hour = 0, int minute = 0,
                          int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return platform::FromUtcTime(tm);
}

}  // namespace orvale::test
