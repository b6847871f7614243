// One stored metadata row, and the frames of one second of one recorder
// before they are inserted. A frame owns its bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {

struct MetaDataFrame {
    // Derives the extension bytes from the content (empty when there are none).
    using ExtensionConverter = std::function<std::vector<uint8_t>(const uint8_t*, uint32_t)>;

    int64_t utc = 0;
    uint32_t timestamp = 0;
    uint32_t dataType = 0;  // 0: the XML metadata that recorders push
    std::string encodingType;
    std::vector<uint8_t> content;
    std::vector<uint8_t> extension;

    uint32_t ContentSize() const { return static_cast<uint32_t>(content.size()); }
    uint32_t ExtensionSize() const { return static_cast<uint32_t>(extension.size()); }

    // Replaces the extension with the converter's result when there is both a
    // converter and content.
    void BuildExtension(const ExtensionConverter& converter);
};

using MetaDataFrames = std::vector<std::shared_ptr<MetaDataFrame>>;

// The frames of one second; the second is 0 while the buffer is empty.
class MetaDataFrameBuffer {
  public:
    explicit MetaDataFrameBuffer(int32_t trackId) : trackId_(trackId) {}

    // Appends a frame of the buffer's second; false (buffer unchanged) for a
    // frame of another second, which belongs in a new buffer.
    bool Add(const meta_frame_header_s& header, const void* data, uint32_t size);
    int32_t GetTotalSize() const;

    int64_t Second() const { return second_; }
    int32_t TrackId() const { return trackId_; }
    const MetaDataFrames& Frames() const { return frames_; }
    bool Empty() const { return frames_.empty(); }

  private:
    MetaDataFrames frames_;
    int64_t second_ = 0;
    int32_t trackId_;
};

}  // namespace orvale::recorder
