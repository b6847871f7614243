// The five catalogue tables: what each stores, reads back, changes and
// deletes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "recorder/database/QzDatabase.h"
#include "tests/database/DatabaseTestSupport.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

using test::LogCapture;
using test::RawFile;
using test::Wide;

class TableTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(db_->Open(Wide(File()))); }

    std::filesystem::path File() const { return dir_.Path() / "DB" / "orvale.kvtdb"; }
    RawFile Raw() const { return RawFile(File()); }

    CommonTable& Common() { return *db_->GetCommonTable(); }
    DriveTable& Drives() { return *db_->GetDriveTable(); }
    ArbTable& Arbs() { return *db_->GetArbTable(); }
    ChannelTable& Channels() { return *db_->GetChannelTable(); }
    BookmarkTable& Bookmarks() { return *db_->GetBookmarkTable(); }

    test::TempDir dir_;
    LogCapture log_;
    std::shared_ptr<QzDatabase> db_ = std::make_shared<QzDatabase>();
};

// Texts that reach the tables from callers and folder names: each must be
// stored and read back whole, and must address its own rows only.
const char* const kTexts[] = {
    "CAM01", "Bob's door", "x' OR '1'='1", "''", "'; DROP TABLE [T_CHANNEL]; --", "카메라 1",
};

// ---- T_COMMON ----

TEST_F(TableTest, CommonSettingsStartOnAndChangeByName) {
    bool overwrite = false;
    bool dualRecord = false;
    EXPECT_TRUE(Common().GetValue("OVERWRITE", overwrite));
    EXPECT_TRUE(Common().GetValue("DUALRECORD", dualRecord));
    EXPECT_TRUE(overwrite);
    EXPECT_TRUE(dualRecord);

    EXPECT_TRUE(Common().SetValue("DUALRECORD", false));
    EXPECT_TRUE(Common().GetValue("DUALRECORD", dualRecord));
    EXPECT_FALSE(dualRecord);
    EXPECT_TRUE(Common().GetValue("OVERWRITE", overwrite));
    EXPECT_TRUE(overwrite);
}

TEST_F(TableTest, CommonSettingWithoutARowIsNeitherReadNorAdded) {
    EXPECT_TRUE(Common().SetValue("Bob's setting", true));
    bool value = false;
    EXPECT_FALSE(Common().GetValue("Bob's setting", value));
    EXPECT_FALSE(value);
    EXPECT_EQ(Raw().Count("T_COMMON"), 2);
    EXPECT_TRUE(log_.LinesFrom(common::kLogWarning).empty());
}

TEST_F(TableTest, CommonValueOtherThanOneReadsAsOff) {
    Raw().Exec("UPDATE [T_COMMON] SET VALUE = 2 WHERE NAME = 'OVERWRITE'");
    bool overwrite = true;
    EXPECT_TRUE(Common().GetValue("OVERWRITE", overwrite));
    EXPECT_FALSE(overwrite);
}

// ---- T_DRIVE ----

TEST_F(TableTest, DrivesAreInsertedUpdatedAndDeletedByName) {
    for (const char* name : kTexts) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Drives().Insert({"Z", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_ALLOCATE, 7}));
        ASSERT_TRUE(
            Drives().Insert({name, MEDIA_DRIVE_TYPE_REMOVABLE, MEDIA_DRIVE_STATUS_NONE, 7}));
        ASSERT_TRUE(Drives().Update({name, MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, 7}));

        std::map<std::string, media_drive_s> drives;
        ASSERT_TRUE(Drives().SelectAll(drives));
        ASSERT_EQ(drives.size(), 2u);
        EXPECT_EQ(drives[name].name, name);
        EXPECT_EQ(drives[name].status, MEDIA_DRIVE_STATUS_RELEASE);
        EXPECT_EQ(drives[name].type, MEDIA_DRIVE_TYPE_FIXED);
        EXPECT_EQ(drives[name].busType, 0u);
        EXPECT_EQ(drives["Z"].status, MEDIA_DRIVE_STATUS_ALLOCATE);

        ASSERT_TRUE(Drives().Delete(name));
        drives.clear();
        ASSERT_TRUE(Drives().SelectAll(drives));
        ASSERT_EQ(drives.size(), 1u);
        EXPECT_EQ(drives.begin()->first, "Z");
        ASSERT_TRUE(Drives().Delete("Z"));
    }
}

