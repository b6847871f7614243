#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/HostFolder.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/database/ChannelTable.h"
#include "recorder/database/QzDatabase.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kGiB;

// An engine on a host folder of its own with two fixed drives D and E.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        for (const char letter : {'D', 'E'}) {
            const fs::path root = drives_.Path() / std::string(1, letter);
            fs::create_directories(root);
            volumes_->AddFixed(letter, root.string(), 500 * kGiB, 200 * kGiB);
        }
    }
    void TearDown() override { platform::SetHostFolder(""); }

    std::unique_ptr<MediaRecorderImpl> Start() {
        auto engine = std::make_unique<MediaRecorderImpl>();
        engine->Initialize();
        return engine;
    }
    fs::path Db(const char* folder = "") const {
        return host_.Path() / "DB" / folder / "orvale.kvtdb";
    }

    // Runs `change` on the catalogue while no engine holds it.
    template <class Change>
    void WithCatalogue(Change&& change) {
        QzDatabase catalogue;
        ASSERT_TRUE(catalogue.Open(Db().wstring()));
        change(catalogue);
        catalogue.Close();
    }

    std::map<std::string, media_channel_s> Channels() {
        std::map<std::string, media_channel_s> channels;
        WithCatalogue([&](QzDatabase& db) { db.GetChannelTable()->SelectAll(channels); });
        return channels;
    }

    test::TempDir host_;
    test::TempDir drives_;
    test::InstalledFakeVolumes volumes_;
};

TEST_F(EngineTest, FirstStartMakesTheCatalogueAndAllocatesNewDrives) {
    auto engine = Start();
    EXPECT_TRUE(fs::exists(Db()));
    EXPECT_TRUE(fs::is_directory(host_.Path() / "DB" / "Import"));
    EXPECT_TRUE(fs::is_directory(host_.Path() / "DB" / "Backup"));
    EXPECT_TRUE(fs::exists(host_.Path() / "DBTemp" / "indexdb.kvtidx"));
    EXPECT_FALSE(fs::exists(host_.Path() / "KVTRecordData"));
    EXPECT_EQ(engine->GetTrackId(), 1u);

    std::vector<media_drive_s> drives(1);
    ASSERT_TRUE(engine->GetMediaDrive(drives));
    ASSERT_EQ(drives.size(), 3u);  // appended behind what was there
    EXPECT_EQ(drives[1].name, "D");
    EXPECT_EQ(drives[1].status, MEDIA_DRIVE_STATUS_ALLOCATE);
    EXPECT_EQ(drives[2].name, "E");
    EXPECT_EQ(engine->GetMediaDriveSpace("D").freeMB, 200u * 1024u);
    EXPECT_EQ(engine->GetMediaDriveSpace("X").totalMB, 0u);
    engine->Finalize(false);
}

TEST_F(EngineTest, SettingsAndDriveStatusesSurviveARestart) {
    {
        auto engine = Start();
        engine->SetUseOverwrite(false);
        engine->SetUseDualRecord(false);
        engine->SetMinFreeSpace(5000);
        EXPECT_EQ(engine->GetMinFreeSpace(), 5000u);
        std::string e = "E";
        EXPECT_TRUE(engine->SetMediaDrive(e, MEDIA_DRIVE_STATUS_RELEASE));
        EXPECT_TRUE(engine->SetMediaDrive(e, MEDIA_DRIVE_STATUS_RELEASE));  // unchanged
        std::string x = "X";
        EXPECT_FALSE(engine->SetMediaDrive(x, MEDIA_DRIVE_STATUS_RELEASE));
        engine->Finalize(false);
    }
    auto engine = Start();
    EXPECT_FALSE(engine->GetUseOverwrite());
    EXPECT_FALSE(engine->GetUseDualRecord());
    EXPECT_EQ(engine->GetMinFreeSpace(), 2048u);  // not kept
    std::vector<media_drive_s> drives;
    engine->GetMediaDrive(drives);
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].status, MEDIA_DRIVE_STATUS_ALLOCATE);
    EXPECT_EQ(drives[1].status, MEDIA_DRIVE_STATUS_RELEASE);
    engine->Finalize(false);
}

