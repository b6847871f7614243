// Texts a host hands to the catalogue through the exported engine: stored as
// given, byte for byte, or refused where the host sees it; and the row id of
// the host's last insert.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/EngineOnFakeDrives.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kGiB;

class CatalogueTextsTest : public test::EngineOnFakeDrives {
  protected:
    long long InsertBookmark(const std::string& guid, const std::string& description) {
        media_bookmark_s bookmark;
        bookmark.guid = guid;
        bookmark.startTime = 100;
        bookmark.endTime = 200;
        bookmark.description = description;
        engine_->RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_INSERT);
        return engine_->InsertLastRowId();
    }
};

// Quotes, a NUL byte and bytes that are no UTF-8 come back as they went in,
// in every text the bookmarks and ARB records carry, and select by them.
TEST_F(CatalogueTextsTest, TextsAreStoredByteForByte) {
    const std::string texts[] = {
        "plain",
        "it's o'clock",
        std::string("before\0after", 12),
        std::string("x'\0); DROP TABLE [T_BOOKMARK]; --", 32),
        "\xff\xfe not utf-8",
    };
    long long previous = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        std::string guid = "cam-" + text;
        const long long rowId = InsertBookmark(guid, text);
        EXPECT_GT(rowId, previous);
        previous = rowId;
        std::map<long long, media_bookmark_s> bookmarks;
        engine_->GetBookmark(guid, bookmarks);
        ASSERT_EQ(bookmarks.size(), 1u);
        EXPECT_EQ(bookmarks.begin()->first, rowId);
        EXPECT_EQ(bookmarks.begin()->second.guid, guid);
        EXPECT_EQ(bookmarks.begin()->second.description, text);

        media_bookmark_s changed = bookmarks.begin()->second;
        changed.description = text + text;
        engine_->RequestBookmark(changed, REQUEST_BOOKMARK_TYPE_UPDATE);
        bookmarks.clear();
        engine_->GetBookmark(guid, bookmarks);
        ASSERT_EQ(bookmarks.size(), 1u);
        EXPECT_EQ(bookmarks.begin()->second.description, text + text);

        media_arb_s arb;
        arb.cameraId = guid;
        arb.disconnectTime = 1000;
        engine_->insertARB(arb);
        std::map<long long, media_arb_s> arbs;
        engine_->getARB(guid, arbs);
        ASSERT_EQ(arbs.size(), 1u);
        EXPECT_EQ(arbs.begin()->second.cameraId, guid);
    }
    // No text was taken for a statement of its own: every record is there.
    std::map<long long, media_arb_s> all;
    engine_->getARBAll(all);
    EXPECT_EQ(all.size(), std::size(texts));
}

// After an insert that failed, the host never gets the row id of an earlier
// insert, which names another bookmark.
TEST_F(CatalogueTextsTest, AFailedInsertAnswersNoRowId) {
    ASSERT_GT(InsertBookmark("cam1", "first"), 0);
    {
        // Another program broke the catalogue's bookmark table.
        SQLite::Database outside((host_.Path() / "DB" / "orvale.kvtdb").string(),
                                 SQLite::OPEN_READWRITE);
        outside.exec("DROP TABLE [T_BOOKMARK]");
    }
    EXPECT_EQ(InsertBookmark("cam1", "second"), -1);
}

}  // namespace
}  // namespace orvale::recorder
