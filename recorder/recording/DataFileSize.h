// How large a new data file is made for the buffer that asks for it: the
// rest of the hour at the buffer's rate plus a margin, capped by the
// engine's data-file size setting, and never smaller than the buffer itself
// with the file's header and closing sector. A buffer is never split, so a
// file smaller than it would grow past its preallocated room and its
// reservation on the drive.
#pragma once

#include <cstdint>

namespace orvale::recorder {

struct data_file_request_s {
    int64_t bytes = 0;           // the buffer's used length
    int64_t spannedSeconds = 1;  // latest - earliest + 1 of its seconds, at least 1
    int64_t firstSecond = 0;     // UTC second of its first frame
    int64_t marginSeconds = 0;   // seconds past the hour's end the file should hold
    int64_t maxFileBytes = 0;    // the engine's data-file size setting
    int64_t minFileBytes = 0;    // smallest file worth making (0: none)
};

int64_t DataFileSizeFor(const data_file_request_s& request);

}  // namespace orvale::recorder
