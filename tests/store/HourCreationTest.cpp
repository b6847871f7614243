// Writers of one channel hour that open its new databases at the same moment
// (the normal and the low profile, the ARB recorder, a metadata writer after
// a restart) must all end up in one complete file: a file that one of them
// made and wrote is never replaced by another's copy of the template.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/HostFolder.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/HourlyDatabase.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/MetaDataFile.h"
#include "tests/support/HourDatabase.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kFirstHour = 1706742000;  // 2024-01-31 23:00:00 UTC
constexpr int kWriters = 6;
constexpr int kHours = 8;

int64_t Count(const fs::path& file, const std::string& sql) {
    SQLite::Database db = test::HourDatabase(file.string());
    return db.execAndGet(sql).getInt64();
}

class HourCreationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        ASSERT_TRUE(IndexFile::CreateTemplate());
        ASSERT_TRUE(MetaDataFile::CreateTemplate());
    }
    void TearDown() override { platform::SetHostFolder(""); }

    fs::path Folder(int hour) const {
        fs::path folder = host_.Path() / "rec" / std::to_string(hour) / "0001";
        fs::create_directories(folder);
        return folder;
    }

    // Runs `writer(i)` on kWriters threads released at once; counts failures.
    template <class Writer>
    int RunTogether(const Writer& writer) {
        std::atomic<int> ready{0};
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        threads.reserve(kWriters);
        for (int i = 0; i < kWriters; ++i) {
            threads.emplace_back([&, i] {
                ++ready;
                while (ready.load() < kWriters) std::this_thread::yield();
                if (!writer(i)) ++failures;
            });
        }
        for (auto& thread : threads) thread.join();
        return failures.load();
    }

    test::TempDir host_;
    std::shared_ptr<FolderInUseContainer> folders_ = FolderInUseContainer::Create();
};

TEST_F(HourCreationTest, MetadataWritersOfANewHourKeepEveryRow) {
    for (int hour = 0; hour < kHours; ++hour) {
        const int64_t start = kFirstHour + int64_t{3600} * hour;
        const fs::path path = Folder(hour) / MetaDataFile::MakeFileName(start);
        const int failures = RunTogether([&](int i) {
            auto file = MetaDataFile::Create(path, folders_);
            auto frame = std::make_shared<MetaDataFrame>();
            frame->utc = start + i;
            frame->encodingType = "xml";
            frame->content = {'<', 'x', '/', '>'};
            return file->Open(1 << 20) && file->Insert({frame});
        });
        EXPECT_EQ(failures, 0) << "hour " << hour;
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_METADATA"), kWriters) << "hour " << hour;
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_VER"), 1) << "hour " << hour;
    }
}

TEST_F(HourCreationTest, IndexWritersOfANewHourKeepEveryRow) {
    for (int hour = 0; hour < kHours; ++hour) {
        const int64_t start = kFirstHour + int64_t{3600} * hour;
        const fs::path path = Folder(hour) / IndexFile::MakeFileName(start);
        const int failures = RunTogether([&](int i) {
            IndexFile file(path, folders_);
            index_row_s row;
            row.keyTime = start + i;
            row.keyOffset = 4096;
            timeline_flags_s flags;
            flags.time = start + i;
            flags.eventBits = 0x4;
            return file.Open(start) &&
                   file.WriteSeconds(1, {{start + i, false, false}}, {row}, "x.kvthdt", {flags});
        });
        EXPECT_EQ(failures, 0) << "hour " << hour;
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_INDEX"), kWriters) << "hour " << hour;
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_TIMELINE"), 3601) << "hour " << hour;
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_TIMELINE WHERE MOTION = 1"), kWriters);
    }
}

// A start finds the template another start made: a sound one of this
// build's tables and version is kept as it stands (a copy being made from it
// goes on reading it); one of another version, or not a database, is built
// again aside and renamed into place, with nothing left beside it.
TEST(TemplatePlacementTest, ASoundTemplateIsKeptAndAnyOtherIsBuiltAgainAside) {
    test::TempDir dir;
    const fs::path path = dir.Path() / "DBTemp" / "indexdb.kvtidx";
    const fs::path link = dir.Path() / "link";
    ASSERT_TRUE(PlaceTemplate(path, &IndexFile::CreateTables));
    fs::create_hard_link(path, link);
    ASSERT_TRUE(PlaceTemplate(path, &IndexFile::CreateTables));
    EXPECT_EQ(fs::hard_link_count(path), 2u) << "a sound template was made again";

    {
        SQLite::Database db(path.string(), SQLite::OPEN_READWRITE);
        db.exec("UPDATE T_VER SET VER = 0");
    }
    ASSERT_TRUE(PlaceTemplate(path, &IndexFile::CreateTables));
    EXPECT_EQ(fs::hard_link_count(path), 1u) << "a template of another version was kept";
    EXPECT_EQ(Count(path, "SELECT VER FROM T_VER"), 1);

    fs::remove(path);
    std::ofstream(path) << "not a database";
    ASSERT_TRUE(PlaceTemplate(path, &IndexFile::CreateTables));
    EXPECT_EQ(Count(path, "SELECT count(*) FROM T_VER"), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()),
              1);
}

}  // namespace
}  // namespace orvale::recorder