TEST_F(EngineTest, ImportCopyReplacesTheCatalogueOnlyWhenSound) {
    Start()->Finalize(false);
    WithCatalogue([](QzDatabase& db) { db.GetCommonTable()->SetValue("OVERWRITE", false); });
    fs::copy_file(Db(), Db("Import"));
    WithCatalogue([](QzDatabase& db) { db.GetCommonTable()->SetValue("OVERWRITE", true); });
    test::WriteFile(Db("Backup"), "an old backup");

    auto engine = Start();
    EXPECT_FALSE(engine->GetUseOverwrite());
    EXPECT_FALSE(fs::exists(Db("Import")));
    EXPECT_FALSE(fs::exists(Db("Backup")));
    engine->Finalize(false);

    test::WriteFile(Db("Import"), "not a database");
    engine = Start();
    EXPECT_FALSE(engine->GetUseOverwrite());  // the working copy stayed
    EXPECT_TRUE(fs::exists(Db("Import")));
    engine->Finalize(false);
}

TEST_F(EngineTest, BrokenCatalogueIsRepairedFromTheBackupElseMadeAnew) {
    auto engine = Start();
    engine->SetUseOverwrite(false);
    engine->RunMaintenance();  // the catalogue was written: a backup is made
    ASSERT_TRUE(fs::exists(Db("Backup")));
    engine->Finalize(false);
    engine.reset();

    test::WriteFile(Db(), std::string(8192, 'x'));
    engine = Start();
    EXPECT_FALSE(engine->GetUseOverwrite());
    engine->Finalize(true);
    engine.reset();
    for (const char* folder : {"", "Import", "Backup"}) EXPECT_FALSE(fs::exists(Db(folder)));

    test::WriteFile(Db(), std::string(8192, 'x'));
    engine = Start();
    EXPECT_TRUE(engine->GetUseOverwrite());
    EXPECT_TRUE(fs::exists(Db()));
    engine->Finalize(false);
}

TEST_F(EngineTest, MaintenanceBacksUpOnlyAfterWrites) {
    auto engine = Start();
    engine->RunMaintenance();  // the first start inserted the drive rows
    ASSERT_TRUE(fs::exists(Db("Backup")));
    {
        SQLite::Database backup(Db("Backup").string());
        EXPECT_EQ(backup.execAndGet("SELECT count(*) FROM T_DRIVE").getInt(), 2);
    }
    fs::remove(Db("Backup"));
    engine->RunMaintenance();
    EXPECT_FALSE(fs::exists(Db("Backup")));
    engine->Finalize(false);
    engine->RunMaintenance();  // stopped for good
    EXPECT_FALSE(fs::exists(Db("Backup")));
}

TEST_F(EngineTest, ClockBehindTheLastRecordedTimeStartsANewTrack) {
    for (const char* name : {"D", "E"}) {
        auto drive = MakeDrive({name, MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_ALLOCATE, 0}, 0);
        drive->CreateRootDirectory();
        ASSERT_TRUE(drive->SetTrackId(name[0] == 'D' ? 4 : 2));
        ASSERT_TRUE(drive->SetLastTime(static_cast<uint64_t>(std::time(nullptr)) + 100000));
    }
    auto engine = Start();
    EXPECT_EQ(engine->GetTrackId(), 5u);
    engine->Finalize(false);
    auto drive = MakeDrive({"E", MEDIA_DRIVE_TYPE_FIXED, MEDIA_DRIVE_STATUS_ALLOCATE, 0}, 0);
    int track = 0;
    ASSERT_TRUE(drive->GetTrackId(track));
    EXPECT_EQ(track, 5);
    int64_t last = 0;
    ASSERT_TRUE(drive->GetLastTime(last));
    EXPECT_LE(last, static_cast<int64_t>(std::time(nullptr)));
}

TEST_F(EngineTest, ReleaseAndAllocateRewriteTheChannelsDiskLists) {
    Start()->Finalize(false);
    WithCatalogue([](QzDatabase& db) {
        media_channel_s plain;
        plain.id = "cam1";
        plain.disk = "DEE";
        media_channel_s failover;
        failover.id = "cam2";
        failover.disk = "D";
        failover.failoverStatus = true;
        db.GetChannelTable()->Insert(plain);
        db.GetChannelTable()->Insert(failover);
    });
    auto engine = Start();
    std::string e = "E";
    ASSERT_TRUE(engine->SetMediaDrive(e, MEDIA_DRIVE_STATUS_RELEASE));
    ASSERT_TRUE(engine->SetMediaDrive(e, MEDIA_DRIVE_STATUS_ALLOCATE));
    engine->Finalize(false);
    const auto channels = Channels();
    EXPECT_EQ(channels.at("cam1").disk, "D");
    EXPECT_EQ(channels.at("cam2").disk, "DE");
}

