#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/VolumeProvider.h"
#include "recorder/store/MetaDataWriter.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/store/HourFixture.h"
#include "tests/support/HourDatabase.h"

namespace orvale::test {
namespace {

namespace fs = std::filesystem;
using recorder::FileWriter;
using recorder::kProfileArb;
using recorder::kProfileLow;
using recorder::kProfileNormal;

int64_t Query(const fs::path& file, const std::string& sql) {
    SQLite::Database db = test::HourDatabase(file.string());
    return db.execAndGet(sql).getInt64();
}

class FileWriterTest : public HourFixture {
  protected:
    fs::path HourIndex() const { return Track() / "20240101130000.kvtidx"; }
};

TEST_F(FileWriterTest, NamesFollowTheStartTime) {
    EXPECT_EQ(FileWriter::MakeIndexFileName(kHourStart + 1507, kProfileNormal),
              "20240101130000.kvtidx");
    EXPECT_EQ(FileWriter::MakeIndexFileName(kHourStart + 1507, kProfileArb),
              "20240101130000.kvtarb");
    EXPECT_EQ(FileWriter::MakeDataFileName(kHourStart + 1507, kProfileNormal),
              "20240101132507.kvthdt");
    EXPECT_EQ(FileWriter::MakeDataFileName(kHourStart + 1507, kProfileLow),
              "20240101132507.kvtldt");
}

TEST_F(FileWriterTest, SecondsLandInTheDataFileAndTheIndex) {
    auto writer = MakeWriter(kProfileNormal, kHourStart + 7);
    const WriteResult result = WriteAndWait(*writer, Seconds(kHourStart + 7, kHourStart + 9));
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.lastTime, kHourStart + 9);
    EXPECT_EQ(result.trackId, 1);
    EXPECT_GT(result.bytes, 3u * 10000u);

    const auto data = writer->GetDataFile();
    const fs::path dataPath = data->GetPath();
    EXPECT_EQ(dataPath.filename(), "20240101130007.kvthdt");
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_INDEX"), 3);
    EXPECT_EQ(Query(HourIndex(), "SELECT min(OFFSET) FROM T_INDEX"), 4096);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_INDEX WHERE SIZE = 10000"), 3);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH = 1"), 3);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_TIMELINE WHERE MOTION = 1 AND End = 0"),
              3);

    // Each key frame's record lies where its row says, its bytes intact.
    const std::string bytes = ReadFile(dataPath);
    SQLite::Database db = test::HourDatabase(HourIndex().string());
    SQLite::Statement rows(db, "SELECT UTC, OFFSET FROM T_INDEX ORDER BY UTC");
    while (rows.executeStep()) {
        const auto offset = static_cast<size_t>(rows.getColumn(1).getInt64());
        ASSERT_LT(offset + 40, bytes.size());
        EXPECT_EQ(static_cast<uint8_t>(bytes[offset + 2]), 1);  // record marker
        EXPECT_EQ(static_cast<uint8_t>(bytes[offset + 12 + 27]),
                  static_cast<uint8_t>(rows.getColumn(0).getInt64()));
    }

    const int64_t writtenEnd = data->GetWrittenEnd();
    writer->Close();
    EXPECT_EQ(Query(HourIndex(), "SELECT UTC FROM T_INDEX WHERE END = 1"), kHourStart + 9);
    EXPECT_EQ(Query(HourIndex(), "SELECT ENDOFFSET FROM T_INDEX WHERE END = 1"), writtenEnd);
    EXPECT_EQ(Query(HourIndex(), "SELECT ENDTIME FROM T_INDEX WHERE END = 1"), kHourStart + 9);
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(dataPath)), writtenEnd + (1 << 20));
}

TEST_F(FileWriterTest, NextDataFileReusesTheHourIndexAndProfilesShareIt) {
    auto first = MakeWriter(kProfileNormal, kHourStart, 256 << 10);
    WriteAndWait(*first, Seconds(kHourStart, kHourStart + 9));
    EXPECT_LT(first->GetRemainingSize(), 256 << 10);
    first->Close();
    auto second = MakeWriter(kProfileNormal, kHourStart + 10);
    auto low = MakeWriter(kProfileLow, kHourStart + 10);
    WriteAndWait(*second, Seconds(kHourStart + 10, kHourStart + 11));
    WriteAndWait(*low, Seconds(kHourStart + 10, kHourStart + 12, 2000));
    second->Close();
    low->Close();

    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_INDEX"), 12);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(DISTINCT NAME) FROM T_INDEX"), 2);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_INDEX WHERE END = 1"), 2);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_LOWINDEX"), 3);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_DUALTRACKINDEX"), 3600);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH AND LOW"), 2);
    EXPECT_TRUE(fs::exists(Track() / "20240101130010.kvtldt"));
}

