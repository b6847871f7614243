#include "recorder/store/AlignedBytes.h"

#include <algorithm>
#include <cstring>

#include "platform/LargeMemory.h"

namespace orvale::recorder {

void AlignedFree::operator()(uint8_t* bytes) const {
    if (mapped > 0) {
        platform::UnmapLargeMemory(bytes, mapped);
    } else {
        ::operator delete(bytes, std::align_val_t(kSectorSize));
    }
}

void AlignedBytes::Reallocate(uint64_t capacity, uint64_t keep) {
    std::unique_ptr<uint8_t, AlignedFree> fresh;
    if (capacity > 0) {
        const uint64_t rounded = (capacity + kSectorSize - 1) / kSectorSize * kSectorSize;
        void* mapped = rounded >= kLargeCapacity ? platform::MapLargeMemory(rounded) : nullptr;
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

uint64_t GrownCapacity(uint64_t capacity, uint64_t needed) {
    if (capacity == 0) return needed;
    const uint64_t doubled = 2 * capacity;
    if (doubled >= needed) return doubled;
    return (needed + capacity - 1) / capacity * capacity;
}

}  // namespace orvale::recorder
