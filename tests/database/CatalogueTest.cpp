// The catalogue file as a whole: how it is made, opened, reopened and
// closed, and how every table operation reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recorder/database/QzDatabase.h"
#include "tests/database/DatabaseTestSupport.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

using test::LogCapture;
using test::RawFile;
using test::Wide;
using Rows = std::vector<std::vector<std::string>>;

const std::string kCreateChannel =
    "CREATE TABLE [T_CHANNEL]( \t\t\t\t\t[ID]VARCHAR(62) \t\t\t\t\t,[SCHEDULEID]VARCHAR(62) "
    "\t\t\t\t\t,[DISK]VARCHAR(255) \t\t\t\t\t,[RETENTIONTIME]INTEGER \t\t\t\t\t,[PROTOCOL]INTEGER "
    "\t\t\t\t\t,[MOTION_PRE_RECTIME]INTEGER \t\t\t\t\t,[MOTION_POST_RECTIME]INTEGER "
    "\t\t\t\t\t,[ALARM_PRE_RECTIME]INTEGER \t\t\t\t\t,[ALARM_POST_RECTIME]INTEGER "
    "\t\t\t\t\t,[VLOSS_PRE_RECTIME]INTEGER \t\t\t\t\t,[IV_PRE_RECTIME]INTEGER "
    "\t\t\t\t\t,[IV_POST_RECTIME]INTEGER \t\t\t\t\t,[AUDIO_PRE_RECTIME]INTEGER "
    "\t\t\t\t\t,[AUDIO_POST_RECTIME]INTEGER \t\t\t\t\t,[AUDIO_RECORD]BOOLEAN "
    "\t\t\t\t\t,[ARB]BOOLEAN "
    "\t\t\t\t\t,[CONTINUOUS_ONLY_FOR_LOW]BOOLEAN \t\t\t\t\t,[ENCRYPT]BOOLEAN "
    "\t\t\t\t\t,[FAILOVERSTATUS]BOOLEAN \t\t\t\t\t,CONSTRAINT [PK_T_CHANNEL] PRIMARY KEY ([ID]) "
    "\t\t\t\t\t)";
const std::string kCreateBookmark =
    "CREATE TABLE [T_BOOKMARK]( \t\t\t [GUID]VARCHAR(64) \t\t\t,[START_TIME]INTEGER "
    "\t\t\t,[END_TIME]INTEGER \t\t\t,[DESCRIPTION]VARCHAR(255) \t\t\t,[TRACKID]INTEGER "
    "\t\t\t,[LOCK]BOOLEAN \t\t\t)";

// The tables of a new catalogue, in the order they are made.
const Rows kNewCatalogueTables = {
    {"T_VER", "CREATE TABLE [T_VER]( \t\t\t\t\t[VER]INTEGER \t\t\t\t\t)"},
    {"T_COMMON",
     "CREATE TABLE [T_COMMON]( \t\t\t\t\t[NAME]VARCHAR(62) \t\t\t\t\t,[VALUE]BOOLEAN \t\t\t\t\t)"},
    {"T_CHANNEL", kCreateChannel},
    {"T_DRIVE",
     "CREATE TABLE [T_DRIVE]( \t\t\t\t\t[NAME]VARCHAR(64) \t\t\t\t\t,[STATUS]INTEGER "
     "\t\t\t\t\t,[TYPE]INTEGER \t\t\t\t\t,CONSTRAINT [PK_T_DRIVE] PRIMARY KEY ([NAME]) "
     "\t\t\t\t\t)"},
    {"T_BOOKMARK", kCreateBookmark},
    {"T_ARB",
     "CREATE TABLE [T_ARB]( \t\t\t\t\t[CAMERAID]VARCHAR(64) \t\t\t\t\t,[DISCONNECT_TIME]INTEGER "
     "\t\t\t\t\t,[RECONNECT_TIME]INTEGER \t\t\t\t\t,[TRACKID]INTEGER \t\t\t\t\t,[DST_ON]BOOLEAN "
     "\t\t\t\t\t,[DST_OVERLAP]BOOLEAN \t\t\t\t\t)"},
};