// Channels found as folders on the drives get their record drives; releasing
// one of them rewrites the disk list and tells the host once.
TEST_F(EngineTest, ReleasingARecordDriveReachesTheChannelAndTheHost) {
    Start()->Finalize(false);
    WithCatalogue([](QzDatabase& db) {
        media_channel_s channel;
        channel.id = "cam1";
        db.GetChannelTable()->Insert(channel);
    });
    fs::create_directories(drives_.Path() / "D" / "KVTRecordData" / "cam1");
    fs::create_directories(drives_.Path() / "D" / "KVTRecordData" /
                           "cam9");  // not in the catalogue
    auto engine = Start();
    std::promise<media_config_type_e> event;
    std::atomic<int> events{0};
    engine->RegisterEventHandler([&](media_config_type_e type) {
        if (events++ == 0) event.set_value(type);
    });
    EXPECT_FALSE(engine->SetRecordDrives("cam9", "D"));
    EXPECT_FALSE(engine->SetRecordDrives("cam2", "D"));
    ASSERT_TRUE(engine->SetRecordDrives("cam1", "DEX"));
    EXPECT_EQ(Channels().at("cam1").disk, "DEX");  // stored as given

    std::string e = "E";
    ASSERT_TRUE(engine->SetMediaDrive(e, MEDIA_DRIVE_STATUS_RELEASE));
    auto type = event.get_future();
    ASSERT_EQ(type.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(type.get(), MEDIA_CONFIG_TYPE_DRIVE);
    std::string d = "D";
    ASSERT_TRUE(engine->SetMediaDrive(d, MEDIA_DRIVE_STATUS_ALLOCATE));  // unchanged: no event
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(events.load(), 1);
    engine->Finalize(false);
    EXPECT_EQ(Channels().at("cam1").disk, "D");
}

TEST_F(EngineTest, VanishedDriveStaysWhileAChannelNamesIt) {
    Start()->Finalize(false);
    WithCatalogue([](QzDatabase& db) {
        media_channel_s channel;
        channel.id = "cam1";
        channel.disk = "E";
        db.GetChannelTable()->Insert(channel);
    });
    volumes_->SetPresent('D', false);
    volumes_->SetPresent('E', false);
    auto engine = Start();
    std::vector<media_drive_s> drives;
    engine->GetMediaDrive(drives);
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].name, "E");
    engine->Finalize(false);
}

// The longest pre-record time offered falls as channels are added; failover
// channels are not counted, and without a catalogue the longest is offered.
TEST_F(EngineTest, PreRecordLimitFollowsTheChannelCount) {
    struct Case {
        int channels;
        int failover;
        unsigned limit;
    };
    const Case cases[] = {
        {0, 0, 120}, {16, 0, 120}, {16, 10, 120}, {17, 10, 60}, {64, 10, 60}, {65, 10, 30},
    };  // each case adds channels to those of the case before
    Start()->Finalize(false);
    int made = 0;
    int madeFailover = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.channels << " channels, " << c.failover << " failover");
        WithCatalogue([&](QzDatabase& db) {
            for (; made < c.channels; ++made) {
                media_channel_s channel;
                channel.id = "cam" + std::to_string(made);
                ASSERT_TRUE(db.GetChannelTable()->Insert(channel));
            }
            for (; madeFailover < c.failover; ++madeFailover) {
                media_channel_s channel;
                channel.id = "failover" + std::to_string(madeFailover);
                channel.failoverStatus = true;
                ASSERT_TRUE(db.GetChannelTable()->Insert(channel));
            }
        });
        auto engine = Start();
        EXPECT_EQ(engine->GetMaxPreRecordTimeForSetUp(), c.limit);
        engine->Finalize(false);
        EXPECT_EQ(engine->GetMaxPreRecordTimeForSetUp(), 120u);  // closed: the failed select
    }
}

}  // namespace
}  // namespace orvale::recorder
