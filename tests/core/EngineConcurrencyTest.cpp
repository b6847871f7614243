// The exported engine called from several threads at once, and its walks
// over registries while they change and while a visit fails.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/ConcurrentUnorderedMap.h"
#include "platform/DynamicLibrary.h"
#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/core/RegistryWalk.h"
#include "tests/storage/FakeRaid.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kGiB;

// A volume layer that starts failing when told to, as one whose system
// calls run out of memory would: every call then throws.
class FailingVolumes final : public platform::VolumeProvider {
  public:
    explicit FailingVolumes(std::shared_ptr<test::FakeVolumeProvider> inner)
        : inner_(std::move(inner)) {}
    void Fail() { failing_ = true; }

    std::vector<platform::VolumeInfo> ListVolumes() override {
        Check();
        return inner_->ListVolumes();
    }
    std::string RootFolder(char letter) override {
        Check();
        return inner_->RootFolder(letter);
    }
    bool IsPresent(char letter) override {
        Check();
        return inner_->IsPresent(letter);
    }
    int GetSpace(char letter, platform::VolumeSpace& space) override {
        Check();
        return inner_->GetSpace(letter, space);
    }

  private:
    void Check() const {
        if (failing_) throw std::bad_alloc();
    }
    std::shared_ptr<test::FakeVolumeProvider> inner_;
    std::atomic<bool> failing_{false};
};

class EngineConcurrencyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        const fs::path root = drives_.Path() / "D";
        fs::create_directories(root);
        fake_->AddFixed('D', root.string(), 500 * kGiB, 200 * kGiB);
        platform::InstallVolumeProvider(volumes_);
    }
    void TearDown() override {
        platform::InstallVolumeProvider(nullptr);
        platform::SetHostFolder("");
    }

    test::TempDir host_;
    test::TempDir drives_;
    std::shared_ptr<test::FakeVolumeProvider> fake_ = std::make_shared<test::FakeVolumeProvider>();
    std::shared_ptr<FailingVolumes> volumes_ = std::make_shared<FailingVolumes>(fake_);
};

// The RAID query of several threads at once: each checker stays loaded while
// a thread is inside it, and each thread gets the whole answer.
TEST_F(EngineConcurrencyTest, RaidQueriesFromSeveralThreadsTakeTurns) {
    ::setenv("OSTREL_RAID_LIBRARY", FAKE_RAID_LIBRARY, 1);
    // The test holds the library loaded, so its scenario outlives the
    // engine's loads and unloads.
    auto library = platform::DynamicLibrary::Open(FAKE_RAID_LIBRARY);
    ASSERT_TRUE(library);
    const auto configure = library->Function<test::FakeRaidConfigureFunction>("FakeRaid_Configure");
    ASSERT_NE(configure, nullptr);
    test::FakeRaidLogical logical[2];
    logical[0].id = 1;
    logical[1].id = 2;
    std::memcpy(logical[0].status, "OK", 2);
    std::memcpy(logical[1].status, "Degraded", 8);
    test::FakeRaidPhysical physical[1];
    physical[0].id = 7;
    std::memcpy(physical[0].status, "OK", 2);
    test::FakeRaidScenario scenario;
    scenario.logicalCount = 2;
    scenario.logical = logical;
    scenario.logicalEntries = 2;
    scenario.physicalCount = 1;
    scenario.physical = physical;
    scenario.physicalEntries = 1;
    configure(&scenario);

    MediaRecorder engine;
    engine.Initialize();
    constexpr int kQueries = 500;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kQueries; ++i) {
                media_raid_info_s info;
                engine.getRaidChecker(info);
                if (info.virtualDisks.size() != 2 || info.physicalDisks.size() != 1) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    engine.Finalize(false);
    ::unsetenv("OSTREL_RAID_LIBRARY");
    EXPECT_EQ(wrong.load(), 0);
}

// No exception leaves an exported method: the failure is logged under the
// method's name and the method answers its failure value.
TEST_F(EngineConcurrencyTest, AFailingLayerBelowNeverThrowsToTheHost) {
    MediaRecorder engine;
    engine.Initialize();
    std::string id = "cam1";
    std::string schedule = "1";
    ASSERT_NE(engine.CreateRecorder(id, schedule, 0, false), nullptr);
    volumes_->Fail();
    test::LogCapture log;

    std::vector<media_drive_s> drives;
    EXPECT_FALSE(engine.GetMediaDrive(drives));
    EXPECT_EQ(engine.GetMediaDriveSpace("D").totalMB, 0u);
    std::string d = "D";
    engine.SetMediaDrive(d, MEDIA_DRIVE_STATUS_RELEASE);
    EXPECT_EQ(log.Count("GetMediaDrive failed, Exception: std::bad_alloc"), 1u);
    engine.Finalize(false);
}

// A maintenance run whose drive refresh fails still reports every recorder.
TEST_F(EngineConcurrencyTest, OneFailingMaintenanceStepStopsNoOther) {
    MediaRecorderImpl engine;
    engine.Initialize();
    for (const char* id : {"cam1", "cam2"})
        ASSERT_NE(engine.CreateRecorder(id, "1", 0, false), nullptr);
    volumes_->Fail();
    test::LogCapture log;
    engine.RunMaintenance();
    EXPECT_EQ(log.Count("Maintenance: drive refresh failed"), 1u);
    EXPECT_EQ(log.Count("],Record Frame Status: "), 2u);
    engine.Finalize(false);
}

// Walks visit a snapshot: a visit may change the registry it walks, and
// one that throws leaves the others visited.
TEST(RegistryWalkTest, AVisitThatThrowsOrChangesTheRegistryStopsNoOther) {
    ConcurrentUnorderedMap<int, std::shared_ptr<int>> registry;
    for (int i = 0; i < 5; ++i) registry.Insert(i, std::make_shared<int>(i));
    test::LogCapture log;
    std::vector<int> visited;
    const size_t failed = WalkRegistry(registry, "Test walk", [&](const std::shared_ptr<int>& v) {
        visited.push_back(*v);
        registry.Erase(*v);  // under the walk's own lock this would deadlock
        registry.Insert(100 + *v, std::make_shared<int>(100 + *v));
        if (*v == 2) throw std::runtime_error("broken recorder");
    });
    EXPECT_EQ(failed, 1u);
    std::sort(visited.begin(), visited.end());
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(registry.Size(), 5u);
    EXPECT_EQ(log.Count("Test walk failed, Exception: broken recorder"), 1u);
}

// A thread's last inserted row id is its own: a new thread never inherits
// the id of a thread that ended, even when it gets that thread's id.
TEST_F(EngineConcurrencyTest, ANewThreadHasNoLastRowIdOfAnEndedOne) {
    MediaRecorder engine;
    engine.Initialize();
    std::thread::id ended;
    long long inserted = 0;
    std::thread([&] {
        media_bookmark_s bookmark;
        bookmark.guid = "cam1";
        engine.RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_INSERT);
        inserted = engine.InsertLastRowId();
        ended = std::this_thread::get_id();
    }).join();
    ASSERT_GT(inserted, 0);
    bool sameId = false;
    long long seen = -2;
    for (int attempt = 0; attempt < 20 && !sameId; ++attempt) {
        std::thread([&] {
            sameId = std::this_thread::get_id() == ended;
            seen = engine.InsertLastRowId();
        }).join();
        EXPECT_EQ(seen, 0) << "attempt " << attempt;
    }
    if (!sameId) std::cout << "note: no new thread reused the ended thread's id\n";
    engine.Finalize(false);
}

}  // namespace
}  // namespace orvale::recorder