const char* kTablesQuery =
    "SELECT name, sql FROM sqlite_master WHERE type = 'table' ORDER BY rowid";

class CatalogueTest : public ::testing::Test {
  protected:
    std::filesystem::path File() const { return dir_.Path() / "DB" / "orvale.kvtdb"; }
    bool Open() { return db_->Open(Wide(File())); }
    // Closes the catalogue and opens the file with a new object, as a new run would.
    bool Reopen() {
        db_->Close();
        db_ = std::make_shared<QzDatabase>();
        return Open();
    }
    bool HasNoTables() const {
        return !db_->GetCommonTable() && !db_->GetChannelTable() && !db_->GetDriveTable() &&
               !db_->GetBookmarkTable() && !db_->GetArbTable();
    }

    test::TempDir dir_;
    LogCapture log_;
    std::shared_ptr<QzDatabase> db_ = std::make_shared<QzDatabase>();
};

TEST_F(CatalogueTest, NewCatalogueHoldsEveryTableInOrderWithTheDefaultRows) {
    ASSERT_FALSE(std::filesystem::exists(File().parent_path()));
    ASSERT_TRUE(Open());

    ASSERT_EQ(kCreateChannel.size(), 648u);
    ASSERT_EQ(kCreateBookmark.size(), 168u);
    RawFile raw(File());
    EXPECT_EQ(raw.Rows(kTablesQuery), kNewCatalogueTables);
    EXPECT_EQ(raw.Rows("SELECT * FROM [T_VER]"), Rows({{"1"}}));
    EXPECT_EQ(raw.Rows("SELECT * FROM [T_COMMON]"),
              Rows({{"OVERWRITE", "1"}, {"DUALRECORD", "1"}}));
    for (const char* table : {"T_CHANNEL", "T_DRIVE", "T_BOOKMARK", "T_ARB"}) {
        EXPECT_EQ(raw.Count(table), 0) << table;
    }
    EXPECT_EQ(raw.Rows("PRAGMA journal_mode"), Rows({{"wal"}}));
    EXPECT_FALSE(db_->Modified());
    EXPECT_TRUE(log_.LinesFrom(common::kLogWarning).empty());
}

TEST_F(CatalogueTest, OpeningAnExistingCatalogueAddsNothing) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Open());  // a second Open on the same object
    ASSERT_TRUE(Reopen());

    RawFile raw(File());
    EXPECT_EQ(raw.Rows(kTablesQuery), kNewCatalogueTables);
    EXPECT_EQ(raw.Count("T_VER"), 1);
    EXPECT_EQ(raw.Count("T_COMMON"), 2);
}

TEST_F(CatalogueTest, SettingsAndChannelsSurviveCloseAndReopen) {
    ASSERT_TRUE(Open());
    media_channel_s channel;
    channel.id = "Bob's camera";
    channel.scheduleId = "7";
    channel.disk = "DE";
    channel.retentionTime = 30;
    channel.motion.preRecTime = 5;
    channel.failoverStatus = true;
    ASSERT_TRUE(db_->GetCommonTable()->SetValue("DUALRECORD", false));
    ASSERT_TRUE(db_->GetChannelTable()->Insert(channel));

    ASSERT_TRUE(Reopen());

    bool dualRecord = true;
    bool overwrite = false;
    EXPECT_TRUE(db_->GetCommonTable()->GetValue("DUALRECORD", dualRecord));
    EXPECT_TRUE(db_->GetCommonTable()->GetValue("OVERWRITE", overwrite));
    EXPECT_FALSE(dualRecord);
    EXPECT_TRUE(overwrite);
    media_channel_s stored;
    stored.id = channel.id;
    ASSERT_TRUE(db_->GetChannelTable()->Select(stored));
    EXPECT_EQ(stored.scheduleId, "7");
    EXPECT_EQ(stored.disk, "DE");
    EXPECT_EQ(stored.retentionTime, 30u);
    EXPECT_EQ(stored.motion.preRecTime, 5u);
    EXPECT_TRUE(stored.failoverStatus);
}