// An hour index that a crash left without its pre-filled rows is completed by
// the writer that finds it, so that its seconds can be played and searched.
TEST_F(FileWriterTest, AnHourIndexLeftWithoutItsRowsIsCompleted) {
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> leftovers = {
        {"zero-length", [](const fs::path& file) { test::WriteFile(file, ""); }},
        {"without tables",
         [](const fs::path& file) {
             SQLite::Database db =
                 test::HourDatabase(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
             db.exec("PRAGMA user_version = 7");
         }},
        {"part of the rows",
         [](const fs::path& file) {
             ASSERT_TRUE(recorder::IndexFile::CreateTables(file));
             SQLite::Database db = test::HourDatabase(file.string(), SQLite::OPEN_READWRITE);
             db.exec("INSERT INTO T_DUALTRACKINDEX VALUES(1704114000, 0, 1)");
             db.exec("INSERT INTO T_TIMELINE (UTC, End) VALUES(1704114001, 1)");
         }},
    };
    for (const auto& [name, leave] : leftovers) {
        SCOPED_TRACE(name);
        fs::remove_all(Track());
        fs::create_directories(Track());
        leave(HourIndex());
        auto writer = MakeWriter(kProfileNormal, kHourStart + 5);
        EXPECT_EQ(WriteAndWait(*writer, Seconds(kHourStart + 5, kHourStart + 6)).error, 0);
        writer->Close();

        EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_DUALTRACKINDEX"), 3600);
        EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_TIMELINE"), 3601);
        EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_INDEX"), 2);
        EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_TIMELINE WHERE End = 0"), 2);
        EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH = 1"), 2);
        auto reader = recorder::FileReader::Create(Track(), kProfileNormal, "", pool_.IoService(),
                                                   nullptr, folders_);
        ASSERT_TRUE(reader->OpenIndexFile(kHourStart));
        EXPECT_EQ(reader->FindIndexAt(kHourStart, true), kHourStart + 5);
    }
}

TEST_F(FileWriterTest, RemainingSizeCountsQueuedBuffers) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    const auto data = writer->GetDataFile();
    // Hold the channel's queue with a command that finishes only when told.
    std::promise<recorder::WriteCommandHandler::Done> held;
    writes_->Enqueue("cam1", {[&held](unsigned, recorder::WriteCommandHandler::Done done) {
                                  held.set_value(std::move(done));
                              },
                              nullptr});
    auto b1 = Seconds(kHourStart, kHourStart + 1);
    auto b2 = Seconds(kHourStart + 2, kHourStart + 2);
    auto empty = std::make_shared<recorder::WriteBuffer>(4096);
    const auto used1 = static_cast<int64_t>(b1->UsedLength());
    const auto used2 = static_cast<int64_t>(b2->UsedLength());
    std::promise<void> written;
    int results = 0;
    auto count = [&](uint32_t, int32_t, const std::string&, uint64_t, int64_t, int32_t) {
        if (++results == 3) written.set_value();
    };
    writer->Write(b1, count);
    writer->Write(b2, count);
    writer->Write(empty, count);
    EXPECT_EQ(writer->GetRemainingSize(),
              data->GetFileSize() - data->GetWrittenEnd() - used1 - used2);
    held.get_future().get()(0, 0, "", 0, 0, 0);
    ASSERT_EQ(written.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    writer->Close();
}

TEST_F(FileWriterTest, ArbWritersMergeIntoTheHourUnderTheirOwnNames) {
    auto normal = MakeWriter(kProfileNormal, kHourStart);
    WriteAndWait(*normal, Seconds(kHourStart, kHourStart + 1));
    normal->Close();
    for (const int64_t start : {kHourStart + 30, kHourStart + 40}) {
        auto arb = MakeWriter(kProfileArb, start);
        EXPECT_TRUE(fs::exists(Track() / "20240101130000.kvtarb"));
        WriteAndWait(*arb, Seconds(start, start + 1));
        arb->Close();
        EXPECT_FALSE(fs::exists(Track() / "20240101130000.kvtarb"));
    }
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_INDEX"), 6);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(DISTINCT NAME) FROM T_INDEX"), 3);
    EXPECT_EQ(
        Query(HourIndex(), "SELECT count(*) FROM T_INDEX WHERE NAME = '20240101130040.kvthdt'"), 2);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_TIMELINE WHERE ARB = 1 AND End = 0"), 4);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH = 1"), 6);
}

TEST_F(FileWriterTest, ArbMergeCreatesAMissingHourIndex) {
    auto arb = MakeWriter(kProfileArb, kHourStart + 5);
    WriteAndWait(*arb, Seconds(kHourStart + 5, kHourStart + 6));
    arb->Close();
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_INDEX"), 2);
    EXPECT_EQ(Query(HourIndex(), "SELECT count(*) FROM T_TIMELINE"), 3601);
}

TEST_F(FileWriterTest, RemovedHourFolderStopsTheWriter) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    fs::remove_all(Track());
    EXPECT_FALSE(writer->FolderExists());
    const WriteResult result = WriteAndWait(*writer, Seconds(kHourStart, kHourStart));
    EXPECT_NE(result.error, 0);
    writer->Close();  // returns at once: nothing queued, no folder
    EXPECT_FALSE(fs::exists(Track()));
}

TEST_F(FileWriterTest, AbsentDriveGetsNoFolders) {
    auto volumes = std::make_shared<FakeVolumeProvider>();
    volumes->AddFixed('D', host_.Str(), 100 * kGiB, 50 * kGiB);
    volumes->SetPresent('D', false);
    platform::InstallVolumeProvider(volumes);
    auto writer = FileWriter::Create(1, Track(), "D", pool_.IoService(), writes_, folders_);
    const recorder::record_file_info_s location{"cam1", 1, kHourStart, kProfileNormal};
    EXPECT_FALSE(writer->CreateDataFile(location, 1 << 20));
    EXPECT_FALSE(writer->CreateIndexFile(location));
    recorder::MetaDataWriter meta(1, Track(), folders_, "D");
    EXPECT_FALSE(meta.Open(location, 0));
    EXPECT_FALSE(fs::exists(Track()));
    platform::InstallVolumeProvider(nullptr);
}

TEST_F(FileWriterTest, WriterHoldsItsHourInUse) {
    const std::string hour = recorder::HourFolderKeyOfTrackFolder(Track());
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    EXPECT_TRUE(folders_->IsInUse(hour));
    writer->Close();
    writer.reset();
    EXPECT_FALSE(folders_->IsInUse(hour));
}

}  // namespace
}  // namespace orvale::test
