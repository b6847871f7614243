// Calendar conversions of seconds since 1970. Local-time conversions follow
// the TZ variable (tzset), so tests can pin the zone.
#pragma once

#include <cstdint>
#include <ctime>

namespace orvale::platform {

std::tm UtcTime(int64_t seconds);
std::tm LocalTime(int64_t seconds);
// Seconds since 1970 of a UTC calendar time (fields may be out of range).
int64_t FromUtcTime(std::tm utc);
// Seconds since 1970 of a local calendar time (fields may be out of range);
// the zone's rules decide whether daylight saving applies.
int64_t FromLocalTime(std::tm local);

}  // namespace orvale::platform