// What a crash during an older creation can leave counts as no catalogue.
TEST_F(CatalogueTest, BlankFilesAreMadeAnew) {
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
    } cases[] = {
        {"zero length", [](const auto& file) { test::WriteFile(file, ""); }},
        {"database without tables",
         [](const auto& file) { RawFile(file).Exec("PRAGMA user_version = 7"); }},
        {"database with a view only",
         [](const auto& file) { RawFile(file).Exec("CREATE VIEW [V] AS SELECT 1"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(File().parent_path());
        std::filesystem::create_directories(File().parent_path());
        c.make(File());
        db_ = std::make_shared<QzDatabase>();
        ASSERT_TRUE(Open());
        RawFile raw(File());
        EXPECT_EQ(raw.Count("T_COMMON"), 2);
        EXPECT_EQ(raw.Count("T_VER"), 1);
        db_->Close();
    }
}

TEST_F(CatalogueTest, FileLackingOneTableStillOpensWithItsRows) {
    ASSERT_TRUE(Open());
    media_channel_s channel;
    channel.id = "CAM01";
    ASSERT_TRUE(db_->GetChannelTable()->Insert(channel));
    db_->Close();
    RawFile(File()).Exec("DROP TABLE [T_BOOKMARK]");

    db_ = std::make_shared<QzDatabase>();
    ASSERT_TRUE(Open());
    EXPECT_TRUE(db_->GetChannelTable()->Exists("CAM01"));
    log_.Clear();
    EXPECT_FALSE(db_->GetBookmarkTable()->Insert(media_bookmark_s{}));
    const auto errors = log_.LinesFrom(common::kLogWarning);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].text.find("no such table: T_BOOKMARK, Query:INSERT INTO [T_BOOKMARK]"),
              std::string::npos)
        << errors[0].text;
    EXPECT_EQ(RawFile(File()).Count("T_CHANNEL"), 1);
}

TEST_F(CatalogueTest, FailedCreationLeavesNoFileBehind) {
    // A view under a table's name makes the creation fail half-way, after
    // T_VER and T_COMMON were made.
    std::filesystem::create_directories(File().parent_path());
    RawFile(File()).Exec("CREATE VIEW [T_CHANNEL] AS SELECT 1");

    EXPECT_FALSE(Open());
    EXPECT_TRUE(HasNoTables());
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        EXPECT_FALSE(std::filesystem::exists(File().string() + suffix)) << suffix;
    }
    const auto errors = log_.LinesFrom(common::kLogWarning);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].severity, common::kLogError);
}

TEST_F(CatalogueTest, OpenFailuresAreLoggedAndLeaveTheFileAlone) {
    const struct {
        const char* name;
        std::function<std::filesystem::path(const std::filesystem::path&)> make;
    } cases[] = {
        {"folder cannot be made",
         [](const auto& root) {
             test::WriteFile(root / "plain-file", "x");
             return root / "plain-file" / "DB" / "orvale.kvtdb";
         }},
        {"not a database",
         [](const auto& root) {
             test::WriteFile(root / "garbage.kvtdb", std::string(4096, 'g'));
             return root / "garbage.kvtdb";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = c.make(dir_.Path());
        const bool existed = std::filesystem::exists(file);
        log_.Clear();
        db_ = std::make_shared<QzDatabase>();

        EXPECT_FALSE(db_->Open(Wide(file)));
        EXPECT_TRUE(HasNoTables());
        const auto errors = log_.LinesFrom(common::kLogWarning);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].severity, common::kLogError);
        if (existed) {
            EXPECT_EQ(test::ReadFile(file), std::string(4096, 'g'));
        }
    }
}

