#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "converter/NmtReader.h"
#include "tests/support/TempDir.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::converter {
namespace {

using oldformat::OldMetaWriter;
using oldformat::test_meta_s;

std::vector<test_meta_s> Metas() {
    return {{100, 5, 1, "<doc a/>", 0}, {101, 999, 49, "<doc b/>", 32}, {102, 0, 7, "", 2}};
}

struct Read {
    std::vector<nmt_record_s> records;
    std::vector<std::string> payloads;
};

Read ReadAll(const std::filesystem::path& path) {
    Read read;
    NmtReader reader(path);
    nmt_record_s record;
    while (reader.Next(record)) {
        read.records.push_back(record);
        read.payloads.emplace_back(record.payload.begin(), record.payload.end());
    }
    return read;
}

class NmtReaderTest : public ::testing::Test {
  protected:
    std::filesystem::path Save(const oldformat::OldFileBytes& file) {
        auto path = dir_.Path() / "0001.nmt";
        file.Save(path);
        return path;
    }
    test::TempDir dir_;
};

TEST_F(NmtReaderTest, ReadsEveryRecordInOrder) {
    const Read read = ReadAll(Save(OldMetaWriter(Metas())));
    ASSERT_EQ(read.records.size(), 3u);
    EXPECT_EQ(read.payloads, (std::vector<std::string>{"<doc a/>", "<doc b/>", ""}));
    EXPECT_EQ(read.records[1].seconds, 101u);
    EXPECT_EQ(read.records[1].milliseconds, 999u);
    EXPECT_EQ(read.records[1].recordType, 49u);
    EXPECT_EQ(read.records[2].recordType, 7u);
}

// A damaged field of record 1 (the second) ends the file there; the records
// before it are kept.
struct EndCase {
    const char* name;
    uint32_t field;  // offset in the record header, or 0 for the file header
    uint32_t value;
    size_t records;
};

TEST_F(NmtReaderTest, TheFirstUnsoundRecordEndsTheFile) {
    const EndCase cases[] = {
        {"payload one above 1 MiB", 13, 0x100001, 1},
        {"hostile payload length", 13, 0xFFFFFFFF, 1},
        {"payload longer than the file", 13, 0x100000, 1},
        {"record type 50", 25, 50, 1},
        {"record type 0", 25, 0, 1},
        {"broken magic", 2, 0x4B4B5653, 1},
    };
    for (const EndCase& c : cases) {
        OldMetaWriter writer(Metas());
        writer.Put32(writer.records[1] + c.field, c.value);
        EXPECT_EQ(ReadAll(Save(writer)).records.size(), c.records) << c.name;
    }
}

TEST_F(NmtReaderTest, TooManyEntriesEndTheFileAfterTheirRecord) {
    auto metas = Metas();
    metas[1].entries = 33;
    EXPECT_EQ(ReadAll(Save(OldMetaWriter(metas))).records.size(), 2u);
}

TEST_F(NmtReaderTest, AFileMarkedAsEmptyOrCutShortHoldsOnlyWholeRecords) {
    OldMetaWriter marked(Metas());
    marked.Put32(0, 1);
    EXPECT_TRUE(ReadAll(Save(marked)).records.empty());

    OldMetaWriter hostile(Metas());
    hostile.Put32(4, 0xFFFFFFFF);  // first record past the end
    EXPECT_TRUE(ReadAll(Save(hostile)).records.empty());

    const OldMetaWriter writer(Metas());
    for (size_t cut = 0; cut <= writer.bytes.size(); ++cut) {
        oldformat::OldFileBytes cutFile;
        cutFile.bytes.assign(writer.bytes.begin(),
                             writer.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        const Read read = ReadAll(Save(cutFile));
        ASSERT_LE(read.records.size(), 3u);
        for (size_t i = 0; i < read.records.size(); ++i) {
            EXPECT_EQ(read.payloads[i], Metas()[i].payload) << cut;
        }
    }
}

TEST_F(NmtReaderTest, AMissingFileDoesNotOpen) {
    NmtReader reader(dir_.Path() / "absent.nmt");
    EXPECT_FALSE(reader.IsOpen());
    nmt_record_s record;
    EXPECT_FALSE(reader.Next(record));
}

}  // namespace
}  // namespace orvale::converter
