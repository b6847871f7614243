#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/HostFolder.h"
#include "platform/Time.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/MetaDataFile.h"
#include "recorder/store/MetaDataWriter.h"
#include "tests/support/HourDatabase.h"
#include "tests/support/TempDir.h"
#include "tests/support/Times.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;

using test::UtcSeconds;

std::shared_ptr<MetaDataFrame> Frame(int64_t utc, uint32_t timestamp, std::string content,
                                     uint32_t dataType = 0, std::string encoding = "xml") {
    auto frame = std::make_shared<MetaDataFrame>();
    frame->utc = utc;
    frame->timestamp = timestamp;
    frame->dataType = dataType;
    frame->encodingType = std::move(encoding);
    frame->content.assign(content.begin(), content.end());
    return frame;
}

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class MetaDataTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        ASSERT_TRUE(MetaDataFile::CreateTemplate());
    }
    void TearDown() override { platform::SetHostFolder(""); }

    fs::path TrackFolder() const {
        return host_.Path() / "KVTRecordData" / "cam1" / "2024" / "01" / "31" / "23" / "0001";
    }

    // Opens the hour of kTime through a writer, as a recorder does.
    std::shared_ptr<MetaDataFile> OpenHour(int64_t prealloc = 0) {
        writer_ = std::make_unique<MetaDataWriter>(1, TrackFolder(), folders_);
        EXPECT_TRUE(writer_->Open({"cam1", 1, kTime, kProfileNormal}, prealloc));
        return writer_->File();
    }

    const int64_t kTime = UtcSeconds(2024, 1, 31, 23, 10, 5);
    test::TempDir host_;
    std::shared_ptr<FolderInUseContainer> folders_ = FolderInUseContainer::Create();
    std::unique_ptr<MetaDataWriter> writer_;
};

TEST_F(MetaDataTest, StaleTemplateIsReplacedByAFreshOne) {
    const fs::path path = MetaDataFile::TemplatePath();
    test::WriteFile(path, "not a database");
    ASSERT_TRUE(MetaDataFile::CreateTemplate());
    SQLite::Database db = test::HourDatabase(path.string());
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM T_VER").getInt(), 1);
    EXPECT_EQ(db.execAndGet("SELECT sql FROM sqlite_master WHERE name='T_METADATA'").getString(),
              "CREATE TABLE [T_METADATA]( \t\t\t\t\t\t [UTC] INTEGER \t\t\t\t\t\t,[TIMESTAMP] int "
              "\t\t\t\t\t\t,[DATATYPE] int \t\t\t\t\t\t,[ENCODINGTYPE] VARCHAR(255) "
              "\t\t\t\t\t\t,[CONTENT] BLOB \t\t\t\t\t\t,[EXTENSION] BLOB \t\t\t\t\t\t)");
    EXPECT_EQ(db.execAndGet("SELECT sql FROM sqlite_master WHERE name='T_VER'").getString(),
              "CREATE TABLE [T_VER]( \t\t\t\t\t[VER]INTEGER \t\t\t\t\t)");
}

TEST_F(MetaDataTest, HourFileIsNamedAfterItsUtcHour) {
    EXPECT_EQ(MetaDataFile::MakeFileName(kTime), "20240131230000.kvtmtd");
    auto file = OpenHour();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Path(), TrackFolder() / "20240131230000.kvtmtd");
    EXPECT_TRUE(fs::exists(file->Path()));
}

