// Reads the object boxes of a video-analytics metadata document (a
// MetadataStream) into a rule_frame_s. Pure functions: no state, safe on any
// thread. Documents that are not analytics frames give no record; hostile input
// (oversized, malformed, bad numbers) gives no record or zeroed fields, never a
// crash or an allocation beyond the size limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "rules/Pimbrel.h"

namespace orvale::recorder {

// Documents longer than this are refused before parsing.
inline constexpr size_t kMaxMetadataXmlBytes = size_t{4} << 20;

// The record of the document's first analytics Frame, also when it holds no
// object; nothing for empty, oversized or unparsable content and for documents
// without MetadataStream/VideoAnalytics/Frame.
std::optional<rule_frame_s> ParseMetadataXml(int64_t frameTime, const void* content, size_t length);

// The same record as the bytes of a metadata frame's extension; empty when
// there is no record (the frame is then not stored).
std::vector<uint8_t> MetadataXmlExtension(int64_t frameTime, const void* content, size_t length);

}  // namespace orvale::recorder
