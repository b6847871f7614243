#include "recorder/store/AlignedBytes.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/LargeMemory.h"

namespace orvale::recorder {

namespace {

// Large arrays given back and kept for reuse, with their mapped lengths.
class Spares {
  public:
    static Spares& Instance() {
        static Spares* spares = new Spares();  // outlives every static array
        return *spares;
    }

    // Lengths are whole large pages (LargeMemoryLength).
    // A kept array of exactly `length` mapped bytes, or nullptr.
    void* Take(uint64_t length) {
        std::lock_guard lock(mutex_);
        for (auto it = kept_.begin(); it != kept_.end(); ++it) {
            if (it->second != length) continue;
            void* memory = it->first;
            kept_.erase(it);
            bytes_ -= length;
            return memory;
        }
        return nullptr;
    }

    // Keeps the array while the spares stay within their bound; else unmaps it.
    void Give(void* memory, uint64_t length) {
        length = platform::LargeMemoryLength(length);
        {
            std::lock_guard lock(mutex_);
            if (bytes_ + length <= AlignedBytes::kSpareBytes) {
                kept_.emplace_back(memory, length);
                bytes_ += length;
                return;
            }
        }
        platform::UnmapLargeMemory(memory, length);
    }

    void ReleaseAll() {
        std::vector<std::pair<void*, uint64_t>> kept;
        {
            std::lock_guard lock(mutex_);
            kept.swap(kept_);
            bytes_ = 0;
        }
        for (const auto& [memory, length] : kept) platform::UnmapLargeMemory(memory, length);
    }

    uint64_t Bytes() {
        std::lock_guard lock(mutex_);
        return bytes_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<void*, uint64_t>> kept_;
    uint64_t bytes_ = 0;
};

}  // namespace

void AlignedFree::operator()(uint8_t* bytes) const {
    if (mapped > 0) {
        Spares::Instance().Give(bytes, mapped);
    } else {
        ::operator delete(bytes, std::align_val_t(kSectorSize));
    }
}

void AlignedBytes::Reallocate(uint64_t capacity, uint64_t keep) {
    std::unique_ptr<uint8_t, AlignedFree> fresh;
    if (capacity > 0) {
        const uint64_t rounded = (capacity + kSectorSize - 1) / kSectorSize * kSectorSize;
        void* mapped = nullptr;
        if (rounded >= kLargeCapacity) {
            mapped = Spares::Instance().Take(platform::LargeMemoryLength(rounded));
            if (mapped == nullptr) mapped = platform::MapLargeMemory(rounded);
        }
        if (mapped != nullptr) {
            fresh = std::unique_ptr<uint8_t, AlignedFree>(static_cast<uint8_t*>(mapped),
                                                          AlignedFree{rounded});
        } else {
            fresh.reset(
                static_cast<uint8_t*>(::operator new(rounded, std::align_val_t(kSectorSize))));
        }
        keep = std::min({keep, capacity, capacity_});
        if (keep > 0) std::memcpy(fresh.get(), data_.get(), keep);
    }
    data_ = std::move(fresh);
    capacity_ = capacity;
}

uint64_t AlignedBytes::Footprint(uint64_t capacity) {
    const uint64_t rounded = (capacity + kSectorSize - 1) / kSectorSize * kSectorSize;
    return rounded >= kLargeCapacity ? platform::LargeMemoryLength(rounded) : rounded;
}

void AlignedBytes::ReleaseSpares() {
    Spares::Instance().ReleaseAll();
}

uint64_t AlignedBytes::SpareBytes() {
    return Spares::Instance().Bytes();
}

uint64_t GrownCapacity(uint64_t capacity, uint64_t needed) {
    if (capacity == 0) return needed;
    const uint64_t doubled = 2 * capacity;
    if (doubled >= needed) return doubled;
    return (needed + capacity - 1) / capacity * capacity;
}

}  // namespace orvale::recorder
