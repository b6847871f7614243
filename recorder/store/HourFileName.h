// Names of the hourly databases: "YYYYMMDDHH0000" + extension, from the UTC
// hour that holds the time. Stored files carry these names: never change them.
#pragma once

#include <cstdint>
#include <string>

namespace orvale::recorder {

// The start of the UTC hour holding `time` (seconds since 1970).
inline int64_t HourStart(int64_t time) {
    const int64_t floor = time / 3600 * 3600;
    return floor > time ? floor - 3600 : floor;
}

std::string HourFileName(int64_t time, const std::string& extension);

}  // namespace orvale::recorder
