#include "recorder/store/ReadBuffer.h"

#include <algorithm>
#include <cstring>

#include "recorder/store/FrameRecord.h"

namespace orvale::recorder {
namespace {

uint32_t WholeSectors(uint64_t size) {
    const uint64_t sectors = std::max<uint64_t>(1, (size + kSectorSize - 1) / kSectorSize);
    return static_cast<uint32_t>(sectors * kSectorSize);
}

}  // namespace

ReadBuffer::ReadBuffer(uint32_t size) : defaultSize_(WholeSectors(size)), bytes_(defaultSize_) {}

bool ReadBuffer::Resize(uint64_t needed) {
    if (needed <= Capacity()) return true;
    const uint64_t limit = std::max<uint64_t>(kMaxCapacity, Capacity());
    const uint64_t grown = WholeSectors(std::min(GrownCapacity(Capacity(), needed), limit));
    bytes_.Reallocate(grown, bytesRead);
    return needed <= grown;
}

void ReadBuffer::Reset() {
    if (resized != 0 && Capacity() != defaultSize_) bytes_.Reallocate(defaultSize_, 0);
    resized = 0;
    ready.store(false);
    failed.store(false);
    readPosition = 0;
    bytesRead = 0;
    windowStart = 0;
    windowEnd = 0;
    windowStartTime = 0;
    windowEndTime = 0;
    lastWindow = 0;
    switchTime = 0;
    reverse = 0;
    pass = 0;
    scanKeyFrames = 0;
    mediaId = 0;
    profile = 0;
    retryCount = 0;
    lastTryTime = 0;
    keyFrames.clear();
}

bool ReadBuffer::BuildKeyFrameList() {
    const uint8_t* bytes = Data();
    const uint64_t filled = std::min<uint64_t>(bytesRead, Capacity());
    uint64_t position = readPosition;
    while (position + kRecordHeaderSize <= filled) {
        record_header_s header;
        std::memcpy(&header, bytes + position, kRecordHeaderSize);
        if (header.zero != 0 || header.marker != 1) return false;
        const uint64_t record = uint64_t{kRecordHeaderSize} + header.payloadLength;
        const bool complete = record <= filled - position;
        switch (header.type) {
            case RECORD_TYPE_VIDEO:
                if (header.payloadLength < kVideoInfoLength) return false;
                if (complete && bytes[position + kVideoFrameTypeOffset] == kKeyFrameType) {
                    index_row_s row;
                    uint64_t time = 0;
                    std::memcpy(&time, bytes + position + kVideoTimeOffset, sizeof(time));
                    row.keyTime = static_cast<int64_t>(time);
                    row.keyOffset = position;
                    keyFrames.push_back(std::move(row));
                }
                break;
            case RECORD_TYPE_AUDIO:
                if (header.payloadLength < kAudioInfoLength) return false;
                break;
            case RECORD_TYPE_SKIP:
                break;
            default:  // the end record
                return true;
        }
        position += record;
    }
    return true;
}

void ReadBuffer::PopKeyFrame() {
    if (!keyFrames.empty()) keyFrames.pop_back();
}

}  // namespace orvale::recorder
