// One second of one channel profile as frame records, with its summary.
//
// The recording pipeline fills a frame buffer on its recorder's strand, then
// appends it to a write buffer (which copies bytes and summary) and reuses it
// after Reset. No lock: one owner at a time. The summary belongs to the
// buffer; GetFrameInfo shares it.
//
// The records lie either in an array the buffer owns, or, once placed, in a
// region of a write buffer's array behind that buffer's used bytes: the
// second's bytes are then where the write will take them from, and appending
// the second to that write buffer at that very offset copies nothing. A
// placed buffer holds a reference to the write buffer, so the array lives as
// long as the second does; the region is the buffer's alone until Reset. A
// frame that does not fit the region moves the second into an array of its
// own (the one copy this costs is the price of an unexpectedly large second).
//
// A frame is refused, with a log line and nothing appended, when its data is
// missing, when its header does not describe it (type, information length,
// payload length), or when it would not fit the 32-bit lengths.
#pragma once

#include <cstdint>
#include <memory>

#include "recorder/store/AlignedBytes.h"
#include "recorder/store/FrameRecord.h"
#include "recorder/store/IndexRecords.h"
#include "recorder/store/SecondFrameInfo.h"

namespace orvale::recorder {

class WriteBuffer;

class FrameBuffer {
  public:
    static constexpr uint32_t kInitialCapacity = 10240;

    // An array of kInitialCapacity bytes of its own.
    FrameBuffer();
    static std::shared_ptr<FrameBuffer> Create() { return std::make_shared<FrameBuffer>(); }
    // No array yet: for a buffer that is to be placed (or that grows one).
    static std::shared_ptr<FrameBuffer> CreateEmpty();

    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // Appends a video record. `flags` replace the second's flag words when
    // their time is not 0; the first key frame of the second is indexed.
    bool AddVideoFrame(const record_header_s& header, const video_frame_info_s& info,
                       const void* data, uint32_t size, const timeline_flags_s& flags);
    // Appends an audio record; audio touches neither times, flags nor index.
    bool AddAudioFrame(const record_header_s& header, const audio_frame_info_s& info,
                       const void* data, uint32_t size);

    std::shared_ptr<second_frame_info_s> GetFrameInfo() const { return info_; }
    // The same summary, without sharing it.
    const second_frame_info_s& Summary() const { return *info_; }

    // Makes room for `needed` bytes by the growth rule of AlignedBytes; a
    // placed buffer moves into an array of its own.
    void Grow(uint64_t needed);
    // Empties the buffer, resets its summary and gives up its placement; an
    // array of its own is kept.
    void Reset();

    // Lays the records of this (empty) buffer into `arena` from `offset` on,
    // with room for `room` bytes. The region must lie behind the arena's used
    // bytes and be given to no one else while this buffer holds it.
    void Place(std::shared_ptr<WriteBuffer> arena, uint64_t offset, uint64_t room);
    // The write buffer the records lie in; empty for a buffer of its own.
    const std::shared_ptr<WriteBuffer>& Arena() const { return arena_; }
    uint64_t ArenaOffset() const { return arenaOffset_; }

    const uint8_t* Data() const { return base_; }
    uint32_t Capacity() const { return static_cast<uint32_t>(capacity_); }
    uint32_t Length() const { return length_; }

  private:
    struct NoArray {};
    explicit FrameBuffer(NoArray);

    bool Accepts(const record_header_s& header, uint8_t type, uint16_t infoLength, const void* data,
                 uint32_t size) const;
    void Copy(const void* source, uint32_t size);

    AlignedBytes bytes_;
    uint8_t* base_ = nullptr;  // bytes_ or the placed region
    uint64_t capacity_ = 0;
    uint32_t length_ = 0;
    std::shared_ptr<second_frame_info_s> info_;
    std::shared_ptr<WriteBuffer> arena_;
    uint64_t arenaOffset_ = 0;
};

}  // namespace orvale::recorder