TEST_F(MetaDataTest, RoundTripKeepsBytesNullContentAndEmptyExtension) {
    auto file = OpenHour();
    auto withExtension = Frame(kTime, 100, "<a/>");
    withExtension->extension = {1, 2, 3};
    auto empty = Frame(kTime, 200, "");
    auto quoted = Frame(kTime + 1, 300, "<b/>", 0, "x'ml");
    ASSERT_TRUE(file->Insert({withExtension, empty, quoted}));

    MetaDataFrames rows{Frame(0, 0, "kept")};
    ASSERT_TRUE(file->Read(kTime, kTime + 1, rows));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(Text(rows[0]->content), "kept");
    EXPECT_EQ(rows[1]->utc, kTime);
    EXPECT_EQ(rows[1]->timestamp, 100u);
    EXPECT_EQ(Text(rows[1]->content), "<a/>");
    EXPECT_EQ(rows[1]->extension, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(rows[2]->content.empty());
    EXPECT_EQ(rows[3]->encodingType, "x'ml");

    SQLite::Database db = test::HourDatabase(file->Path().string());
    SQLite::Statement types(db,
                            "SELECT typeof(CONTENT), typeof(EXTENSION), length(EXTENSION) "
                            "FROM T_METADATA WHERE TIMESTAMP = 200");
    ASSERT_TRUE(types.executeStep());
    EXPECT_EQ(types.getColumn(0).getString(), "null");
    EXPECT_EQ(types.getColumn(1).getString(), "blob");
    EXPECT_EQ(types.getColumn(2).getInt(), 0);
}

TEST_F(MetaDataTest, FailedInsertStoresNothingOfTheSecond) {
    auto file = OpenHour();
    {
        SQLite::Database db = test::HourDatabase(file->Path().string(), SQLite::OPEN_READWRITE);
        db.exec(
            "CREATE TRIGGER refuse BEFORE INSERT ON T_METADATA WHEN NEW.TIMESTAMP = 666 "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    }
    EXPECT_FALSE(
        file->Insert({Frame(kTime, 1, "a"), Frame(kTime, 666, "b"), Frame(kTime, 3, "c")}));
    MetaDataFrames rows;
    ASSERT_TRUE(file->Read(kTime - 3600, kTime + 3600, rows));
    EXPECT_TRUE(rows.empty());
}

// A second stored again (a conversion run again) keeps the rows of its last
// store only, by the writer that stored it first and by a later one; a
// failed store of it keeps the earlier rows.
TEST_F(MetaDataTest, ASecondStoredAgainKeepsOnlyItsLastRows) {
    const auto contents = [this](std::shared_ptr<MetaDataFile> file) {
        MetaDataFrames rows;
        EXPECT_TRUE(file->Read(kTime - 3600, kTime + 3600, rows));
        std::vector<std::string> texts;
        for (const auto& row : rows) {
            texts.push_back(std::to_string(row->utc - kTime) + ":" + Text(row->content));
        }
        return texts;
    };
    auto file = OpenHour();
    for (int s = 0; s < 3; ++s) {
        ASSERT_TRUE(file->Insert({Frame(kTime + s, 1, "a"), Frame(kTime + s, 2, "b")}));
    }
    ASSERT_TRUE(file->Insert({Frame(kTime + 1, 3, "c")}));
    EXPECT_EQ(contents(file), (std::vector<std::string>{"0:a", "0:b", "1:c", "2:a", "2:b"}));

    auto later = OpenHour();  // a new connection, as a later run's writer has
    ASSERT_TRUE(later->Insert({Frame(kTime, 4, "d"), Frame(kTime, 5, "e")}));
    ASSERT_TRUE(later->Insert({Frame(kTime + 3, 6, "f")}));
    ASSERT_TRUE(later->Insert({Frame(kTime + 3, 7, "g")}));
    EXPECT_EQ(contents(later),
              (std::vector<std::string>{"0:d", "0:e", "1:c", "2:a", "2:b", "3:g"}));

    {
        SQLite::Database db = test::HourDatabase(later->Path().string(), SQLite::OPEN_READWRITE);
        db.exec(
            "CREATE TRIGGER refuse BEFORE INSERT ON T_METADATA WHEN NEW.TIMESTAMP = 666 "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    }
    EXPECT_FALSE(later->Insert({Frame(kTime + 2, 666, "x")}));
    ASSERT_TRUE(later->Insert({Frame(kTime + 1, 8, "h")}));
    EXPECT_EQ(contents(later),
              (std::vector<std::string>{"0:d", "0:e", "1:h", "2:a", "2:b", "3:g"}));
}

TEST_F(MetaDataTest, ReadXmlTakesOnlyXmlRowsInTimeOrder) {
    auto file = OpenHour();
    ASSERT_TRUE(file->Insert({Frame(kTime + 2, 1, "late"), Frame(kTime, 2, "other", 1),
                              Frame(kTime + 1, 3, "early"), Frame(kTime + 9, 4, "outside")}));
    MetaDataFrames rows;
    ASSERT_TRUE(file->ReadXml(kTime, kTime + 5, rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Text(rows[0]->content), "early");
    EXPECT_EQ(Text(rows[1]->content), "late");
}

TEST_F(MetaDataTest, MissingHourIsAFailureThatLeavesTheOutputAlone) {
    auto file = MetaDataFile::Create(TrackFolder() / "20240131220000.kvtmtd", folders_);
    MetaDataFrames rows{Frame(0, 0, "kept")};
    EXPECT_FALSE(file->Read(0, kTime, rows));
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_FALSE(file->Insert({Frame(kTime, 1, "a")}));
}

TEST_F(MetaDataTest, ReadingCreatesNothingAndStepsThroughExtensionsInOrder) {
    const fs::path path = TrackFolder() / "20240131230000.kvtmtd";
    auto missing = MetaDataFile::Create(path, folders_);
    EXPECT_FALSE(missing->OpenForReading());
    EXPECT_FALSE(fs::exists(TrackFolder()));

    auto file = OpenHour();
    auto withExtension = [](int64_t utc, std::string extension, uint32_t dataType = 0) {
        auto frame = Frame(utc, 0, "<x/>", dataType);
        frame->extension.assign(extension.begin(), extension.end());
        return frame;
    };
    ASSERT_TRUE(file->Insert({withExtension(kTime + 2, "c")}));
    // One second's frames keep the order in which they were stored.
    ASSERT_TRUE(file->Insert({withExtension(kTime + 1, "b1"), withExtension(kTime + 1, "other", 1),
                              withExtension(kTime + 1, ""), withExtension(kTime + 1, "b3")}));
    ASSERT_TRUE(file->Insert({withExtension(kTime, "a"), withExtension(kTime + 9, "outside")}));
    writer_.reset();
    file.reset();
    const auto before = fs::last_write_time(path);

    auto reader = MetaDataFile::Create(path, folders_);
    ASSERT_TRUE(reader->OpenForReading());
    std::vector<std::pair<int64_t, std::string>> seen;
    reader->ReadExtensions(kTime, kTime + 5, [&](int64_t utc, const uint8_t* bytes, size_t size) {
        EXPECT_EQ(bytes == nullptr, size == 0);
        seen.emplace_back(utc, std::string(reinterpret_cast<const char*>(bytes), size));
    });
    using Seen = std::vector<std::pair<int64_t, std::string>>;
    EXPECT_EQ(seen, (Seen{{kTime, "a"},
                          {kTime + 1, "b1"},
                          {kTime + 1, ""},
                          {kTime + 1, "b3"},
                          {kTime + 2, "c"}}));
    // The reading connection refuses to write, and leaves no file behind.
    EXPECT_FALSE(reader->Insert({Frame(kTime, 1, "x")}));
    reader.reset();
    EXPECT_EQ(fs::last_write_time(path), before);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(TrackFolder())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"20240131230000.kvtmtd"});
}

TEST_F(MetaDataTest, NewFileIsPreSizedAndAnExistingOneNeverShrunk) {
    auto file = OpenHour(1 << 20);
    EXPECT_GE(fs::file_size(file->Path()), 1u << 20);
    ASSERT_TRUE(file->Insert({Frame(kTime, 1, "a")}));
    writer_.reset();
    const auto size = fs::file_size(TrackFolder() / "20240131230000.kvtmtd");
    auto again = OpenHour(4096);
    EXPECT_GE(fs::file_size(again->Path()), size);
    MetaDataFrames rows;
    ASSERT_TRUE(again->Read(kTime, kTime, rows));
    EXPECT_EQ(rows.size(), 1u);
}

// What a crash during an earlier, non-atomic creation could leave: a file of
// the hour's name without tables. The writer completes it instead of failing
// every second of the hour.
TEST_F(MetaDataTest, AHourFileLeftWithoutItsTablesIsCompleted) {
    fs::create_directories(TrackFolder());
    test::WriteFile(TrackFolder() / "20240131230000.kvtmtd", "");
    auto file = OpenHour();
    ASSERT_TRUE(file->Insert({Frame(kTime, 1, "a")}));
    MetaDataFrames rows;
    ASSERT_TRUE(file->Read(kTime, kTime, rows));
    EXPECT_EQ(rows.size(), 1u);
}

TEST_F(MetaDataTest, WriterAndFileHoldTheHourInUse) {
    const std::string hour = HourFolderKeyOfTrackFolder(TrackFolder());
    auto file = OpenHour();
    auto reader = MetaDataFile::Create(file->Path(), folders_);
    writer_.reset();
    file.reset();
    EXPECT_TRUE(folders_->IsInUse(hour));
    reader.reset();
    EXPECT_FALSE(folders_->IsInUse(hour));
}

TEST(MetaDataFrameBufferTest, CollectsOneSecond) {
    MetaDataFrameBuffer buffer(7);
    EXPECT_EQ(buffer.Second(), 0);
    ASSERT_TRUE(buffer.Add({1, 1000, 5}, "abc", 3));
    ASSERT_TRUE(buffer.Add({1, 1000, 6}, nullptr, 0));
    EXPECT_FALSE(buffer.Add({1, 1001, 7}, "next", 4));
    EXPECT_EQ(buffer.Frames().size(), 2u);
    EXPECT_EQ(buffer.Second(), 1000);
    EXPECT_EQ(buffer.GetTotalSize(), 3);
    EXPECT_EQ(buffer.TrackId(), 7);
    const auto& first = *buffer.Frames()[0];
    EXPECT_EQ(first.timestamp, 5u);
    EXPECT_EQ(first.encodingType, "xml");
    EXPECT_TRUE(buffer.Frames()[1]->content.empty());
}

TEST(MetaDataFrameTest, ExtensionComesFromTheConverterWhenThereIsContent) {
    auto frame = Frame(1, 1, "abcd");
    frame->extension = {9};
    frame->BuildExtension(
        [](const uint8_t*, uint32_t size) { return std::vector<uint8_t>(size, 7); });
    EXPECT_EQ(frame->extension, (std::vector<uint8_t>(4, 7)));
    auto empty = Frame(1, 1, "");
    empty->BuildExtension([](const uint8_t*, uint32_t) { return std::vector<uint8_t>{1}; });
    EXPECT_TRUE(empty->extension.empty());
}

}  // namespace
}  // namespace orvale::recorder
