// Several whole seconds of one channel profile, laid end to end as frame
// records, on their way to a data file.
//
// A write buffer has one owner at a time: the recording pipeline while it
// appends seconds, then the file writer's queue and the asynchronous write
// until its completion, then the pipeline again, which resets and reuses it.
// No lock. The array starts on a sector boundary, so it is written as it is.
// Reset keeps the array: a buffer is reused at the size it was made with, and
// whoever pools it decides whether that size still fits.
//
// The array behind the used bytes may be lent to frame buffers (Region), so
// that seconds are recorded straight into the place a later Append takes
// them from; Append then copies nothing for a second that lies exactly at the
// buffer's end, and moves one that lies further on in place.
//
// Finalize prepares the bytes for a write at a file offset: the key-frame
// offsets of the seconds become file offsets, a skip record with zero bytes
// pads the data to a sector boundary and the sector after it holds an end
// record (zero-filled), which the write covers. Finalizing again, for a
// retried write, gives the same bytes and moves the key offsets only once.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "recorder/store/AlignedBytes.h"
#include "recorder/store/FrameBuffer.h"
#include "recorder/store/SecondFrameInfo.h"

namespace orvale::recorder {

class WriteBuffer {
  public:
    using Seconds = std::vector<std::shared_ptr<second_frame_info_s>>;

    // What Finalize may add behind the data: the largest pad and the end
    // sector.
    static constexpr uint64_t kFinalizeReserve = 3 * kSectorSize;

    explicit WriteBuffer(uint32_t capacity);

    WriteBuffer(const WriteBuffer&) = delete;
    WriteBuffer& operator=(const WriteBuffer&) = delete;

    // Copies one finished second (bytes and summary) behind the others; the
    // bytes of a second placed in this buffer's own array stay where they
    // are when they already lie at its end. An empty frame buffer changes
    // nothing; a second that would take the buffer past its 32-bit size is
    // refused with a log line.
    bool Append(const std::shared_ptr<FrameBuffer>& frameBuffer);
    // Prepares the buffer for a write at `fileOffset`; `lastTime` becomes the
    // first-frame time of the last second (unchanged for an empty buffer, which
    // finalizes to a lone skip sector and the end sector).
    void Finalize(uint64_t fileOffset, int64_t& lastTime);
    // Empties the buffer for reuse; the array is kept.
    void Reset();
    // Makes room for `needed` bytes by the growth rule of AlignedBytes.
    void Grow(uint64_t needed);

    // Bytes from the first second's first record to the last second's last
    // byte; 0 when the buffer holds no second.
    uint64_t UsedLength() const;

    uint32_t Profile() const { return profile_; }
    void SetProfile(uint32_t profile) { profile_ = profile; }
    uint32_t TrackId() const { return trackId_; }
    void SetTrackId(uint32_t trackId) { trackId_ = trackId; }

    const uint8_t* Data() const { return bytes_.Data(); }
    // The array from `offset` on, for a frame buffer placed behind the used
    // bytes (FrameBuffer::Place).
    uint8_t* Region(uint64_t offset) { return bytes_.Data() + offset; }
    uint32_t Capacity() const { return static_cast<uint32_t>(bytes_.Capacity()); }
    // Used bytes; after Finalize, the data and its padding (the end sector
    // follows).
    int64_t Length() const { return length_; }
    const Seconds& GetSeconds() const { return seconds_; }

  private:
    // Grow that keeps the first `keep` bytes of the array.
    void GrowKeeping(uint64_t needed, uint64_t keep);

    uint32_t profile_ = 0;
    uint32_t trackId_ = 0;  // 0 = no second yet
    AlignedBytes bytes_;
    int64_t length_ = 0;
    Seconds seconds_;
    bool finalized_ = false;
    uint64_t finalizedAt_ = 0;  // file offset of the last Finalize
};

}  // namespace orvale::recorder
