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

// The times that hour folders and hour file names can express: from
// 1970-01-01 00:00:00 to 9999-12-31 23:59:59 UTC. Frames outside are refused.
inline constexpr int64_t kFirstStorableTime = 0;
inline constexpr int64_t kLastStorableTime = 253402300799;
inline bool IsStorableTime(int64_t time) {
    return time >= kFirstStorableTime && time <= kLastStorableTime;
}
inline bool IsStorableTime(uint64_t time) {
    return time <= static_cast<uint64_t>(kLastStorableTime);
}

std::string HourFileName(int64_t time, const std::string& extension);

}  // namespace orvale::recorder
