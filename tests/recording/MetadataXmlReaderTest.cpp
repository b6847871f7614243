#include "recorder/recording/MetadataXmlReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "tests/support/LogCapture.h"

namespace orvale::recorder {
namespace {

std::optional<rule_frame_s> Parse(const std::string& xml, int64_t time = 1700000000) {
    return ParseMetadataXml(time, xml.data(), xml.size());
}

std::string Box(const std::string& p, const std::string& attributes, const std::string& box) {
    return "<" + p + "Object " + attributes + "><" + p + "Appearance><" + p + "Shape><" + p +
           "BoundingBox " + box + "/></" + p + "Shape></" + p + "Appearance></" + p + "Object>";
}

std::string Document(const std::string& p, const std::string& frameBody) {
    return "<" + p + "MetadataStream><" + p + "VideoAnalytics><" + p + "Frame>" + frameBody + "</" +
           p + "Frame></" + p + "VideoAnalytics></" + p + "MetadataStream>";
}

const std::string kBox = R"(left="-0.5" top="0.25" right="0.5" bottom="-0.75")";

struct BoxCase {
    const char* name;
    std::string xml;
    int32_t count;
    rule_object_s first;
};
void PrintTo(const BoxCase& c, std::ostream* out) {
    *out << c.name;
}

class MetadataXmlBoxes : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MetadataXmlBoxes, ReadsFirstFrameObjects) {
    const BoxCase& c = GetParam();
    const std::optional<rule_frame_s> frame = Parse(c.xml);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->time, 1700000000);
    ASSERT_EQ(frame->objectCount, c.count);
    if (c.count == 0) return;
    EXPECT_EQ(frame->objects[0].objectId, c.first.objectId);
    EXPECT_FLOAT_EQ(frame->objects[0].x1, c.first.x1);
    EXPECT_FLOAT_EQ(frame->objects[0].y1, c.first.y1);
    EXPECT_FLOAT_EQ(frame->objects[0].x2, c.first.x2);
    EXPECT_FLOAT_EQ(frame->objects[0].y2, c.first.y2);
}

std::string ManyObjects(int n) {
    std::string body;
    for (int i = 1; i <= n; ++i) body += Box("", "ObjectId=\"" + std::to_string(i) + "\"", kBox);
    return Document("", body);
}

const std::string kTransform =
    R"(<Transformation><Translate x="0.1" y="-0.2"/><Scale x="2"/></Transformation>)";

