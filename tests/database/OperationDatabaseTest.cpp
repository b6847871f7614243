// The operation database of a drive: its file, TRACKID and LASTTIME.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "recorder/database/OperationDatabase.h"
#include "tests/database/DatabaseTestSupport.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

using test::LogCapture;
using test::RawFile;
using test::Wide;
using Rows = std::vector<std::vector<std::string>>;

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class OperationDatabaseTest : public ::testing::Test {
  protected:
    std::filesystem::path File() const { return dir_.Path() / "KVTRecordData" / "operation.kvtdb"; }
    bool Open() { return db_->Open(Wide(File())); }

    test::TempDir dir_;
    LogCapture log_;
    std::shared_ptr<OperationDatabase> db_ = std::make_shared<OperationDatabase>();
};

TEST_F(OperationDatabaseTest, NewFileHoldsTrackIdOneAndItsCreationTime) {
    const int64_t before = Now();
    ASSERT_TRUE(Open());
    const int64_t after = Now();

    int trackId = 0;
    int64_t lastTime = 0;
    EXPECT_TRUE(db_->GetTrackId(trackId));
    EXPECT_TRUE(db_->GetLastTime(lastTime));
    EXPECT_EQ(trackId, 1);
    EXPECT_GE(lastTime, before);
    EXPECT_LE(lastTime, after);

    RawFile raw(File());
    EXPECT_EQ(raw.Rows("SELECT name, sql FROM sqlite_master WHERE type = 'table' ORDER BY rowid"),
              Rows({{"T_VER", "CREATE TABLE [T_VER]( \t\t\t\t\t[VER]INTEGER \t\t\t\t\t)"},
                    {"T_KEYVALUE_INT",
                     "CREATE TABLE [T_KEYVALUE_INT]( \t\t\t\t\t[NAME]VARCHAR(32) "
                     "\t\t\t\t\t,[VALUE]INTEGER \t\t\t\t\t,CONSTRAINT [PK_T_KEYVALUE_INT] "
                     "PRIMARY KEY ([NAME]) \t\t\t\t\t)"}}));
    EXPECT_EQ(raw.Rows("SELECT * FROM [T_VER]"), Rows({{"1"}}));
    EXPECT_EQ(raw.Count("T_KEYVALUE_INT"), 2);
    EXPECT_EQ(raw.Rows("PRAGMA journal_mode"), Rows({{"wal"}}));
}

TEST_F(OperationDatabaseTest, ValuesAreStoredAndReadBackUnchanged) {
    const struct {
        int trackId;
        uint64_t lastTime;
    } cases[] = {
        {5, 1'600'000'000},
        {std::numeric_limits<int32_t>::max(), 4'102'444'800},  // 2100-01-01
        {1, 0},
    };
    ASSERT_TRUE(Open());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trackId);
        ASSERT_TRUE(db_->SetTrackId(c.trackId));
        ASSERT_TRUE(db_->SetLastTime(c.lastTime));

        auto reopened = std::make_shared<OperationDatabase>();
        ASSERT_TRUE(reopened->Open(Wide(File())));
        int trackId = 0;
        int64_t lastTime = -1;
        EXPECT_TRUE(reopened->GetTrackId(trackId));
        EXPECT_TRUE(reopened->GetLastTime(lastTime));
        EXPECT_EQ(trackId, c.trackId);
        EXPECT_EQ(lastTime, static_cast<int64_t>(c.lastTime));
    }
    EXPECT_EQ(RawFile(File()).Count("T_KEYVALUE_INT"), 2);
}

TEST_F(OperationDatabaseTest, MissingRowIsNeitherReadNorAdded) {
    ASSERT_TRUE(Open());
    RawFile(File()).Exec("DELETE FROM [T_KEYVALUE_INT] WHERE NAME = 'LASTTIME'");

    EXPECT_TRUE(db_->SetLastTime(1234));
    int64_t lastTime = 99;
    EXPECT_FALSE(db_->GetLastTime(lastTime));
    EXPECT_EQ(lastTime, 99);
    EXPECT_EQ(RawFile(File()).Count("T_KEYVALUE_INT"), 1);
    EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(OperationDatabaseTest, EveryOperationBeforeOpenReportsNoConnection) {
    const struct {
        const char* name;
        std::function<bool(OperationDatabase&)> run;
    } cases[] = {
        {"GetTrackId",
         [](OperationDatabase& db) {
             int trackId = 0;
             return db.GetTrackId(trackId);
         }},
        {"SetTrackId", [](OperationDatabase& db) { return db.SetTrackId(5); }},
        {"GetLastTime",
         [](OperationDatabase& db) {
             int64_t lastTime = 0;
             return db.GetLastTime(lastTime);
         }},
        {"SetLastTime", [](OperationDatabase& db) { return db.SetLastTime(5); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_.Clear();
        EXPECT_FALSE(c.run(*db_));
        const auto lines = log_.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].severity, common::kLogFatal);
        EXPECT_TRUE(test::EndsWith(lines[0].text, "): Failed to connect db.")) << lines[0].text;
    }
    EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(OperationDatabaseTest, ReopeningAnExistingFileKeepsItsValues) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(db_->SetTrackId(8));
    db_ = std::make_shared<OperationDatabase>();
    ASSERT_TRUE(Open());
    int trackId = 0;
    EXPECT_TRUE(db_->GetTrackId(trackId));
    EXPECT_EQ(trackId, 8);
    EXPECT_EQ(RawFile(File()).Count("T_VER"), 1);
}

TEST_F(OperationDatabaseTest, BlankFileIsMadeAnew) {
    std::filesystem::create_directories(File().parent_path());
    test::WriteFile(File(), "");
    ASSERT_TRUE(Open());
    int trackId = 0;
    EXPECT_TRUE(db_->GetTrackId(trackId));
    EXPECT_EQ(trackId, 1);
}

// A file removed or replaced while open: the next write goes to the file that
// the path names now, never into the one that is gone.
TEST_F(OperationDatabaseTest, FileChangedUnderneathIsOpenedAnew) {
    const auto moved = dir_.Path() / "moved.kvtdb";
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path&)> change;
        int expectedTrackId;  // what the path's file holds before the write
    } cases[] = {
        {"removed", [](const auto& file) { std::filesystem::remove(file); }, 1},
        {"replaced",
         [&](const auto& file) {
             std::filesystem::rename(file, moved);
             auto other = std::make_shared<OperationDatabase>();
             ASSERT_TRUE(other->Open(Wide(file)));
             ASSERT_TRUE(other->SetTrackId(40));
         },
         40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(File().parent_path());
        db_ = std::make_shared<OperationDatabase>();
        ASSERT_TRUE(Open());
        ASSERT_TRUE(db_->SetTrackId(7));
        c.change(File());
        log_.Clear();

        int trackId = 0;
        EXPECT_TRUE(db_->GetTrackId(trackId));
        EXPECT_EQ(trackId, c.expectedTrackId);
        EXPECT_TRUE(db_->SetLastTime(5000));
        int64_t lastTime = 0;
        EXPECT_TRUE(RawFile(File()).Rows("SELECT VALUE FROM [T_KEYVALUE_INT] WHERE NAME = "
                                         "'LASTTIME'") == Rows({{"5000"}}));
        EXPECT_TRUE(db_->GetLastTime(lastTime));
        EXPECT_EQ(lastTime, 5000);
        const auto warnings = log_.LinesFrom(common::kLogWarning);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0].severity, common::kLogWarning);
    }
}

}  // namespace
}  // namespace orvale::recorder