TEST_F(TableTest, SecondDriveOfOneNameIsRefusedWithOneErrorLine) {
    ASSERT_TRUE(Drives().Insert({"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_ALLOCATE, 0}));
    log_.Clear();
    EXPECT_FALSE(Drives().Insert({"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_RELEASE, 0}));
    const auto lines = log_.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].severity, common::kLogError);
    EXPECT_TRUE(test::EndsWith(lines[0].text, ", Query:INSERT INTO [T_DRIVE] VALUES('D',2,3)"))
        << lines[0].text;

    std::map<std::string, media_drive_s> drives;
    ASSERT_TRUE(Drives().SelectAll(drives));
    EXPECT_EQ(drives["D"].status, MEDIA_DRIVE_STATUS_ALLOCATE);
}

TEST_F(TableTest, SelectKeepsEntriesAlreadyInTheCallersMap) {
    ASSERT_TRUE(Drives().Insert({"D", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_ALLOCATE, 0}));
    ASSERT_TRUE(Channels().Insert([] {
        media_channel_s channel;
        channel.id = "CAM01";
        channel.scheduleId = "stored";
        return channel;
    }()));

    std::map<std::string, media_drive_s> drives{{"D", {"D", 0, MEDIA_DRIVE_STATUS_NONE, 9}}};
    ASSERT_TRUE(Drives().SelectAll(drives));
    EXPECT_EQ(drives["D"].busType, 9u);
    ChannelTable::ChannelMap channels;
    channels["CAM01"].scheduleId = "callers";
    ASSERT_TRUE(Channels().SelectAll(channels));
    EXPECT_EQ(channels["CAM01"].scheduleId, "callers");
}

// ---- T_ARB ----

media_arb_s Arb(const std::string& camera, int64_t disconnect) {
    media_arb_s arb;
    arb.cameraId = camera;
    arb.disconnectTime = disconnect;
    arb.trackId = 3;
    arb.dstOn = true;
    return arb;
}

TEST_F(TableTest, ArbRecordsAreKeyedByTheirNewRowIds) {
    for (const char* camera : kTexts) {
        SCOPED_TRACE(camera);
        auto other = Arb("other", 500);
        auto first = Arb(camera, 1000);
        auto second = Arb(camera, 3000);
        second.dstOverlap = true;
        ASSERT_TRUE(Arbs().Insert(other));
        ASSERT_TRUE(Arbs().Insert(first));
        ASSERT_TRUE(Arbs().Insert(second));
        EXPECT_NE(first.rowId, second.rowId);

        first.reconnectTime = 2000;
        ASSERT_TRUE(Arbs().UpdateReconnectTime(first));
        std::map<int64_t, media_arb_s> records;
        ASSERT_TRUE(Arbs().SelectByCameraId(camera, records));
        ASSERT_EQ(records.size(), 2u);
        const auto& stored = records.at(first.rowId);
        EXPECT_EQ(stored.rowId, first.rowId);
        EXPECT_EQ(stored.cameraId, camera);
        EXPECT_EQ(stored.disconnectTime, 1000);
        EXPECT_EQ(stored.reconnectTime, 2000);
        EXPECT_EQ(stored.trackId, 3);
        EXPECT_TRUE(stored.dstOn);
        EXPECT_FALSE(stored.dstOverlap);
        EXPECT_TRUE(records.at(second.rowId).dstOverlap);
        EXPECT_EQ(records.at(second.rowId).reconnectTime, 0);
        // The reconnect time is stored as a number, not as the quoted text.
        EXPECT_EQ(Raw().Rows("SELECT typeof(RECONNECT_TIME) FROM [T_ARB] WHERE rowid = " +
                             std::to_string(first.rowId))[0][0],
                  "integer");

        ASSERT_TRUE(Arbs().DeleteByRowId(second.rowId));
        records.clear();
        ASSERT_TRUE(Arbs().SelectAll(records));
        EXPECT_EQ(records.size(), 2u);
        EXPECT_EQ(records.count(second.rowId), 0u);

        ASSERT_TRUE(Arbs().DeleteByCameraId(camera));
        records.clear();
        ASSERT_TRUE(Arbs().SelectAll(records));
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records.begin()->second.cameraId, "other");
        ASSERT_TRUE(Arbs().DeleteByCameraId("other"));
    }
}

TEST_F(TableTest, ArbRowsWithoutDisconnectTimeAreDroppedByTheSelectThatMeetsThem) {
    auto kept = Arb("cam1", 1000);
    auto unfinished = Arb("cam1", 0);
    auto elsewhere = Arb("cam2", 0);
    ASSERT_TRUE(Arbs().Insert(unfinished));
    ASSERT_TRUE(Arbs().Insert(kept));
    ASSERT_TRUE(Arbs().Insert(elsewhere));

    std::map<int64_t, media_arb_s> records;
    ASSERT_TRUE(Arbs().SelectByCameraId("cam1", records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.begin()->first, kept.rowId);
    EXPECT_EQ(Raw().Count("T_ARB"), 2);  // cam2's row is not the select's to drop

    records.clear();
    ASSERT_TRUE(Arbs().SelectAll(records));
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(Raw().Count("T_ARB"), 1);
    EXPECT_TRUE(log_.LinesFrom(common::kLogWarning).empty());
}

TEST_F(TableTest, SelectOfACameraWithoutRowsAddsNothing) {
    std::map<int64_t, media_arb_s> records{{42, Arb("mine", 1)}};
    EXPECT_TRUE(Arbs().SelectByCameraId("nobody", records));
    EXPECT_EQ(records.size(), 1u);
}

// ---- T_CHANNEL ----

media_channel_s FullChannel(const std::string& id) {
    media_channel_s channel;
    channel.id = id;
    channel.scheduleId = id + " schedule";
    channel.disk = "DEF";
    channel.retentionTime = 4000000000u;  // above the signed 32-bit range
    channel.protocol = -2;
    channel.motion = {0, 1, 2};
    channel.alarm = {0, 3, 4};
    channel.videoLoss = {0, 5, 30};
    channel.iv = {0, 6, 7};
    channel.audio = {0, 8, 9};
    channel.audioRecord = false;
    channel.arb = true;
    channel.continuousOnlyForLow = true;
    channel.encrypt = true;
    channel.failoverStatus = true;
    return channel;
}

void ExpectStoredFields(const media_channel_s& read, const media_channel_s& written) {
    EXPECT_EQ(read.scheduleId, written.scheduleId);
    EXPECT_EQ(read.disk, written.disk);
    EXPECT_EQ(read.retentionTime, written.retentionTime);
    EXPECT_EQ(read.protocol, written.protocol);
    for (const auto& [r, w] : {std::pair{read.motion, written.motion},
                               {read.alarm, written.alarm},
                               {read.iv, written.iv},
                               {read.audio, written.audio}}) {
        EXPECT_EQ(r.preRecTime, w.preRecTime);
        EXPECT_EQ(r.postRecTime, w.postRecTime);
    }
    EXPECT_EQ(read.videoLoss.preRecTime, written.videoLoss.preRecTime);
    EXPECT_EQ(read.audioRecord, written.audioRecord);
    EXPECT_EQ(read.arb, written.arb);
    EXPECT_EQ(read.continuousOnlyForLow, written.continuousOnlyForLow);
    EXPECT_EQ(read.encrypt, written.encrypt);
    EXPECT_EQ(read.failoverStatus, written.failoverStatus);
}

TEST_F(TableTest, ChannelsAreInsertedReadUpdatedAndDeletedById) {
    ASSERT_TRUE(Channels().Insert(FullChannel("other")));
    for (const char* id : kTexts) {
        SCOPED_TRACE(id);
        const auto written = FullChannel(id);
        ASSERT_TRUE(Channels().Insert(written));
        EXPECT_TRUE(Channels().Exists(id));

        media_channel_s read;
        read.id = id;
        ASSERT_TRUE(Channels().Select(read));
        EXPECT_EQ(read.id, id);
        ExpectStoredFields(read, written);

        auto changed = written;
        changed.protocol = 9;
        changed.motion.postRecTime = 99;
        changed.failoverStatus = false;
        ASSERT_TRUE(Channels().Update(changed));
        ASSERT_TRUE(Channels().UpdateDisk(id, "G'H"));
        ASSERT_TRUE(Channels().UpdateScheduleId(id, "new's"));
        changed.disk = "G'H";
        changed.scheduleId = "new's";
        ASSERT_TRUE(Channels().Select(read));
        ExpectStoredFields(read, changed);

        ASSERT_TRUE(Channels().Delete(id));
        EXPECT_FALSE(Channels().Exists(id));
        EXPECT_TRUE(Channels().Exists("other"));
    }
    EXPECT_EQ(Raw().Count("T_CHANNEL"), 1);
    EXPECT_TRUE(log_.LinesFrom(common::kLogWarning).empty());
}

TEST_F(TableTest, ChannelSelectsSplitByFailoverStatus) {
    auto failover = FullChannel("failover");
    auto normal = FullChannel("normal");
    normal.failoverStatus = false;
    ASSERT_TRUE(Channels().Insert(failover));
    ASSERT_TRUE(Channels().Insert(normal));

    const struct {
        const char* name;
        bool (ChannelTable::*select)(ChannelTable::ChannelMap&);
        std::vector<std::string> ids;
    } cases[] = {
        {"all", &ChannelTable::SelectAll, {"failover", "normal"}},
        {"failover", &ChannelTable::SelectFailOver, {"failover"}},
        {"not failover", &ChannelTable::SelectNotFailOver, {"normal"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChannelTable::ChannelMap channels;
        ASSERT_TRUE((Channels().*c.select)(channels));
        std::vector<std::string> ids;
        for (const auto& [id, channel] : channels) {
            EXPECT_EQ(channel.id, id);
            ids.push_back(id);
        }
        EXPECT_EQ(ids, c.ids);
    }
    ChannelTable::ChannelMap channels;
    ASSERT_TRUE(Channels().SelectAll(channels));
    ExpectStoredFields(channels["normal"], normal);
}

TEST_F(TableTest, ChannelFieldsWithoutAColumnAreNeitherStoredNorTouched) {
    auto written = FullChannel("CAM01");
    written.extraValue = 77;
    ASSERT_TRUE(Channels().Insert(written));

    media_channel_s read;
    read.id = "CAM01";
    read.extraText1 = "one";
    read.extraText2 = "two";
    read.extraText3 = "three";
    read.motion.eventValue = 5;
    read.videoLoss.postRecTime = 123;
    read.extraValue = 456;
    ASSERT_TRUE(Channels().Select(read));
    EXPECT_EQ(read.videoLoss.postRecTime, 0u);
    EXPECT_EQ(read.extraValue, 0u);
    EXPECT_EQ(read.extraText1, "one");
    EXPECT_EQ(read.extraText2, "two");
    EXPECT_EQ(read.extraText3, "three");
    EXPECT_EQ(read.motion.eventValue, 5);
}

TEST_F(TableTest, MissingChannelLeavesTheRecordUntouched) {
    auto record = FullChannel("nobody");
    log_.Clear();
    EXPECT_FALSE(Channels().Exists("nobody"));
    EXPECT_FALSE(Channels().Select(record));
    ExpectStoredFields(record, FullChannel("nobody"));
    EXPECT_TRUE(Channels().Update(record));
    EXPECT_TRUE(Channels().UpdateDisk("nobody", "D"));
    EXPECT_TRUE(Channels().Delete("nobody"));
    EXPECT_EQ(Raw().Count("T_CHANNEL"), 0);
    EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(TableTest, DuplicateChannelIsRefusedAndTheStoredRowStays) {
    const auto first = FullChannel("CAM01");
    ASSERT_TRUE(Channels().Insert(first));
    auto second = first;
    second.disk = "Z";
    db_->Modified().exchange(false);
    EXPECT_FALSE(Channels().Insert(second));
    EXPECT_FALSE(db_->Modified());
    media_channel_s read;
    read.id = "CAM01";
    ASSERT_TRUE(Channels().Select(read));
    EXPECT_EQ(read.disk, "DEF");
}

TEST_F(TableTest, ChannelSwitchStoredByAnotherWriterReadsAsOnAndIsRewrittenAsOne) {
    ASSERT_TRUE(Channels().Insert(FullChannel("CAM01")));
    Raw().Exec("UPDATE [T_CHANNEL] SET ENCRYPT = 2, ARB = 2");
    media_channel_s read;
    read.id = "CAM01";
    ASSERT_TRUE(Channels().Select(read));
    EXPECT_TRUE(read.encrypt);
    ASSERT_TRUE(Channels().Update(read));
    EXPECT_EQ(Raw().Rows("SELECT ENCRYPT, ARB FROM [T_CHANNEL]"),
              (std::vector<std::vector<std::string>>{{"1", "1"}}));
}

// ---- T_BOOKMARK ----

media_bookmark_s Bookmark(const std::string& guid, const std::string& description) {
    media_bookmark_s bookmark;
    bookmark.guid = guid;
    bookmark.startTime = 100;
    bookmark.endTime = 160;
    bookmark.description = description;
    bookmark.trackId = 4;
    return bookmark;
}

TEST_F(TableTest, BookmarksAreInsertedReadUpdatedAndDeleted) {
    ASSERT_TRUE(Bookmarks().Insert(Bookmark("other", "keep")));
    for (const char* text : kTexts) {
        SCOPED_TRACE(text);
        auto locked = Bookmark(text, text);
        locked.lock = true;
        ASSERT_TRUE(Bookmarks().Insert(locked));
        const long long lockedId = Bookmarks().GetLastInsertRowId();
        ASSERT_TRUE(Bookmarks().Insert(Bookmark(text, text)));  // equal values, a row of its own
        const long long openId = Bookmarks().GetLastInsertRowId();
        EXPECT_GT(openId, lockedId);

        std::map<long long, media_bookmark_s> bookmarks;
        ASSERT_TRUE(Bookmarks().SelectByGuid(text, bookmarks));
        ASSERT_EQ(bookmarks.size(), 2u);
        EXPECT_EQ(bookmarks.begin()->first, lockedId);
        const auto& stored = bookmarks.at(lockedId);
        EXPECT_EQ(stored.rowId, lockedId);
        EXPECT_EQ(stored.guid, text);
        EXPECT_EQ(stored.description, text);
        EXPECT_EQ(stored.startTime, 100);
        EXPECT_EQ(stored.endTime, 160);
        EXPECT_EQ(stored.trackId, 4);
        EXPECT_TRUE(stored.lock);
        EXPECT_FALSE(bookmarks.at(openId).lock);

        auto changed = Bookmark("ignored guid", std::string(text) + " changed");
        changed.rowId = static_cast<int32_t>(lockedId);
        changed.startTime = 200;
        changed.endTime = 150;  // stored as given
        changed.trackId = 9;
        ASSERT_TRUE(Bookmarks().Update(changed));
        bookmarks.clear();
        ASSERT_TRUE(Bookmarks().SelectByGuid(text, bookmarks));
        const auto& updated = bookmarks.at(lockedId);
        EXPECT_EQ(updated.description, std::string(text) + " changed");
        EXPECT_EQ(updated.startTime, 200);
        EXPECT_EQ(updated.endTime, 150);
        EXPECT_EQ(updated.guid, text);
        EXPECT_EQ(updated.trackId, 4);
        EXPECT_TRUE(updated.lock);
        EXPECT_EQ(bookmarks.at(openId).description, text);

        ASSERT_TRUE(Bookmarks().DeleteByRowId(lockedId));
        bookmarks.clear();
        ASSERT_TRUE(Bookmarks().SelectByGuid(text, bookmarks));
        EXPECT_EQ(bookmarks.size(), 1u);

        ASSERT_TRUE(Bookmarks().DeleteByGuid(text));
        EXPECT_EQ(Raw().Count("T_BOOKMARK"), 1);
    }
    EXPECT_TRUE(log_.LinesFrom(common::kLogWarning).empty());
}

TEST_F(TableTest, LongDescriptionIsStoredWhole) {
    const std::string description(300, 'd');
    ASSERT_TRUE(Bookmarks().Insert(Bookmark("CAM01", description)));
    std::map<long long, media_bookmark_s> bookmarks;
    ASSERT_TRUE(Bookmarks().SelectByGuid("CAM01", bookmarks));
    ASSERT_EQ(bookmarks.size(), 1u);
    EXPECT_EQ(bookmarks.begin()->second.description, description);
}

TEST_F(TableTest, BookmarkWhoseRowIdDoesNotFitIsSkippedNotTruncated) {
    const long long tooLarge = int64_t{std::numeric_limits<int32_t>::max()} + 2;
    Raw().Exec("INSERT INTO [T_BOOKMARK](rowid, GUID, DESCRIPTION) VALUES(" +
               std::to_string(tooLarge) + ", 'CAM01', 'far')");
    Raw().Exec("INSERT INTO [T_BOOKMARK](rowid, GUID, DESCRIPTION) VALUES(1, 'CAM01', 'near')");

    std::map<long long, media_bookmark_s> bookmarks;
    EXPECT_TRUE(Bookmarks().SelectByGuid("CAM01", bookmarks));
    ASSERT_EQ(bookmarks.size(), 1u);
    EXPECT_EQ(bookmarks.begin()->second.description, "near");
    const auto warnings = log_.LinesFrom(common::kLogWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].severity, common::kLogWarning);
    EXPECT_NE(warnings[0].text.find(std::to_string(tooLarge)), std::string::npos);
}

TEST_F(TableTest, LastInsertRowIdFollowsEveryCatalogueInsertOfTheThread) {
    EXPECT_EQ(Bookmarks().GetLastInsertRowId(), 0);
    ASSERT_TRUE(Bookmarks().Insert(Bookmark("CAM01", "a")));
    EXPECT_EQ(Bookmarks().GetLastInsertRowId(), 1);
    auto arb = Arb("cam1", 1000);
    ASSERT_TRUE(Arbs().Insert(arb));
    ASSERT_TRUE(Arbs().Insert(arb));
    EXPECT_EQ(arb.rowId, 2);
    EXPECT_EQ(Bookmarks().GetLastInsertRowId(), 2);
}

}  // namespace
}  // namespace orvale::recorder
