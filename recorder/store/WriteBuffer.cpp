#include "recorder/store/WriteBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/Log.h"

namespace orvale::recorder {
namespace {

constexpr uint64_t kLimit = std::numeric_limits<uint32_t>::max();

}  // namespace

WriteBuffer::WriteBuffer(uint32_t capacity) : bytes_(capacity) {}

uint64_t WriteBuffer::UsedLength() const {
    if (seconds_.empty()) return 0;
    return seconds_.back()->lastOffset - seconds_.front()->startOffset + 1;
}

bool WriteBuffer::Append(const std::shared_ptr<FrameBuffer>& frameBuffer) {
    if (!frameBuffer || frameBuffer->Length() == 0) return true;
    const uint64_t added = frameBuffer->Length();
    const auto length = static_cast<uint64_t>(length_);
    if (length + added + kFinalizeReserve > kLimit) {
        OLOG(common::kLogError) << "A write buffer cannot take another second. length = " << length
                                << ", second = " << added;
        return false;
    }
    // A second placed in this array lies at or behind the used bytes.
    const bool own = frameBuffer->Arena().get() == this;
    const uint64_t sourceAt = own ? frameBuffer->ArenaOffset() : 0;

    auto copy = std::make_shared<second_frame_info_s>(*frameBuffer->GetFrameInfo());
    const uint64_t sourceStart = copy->startOffset;
    copy->startOffset = seconds_.empty() ? 0 : length;

    const int64_t room =
        static_cast<int64_t>(Capacity()) - length_ - static_cast<int64_t>(2 * kSectorSize);
    if (room < 0 || static_cast<uint64_t>(room) < added) {
        const uint64_t used = UsedLength();
        const uint64_t tail = seconds_.empty() ? 0 : used + kSectorSize + PadLength(used);
        // A second of this array moves with it (its frame buffer is not read
        // again: the owner recycles it after the append).
        const uint64_t keep = own ? sourceAt + added : length;
        GrowKeeping(std::max({added + tail, length + added, keep}), keep);
    }

    copy->lastOffset += copy->startOffset;
    if (copy->indexRow.keyTime > 0) {
        copy->indexRow.keyOffset = copy->indexRow.keyOffset - sourceStart + copy->startOffset;
    }
    seconds_.push_back(std::move(copy));
    uint8_t* target = bytes_.Data() + length;
    if (!own) {
        // A plain copy: streaming stores here made the data-file writes
        // about 7 % slower (the second copy reads what the first just wrote).
        std::memcpy(target, frameBuffer->Data(), added);
    } else if (sourceAt != length) {
        std::memmove(target, bytes_.Data() + sourceAt, added);
    }
    length_ += static_cast<int64_t>(added);
    seconds_.back()->lastOffset = static_cast<uint64_t>(length_) - 1;
    return true;
}

void WriteBuffer::Finalize(uint64_t fileOffset, int64_t& lastTime) {
    const uint64_t start = seconds_.empty() ? 0 : seconds_.front()->startOffset;
    const uint64_t shift = fileOffset - (finalized_ ? finalizedAt_ : start);
    for (const auto& second : seconds_) second->indexRow.keyOffset += shift;
    finalized_ = true;
    finalizedAt_ = fileOffset;
    if (!seconds_.empty()) lastTime = static_cast<int64_t>(seconds_.back()->firstFrameTime);

    const uint64_t used = UsedLength();
    const uint64_t pad = PadLength(used);
    const uint64_t end = start + used + pad;
    if (end + kSectorSize > Capacity()) Grow(end + kSectorSize);

    uint8_t* bytes = bytes_.Data();
    const record_header_s skip = SkipRecord(static_cast<uint32_t>(pad));
    std::memcpy(bytes + start + used, &skip, kRecordHeaderSize);
    std::memset(bytes + start + used + kRecordHeaderSize, 0, pad - kRecordHeaderSize);
    length_ = static_cast<int64_t>(end);

    const record_header_s endRecord = EndRecord();
    std::memcpy(bytes + end, &endRecord, kRecordHeaderSize);
    std::memset(bytes + end + kRecordHeaderSize, 0, kSectorSize - kRecordHeaderSize);
}

void WriteBuffer::Reset() {
    seconds_.clear();
    length_ = 0;
    trackId_ = 0;
    finalized_ = false;
    finalizedAt_ = 0;
}

void WriteBuffer::Grow(uint64_t needed) {
    GrowKeeping(needed, static_cast<uint64_t>(length_));
}

void WriteBuffer::GrowKeeping(uint64_t needed, uint64_t keep) {
    bytes_.Reallocate(std::min(GrownCapacity(bytes_.Capacity(), needed), kLimit), keep);
}

}  // namespace orvale::recorder
