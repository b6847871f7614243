// The engine's pool of read buffers, shared by the drives, channels, file
// readers and playback media. A buffer taken from it belongs to the taker
// until it is given back; given-back buffers are reset and kept for reuse.
//
// Making a buffer maps fresh memory, which can take tens of milliseconds
// while other threads fault in memory of their own: a thread that must not
// wait (the playback timer) takes kept buffers, and Reserve makes them ahead
// on a thread that may wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "recorder/store/ReadBuffer.h"

namespace orvale::recorder {

// The engine's default buffer size (its buffer-size setting).
inline constexpr uint32_t kDefaultBufferSize = 4 * 1024 * 1024;

class BufferPool {
  public:
    explicit BufferPool(uint32_t readBufferSize = kDefaultBufferSize);

    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    // A kept buffer, or a new one of the pool's size when none is kept.
    std::shared_ptr<ReadBuffer> GetReadBuffer();
    // Makes buffers, their memory touched, until at least `count` are kept.
    void Reserve(size_t count);
    // Resets the buffer and keeps it. A buffer still held elsewhere (by a
    // read in flight) is dropped instead, so no read lands in a buffer that
    // was handed out again; an empty pointer is ignored.
    void PutReadBuffer(std::shared_ptr<ReadBuffer> buffer);

    uint32_t ReadBufferSize() const { return readBufferSize_; }
    size_t FreeCount() const;
    // Buffers GetReadBuffer made because none was kept.
    uint64_t MadeOnDemandCount() const { return madeOnDemand_.load(std::memory_order_relaxed); }

  private:
    const uint32_t readBufferSize_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<ReadBuffer>> free_;
    std::atomic<uint64_t> madeOnDemand_{0};
};

}  // namespace orvale::recorder
