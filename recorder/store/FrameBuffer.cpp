#include "recorder/store/FrameBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/Log.h"
#include "recorder/store/StreamCopy.h"
#include "recorder/store/WriteBuffer.h"

namespace orvale::recorder {

using common::kLogError;
using common::kLogFatal;

FrameBuffer::FrameBuffer()
    : bytes_(kInitialCapacity),
      base_(bytes_.Data()),
      capacity_(kInitialCapacity),
      info_(std::make_shared<second_frame_info_s>()) {}

FrameBuffer::FrameBuffer(NoArray) : info_(std::make_shared<second_frame_info_s>()) {}

std::shared_ptr<FrameBuffer> FrameBuffer::CreateEmpty() {
    return std::shared_ptr<FrameBuffer>(new FrameBuffer(NoArray{}));
}

bool FrameBuffer::Accepts(const record_header_s& header, uint8_t type, uint16_t infoLength,
                          const void* data, uint32_t size) const {
    if (data == nullptr || size == 0) {
        OLOG(kLogFatal) << "a buffer is null.";
        return false;
    }
    const uint64_t payload = uint64_t{infoLength} + size;
    const uint64_t record = kRecordHeaderSize + payload;
    if (uint64_t{length_} + record > std::numeric_limits<uint32_t>::max()) {
        OLOG(kLogError) << "A frame is too large for its buffer. size = " << size
                        << ", length = " << length_;
        return false;
    }
    if (header.zero != 0 || header.marker != 1 || header.version != 1 || header.type != type ||
        header.infoLength != infoLength || header.payloadLength != payload) {
        OLOG(kLogError) << "A frame header does not describe its frame. type = "
                        << unsigned{header.type} << ", info = " << header.infoLength
                        << ", payload = " << header.payloadLength << ", size = " << size;
        return false;
    }
    return true;
}

void FrameBuffer::Copy(const void* source, uint32_t size) {
    StreamCopy(base_ + length_, source, size);
    length_ += size;
}

bool FrameBuffer::AddVideoFrame(const record_header_s& header, const video_frame_info_s& info,
                                const void* data, uint32_t size, const timeline_flags_s& flags) {
    if (!Accepts(header, RECORD_TYPE_VIDEO, kVideoInfoLength, data, size)) return false;
    const uint64_t record = uint64_t{kRecordHeaderSize} + kVideoInfoLength + size;
    if (capacity_ - length_ < record) Grow(length_ + record);

    const bool key = info.frameType == kKeyFrameType;
    if (info_->firstFrameTime == 0) {
        info_->firstFrameTime = info.time;
        if (key) info_->firstIsKey = 1;
    }
    if (flags.time != 0) info_->CopyFlags(flags);
    if (key && info_->indexRow.keyTime == 0) {
        info_->hasKeyFrame = 1;
        info_->indexRow.keyTime = static_cast<int64_t>(info.time);
        info_->indexRow.keyOffset = length_;
        info_->indexRow.keySize = size;
    }

    Copy(&header, kRecordHeaderSize);
    Copy(&info, kVideoInfoLength);
    Copy(data, size);
    info_->lastOffset = length_ - 1;
    ++info_->videoFrameCount;
    return true;
}

bool FrameBuffer::AddAudioFrame(const record_header_s& header, const audio_frame_info_s& info,
                                const void* data, uint32_t size) {
    if (!Accepts(header, RECORD_TYPE_AUDIO, kAudioInfoLength, data, size)) return false;
    const uint64_t record = uint64_t{kRecordHeaderSize} + kAudioInfoLength + size;
    if (capacity_ - length_ < record) Grow(length_ + record);

    Copy(&header, kRecordHeaderSize);
    Copy(&info, kAudioInfoLength);
    Copy(data, size);
    info_->lastOffset = length_ - 1;
    ++info_->audioFrameCount;
    return true;
}

void FrameBuffer::Grow(uint64_t needed) {
    const uint64_t limit = std::numeric_limits<uint32_t>::max();
    // Frames are refused before the 32-bit length could pass the limit, so
    // the array never needs to.
    const uint64_t grown = std::min(GrownCapacity(capacity_, needed), limit);
    if (arena_) {
        AlignedBytes own(grown);
        if (length_ > 0) std::memcpy(own.Data(), base_, length_);
        bytes_ = std::move(own);
        arena_.reset();
        arenaOffset_ = 0;
    } else {
        bytes_.Reallocate(grown, length_);
    }
    base_ = bytes_.Data();
    capacity_ = bytes_.Capacity();
}

void FrameBuffer::Reset() {
    length_ = 0;
    info_->Reset();
    if (arena_) {
        arena_.reset();
        arenaOffset_ = 0;
        base_ = bytes_.Data();
        capacity_ = bytes_.Capacity();
    }
}

void FrameBuffer::Place(std::shared_ptr<WriteBuffer> arena, uint64_t offset, uint64_t room) {
    length_ = 0;
    base_ = arena->Region(offset);
    capacity_ = std::min<uint64_t>(room, std::numeric_limits<uint32_t>::max());
    arena_ = std::move(arena);
    arenaOffset_ = offset;
}

}  // namespace orvale::recorder
