// Records exchanged with the hourly index database: one index row (where a
// second's key frame lies), one dual-track row (which profiles recorded a
// second), the event flags of one second, and a timeline filter. The frame
// summary of a second embeds an index row and carries the flag words of a
// timeline record.
#pragma once

#include <cstdint>
#include <string>

#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {

// One row of the key-frame index of a profile.
struct index_row_s {
    int64_t keyTime = 0;     // time of the second's first key frame; 0 while none
    uint64_t keyOffset = 0;  // offset of that key frame's record (buffer, then data file)
    std::string name;        // data file that holds it; filled by readers, ignored by writes
    uint32_t keySize = 0;    // data length of the key frame
    bool end = false;        // the last row of a data file that was closed
    uint64_t endOffset = 0;
    uint64_t endTime = 0;
};

struct dual_track_row_s {
    int64_t time = 0;
    bool high = false;
    bool low = false;
};

// Number of flag bytes that follow the time of a timeline record and are
// copied as one block into a second's summary.
inline constexpr unsigned kFlagWordsSize = 32;

// The flags of one second. A frame passes them with a non-zero `time` when
// they are to replace the second's flags.
struct timeline_flags_s {
    int64_t time = 0;
    uint32_t eventBits = 0;
    uint32_t analyticsBits = 0;
    uint32_t audioBits = 0;
    uint8_t reserved[kFlagWordsSize - 12] = {};
    bool end = false;  // set by the timeline reader: nothing recorded in the second

    bool AnyBit() const { return eventBits != 0 || analyticsBits != 0 || audioBits != 0; }
};

static_assert(sizeof(timeline_flags_s) == 48);

}  // namespace orvale::recorder
