#include "recorder/recording/DataFileSize.h"

#include <algorithm>

#include "recorder/recording/ProfileChunk.h"
#include "recorder/store/DataFile.h"
#include "recorder/store/FrameRecord.h"

namespace orvale::recorder {

int64_t DataFileSizeFor(const data_file_request_s& request) {
    const int64_t spanned = std::max<int64_t>(request.spannedSeconds, 1);
    const int64_t bytes = std::max<int64_t>(request.bytes, 0);
    const int64_t seconds =
        ProfileChunk::SecondsLeftInHour(request.firstSecond) + request.marginSeconds;
    int64_t size = bytes / spanned * seconds;
    size = std::max(size, request.minFileBytes);
    size = std::min(size, request.maxFileBytes);
    // The header sector before the first record and the sector the closing
    // end record may need after the buffer.
    const int64_t fits = DataFile::kDataStart + bytes + static_cast<int64_t>(kSectorSize);
    return std::max(size, fits);
}

}  // namespace orvale::recorder
