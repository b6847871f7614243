// One catalogue connection used by many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recorder/database/QzDatabase.h"
#include "tests/database/DatabaseTestSupport.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

constexpr int kThreads = 8;
constexpr int kInsertsPerThread = 40;

class ConnectionConcurrencyTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(db_->Open(test::Wide(dir_.Path() / "orvale.kvtdb"))); }

    test::TempDir dir_;
    test::LogCapture log_;
    std::shared_ptr<QzDatabase> db_ = std::make_shared<QzDatabase>();
};

// Each thread's "row I just inserted" is its own, however the inserts of the
// threads interleave.
TEST_F(ConnectionConcurrencyTest, EachThreadReadsTheRowIdOfItsOwnInsert) {
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto bookmarks = db_->GetBookmarkTable();
            const auto arbs = db_->GetArbTable();
            const std::string guid = "thread " + std::to_string(t);
            for (int n = 0; n < kInsertsPerThread; ++n) {
                media_bookmark_s bookmark;
                bookmark.guid = guid;
                bookmark.description = std::to_string(n);
                if (!bookmarks->Insert(bookmark)) ++mismatches;
                const long long rowId = bookmarks->GetLastInsertRowId();

                media_arb_s arb;
                arb.cameraId = guid;
                arb.disconnectTime = n + 1;
                if (!arbs->Insert(arb)) ++mismatches;

                std::map<long long, media_bookmark_s> mine;
                bookmarks->SelectByGuid(guid, mine);
                const auto found = mine.find(rowId);
                if (found == mine.end() || found->second.description != bookmark.description) {
                    ++mismatches;
                }
                std::map<int64_t, media_arb_s> arbRows;
                arbs->SelectByCameraId(guid, arbRows);
                const auto arbFound = arbRows.find(arb.rowId);
                if (arbFound == arbRows.end() || arbFound->second.disconnectTime != n + 1) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();

    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_TRUE(log_.LinesFrom(common::kLogWarning).empty());
    EXPECT_TRUE(db_->Modified());
}

// Closing the catalogue while statements run cuts none of them off: each
// either completes or reports that the connection is gone.
TEST_F(ConnectionConcurrencyTest, CloseWhileOperationsRunIsSafe) {
    for (int t = 0; t < kThreads; ++t) {
        media_channel_s channel;
        channel.id = "CAM" + std::to_string(t);
        ASSERT_TRUE(db_->GetChannelTable()->Insert(channel));
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto channels = db_->GetChannelTable();
            media_channel_s channel;
            channel.id = "CAM" + std::to_string(t);
            while (!stop) {
                channels->UpdateScheduleId(channel.id, "s");
                ChannelTable::ChannelMap all;
                channels->SelectAll(all);
                db_->Modified().exchange(false);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    db_->Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& thread : threads) thread.join();

    for (const auto& line : log_.LinesFrom(common::kLogWarning)) {
        EXPECT_TRUE(test::EndsWith(line.text, "Failed to connect db.")) << line.text;
    }
    EXPECT_TRUE(db_->Open(test::Wide(dir_.Path() / "orvale.kvtdb")));
    EXPECT_TRUE(db_->GetChannelTable()->Exists("CAM0"));
}

}  // namespace
}  // namespace orvale::recorder
