// A catalogue that another connection holds locked when an engine starts:
// the start waits, then gives up and leaves the catalogue as it found it.
// Neither the backup nor a new file may take the place of a catalogue that
// is in use; the rows of its holder are all there afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/HostFolder.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;

class CatalogueHeldTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        const fs::path root = drives_.Path() / "D";
        fs::create_directories(root);
        volumes_->AddFixed('D', root.string(), 500 * test::kGiB, 200 * test::kGiB);
    }
    void TearDown() override { platform::SetHostFolder(""); }

    fs::path Db() const { return host_.Path() / "DB" / "orvale.kvtdb"; }

    static size_t Bookmarks(MediaRecorderImpl& engine) {
        std::map<long long, media_bookmark_s> found;
        engine.GetBookmark("cam1", found);
        return found.size();
    }

    test::TempDir host_;
    test::TempDir drives_;
    test::InstalledFakeVolumes volumes_;
};

TEST_F(CatalogueHeldTest, AStartThatFindsTheCatalogueLockedNeitherReplacesNorRemovesIt) {
    {
        MediaRecorderImpl engine;
        engine.Initialize();
        for (int64_t i = 0; i < 3; ++i) {
            media_bookmark_s bookmark;
            bookmark.guid = "cam1";
            bookmark.startTime = 1700000000 + i;
            bookmark.endTime = bookmark.startTime + 10;
            engine.RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_INSERT);
            ASSERT_GT(engine.InsertLastRowId(), 0);
        }
        engine.RunMaintenance();  // a backup exists that the repair could copy in
        engine.Finalize(false);
    }
    ASSERT_TRUE(fs::exists(Db()));
    ASSERT_TRUE(fs::exists(host_.Path() / "DB" / "Backup" / "orvale.kvtdb"));
    {
        // Locked as a host in the middle of a write would hold it.
        SQLite::Database holder(Db().string(), SQLite::OPEN_READWRITE);
        holder.exec("PRAGMA locking_mode = EXCLUSIVE");
        holder.exec("BEGIN EXCLUSIVE");
        holder.exec("DELETE FROM T_BOOKMARK WHERE START_TIME = 1700000002");
        MediaRecorderImpl engine;
        engine.Initialize();
        EXPECT_EQ(Bookmarks(engine), 0u) << "a catalogue held by another was read or rebuilt";
        engine.Finalize(false);
        holder.exec("COMMIT");
    }
    MediaRecorderImpl engine;
    engine.Initialize();
    EXPECT_EQ(Bookmarks(engine), 2u) << "the holder's catalogue was replaced or removed";
    engine.Finalize(false);
}

}  // namespace
}  // namespace orvale::recorder
