// The summary of one second of one profile: where its records lie, how many
// frames it holds, its key frame (as an index row) and its event flags.
//
// A frame buffer owns one and fills it frame by frame; a write buffer keeps a
// copy of it per appended second, with the offsets moved into the write
// buffer and, at the write, into the data file.
#pragma once

#include <cstdint>
#include <cstring>

#include "recorder/store/IndexRecords.h"

namespace orvale::recorder {

struct second_frame_info_s {
    uint64_t startOffset = 0;  // first record of the second in its write buffer
    uint64_t lastOffset = 0;   // last byte of the second (length - 1)
    uint32_t videoFrameCount = 0;
    uint32_t reserved0 = 0;
    uint32_t audioFrameCount = 0;
    uint8_t firstIsKey = 0;   // the first video frame is a key frame
    uint8_t hasKeyFrame = 0;  // some video frame is a key frame
    uint64_t firstFrameTime = 0;
    // The flag words of timeline_flags_s, as one block.
    uint32_t eventBits = 0;
    uint32_t analyticsBits = 0;
    uint32_t audioBits = 0;
    uint8_t flagReserved[kFlagWordsSize - 12] = {};
    uint64_t reserved1 = 0;
    index_row_s indexRow;  // key frame of the second; name filled by the file writer
    uint32_t trackId = 1;
    uint64_t reserved2 = 0;
    uint32_t reserved3 = 0;

    // Replaces the flag words by those of `flags`.
    void CopyFlags(const timeline_flags_s& flags) {
        eventBits = flags.eventBits;
        analyticsBits = flags.analyticsBits;
        audioBits = flags.audioBits;
        std::memcpy(flagReserved, flags.reserved, sizeof(flagReserved));
    }

    // Back to the state of a new summary.
    void Reset() { *this = second_frame_info_s(); }
};

}  // namespace orvale::recorder
