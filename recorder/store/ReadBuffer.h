// One read of a data file: a sector-aligned array and the window of the file
// it is to hold, shared between the playback code and the data file's read.
//
// Every read lands at the start of the array (so it stays aligned) and never
// reaches past its capacity: a window whose sectors do not fit is refused.
// When it completes, `readPosition` points at the first requested byte,
// `bytesRead` counts the bytes that landed, the key-frame list describes them
// (when `reverse` or `scanKeyFrames` is set) and `ready` turns true last: a
// reader that sees `ready` sees the rest. A read that fails sets `failed`
// instead, so that nobody waits for it for ever.
//
// The playback code owns every other field; they are set under its lock and
// kept as they are by the read. The array and both sizes belong to the buffer;
// capacities are whole sectors. While a read is in flight the array is the
// read's: no Resize or Reset until its completion.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "recorder/store/AlignedBytes.h"
#include "recorder/store/IndexRecords.h"

namespace orvale::recorder {

class ReadBuffer {
  public:
    // The largest array Resize makes: room for the largest second a
    // recorder stores (64 MiB of records), the filler records that may end
    // a write inside it and the partial sectors around a window.
    static constexpr uint32_t kMaxCapacity = 0x4000000 + 0x10000;

    // An array of `size` bytes rounded up to whole sectors (at least one).
    explicit ReadBuffer(uint32_t size);

    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;

    uint8_t* Data() { return bytes_.Data(); }
    const uint8_t* Data() const { return bytes_.Data(); }
    uint32_t DefaultSize() const { return defaultSize_; }
    uint32_t Capacity() const { return static_cast<uint32_t>(bytes_.Capacity()); }

    // Grows the array to hold `needed` bytes (twice the capacity, then steps
    // of it, at most kMaxCapacity), keeping the bytes read. False when
    // `needed` is beyond kMaxCapacity; the array then has that size.
    bool Resize(uint64_t needed);
    // Back to the state of a new buffer; a resized array returns to the
    // default size.
    void Reset();

    // Lists the complete key-frame video records among the bytes read, from
    // `readPosition` on. Stops at the end record (true) or at bytes that are
    // no record or a record whose length cannot be (false).
    bool BuildKeyFrameList();
    // Drops the last entry of the key-frame list, if any.
    void PopKeyFrame();

    uint8_t resized = 0;              // grown by the playback code
    std::atomic<bool> ready{false};   // the read has landed
    std::atomic<bool> failed{false};  // the read ended with an error
    uint64_t readPosition = 0;        // offset of the next record in the array
    uint64_t bytesRead = 0;
    int64_t windowStart = 0;  // data-file offsets of the wanted range [start, end)
    int64_t windowEnd = 0;
    int64_t windowStartTime = 0;
    int64_t windowEndTime = 0;
    int32_t lastWindow = 0;  // the window ends at the last second of its file
    int64_t switchTime = 0;
    uint8_t reverse = 0;
    uint8_t pass = 0;
    uint8_t scanKeyFrames = 0;
    uint32_t mediaId = 0;
    int32_t profile = 0;
    int32_t retryCount = 0;
    int64_t lastTryTime = 0;
    std::vector<index_row_s> keyFrames;  // time and record offset in the array

  private:
    uint32_t defaultSize_;
    AlignedBytes bytes_;
};

}  // namespace orvale::recorder
