#include "recorder/store/BufferPool.h"

#include <cstring>
#include <utility>

namespace orvale::recorder {

BufferPool::BufferPool(uint32_t readBufferSize) : readBufferSize_(readBufferSize) {}

std::shared_ptr<ReadBuffer> BufferPool::GetReadBuffer() {
    {
        std::lock_guard lock(mutex_);
        if (!free_.empty()) {
            auto buffer = std::move(free_.back());
            free_.pop_back();
            return buffer;
        }
    }
    madeOnDemand_.fetch_add(1, std::memory_order_relaxed);
    return std::make_shared<ReadBuffer>(readBufferSize_);
}

void BufferPool::Reserve(size_t count) {
    while (FreeCount() < count) {
        auto buffer = std::make_shared<ReadBuffer>(readBufferSize_);
        // Faulted in here rather than by the first read into it, which a
        // thread that must not wait may start.
        std::memset(buffer->Data(), 0, buffer->Capacity());
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(buffer));
    }
}

void BufferPool::PutReadBuffer(std::shared_ptr<ReadBuffer> buffer) {
    // A buffer that someone else still holds (a read that has not landed
    // yet) is not reused: it goes away with its last holder.
    if (!buffer || buffer.use_count() > 1) return;
    // A read that filled it published its bytes and fields with one of these
    // flags; reading them orders the reset after that read.
    static_cast<void>(buffer->ready.load(std::memory_order_acquire));
    static_cast<void>(buffer->failed.load(std::memory_order_acquire));
    // Reset outside the lock: it may allocate.
    buffer->Reset();
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(buffer));
}

size_t BufferPool::FreeCount() const {
    std::lock_guard lock(mutex_);
    return free_.size();
}

}  // namespace orvale::recorder
