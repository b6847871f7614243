// The catalogue's import and backup copies on a catalogue folder that runs
// full: a copy that cannot be completed never costs the working copy or the
// previous backup.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/HostFolder.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/database/CommonTable.h"
#include "recorder/database/QzDatabase.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/SmallVolume.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kKiB = 1024;

// An engine whose catalogue folder DB is a 4 MiB tmpfs.
class CatalogueCopiesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!volume_.Mounted()) GTEST_SKIP() << "The catalogue copy tests need " << volume_.Why();
        platform::SetHostFolder(host_.Str());
        const fs::path root = drives_.Path() / "D";
        fs::create_directories(root);
        volumes_->AddFixed('D', root.string(), 500 * test::kGiB, 200 * test::kGiB);
    }
    void TearDown() override { platform::SetHostFolder(""); }

    std::unique_ptr<MediaRecorderImpl> Start() {
        auto engine = std::make_unique<MediaRecorderImpl>();
        engine->Initialize();
        return engine;
    }
    fs::path Db(const char* folder = "") const {
        return volume_.Folder() / folder / "orvale.kvtdb";
    }
    // The OVERWRITE row of a catalogue file; empty when the file is not a
    // whole catalogue.
    static std::optional<bool> StoredOverwrite(const fs::path& file) {
        try {
            SQLite::Database db(file.string(), SQLite::OPEN_READONLY);
            return db.execAndGet("SELECT VALUE FROM T_COMMON WHERE NAME = 'OVERWRITE'").getInt() !=
                   0;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    // Bookmarks whose descriptions make the catalogue `kib` KiB larger.
    static void Grow(MediaRecorderImpl& engine, uint64_t kib) {
        for (uint64_t i = 0; i < kib / 64; ++i) {
            media_bookmark_s bookmark;
            bookmark.guid = "cam1";
            bookmark.startTime = 1700000000 + static_cast<int64_t>(i);
            bookmark.endTime = bookmark.startTime + 1;
            bookmark.description = std::string(64 * kKiB, 'b');
            engine.RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_INSERT);
        }
    }

    test::TempDir host_;
    test::TempDir drives_;
    test::SmallVolume volume_{host_.Path() / "DB", 4};
    test::InstalledFakeVolumes volumes_;
};

TEST_F(CatalogueCopiesTest, AnImportThatCannotBeCopiedLeavesTheWorkingCopyInUse) {
    auto engine = Start();
    engine->SetUseOverwrite(false);
    engine->Finalize(false);
    engine.reset();
    // A sound import copy, larger than the room that is left.
    fs::copy_file(Db(), Db("Import"));
    {
        SQLite::Database import(Db("Import").string(), SQLite::OPEN_READWRITE);
        import.exec("UPDATE T_COMMON SET VALUE = 1 WHERE NAME = 'OVERWRITE'");
        import.exec("CREATE TABLE PADDING(BYTES BLOB)");
        import.exec("INSERT INTO PADDING VALUES(zeroblob(1500000))");
    }
    volume_.FillLeaving(500 * kKiB);

    engine = Start();
    EXPECT_FALSE(engine->GetUseOverwrite()) << "the working copy is not the one in use";
    engine->Finalize(false);
    EXPECT_EQ(StoredOverwrite(Db()), false);
    EXPECT_TRUE(fs::exists(Db("Import"))) << "the import is kept for a later start";
}

TEST_F(CatalogueCopiesTest, ABackupThatCannotBeWrittenLeavesThePreviousOne) {
    auto engine = Start();
    engine->SetUseOverwrite(false);
    engine->RunMaintenance();
    ASSERT_TRUE(fs::exists(Db("Backup")));
    ASSERT_EQ(StoredOverwrite(Db("Backup")), false);

    Grow(*engine, 1024);
    engine->SetUseOverwrite(true);
    volume_.FillLeaving(256 * kKiB);
    engine->RunMaintenance();

    EXPECT_EQ(StoredOverwrite(Db("Backup")), false) << "the previous backup was lost";
    fs::remove(volume_.Folder() / "filler");
    engine->RunMaintenance();  // the failed copy is tried again
    EXPECT_EQ(StoredOverwrite(Db("Backup")), true);
    engine->Finalize(false);
}

}  // namespace
}  // namespace orvale::recorder
