// One second of one channel profile as frame records, with its summary.
//
// The recording pipeline fills a frame buffer on its recorder's strand, then
// appends it to a write buffer (which copies bytes and summary) and reuses it
// after Reset. No lock: one owner at a time. The byte array and the summary
// belong to the buffer; GetFrameInfo shares the summary.
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

class FrameBuffer {
  public:
    static constexpr uint32_t kInitialCapacity = 10240;

    FrameBuffer();
    static std::shared_ptr<FrameBuffer> Create() { return std::make_shared<FrameBuffer>(); }

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

    // Makes room for `needed` bytes by the growth rule of AlignedBytes.
    void Grow(uint64_t needed);
    // Empties the buffer and resets its summary; the array is kept.
    void Reset();

    const uint8_t* Data() const { return bytes_.Data(); }
    uint32_t Capacity() const { return static_cast<uint32_t>(bytes_.Capacity()); }
    uint32_t Length() const { return length_; }

  private:
    bool Accepts(const record_header_s& header, uint8_t type, uint16_t infoLength, const void* data,
                 uint32_t size) const;
    void Copy(const void* source, uint32_t size);

    AlignedBytes bytes_;
    uint32_t length_ = 0;
    std::shared_ptr<second_frame_info_s> info_;
};

}  // namespace orvale::recorder
