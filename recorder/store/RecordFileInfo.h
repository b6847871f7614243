// Where a new hour file of a channel goes: channel, track, first second and
// profile. Writers copy it whole.
#pragma once

#include <cstdint>
#include <string>

namespace orvale::recorder {

enum RecordProfile : int32_t {
    kProfileNormal = 1,
    kProfileLow = 2,
    kProfileArb = 3,
};

struct record_file_info_s {
    std::string channelId;
    int32_t trackId = 0;
    int64_t startTime = 0;  // seconds since 1970, UTC: the first second the file holds
    int32_t profile = kProfileNormal;
};

// The name channels use for the same record: where one new file goes.
using file_location_s = record_file_info_s;

}  // namespace orvale::recorder