TEST_F(CatalogueTest, ClosedCatalogueKeepsItsTablesButReportsNoConnection) {
    EXPECT_TRUE(HasNoTables());
    ASSERT_TRUE(Open());
    const auto bookmarks = db_->GetBookmarkTable();
    db_->Close();

    EXPECT_EQ(db_->GetBookmarkTable(), bookmarks);
    log_.Clear();
    EXPECT_EQ(bookmarks->GetLastInsertRowId(), -1);
    const auto lines = log_.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].severity, common::kLogFatal);
    EXPECT_TRUE(test::EndsWith(lines[0].text, "): Failed to connect db.")) << lines[0].text;
}

// Every table operation, with the statement it runs and whether it writes.
struct Operation {
    const char* name;  // class::method
    std::function<bool(QzDatabase&)> run;
    std::string statement;
    bool writes;

    // Log lines name the table's own source file.
    std::string LinePrefix() const {
        const std::string text = name;
        return "[" + text.substr(0, text.find("::")) + "](LINE:";
    }
};

media_channel_s Channel() {
    media_channel_s channel;
    channel.id = "CAM01";
    channel.scheduleId = "1";
    channel.disk = "DE";
    return channel;
}

media_arb_s Arb() {
    media_arb_s arb;
    arb.rowId = 5;
    arb.cameraId = "cam1";
    arb.disconnectTime = 1000;
    arb.trackId = 1;
    return arb;
}

media_bookmark_s Bookmark() {
    media_bookmark_s bookmark;
    bookmark.rowId = 7;
    bookmark.guid = "CAM01";
    bookmark.startTime = 100;
    bookmark.endTime = 160;
    bookmark.description = "Door";
    bookmark.trackId = 1;
    return bookmark;
}

