#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

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

// An engine on a host folder of its own with one fixed drive D.
class CatalogueMethodsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        const fs::path root = drives_.Path() / "D";
        fs::create_directories(root);
        volumes_->AddFixed('D', root.string(), 500 * kGiB, 200 * kGiB);
    }
    void TearDown() override {
        if (engine_) engine_->Finalize(false);
        platform::SetHostFolder("");
    }

    MediaRecorderImpl& Start() {
        engine_ = std::make_unique<MediaRecorderImpl>();
        engine_->Initialize();
        return *engine_;
    }

    // Starts an engine whose catalogue holds these channel rows.
    MediaRecorderImpl& StartWithChannels(const std::vector<media_channel_s>& rows) {
        Start().Finalize(false);
        engine_.reset();
        QzDatabase catalogue;
        EXPECT_TRUE(catalogue.Open((host_.Path() / "DB" / "orvale.kvtdb").wstring()));
        for (const auto& row : rows) EXPECT_TRUE(catalogue.GetChannelTable()->Insert(row));
        catalogue.Close();
        return Start();
    }

    static media_channel_s Channel(const std::string& id, bool failover) {
        media_channel_s channel;
        channel.id = id;
        channel.scheduleId = "sched-" + id;
        channel.disk = "D";
        channel.failoverStatus = failover;
        return channel;
    }

    test::TempDir host_;
    test::TempDir drives_;
    test::InstalledFakeVolumes volumes_;
    std::unique_ptr<MediaRecorderImpl> engine_;
};

TEST_F(CatalogueMethodsTest, BeforeInitializeEveryCallAnswersWithItsFailure) {
    MediaRecorderImpl engine;
    media_channel_s channel;
    EXPECT_FALSE(engine.GetMediaChannel("cam", channel));
    EXPECT_EQ(engine.InsertLastRowId(), -1);
    media_arb_s arb;
    arb.cameraId = "cam";
    arb.disconnectTime = 100;
    engine.insertARB(arb);
    std::map<long long, media_arb_s> arbs;
    engine.getARBAll(arbs);
    EXPECT_TRUE(arbs.empty());
    std::map<std::string, media_channel_s> failover;
    engine.getFailOverCameras(failover);
    EXPECT_TRUE(failover.empty());
}

TEST_F(CatalogueMethodsTest, MediaChannelOfAKnownAndAnUnknownId) {
    auto& engine = StartWithChannels({Channel("cam-1", false)});
    media_channel_s channel;
    ASSERT_TRUE(engine.GetMediaChannel("cam-1", channel));
    EXPECT_EQ(channel.id, "cam-1");
    EXPECT_EQ(channel.scheduleId, "sched-cam-1");
    EXPECT_EQ(channel.disk, "D");

    media_channel_s unknown;
    unknown.scheduleId = "kept";
    EXPECT_FALSE(engine.GetMediaChannel("cam' OR '1'='1", unknown));
    EXPECT_EQ(unknown.scheduleId, "kept");
}

TEST_F(CatalogueMethodsTest, FailOverCamerasAreTheRowsMarkedSo) {
    auto& engine = StartWithChannels(
        {Channel("cam-1", false), Channel("cam-2", true), Channel("cam-3", true)});
    std::map<std::string, media_channel_s> channels;
    engine.getFailOverCameras(channels);
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels.at("cam-2").scheduleId, "sched-cam-2");
    EXPECT_TRUE(channels.at("cam-3").failoverStatus);
}

TEST_F(CatalogueMethodsTest, ArbRecordsRoundTrip) {
    auto& engine = Start();
    for (const char* camera : {"cam-1", "cam-1", "cam'2"}) {
        media_arb_s arb;
        arb.cameraId = camera;
        arb.disconnectTime = 1000;
        arb.trackId = 3;
        engine.insertARB(arb);
    }
    std::map<long long, media_arb_s> all;
    engine.getARBAll(all);
    ASSERT_EQ(all.size(), 3u);

    std::map<long long, media_arb_s> quoted;
    engine.getARB("cam'2", quoted);
    ASSERT_EQ(quoted.size(), 1u);
    media_arb_s arb = quoted.begin()->second;
    EXPECT_EQ(arb.rowId, quoted.begin()->first);
    EXPECT_EQ(arb.cameraId, "cam'2");
    EXPECT_EQ(arb.trackId, 3);

    arb.reconnectTime = 2000;
    engine.updateARB(arb);
    std::map<long long, media_arb_s> updated;
    engine.getARB("cam'2", updated);
    EXPECT_EQ(updated.at(arb.rowId).reconnectTime, 2000);

    std::map<long long, media_arb_s> first;
    engine.getARB("cam-1", first);
    ASSERT_EQ(first.size(), 2u);
    engine.deleteARB(first.begin()->second);
    std::map<long long, media_arb_s> left;
    engine.getARBAll(left);
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(left.count(first.begin()->first), 0u);
}

TEST_F(CatalogueMethodsTest, BookmarksInsertUpdateDeleteAndGet) {
    auto& engine = Start();
    media_bookmark_s bookmark;
    bookmark.guid = "cam-1";
    bookmark.startTime = 100;
    bookmark.endTime = 200;
    bookmark.description = "door's open";
    engine.RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_INSERT);
    const long long rowId = engine.InsertLastRowId();
    ASSERT_GT(rowId, 0);
    bookmark.guid = "cam-2";
    engine.RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_INSERT);

    std::map<long long, media_bookmark_s> found;
    engine.GetBookmark("cam-1", found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.at(rowId).description, "door's open");

    bookmark = found.at(rowId);
    bookmark.description = "it's shut";
    bookmark.endTime = 300;
    engine.RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_UPDATE);
    // Types outside the three change nothing.
    engine.RequestBookmark(bookmark, static_cast<request_bookmark_type_s>(0));
    engine.RequestBookmark(bookmark, static_cast<request_bookmark_type_s>(4));
    found.clear();
    engine.GetBookmark("cam-1", found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.at(rowId).description, "it's shut");
    EXPECT_EQ(found.at(rowId).endTime, 300);

    engine.RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_DELETE);
    found.clear();
    engine.GetBookmark("cam-1", found);
    EXPECT_TRUE(found.empty());
    engine.GetBookmark("cam-2", found);
    EXPECT_EQ(found.size(), 1u);
}

TEST_F(CatalogueMethodsTest, RaidQueryWithoutTheLibraryLeavesTheListsAsTheyWere) {
    auto& engine = Start();
    ::setenv("OSTREL_RAID_LIBRARY", (host_.Str() + "/missing/libi2bdg.so").c_str(), 1);
    media_raid_info_s info;
    info.physicalDisks.push_back({});
    engine.getRaidChecker(info);
    engine.getRaidChecker(info);
    ::unsetenv("OSTREL_RAID_LIBRARY");
    EXPECT_TRUE(info.virtualDisks.empty());
    EXPECT_EQ(info.physicalDisks.size(), 1u);
}

}  // namespace
}  // namespace orvale::recorder
