#include "recorder/recording/MetadataXmlReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "common/Log.h"

namespace orvale::recorder {
namespace {

std::string_view TrimLeading(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r')) {
        text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    return text;
}

// A coordinate or scale in the "C" locale. Text that is not a finite number
// within float range counts as missing, so no box ever carries NaN or infinity.
float FloatAttribute(const pugi::xml_node& node, const char* name, float fallback) {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) return fallback;
    const std::string_view text = TrimLeading(attribute.value());
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || !std::isfinite(value) ||
        std::fabs(value) > std::numeric_limits<float>::max()) {
        return fallback;
    }
    return static_cast<float>(value);
}

// Decimal, or hexadecimal after "0x"; 0 when missing, negative or out of range.
uint32_t ObjectId(const pugi::xml_node& object) {
    std::string_view text = TrimLeading(object.attribute("ObjectId").value());
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() ? value : 0;
}

// A box coordinate after its scale and translation: finite numbers can still
// overflow float there, so the result is clamped to the finite range.
float Transformed(float value, float scale, float translation) {
    const float result = value * scale + translation;
    if (std::isnan(result)) return 0.0F;
    constexpr float kLargest = std::numeric_limits<float>::max();
    return std::clamp(result, -kLargest, kLargest);
}

pugi::xml_node Child(const pugi::xml_node& node, const std::string& prefix, const char* name) {
    return node.child((prefix + name).c_str());
}

void ReadObjects(const pugi::xml_node& frame, const std::string& prefix, rule_frame_s& out) {
    const pugi::xml_node transformation = Child(frame, prefix, "Transformation");
    const pugi::xml_node translate = Child(transformation, prefix, "Translate");
    const pugi::xml_node scale = Child(transformation, prefix, "Scale");
    const float tx = FloatAttribute(translate, "x", 0.0F);
    const float ty = FloatAttribute(translate, "y", 0.0F);
    const float sx = FloatAttribute(scale, "x", 1.0F);
    const float sy = FloatAttribute(scale, "y", 1.0F);

    const std::string objectName = prefix + "Object";
    for (pugi::xml_node object = frame.child(objectName.c_str());
         object && out.objectCount < RULE_FRAME_MAX_OBJECTS;
         object = object.next_sibling(objectName.c_str())) {
        const pugi::xml_node box = Child(
            Child(Child(object, prefix, "Appearance"), prefix, "Shape"), prefix, "BoundingBox");
        if (!box) continue;
        rule_object_s& slot = out.objects[out.objectCount];
        slot.objectId = ObjectId(object);
        slot.x1 = Transformed(FloatAttribute(box, "left", 0.0F), sx, tx);
        slot.y1 = Transformed(FloatAttribute(box, "top", 0.0F), sy, ty);
        slot.x2 = Transformed(FloatAttribute(box, "right", 0.0F), sx, tx);
        slot.y2 = Transformed(FloatAttribute(box, "bottom", 0.0F), sy, ty);
        ++out.objectCount;
    }
}

}  // namespace

std::optional<rule_frame_s> ParseMetadataXml(int64_t frameTime, const void* content,
                                             size_t length) {
    if (content == nullptr || length == 0) return std::nullopt;
    if (length > kMaxMetadataXmlBytes) {
        OLOG(common::kLogError) << "Metadata xml too large. Size = " << length;
        return std::nullopt;
    }
    pugi::xml_document document;
    // The parser copies the bytes and needs no terminating zero.
    const pugi::xml_parse_result parsed = document.load_buffer(content, length);
    if (parsed.status == pugi::status_out_of_memory) {
        OLOG(common::kLogError) << "Failed to alloc memory";
        return std::nullopt;
    }
    if (!parsed) {
        OLOG(common::kLogError) << "Failed to parse a metadata xml. Description = "
                                << parsed.description() << ", Offset = " << parsed.offset;
        return std::nullopt;
    }
    const pugi::xml_node root = document.first_child();
    const std::string rootName = root.name();
    if (root.type() != pugi::node_element || rootName.find("MetadataStream") == std::string::npos) {
        return std::nullopt;
    }
    const size_t colon = rootName.find(':');
    const std::string prefix = colon == std::string::npos ? "" : rootName.substr(0, colon + 1);
    const pugi::xml_node frame = Child(Child(root, prefix, "VideoAnalytics"), prefix, "Frame");
    if (!frame) return std::nullopt;

    rule_frame_s out{};
    out.time = frameTime;
    ReadObjects(frame, prefix, out);
    return out;
}

std::vector<uint8_t> MetadataXmlExtension(int64_t frameTime, const void* content, size_t length) {
    const std::optional<rule_frame_s> frame = ParseMetadataXml(frameTime, content, length);
    if (!frame) return {};
    std::vector<uint8_t> bytes(sizeof(rule_frame_s));
    std::memcpy(bytes.data(), &*frame, sizeof(rule_frame_s));
    return bytes;
}

}  // namespace orvale::recorder
