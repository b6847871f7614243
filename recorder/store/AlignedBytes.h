// An owned byte array whose start is aligned to a 4096-byte sector, so that
// it can be handed to unbuffered file transfers. The allocation is rounded up
// to whole sectors; the capacity is what the owner asked for. Contents are
// not initialised.
//
// An array of kLargeCapacity bytes or more (a write buffer of several
// seconds) is mapped from the system in whole large pages instead of taken
// from the heap: its first touch then costs a few faults instead of one per
// 4096 bytes, and freeing it does not fragment the heap. The rounding costs
// less than half the capacity. A large array given back is kept as a spare
// (up to kSpareBytes in all, engine-wide) for the next array of the same
// length: recorders close and open write buffers all the time, and a fresh
// mapping costs the system zeroing every page of it on first touch.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "recorder/store/FrameRecord.h"

namespace orvale::recorder {

// Gives an array of AlignedBytes back the way it was taken.
struct AlignedFree {
    uint64_t mapped = 0;  // bytes asked of the large-page mapping; 0 = heap
    void operator()(uint8_t* bytes) const;
};

class AlignedBytes {
  public:
    static constexpr uint64_t kLargeCapacity = uint64_t{4} * 1024 * 1024;
    static constexpr uint64_t kSpareBytes = uint64_t{32} * 1024 * 1024;

    AlignedBytes() = default;
    explicit AlignedBytes(uint64_t capacity) { Reallocate(capacity, 0); }

    uint8_t* Data() { return data_.get(); }
    const uint8_t* Data() const { return data_.get(); }
    uint64_t Capacity() const { return capacity_; }

    // Replaces the array by one of `capacity` bytes that starts with the
    // first `keep` bytes of the old one.
    void Reallocate(uint64_t capacity, uint64_t keep);

    // The bytes an array of `capacity` bytes takes: whole sectors, or whole
    // large pages from kLargeCapacity on.
    static uint64_t Footprint(uint64_t capacity);

    // Gives the kept spare arrays back to the system (when recording stops).
    static void ReleaseSpares();
    // Bytes of the spare arrays kept now.
    static uint64_t SpareBytes();

  private:
    std::unique_ptr<uint8_t, AlignedFree> data_;
    uint64_t capacity_ = 0;
};

// The capacity that a buffer of `capacity` bytes grows to when it must hold
// `needed` bytes: twice the old capacity, then further steps of the old
// capacity until `needed` fits. An empty buffer grows to `needed`.
uint64_t GrownCapacity(uint64_t capacity, uint64_t needed);

}  // namespace orvale::recorder
