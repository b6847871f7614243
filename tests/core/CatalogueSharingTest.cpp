// A catalogue shared by engine processes of one host folder: a busy one is
// never taken for damaged, an engine ending with file removal keeps what
// another process holds, and a damaged one is replaced from its backup while
// the damaged file is kept aside.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/process.hpp>

#include "platform/HostFolder.h"
#include "recorder/core/MediaRecorderImpl.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
namespace bp = boost::process;

class CatalogueSharingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        fs::create_directories(drive_);
        volumes_->AddFixed('D', drive_.string(), 500 * test::kGiB, 200 * test::kGiB);
    }
    void TearDown() override { platform::SetHostFolder(""); }

    struct Child {
        bp::ipstream out;
        bp::child process;
    };
    std::unique_ptr<Child> Spawn(const std::string& channel, int holdMs) {
        auto child = std::make_unique<Child>();
        child->process = bp::child(ORVALE_CATALOGUE_CHILD, host_.Str(), drive_.string(), channel,
                                   std::to_string(holdMs), bp::std_out > child->out);
        return child;
    }
    // The child's log lines may come on the same stream.
    static int Stored(Child& child) {
        for (std::string line; std::getline(child.out, line);) {
            if (line.starts_with("stored ")) return std::stoi(line.substr(7));
        }
        ADD_FAILURE() << "no count from the child";
        return -1;
    }
    size_t Found(const std::string& channel) {
        MediaRecorderImpl engine;
        engine.Initialize();
        std::map<long long, media_bookmark_s> found;
        std::string guid = channel;
        engine.GetBookmark(guid, found);
        engine.Finalize(false);
        return found.size();
    }

    test::TempDir host_;
    test::TempDir drives_;
    fs::path drive_ = drives_.Path() / "D";
    test::InstalledFakeVolumes volumes_;
};

TEST_F(CatalogueSharingTest, FinalizeWithRemovalKeepsACatalogueAnotherProcessHolds) {
    auto child = Spawn("held", 1500);
    ASSERT_EQ(Stored(*child), 3);
    {
        MediaRecorderImpl engine;
        engine.Initialize();
        engine.Finalize(true);
    }
    EXPECT_TRUE(fs::exists(host_.Path() / "DB" / "orvale.kvtdb"));
    child->process.wait();
    EXPECT_EQ(Found("held"), 3u);
}

TEST_F(CatalogueSharingTest, EnginesStartedTogetherLoseNoStoredBookmark) {
    for (int round = 0; round < 20; ++round) {
        std::vector<std::unique_ptr<Child>> children;
        for (int i = 0; i < 4; ++i) {
            children.push_back(Spawn("r" + std::to_string(round) + "c" + std::to_string(i), 0));
        }
        std::vector<int> stored;
        for (auto& child : children) {
            stored.push_back(Stored(*child));
            child->process.wait();
        }
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Found("r" + std::to_string(round) + "c" + std::to_string(i)),
                      static_cast<size_t>(stored[i]))
                << "round " << round << " engine " << i;
        }
    }
}

TEST_F(CatalogueSharingTest, DamagedCatalogueIsReplacedFromBackupAndKeptAside) {
    auto child = Spawn("saved", 0);
    ASSERT_EQ(Stored(*child), 3);
    child->process.wait();
    const fs::path db = host_.Path() / "DB";
    fs::copy_file(db / "orvale.kvtdb", db / "Backup" / "orvale.kvtdb",
                  fs::copy_options::overwrite_existing);
    const std::string garbage(8192, 'x');
    std::ofstream(db / "orvale.kvtdb", std::ios::binary | std::ios::trunc) << garbage;

    EXPECT_EQ(Found("saved"), 3u);
    int aside = 0;
    for (const auto& entry : fs::directory_iterator(db)) {
        if (entry.path().filename().string().starts_with("orvale.kvtdb.damaged-")) {
            ++aside;
            EXPECT_EQ(fs::file_size(entry.path()), garbage.size());
        }
    }
    EXPECT_EQ(aside, 1);
}

}  // namespace
}  // namespace orvale::recorder
