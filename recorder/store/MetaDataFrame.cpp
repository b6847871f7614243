#include "recorder/store/MetaDataFrame.h"

namespace orvale::recorder {

void MetaDataFrame::BuildExtension(const ExtensionConverter& converter) {
    if (!converter || content.empty()) return;
    extension.clear();
    extension = converter(content.data(), ContentSize());
}

bool MetaDataFrameBuffer::Add(const meta_frame_header_s& header, const void* data, uint32_t size) {
    if (second_ != 0 && second_ != header.time) return false;
    auto frame = std::make_shared<MetaDataFrame>();
    frame->utc = header.time;
    frame->timestamp = header.timeMs;
    frame->dataType = 0;
    frame->encodingType = "xml";
    if (data != nullptr && size > 0) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        frame->content.assign(bytes, bytes + size);
    }
    frames_.push_back(std::move(frame));
    second_ = header.time;
    return true;
}

int32_t MetaDataFrameBuffer::GetTotalSize() const {
    int64_t total = 0;
    for (const auto& frame : frames_) total += frame->ContentSize();
    return static_cast<int32_t>(total);
}

}  // namespace orvale::recorder
