// The hour files' write-ahead log index in heap memory: the connections of
// the process share it as they would a "-shm" file, and no such file (nor
// any other mapping) is made beside the database.
#include "recorder/database/HeapWalIndex.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include <SQLiteCpp/SQLiteCpp.h>

#include "recorder/store/HourlyDatabase.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;

// A database in write-ahead-log mode with table T(V) holding `rows` rows.
void MakeDatabase(const fs::path& path, int rows) {
    {
        SQLite::Database db(path.c_str(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE, 0,
                            HeapWalIndexVfs());
        db.exec("CREATE TABLE T(V INTEGER)");
        db.exec("PRAGMA journal_mode = WAL");
    }
    auto db = OpenHourlyDatabase(path);
    for (int i = 0; i < rows; ++i) db->exec("INSERT INTO T VALUES(" + std::to_string(i) + ")");
}

int Count(SQLite::Database& db) {
    return db.execAndGet("SELECT count(*) FROM T").getInt();
}

TEST(HeapWalIndexTest, ConnectionsShareTheLogWithoutASharedMemoryFile) {
    test::TempDir dir;
    const fs::path path = dir.Path() / "hour.kvtidx";
    MakeDatabase(path, 0);
    auto writer = OpenHourlyDatabase(path);
    auto reader = OpenHourlyDatabaseForReading(path);
    writer->exec("PRAGMA wal_autocheckpoint = 0");  // the rows stay in the log

    writer->exec("INSERT INTO T VALUES(1)");
    EXPECT_EQ(Count(*reader), 1);
    // A reader's snapshot holds while the writer goes on, and ends with it.
    reader->exec("BEGIN");
    EXPECT_EQ(Count(*reader), 1);
    writer->exec("INSERT INTO T VALUES(2)");
    EXPECT_EQ(Count(*reader), 1);
    reader->exec("COMMIT");
    EXPECT_EQ(Count(*reader), 2);

    EXPECT_TRUE(fs::exists(path.string() + "-wal"));
    EXPECT_FALSE(fs::exists(path.string() + "-shm"));

    // The last connection folds the log into the file; a new one finds all.
    writer.reset();
    reader.reset();
    EXPECT_FALSE(fs::exists(path.string() + "-wal"));
    EXPECT_EQ(Count(*OpenHourlyDatabaseForReading(path)), 2);
}

// A file made at the path of one that was removed while a connection still
// holds it (a removed hour folder, made again) must not take over that
// one's index, which describes the other file's log.
TEST(HeapWalIndexTest, AFileMadeWhereAnOpenOneWasRemovedHasAnIndexOfItsOwn) {
    test::TempDir dir;
    const fs::path path = dir.Path() / "hour.kvtidx";
    MakeDatabase(path, 0);
    auto old = OpenHourlyDatabase(path);
    old->exec("PRAGMA wal_autocheckpoint = 0");
    for (int i = 0; i < 50; ++i) old->exec("INSERT INTO T VALUES(" + std::to_string(i) + ")");

    fs::remove(path);
    fs::remove(path.string() + "-wal");
    MakeDatabase(path, 3);
    auto fresh = OpenHourlyDatabaseForReading(path);
    EXPECT_EQ(Count(*fresh), 3);
    EXPECT_EQ(Count(*old), 50);
}

}  // namespace
}  // namespace orvale::recorder