INSTANTIATE_TEST_SUITE_P(
    Documents, MetadataXmlBoxes,
    ::testing::Values(
        BoxCase{"NoObject", Document("", ""), 0, {}},
        BoxCase{"Plain",
                Document("", Box("", R"(ObjectId="7")", kBox)),
                1,
                {7, -0.5F, 0.25F, 0.5F, -0.75F}},
        BoxCase{"Declaration",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c -->" +
                    Document("", Box("", R"(ObjectId="7")", kBox)),
                1,
                {7, -0.5F, 0.25F, 0.5F, -0.75F}},
        BoxCase{"HexIdAndMissingScaleY",
                Document("", kTransform + Box("", R"(ObjectId="0x1F")", kBox)),
                1,
                {31, -0.9F, 0.05F, 1.1F, -0.95F}},
        BoxCase{"MissingIdAndCoordinates",
                Document("", Box("", "", R"(left="0.5")")),
                1,
                {0, 0.5F, 0.0F, 0.0F, 0.0F}},
        BoxCase{"BadNumbersCountAsMissing",
                Document("", Box("", R"(ObjectId="-3")",
                                 R"(left="abc" top="1e999" right="nan" bottom=" +0.5")")),
                1,
                {0, 0.0F, 0.0F, 0.0F, 0.5F}},
        BoxCase{"IdOutOfRange",
                Document("", Box("", R"(ObjectId="0x100000000")", kBox)),
                1,
                {0, -0.5F, 0.25F, 0.5F, -0.75F}},
        BoxCase{"ObjectWithoutBoxTakesNoSlot",
                Document("", "<Object ObjectId=\"1\"><Appearance><Shape/></Appearance></Object>" +
                                 Box("", R"(ObjectId="2")", kBox)),
                1,
                {2, -0.5F, 0.25F, 0.5F, -0.75F}},
        BoxCase{"OnlyFirstFrame",
                "<MetadataStream><VideoAnalytics><Frame/><Frame>" +
                    Box("", R"(ObjectId="9")", kBox) + "</Frame></VideoAnalytics></MetadataStream>",
                0,
                {}},
        BoxCase{"Prefixed",
                Document("tt:", Box("tt:", R"(ObjectId="5")", kBox)),
                1,
                {5, -0.5F, 0.25F, 0.5F, -0.75F}},
        BoxCase{"PrefixedRootIgnoresPlainChildren",
                Document("tt:", Box("", R"(ObjectId="5")", kBox)),
                0,
                {}},
        BoxCase{
            "ThirtyOneObjectsGiveThirty", ManyObjects(31), 30, {1, -0.5F, 0.25F, 0.5F, -0.75F}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MetadataXmlReader, KeepsObjectsInDocumentOrderUpToTheLimit) {
    const std::optional<rule_frame_s> frame = Parse(ManyObjects(31));
    ASSERT_TRUE(frame.has_value());
    for (int i = 0; i < RULE_FRAME_MAX_OBJECTS; ++i) {
        EXPECT_EQ(frame->objects[i].objectId, static_cast<uint32_t>(i + 1));
    }
}

TEST(MetadataXmlReader, RefusesWhatIsNotAnAnalyticsFrame) {
    const std::vector<std::string> refused = {
        "",
        "<MetadataStream><VideoAnalytics>",   // malformed
        "<MetadataStream a=\"1\" a=\"2\"/>",  // duplicate attribute
        "not xml at all",
        "<Other><VideoAnalytics><Frame/></VideoAnalytics></Other>",
        "<MetadataStream/>",
        "<MetadataStream><VideoAnalytics/></MetadataStream>",
        "<MetadataStream><Frame/></MetadataStream>",
        std::string("<MetadataStream>\0</MetadataStream>", 34),
    };
    for (const std::string& xml : refused) {
        EXPECT_FALSE(Parse(xml).has_value()) << xml;
        EXPECT_TRUE(MetadataXmlExtension(1, xml.data(), xml.size()).empty()) << xml;
    }
    EXPECT_FALSE(ParseMetadataXml(1, nullptr, 10).has_value());
}

TEST(MetadataXmlReader, SurvivesHostileSizesAndDepth) {
    // Deep nesting inside the frame: the parser must not recurse into a crash.
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    EXPECT_FALSE(Parse(deep).has_value());
    std::string closed = deep;
    for (int i = 0; i < 200000; ++i) closed += "</a>";
    EXPECT_TRUE(Parse(Document("", closed)).has_value());

    const std::string huge(kMaxMetadataXmlBytes + 1, ' ');
    EXPECT_FALSE(Parse(huge).has_value());
}

// The parser's allocations fail while it lives.
class FailingParserMemory {
  public:
    FailingParserMemory()
        : allocate_(pugi::get_memory_allocation_function()),
          deallocate_(pugi::get_memory_deallocation_function()) {
        pugi::set_memory_management_functions([](size_t) -> void* { return nullptr; }, deallocate_);
    }
    ~FailingParserMemory() { pugi::set_memory_management_functions(allocate_, deallocate_); }
    FailingParserMemory(const FailingParserMemory&) = delete;
    FailingParserMemory& operator=(const FailingParserMemory&) = delete;

  private:
    pugi::allocation_function allocate_;
    pugi::deallocation_function deallocate_;
};

TEST(MetadataXmlReader, MemoryThatCannotBeHadIsLoggedAndTheFrameDropped) {
    const std::string xml = Document("", Box("", "", kBox));
    test::LogCapture log;
    {
        const FailingParserMemory failing;
        EXPECT_FALSE(Parse(xml).has_value());
    }
    EXPECT_EQ(log.Count("Failed to alloc memory"), 1u);
    EXPECT_EQ(log.Count("Failed to parse a metadata xml"), 0u);
    EXPECT_TRUE(Parse(xml).has_value());
}

// Scale and translation of finite numbers can still leave float range; the
// box then ends at the largest finite value instead of infinity.
TEST(MetadataXmlReader, TransformedCoordinatesStayFinite) {
    const std::string transform =
        R"(<Transformation><Translate x="3e38" y="-3e38"/><Scale x="3e38" y="3e38"/>)"
        R"(</Transformation>)";
    const std::optional<rule_frame_s> frame =
        Parse(Document("", transform + Box("", "", R"(left="2" top="2" right="-2" bottom="0")")));
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(frame->objectCount, 1);
    const rule_object_s& box = frame->objects[0];
    for (const float value : {box.x1, box.y1, box.x2, box.y2}) EXPECT_TRUE(std::isfinite(value));
    EXPECT_EQ(box.x1, std::numeric_limits<float>::max());
    EXPECT_EQ(box.y1, std::numeric_limits<float>::max());  // 6e38 - 3e38 overflowed first
    EXPECT_EQ(box.x2, -std::numeric_limits<float>::max());
    EXPECT_EQ(box.y2, -3e38F);
}

TEST(MetadataXmlReader, ExtensionIsTheWholeRecord) {
    const std::string xml = Document("", Box("", R"(ObjectId="3")", kBox));
    const std::vector<uint8_t> bytes = MetadataXmlExtension(42, xml.data(), xml.size());
    ASSERT_EQ(bytes.size(), 612U);
    rule_frame_s frame{};
    std::memcpy(&frame, bytes.data(), sizeof(frame));
    EXPECT_EQ(frame.time, 42);
    EXPECT_EQ(frame.objectCount, 1);
    EXPECT_EQ(frame.objects[0].objectId, 3U);
    EXPECT_EQ(frame.objects[1].objectId, 0U);
}

}  // namespace
}  // namespace orvale::recorder