const std::vector<Operation>& Operations() {
    static const std::vector<Operation> operations = {
        {"CommonTable::GetValue",
         [](QzDatabase& db) {
             bool value = false;
             return db.GetCommonTable()->GetValue("OVERWRITE", value);
         },
         "SELECT * FROM [T_COMMON] WHERE NAME = 'OVERWRITE'", false},
        {"CommonTable::SetValue",
         [](QzDatabase& db) { return db.GetCommonTable()->SetValue("DUALRECORD", false); },
         "UPDATE [T_COMMON] SET VALUE = 0 WHERE NAME = 'DUALRECORD'", true},
        {"DriveTable::SelectAll",
         [](QzDatabase& db) {
             std::map<std::string, media_drive_s> drives;
             return db.GetDriveTable()->SelectAll(drives);
         },
         "SELECT * FROM [T_DRIVE] ", false},
        {"DriveTable::Insert",
         [](QzDatabase& db) {
             return db.GetDriveTable()->Insert(
                 {"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_ALLOCATE, 7});
         },
         "INSERT INTO [T_DRIVE] VALUES('D',1,3)", true},
        {"DriveTable::Update",
         [](QzDatabase& db) {
             return db.GetDriveTable()->Update(
                 {"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, 7});
         },
         "UPDATE [T_DRIVE] SET STATUS = 2,TYPE = 3 WHERE NAME = 'D'", true},
        {"DriveTable::Delete", [](QzDatabase& db) { return db.GetDriveTable()->Delete("D"); },
         "DELETE FROM [T_DRIVE] WHERE NAME = 'D'", true},
        {"ArbTable::SelectAll",
         [](QzDatabase& db) {
             std::map<int64_t, media_arb_s> records;
             return db.GetArbTable()->SelectAll(records);
         },
         "SELECT rowid, * FROM [T_ARB] ", false},
        {"ArbTable::SelectByCameraId",
         [](QzDatabase& db) {
             std::map<int64_t, media_arb_s> records;
             return db.GetArbTable()->SelectByCameraId("cam1", records);
         },
         "SELECT rowid, * FROM [T_ARB] WHERE CAMERAID = ?", false},
        {"ArbTable::Insert",
         [](QzDatabase& db) {
             auto arb = Arb();
             return db.GetArbTable()->Insert(arb);
         },
         "INSERT INTO [T_ARB] VALUES(?,1000,0,1,0,0)", true},
        {"ArbTable::UpdateReconnectTime",
         [](QzDatabase& db) {
             auto arb = Arb();
             arb.reconnectTime = 2000;
             return db.GetArbTable()->UpdateReconnectTime(arb);
         },
         "UPDATE [T_ARB] SET RECONNECT_TIME = '2000' WHERE rowid = '5'", true},
        {"ArbTable::DeleteByRowId",
         [](QzDatabase& db) { return db.GetArbTable()->DeleteByRowId(5); },
         "DELETE FROM [T_ARB] WHERE rowid = '5'", true},
        {"ArbTable::DeleteByCameraId",
         [](QzDatabase& db) { return db.GetArbTable()->DeleteByCameraId("x' OR '1'='1"); },
         "DELETE FROM [T_ARB] WHERE CAMERAID = ?", true},
        {"ChannelTable::SelectAll",
         [](QzDatabase& db) {
             ChannelTable::ChannelMap channels;
             return db.GetChannelTable()->SelectAll(channels);
         },
         "SELECT * FROM [T_CHANNEL]", false},
        {"ChannelTable::SelectFailOver",
         [](QzDatabase& db) {
             ChannelTable::ChannelMap channels;
             return db.GetChannelTable()->SelectFailOver(channels);
         },
         "SELECT * FROM [T_CHANNEL] WHERE FAILOVERSTATUS = 1", false},
        {"ChannelTable::SelectNotFailOver",
         [](QzDatabase& db) {
             ChannelTable::ChannelMap channels;
             return db.GetChannelTable()->SelectNotFailOver(channels);
         },
         "SELECT * FROM [T_CHANNEL] WHERE FAILOVERSTATUS = 0", false},
        {"ChannelTable::Exists",
         [](QzDatabase& db) { return db.GetChannelTable()->Exists("CAM01"); },
         "SELECT * FROM [T_CHANNEL] WHERE ID = 'CAM01'", false},
        {"ChannelTable::Select",
         [](QzDatabase& db) {
             auto channel = Channel();
             return db.GetChannelTable()->Select(channel);
         },
         "SELECT * FROM [T_CHANNEL] WHERE ID = 'CAM01'", false},
        {"ChannelTable::Insert",
         [](QzDatabase& db) { return db.GetChannelTable()->Insert(Channel()); },
         "INSERT INTO [T_CHANNEL] VALUES('CAM01','1','DE',0,0,0,10,0,10,0,0,10,0,10,1,0,0,0,0)",
         true},
        {"ChannelTable::Update",
         [](QzDatabase& db) { return db.GetChannelTable()->Update(Channel()); },
         "UPDATE [T_CHANNEL] SET SCHEDULEID = '1', DISK = 'DE', RETENTIONTIME = 0, PROTOCOL = 0, "
         "MOTION_PRE_RECTIME = 0, MOTION_POST_RECTIME = 10, ALARM_PRE_RECTIME = 0, "
         "ALARM_POST_RECTIME = 10, VLOSS_PRE_RECTIME = 0, IV_PRE_RECTIME = 0, IV_POST_RECTIME = "
         "10, "
         "AUDIO_PRE_RECTIME = 0, AUDIO_POST_RECTIME = 10, AUDIO_RECORD = 1, ARB = 0, "
         "CONTINUOUS_ONLY_FOR_LOW = 0, ENCRYPT = 0, FAILOVERSTATUS = 0 WHERE ID = 'CAM01'",
         true},
        {"ChannelTable::UpdateDisk",
         [](QzDatabase& db) { return db.GetChannelTable()->UpdateDisk("CAM01", "DE"); },
         "UPDATE [T_CHANNEL] SET DISK = 'DE' WHERE ID = 'CAM01'", true},
        {"ChannelTable::UpdateScheduleId",
         [](QzDatabase& db) { return db.GetChannelTable()->UpdateScheduleId("CAM01", "2"); },
         "UPDATE [T_CHANNEL] SET SCHEDULEID = '2' WHERE ID = 'CAM01'", true},
        {"ChannelTable::Delete",
         [](QzDatabase& db) { return db.GetChannelTable()->Delete("CAM01"); },
         "DELETE FROM [T_CHANNEL] WHERE ID = 'CAM01'", true},
        {"BookmarkTable::SelectByGuid",
         [](QzDatabase& db) {
             std::map<long long, media_bookmark_s> bookmarks;
             return db.GetBookmarkTable()->SelectByGuid("CAM01", bookmarks);
         },
         "SELECT rowid, * FROM [T_BOOKMARK] WHERE GUID = ?", false},
        {"BookmarkTable::Insert",
         [](QzDatabase& db) { return db.GetBookmarkTable()->Insert(Bookmark()); },
         "INSERT INTO [T_BOOKMARK] VALUES(?,100,160,?,1,0)", true},
        {"BookmarkTable::Update",
         [](QzDatabase& db) { return db.GetBookmarkTable()->Update(Bookmark()); },
         "UPDATE [T_BOOKMARK] SET START_TIME = '100', END_TIME = '160', DESCRIPTION = ? WHERE "
         "rowid = '7'",
         true},
        {"BookmarkTable::DeleteByRowId",
         [](QzDatabase& db) { return db.GetBookmarkTable()->DeleteByRowId(7); },
         "DELETE FROM [T_BOOKMARK] WHERE rowid = '7'", true},
        {"BookmarkTable::DeleteByGuid",
         [](QzDatabase& db) { return db.GetBookmarkTable()->DeleteByGuid("CAM01"); },
         "DELETE FROM [T_BOOKMARK] WHERE GUID = ?", true},
    };
    return operations;
}

// A catalogue file that holds only T_VER opens, and then every operation
// fails on its missing table, which shows the statement it ran.
TEST_F(CatalogueTest, BrokenStatementLogsItsTextAndFails) {
    std::filesystem::create_directories(File().parent_path());
    RawFile(File()).Exec("CREATE TABLE [T_VER]( [VER]INTEGER )");
    ASSERT_TRUE(Open());

    for (const auto& operation : Operations()) {
        SCOPED_TRACE(operation.name);
        log_.Clear();
        EXPECT_FALSE(operation.run(*db_));
        const auto lines = log_.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].severity, common::kLogError);
        EXPECT_NE(lines[0].text.find("no such table"), std::string::npos) << lines[0].text;
        EXPECT_EQ(lines[0].text.rfind(operation.LinePrefix(), 0), 0u) << lines[0].text;
        EXPECT_TRUE(test::EndsWith(lines[0].text, ", Query:" + operation.statement))
            << lines[0].text;
        EXPECT_FALSE(db_->Modified());
    }
}

TEST_F(CatalogueTest, EveryOperationReportsAMissingConnection) {
    ASSERT_TRUE(Open());
    db_->Close();
    for (const auto& operation : Operations()) {
        SCOPED_TRACE(operation.name);
        log_.Clear();
        EXPECT_FALSE(operation.run(*db_));
        const auto lines = log_.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].severity, common::kLogFatal);
        EXPECT_TRUE(test::EndsWith(lines[0].text, "): Failed to connect db.")) << lines[0].text;
        EXPECT_EQ(lines[0].text.rfind(operation.LinePrefix(), 0), 0u) << lines[0].text;
    }
}

// Writes mark the catalogue for the next backup, also when they match no
// row; reads never do.
TEST_F(CatalogueTest, EveryWriteSetsTheModifiedMark) {
    ASSERT_TRUE(Open());
    for (const auto& operation : Operations()) {
        SCOPED_TRACE(operation.name);
        db_->Modified().exchange(false);
        operation.run(*db_);
        EXPECT_EQ(db_->Modified().load(), operation.writes);
    }
    EXPECT_TRUE(log_.LinesFrom(common::kLogWarning).empty());
}

}  // namespace
}  // namespace orvale::recorder
