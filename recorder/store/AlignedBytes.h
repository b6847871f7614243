// An owned byte array whose start is aligned to a 4096-byte sector, so that
// it can be handed to unbuffered file transfers. The allocation is rounded up
// to whole sectors; the capacity is what the owner asked for. Contents are
// not initialised.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "recorder/store/FrameRecord.h"

namespace orvale::recorder {

class AlignedBytes {
  public:
    AlignedBytes() = default;
    explicit AlignedBytes(uint64_t capacity) { Reallocate(capacity, 0); }

    uint8_t* Data() { return data_.get(); }
    const uint8_t* Data() const { return data_.get(); }
    uint64_t Capacity() const { return capacity_; }

    // Replaces the array by one of `capacity` bytes that starts with the
    // first `keep` bytes of the old one.
    void Reallocate(uint64_t capacity, uint64_t keep);

  private:
    struct Free {
        void operator()(uint8_t* bytes) const {
            ::operator delete(bytes, std::align_val_t(kSectorSize));
        }
    };

    std::unique_ptr<uint8_t, Free> data_;
    uint64_t capacity_ = 0;
};

// The capacity that a buffer of `capacity` bytes grows to when it must hold
// `needed` bytes: twice the old capacity, then further steps of the old
// capacity until `needed` fits. An empty buffer grows to `needed`.
uint64_t GrownCapacity(uint64_t capacity, uint64_t needed);

}  // namespace orvale::recorder
