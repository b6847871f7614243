// Records exchanged with the hourly index database: one index row (where a
// second's key frame lies), one dual-track row (which profiles recorded a
// second), the event flags of one second, and a timeline filter.
#pragma once

#include <cstdint>
#include <string>

namespace orvale::recorder {

struct index_row_s {
    int64_t keyTime = 0;  // UTC of the second's first key frame; 0 while none
    uint64_t keyOffset = 0;
    std::string name;  // data file name; filled by readers, ignored by writes
    uint32_t keySize = 0;
    bool end = false;  // last row of a closed data file
    uint64_t endOffset = 0;
    uint64_t endTime = 0;
};

struct dual_track_row_s {
    int64_t time = 0;
    bool high = false;
    bool low = false;
};

// The flags of one second. The 32 bytes after `time` form one block that a
// second's frame summary copies whole.
struct timeline_flags_s {
    int64_t time = 0;
    uint32_t eventBits = 0;
    uint32_t analyticsBits = 0;
    uint32_t audioBits = 0;
    uint8_t reserved[20] = {};
    bool end = false;  // set only by the timeline reader: nothing recorded

    bool AnyBit() const { return eventBits != 0 || analyticsBits != 0 || audioBits != 0; }
};

struct timeline_filter_s {
    uint32_t mask0 = 0;  // event word
    uint32_t mask1 = 0;  // analytics word
    uint32_t mask2 = 0;  // audio word
};

}  // namespace orvale::recorder
