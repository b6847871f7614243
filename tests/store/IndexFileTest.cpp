#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/HostFolder.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/IndexFile.h"
#include "tests/support/HourDatabase.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kHour = 1706742000;  // 2024-01-31 23:00:00 UTC

int Count(const fs::path& file, const std::string& sql) {
    SQLite::Database db = test::HourDatabase(file.string());
    return db.execAndGet(sql).getInt();
}

timeline_flags_s Flags(int64_t time, uint32_t event, uint32_t analytics = 0, uint32_t audio = 0) {
    timeline_flags_s flags;
    flags.time = time;
    flags.eventBits = event;
    flags.analyticsBits = analytics;
    flags.audioBits = audio;
    return flags;
}

index_row_s Row(int64_t time, uint64_t offset, uint32_t size) {
    index_row_s row;
    row.keyTime = time;
    row.keyOffset = offset;
    row.keySize = size;
    return row;
}

class IndexFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        ASSERT_TRUE(IndexFile::CreateTemplate());
        fs::create_directories(Track());
    }
    void TearDown() override { platform::SetHostFolder(""); }

    fs::path Track() const {
        return host_.Path() / "rec" / "cam1" / "2024" / "01" / "31" / "23" / "0001";
    }
    fs::path HourPath() const { return Track() / IndexFile::MakeFileName(kHour); }

    std::shared_ptr<IndexFile> OpenHour(int64_t time = kHour) {
        auto file = std::make_shared<IndexFile>(HourPath(), folders_);
        EXPECT_TRUE(file->Open(time));
        return file;
    }

    // Writes seconds [from, to] of one profile with the given flags, key frames every second.
    void Write(IndexFile& file, int profile, int64_t from, int64_t to, uint32_t event,
               const std::string& dataFile = "20240131230000.kvthdt") {
        std::vector<dual_track_row_s> seconds;
        std::vector<index_row_s> rows;
        std::vector<timeline_flags_s> timeline;
        for (int64_t t = from; t <= to; ++t) {
            seconds.push_back({t, false, false});
            rows.push_back(Row(t, static_cast<uint64_t>(t - kHour) * 4096, 1000));
            timeline.push_back(Flags(t, event));
        }
        ASSERT_TRUE(file.WriteSeconds(profile, seconds, rows, dataFile, timeline));
    }

    test::TempDir host_;
    std::shared_ptr<FolderInUseContainer> folders_ = FolderInUseContainer::Create();
};

TEST_F(IndexFileTest, TemplateHasTheExactSchemaAndSize) {
    const fs::path path = IndexFile::TemplatePath();
    EXPECT_EQ(fs::file_size(path), 307200u);
    SQLite::Database db = test::HourDatabase(path.string());
    auto sql = [&](const char* table) {
        SQLite::Statement query(db, "SELECT sql FROM sqlite_master WHERE name = ?");
        query.bind(1, table);
        return query.executeStep() ? query.getColumn(0).getString() : std::string();
    };
    EXPECT_EQ(sql("T_VER"), "CREATE TABLE [T_VER]( \t\t\t\t\t[VER]INTEGER \t\t\t\t\t)");
    EXPECT_EQ(sql("T_INDEX"),
              "CREATE TABLE [T_INDEX]( \t\t\t\t\t[UTC]INTEGER \t\t\t\t\t,[NAME]VARCHAR(255) "
              "\t\t\t\t\t,[OFFSET]INTEGER \t\t\t\t\t,[SIZE]INTEGER \t\t\t\t\t,[END] BOOLEAN "
              "\t\t\t\t\t,[ENDOFFSET] INTEGER \t\t\t\t\t,[ENDTIME] INTEGER \t\t\t\t\t,CONSTRAINT "
              "[PK_T_INDEX] PRIMARY KEY ([UTC]) \t\t\t\t\t)");
    EXPECT_EQ(sql("T_LOWINDEX"),
              "CREATE TABLE [T_LOWINDEX]( \t\t\t\t\t[UTC]INTEGER \t\t\t\t\t,[NAME]VARCHAR(255) "
              "\t\t\t\t\t,[OFFSET]INTEGER \t\t\t\t\t,[SIZE]INTEGER \t\t\t\t\t,[END] BOOLEAN "
              "\t\t\t\t\t,[ENDOFFSET] INTEGER \t\t\t\t\t,[ENDTIME] INTEGER \t\t\t\t\t,CONSTRAINT "
              "[PK_T_LOWINDEX] PRIMARY KEY ([UTC]) \t\t\t\t\t)");
    EXPECT_EQ(sql("T_DUALTRACKINDEX"),
              "CREATE TABLE [T_DUALTRACKINDEX]( \t\t\t\t\t[UTC]INTEGER \t\t\t\t\t,[HIGH]BOOLEAN "
              "\t\t\t\t\t,[LOW]BOOLEAN \t\t\t\t\t,CONSTRAINT [PK_T_DUALTRACKINDEX] PRIMARY KEY "
              "([UTC]) \t\t\t\t\t)");
    EXPECT_EQ(
        sql("T_TIMELINE"),
        "CREATE TABLE [T_TIMELINE]( \t\t\t\t\t[UTC]INTEGER \t\t\t\t\t,[End]BOOLEAN "
        "\t\t\t\t\t,[VIDEOLOSS]BOOLEAN \t\t\t\t\t,[ALARM]BOOLEAN \t\t\t\t\t,[MOTION]BOOLEAN "
        "\t\t\t\t\t,[MANUAL]BOOLEAN \t\t\t\t\t,[CONTINUOUS]BOOLEAN \t\t\t\t\t,[IV]BOOLEAN "
        "\t\t\t\t\t,[AUDIODETECT]BOOLEAN \t\t\t\t\t,[ARB]BOOLEAN \t\t\t\t\t,[ENCRYPTED]BOOLEAN "
        "\t\t\t\t\t,[USERDEFINED]BOOLEAN \t\t\t\t\t,[DEFOCUSED]BOOLEAN "
        "\t\t\t\t\t,[FOGDETECTION]BOOLEAN "
        "\t\t\t\t\t,[AUDIOANALYTICS]BOOLEAN \t\t\t\t\t,[PASSING]BOOLEAN "
        "\t\t\t\t\t,[ENTERING]BOOLEAN "
        "\t\t\t\t\t,[EXITING]BOOLEAN \t\t\t\t\t,[APPEARING]BOOLEAN "
        "\t\t\t\t\t,[DISAPPEARING]BOOLEAN "
        "\t\t\t\t\t,[SCENECHANGE]BOOLEAN \t\t\t\t\t,[TRACKING]BOOLEAN "
        "\t\t\t\t\t,[FACEDETECTION]BOOLEAN "
        "\t\t\t\t\t,[NORMAL]BOOLEAN \t\t\t\t\t,[INTRUSION]BOOLEAN \t\t\t\t\t,[LOITERING]BOOLEAN "
        "\t\t\t\t\t,[SCREAM]BOOLEAN \t\t\t\t\t,[GUNSHOT]BOOLEAN \t\t\t\t\t,[EXPLOSION]BOOLEAN "
        "\t\t\t\t\t,[GLASSBREAK]BOOLEAN \t\t\t\t\t,[TEMPERATURE]BOOLEAN \t\t\t\t\t,[SHOCK]BOOLEAN "
        "\t\t\t\t\t,CONSTRAINT [PK_T_TIMELINE] PRIMARY KEY ([UTC]) \t\t\t\t\t)");
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM T_VER").getInt(), 1);
}

// The hour's rows run from its UTC hour floor, wherever in the hour it opens.
TEST_F(IndexFileTest, NewHourIsPreFilledFromItsHourStart) {
    for (const int64_t opened : {kHour, kHour + 610}) {
        SCOPED_TRACE(opened);
        fs::remove_all(Track());
        fs::create_directories(Track());
        auto file = OpenHour(opened);
        const auto path = HourPath();
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_DUALTRACKINDEX"), 3600);
        EXPECT_EQ(Count(path, "SELECT min(UTC) FROM T_DUALTRACKINDEX"), kHour);
        EXPECT_EQ(Count(path, "SELECT max(UTC) FROM T_DUALTRACKINDEX"), kHour + 3599);
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH OR LOW"), 0);
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_TIMELINE"), 3601);
        EXPECT_EQ(Count(path, "SELECT min(UTC) FROM T_TIMELINE"), kHour);
        EXPECT_EQ(Count(path, "SELECT max(UTC) FROM T_TIMELINE"), kHour + 3600);
        EXPECT_EQ(Count(path,
                        "SELECT count(*) FROM T_TIMELINE WHERE End = 1 AND MOTION = 0 AND "
                        "SHOCK = 0 AND VIDEOLOSS = 0"),
                  3601);
        EXPECT_EQ(Count(path, "SELECT count(*) FROM T_VER"), 1);
        // Nothing but the hour file is left in the folder.
        EXPECT_EQ(test::FilesIn(Track()).size(),
                  1u + fs::exists(path.string() + "-wal") + fs::exists(path.string() + "-shm"));
    }
}

TEST_F(IndexFileTest, ExistingHourGetsNoRowsAndMissingTemplateStillWorks) {
    fs::remove(IndexFile::TemplatePath());
    // An hour that no file of this process was made for yet, so that nothing
    // but the missing template's fallback makes it.
    const int64_t unseen = kHour + int64_t{3600} * 24 * 400;
    auto first = OpenHour(unseen);
    Write(*first, 1, unseen, unseen, 0x4);
    auto second = OpenHour(unseen);
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_DUALTRACKINDEX"), 3600);
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_INDEX"), 1);
}

TEST_F(IndexFileTest, FileLeftWithoutItsRowsIsCompleted) {
    ASSERT_TRUE(IndexFile::CreateTables(HourPath()));
    {
        SQLite::Database db = test::HourDatabase(HourPath().string(), SQLite::OPEN_READWRITE);
        db.exec("INSERT INTO T_DUALTRACKINDEX VALUES(1706742000, 1, 0)");
    }
    auto file = OpenHour();
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_DUALTRACKINDEX"), 3600);
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_TIMELINE"), 3601);
    EXPECT_EQ(Count(HourPath(), "SELECT HIGH FROM T_DUALTRACKINDEX WHERE UTC = 1706742000"), 1);

    file.reset();
    test::WriteFile(HourPath(), "");  // a zero-length leftover
    auto again = std::make_shared<IndexFile>(HourPath(), folders_);
    ASSERT_TRUE(again->Open(kHour));
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_TIMELINE"), 3601);
}

TEST_F(IndexFileTest, TimelineStatementNamesOnlySetColumns) {
    struct Case {
        timeline_flags_s flags;
        const char* sql = nullptr;
    };
    const Case cases[] = {
        {Flags(100, 0), "UPDATE [T_TIMELINE] SET UTC = 100, End = 1 WHERE UTC = 100"},
        {Flags(100, 0x4000, 0x200),
         "UPDATE [T_TIMELINE] SET UTC = 100, End = 0, DEFOCUSED = 1 WHERE UTC = 100"},
        {Flags(100, 0x40), "UPDATE [T_TIMELINE] SET UTC = 100, End = 0 WHERE UTC = 100"},
        {Flags(100, 0x5, 0x2001, 0x8),
         "UPDATE [T_TIMELINE] SET UTC = 100, End = 0, VIDEOLOSS = 1, MOTION = 1, PASSING = 1, "
         "GLASSBREAK = 1, SHOCK = 1 WHERE UTC = 100"},
    };
    for (const auto& c : cases) EXPECT_EQ(IndexFile::BuildTimelineUpdate(c.flags), c.sql);
}

TEST_F(IndexFileTest, WrittenSecondsLandInTheirProfileTables) {
    auto file = OpenHour();
    Write(*file, 1, kHour + 10, kHour + 12, 0x4);
    Write(*file, 1, kHour + 10, kHour + 12, 0x4);  // the same batch again changes nothing
    Write(*file, 2, kHour + 11, kHour + 11, 0x10, "20240131230011.kvtldt");
    Write(*file, 3, kHour + 20, kHour + 20, 0x800);
    const auto path = HourPath();
    EXPECT_EQ(Count(path, "SELECT count(*) FROM T_INDEX"), 4);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM T_LOWINDEX"), 1);
    EXPECT_EQ(Count(path, "SELECT OFFSET FROM T_INDEX WHERE UTC = 1706742012"), 12 * 4096);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH = 1"), 4);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM T_DUALTRACKINDEX WHERE LOW = 1 AND HIGH = 1"), 1);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM T_TIMELINE WHERE End = 0 AND MOTION = 1"), 3);
    EXPECT_EQ(Count(path, "SELECT CONTINUOUS + MOTION FROM T_TIMELINE WHERE UTC = 1706742011"), 2);
    EXPECT_EQ(Count(path, "SELECT ARB FROM T_TIMELINE WHERE UTC = 1706742020"), 1);
    EXPECT_EQ(Count(path, "SELECT End FROM T_TIMELINE WHERE UTC = 1706742013"), 1);

    ASSERT_TRUE(file->CloseIndexRow(1, "20240131230000.kvthdt", 999, kHour + 13));
    EXPECT_EQ(Count(path, "SELECT count(*) FROM T_INDEX WHERE END = 1"), 1);
    EXPECT_EQ(Count(path, "SELECT ENDOFFSET FROM T_INDEX WHERE UTC = 1706742020"), 999);
}

// Every row of a table, in time order, as text.
std::string Dump(const fs::path& file, const std::string& table) {
    SQLite::Database db = test::HourDatabase(file.string());
    SQLite::Statement all(db, "SELECT * FROM " + table + " ORDER BY UTC");
    std::string text;
    while (all.executeStep()) {
        for (int i = 0; i < all.getColumnCount(); ++i) text += all.getColumn(i).getString() + ",";
        text += "\n";
    }
    return text;
}

// Runs of seconds with the same flags are updated together; the rows must
// come out as if each second had been written on its own, with gaps, flag
// changes and seconds out of order in the batch.
TEST_F(IndexFileTest, ABatchLeavesTheRowsThatItsSecondsOneByOneWould) {
    struct Second {
        int64_t offset;
        uint32_t event;
    };
    const std::vector<Second> batch = {{1, 0x4},  {2, 0x4},   {3, 0x4},  {4, 0x10},
                                       {5, 0x10}, {8, 0x4},   {9, 0x0},  {10, 0x0},
                                       {7, 0x4},  {11, 0x14}, {12, 0x4}, {3599, 0x4}};
    for (const int profile : {1, 2}) {
        std::vector<dual_track_row_s> seconds;
        std::vector<index_row_s> rows;
        std::vector<timeline_flags_s> timeline;
        for (const Second& second : batch) {
            seconds.push_back({kHour + second.offset, false, false});
            rows.push_back(
                Row(kHour + second.offset, static_cast<uint64_t>(second.offset) * 4096, 9));
            timeline.push_back(Flags(kHour + second.offset, second.event));
        }
        const fs::path oneByOneTrack = Track().parent_path() / "0002";
        fs::create_directories(oneByOneTrack);
        const fs::path oneByOnePath = oneByOneTrack / IndexFile::MakeFileName(kHour);
        {
            auto together = OpenHour();
            ASSERT_TRUE(together->WriteSeconds(profile, seconds, rows, "a.kvthdt", timeline));
            IndexFile oneByOne(oneByOnePath, folders_);
            ASSERT_TRUE(oneByOne.Open(kHour));
            for (size_t i = 0; i < batch.size(); ++i) {
                ASSERT_TRUE(oneByOne.WriteSeconds(profile, {seconds[i]}, {rows[i]}, "a.kvthdt",
                                                  {timeline[i]}));
            }
        }
        for (const char* table : {"T_TIMELINE", "T_DUALTRACKINDEX", "T_INDEX", "T_LOWINDEX"}) {
            EXPECT_EQ(Dump(HourPath(), table), Dump(oneByOnePath, table))
                << table << ", profile " << profile;
        }
        EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_TIMELINE WHERE End = 0"), 10);
        fs::remove_all(Track());
        fs::remove_all(oneByOneTrack);
        fs::create_directories(Track());
    }
}

// The channels of an hour after the first get a copy of the file the first
// one made when it was new: the same tables and rows, none of what the first
// channel wrote since, and a new hour still gets its own rows.
TEST_F(IndexFileTest, LaterFilesOfAnHourAreCopiesOfTheFirstAsItWasMade) {
    const fs::path first = Track().parent_path() / "0002" / IndexFile::MakeFileName(kHour);
    fs::create_directories(first.parent_path());
    {
        IndexFile file(first, folders_);
        ASSERT_TRUE(file.Open(kHour + 5));
        Write(file, 1, kHour + 1, kHour + 3, 0x4);
    }
    auto later = OpenHour(kHour + 100);
    later.reset();
    for (const char* table : {"T_TIMELINE", "T_DUALTRACKINDEX", "T_VER"}) {
        EXPECT_EQ(Count(HourPath(), std::string("SELECT count(*) FROM ") + table),
                  Count(first, std::string("SELECT count(*) FROM ") + table))
            << table;
    }
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_INDEX"), 0);
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH = 1"), 0);
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_TIMELINE WHERE End = 0"), 0);
    EXPECT_EQ(Count(HourPath(), "SELECT min(UTC) FROM T_DUALTRACKINDEX"), kHour);
    {
        SQLite::Database db = test::HourDatabase(HourPath().string());
        EXPECT_EQ(db.execAndGet("PRAGMA journal_mode").getString(), "wal");
    }

    const fs::path next = Track().parent_path() / "0003" / IndexFile::MakeFileName(kHour + 3600);
    fs::create_directories(next.parent_path());
    IndexFile nextHour(next, folders_);
    ASSERT_TRUE(nextHour.Open(kHour + 3600));
    EXPECT_EQ(Count(next, "SELECT min(UTC) FROM T_DUALTRACKINDEX"), kHour + 3600);
    EXPECT_EQ(Count(next, "SELECT max(UTC) FROM T_TIMELINE"), kHour + 7200);
}

// A batch is all or nothing, and a failed one is logged with its statement.
TEST_F(IndexFileTest, AFailedBatchWritesNothingAndNamesItsStatement) {
    test::LogCapture log;
    auto file = OpenHour();
    Write(*file, 1, kHour + 1, kHour + 1, 0x4);
    {
        SQLite::Database other = test::HourDatabase(HourPath().string(), SQLite::OPEN_READWRITE);
        other.exec("DROP TABLE T_TIMELINE");
    }
    EXPECT_FALSE(file->WriteSeconds(1, {{kHour + 2, false, false}}, {Row(kHour + 2, 8192, 10)},
                                    "20240131230000.kvthdt", {Flags(kHour + 2, 0x4)}));
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_INDEX"), 1);
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH = 1"), 1);
    EXPECT_EQ(log.Count("QUERY: UPDATE [T_TIMELINE] SET UTC = 1706742002, End = 0, MOTION = 1 "
                        "WHERE UTC = 1706742002"),
              1u);
}

TEST_F(IndexFileTest, DeletedFileIsReportedNotRecreated) {
    auto file = OpenHour();
    file.reset();
    fs::remove_all(Track());
    IndexFile gone(HourPath(), folders_);
    index_row_s row;
    int profile = 1;
    std::vector<timeline_flags_s> timeline;
    EXPECT_FALSE(gone.WriteSeconds(1, {{kHour, false, false}}, {Row(kHour, 0, 1)}, "x", {}));
    EXPECT_FALSE(gone.FindIndexRow(1, row, kHour, true));
    EXPECT_FALSE(gone.ReadTimeline(kHour, kHour + 3600, {}, timeline));
    EXPECT_EQ(gone.GetDualTrackBound(profile, true), 0);
    EXPECT_FALSE(fs::exists(HourPath()));
}

TEST_F(IndexFileTest, FindsRowsByTimeNameAndBounds) {
    auto file = OpenHour();
    index_row_s none;
    EXPECT_FALSE(file->FindIndexRow(1, none, kHour, true));
    EXPECT_FALSE(file->HasRecord(kHour, kHour + 3599));

    Write(*file, 1, kHour + 10, kHour + 10, 0x4, "a'file");
    Write(*file, 1, kHour + 20, kHour + 20, 0x4, "b");
    Write(*file, 2, kHour + 30, kHour + 40, 0x10, "low");

    struct Case {
        int64_t time;
        bool forward;
        bool found;
        int64_t keyTime;
    };
    const Case cases[] = {
        {kHour + 10, true, true, kHour + 10}, {kHour + 10, false, true, kHour + 10},
        {kHour + 15, true, true, kHour + 20}, {kHour + 15, false, true, kHour + 10},
        {kHour + 21, true, false, 0},         {kHour + 9, false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time - kHour);
        index_row_s row;
        EXPECT_EQ(file->FindIndexRow(1, row, c.time, c.forward), c.found);
        EXPECT_EQ(row.keyTime, c.keyTime);
    }
    index_row_s last;
    ASSERT_TRUE(file->GetLastIndexRow(2, last));
    EXPECT_EQ(last.keyTime, kHour + 40);
    EXPECT_EQ(last.name, "low");

    std::vector<index_row_s> byName;
    ASSERT_TRUE(file->ReadIndexRowsByName(1, byName, "a'file"));
    ASSERT_EQ(byName.size(), 1u);
    EXPECT_EQ(byName[0].keySize, 1000u);
    std::vector<std::string> names;
    ASSERT_TRUE(file->ListDataFileNames(1, names));
    EXPECT_EQ(names, (std::vector<std::string>{"a'file", "b"}));

    EXPECT_TRUE(file->HasRecord(kHour + 11, kHour + 20));
    EXPECT_FALSE(file->HasRecord(kHour + 30, kHour + 40));    // the low profile is not consulted
    EXPECT_TRUE(file->HasRecord(kHour + 30, kHour + 40, 2));  // unless asked for
    EXPECT_FALSE(file->HasRecord(kHour + 11, kHour + 20, 2));
    EXPECT_EQ(file->FindPreviousTrackTime(1, kHour + 20), kHour + 10);
    EXPECT_EQ(file->FindPreviousTrackTime(2, kHour + 30), 0);

    std::vector<dual_track_row_s> dual;
    ASSERT_TRUE(file->ReadDualTrackRows(dual));
    EXPECT_EQ(dual.size(), 3600u);
    std::vector<dual_track_row_s> high;
    ASSERT_TRUE(file->ReadHighTrackRows(high));
    EXPECT_EQ(high.size(), 2u);
}

TEST_F(IndexFileTest, RecordBoundsFollowTheProfileWhenAllowed) {
    auto file = OpenHour();
    int profile = 1;
    unsigned first = 1;
    EXPECT_EQ(file->GetDualTrackBound(profile, true), 0);
    Write(*file, 2, kHour + 5, kHour + 8, 0x10);

    EXPECT_EQ(file->GetFirstRecordTime(first, false), 0);
    EXPECT_EQ(file->GetFirstRecordTime(first, true), kHour + 5);
    EXPECT_EQ(first, 2u);
    profile = 1;
    EXPECT_EQ(file->GetDualTrackBound(profile, true), kHour + 8);
    EXPECT_EQ(profile, 2);
    profile = 2;
    EXPECT_EQ(file->GetDualTrackBound(profile, false), kHour + 8);
}

TEST_F(IndexFileTest, TimelineComesBackAsChangePoints) {
    auto file = OpenHour();
    std::vector<timeline_flags_s> out;
    ASSERT_TRUE(file->ReadTimeline(kHour, kHour + 3600, {~0u, ~0u, ~0u}, out));
    EXPECT_TRUE(out.empty());

    Write(*file, 1, kHour, kHour + 9, 0x4);
    Write(*file, 1, kHour + 15, kHour + 19, 0x4);
    ASSERT_TRUE(file->ReadTimeline(kHour, kHour + 19, {~0u, ~0u, ~0u}, out));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].time, kHour);
    EXPECT_EQ(out[0].eventBits, 0x4u);
    EXPECT_EQ(out[1].time, kHour + 10);
    EXPECT_TRUE(out[1].end);
    EXPECT_EQ(out[2].time, kHour + 15);
    EXPECT_EQ(out[2].eventBits, 0x4u);

    out.clear();  // masks of 0 keep the change points, with zero words
    ASSERT_TRUE(file->ReadTimeline(kHour, kHour + 3600, {0, 0, 0}, out));
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].eventBits, 0u);
    EXPECT_TRUE(out[3].end);
    EXPECT_EQ(out[3].time, kHour + 20);
}

TEST_F(IndexFileTest, SecondsWithoutReadableEventsStillCountAsRecorded) {
    auto file = OpenHour();
    Write(*file, 1, kHour, kHour + 4, 0x20);  // IV only: written, never read back
    std::vector<timeline_flags_s> out;
    ASSERT_TRUE(file->ReadTimeline(kHour, kHour + 10, {~0u, ~0u, ~0u}, out));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_FALSE(out[0].end);
    EXPECT_EQ(out[0].eventBits, 0u);
    EXPECT_TRUE(out[1].end);
    EXPECT_EQ(out[1].time, kHour + 5);
}

// The change points as first read: every row of the range decoded, a row
// kept where its end flag or words differ from the row before.
std::vector<timeline_flags_s> ChangePointsOfEveryRow(const fs::path& file, int64_t start,
                                                     int64_t end, const timeline_filter_s& filter) {
    SQLite::Database db = test::HourDatabase(file.string());
    SQLite::Statement query(db, "SELECT * FROM [T_TIMELINE] WHERE UTC >= " + std::to_string(start) +
                                    " AND UTC <= " + std::to_string(end) + " ORDER BY UTC ASC");
    std::vector<timeline_flags_s> out;
    timeline_flags_s previous;
    while (query.executeStep()) {
        const timeline_flags_s row = IndexFile::DecodeTimelineRow(query);
        if (out.empty() && row.end) continue;
        if (out.empty() || row.end != previous.end || row.eventBits != previous.eventBits ||
            row.analyticsBits != previous.analyticsBits || row.audioBits != previous.audioBits) {
            out.push_back(IndexFile::FilterTimelineRow(row, filter));
            previous = row;
        }
    }
    return out;
}

struct TimelineSegment {
    int64_t from, to;  // seconds after the hour
    uint32_t event, analytics, audio;
};

struct TimelineCase {
    const char* name;
    std::vector<TimelineSegment> segments;
    std::vector<std::string> pokes;  // raw updates: values the writer never makes
};

TEST_F(IndexFileTest, TimelineChangePointsMatchEveryRowDecoded) {
    const std::vector<TimelineCase> cases = {
        {"nothing recorded", {}, {}},
        {"one run", {{0, 3599, 0x10, 0, 0}}, {}},
        {"gaps and returns", {{5, 9, 0x4, 0, 0}, {20, 20, 0x4, 0, 0}, {3590, 3599, 0x4, 0, 0}}, {}},
        {"every second differs",
         {{0, 0, 0x1, 0, 0},
          {1, 1, 0x2, 0, 0},
          {2, 2, 0x1, 0, 0},
          {3, 3, 0, 0x1, 0},
          {4, 4, 0, 0, 0x1},
          {5, 5, 0, 0, 0}},
         {}},
        {"only unreadable bits",
         {{0, 9, 0x20, 0, 0}, {10, 19, 0x10000, 0, 0}, {20, 29, 0, 0, 0}},
         {}},
        {"defocused from either word",
         {{0, 4, 0x4000, 0, 0}, {5, 9, 0, 0x200, 0}, {10, 14, 0x4, 0x200, 0}},
         {}},
        {"all words together",
         {{100, 199, 0x1 | 0x8000, 0x3FFF, 0xF},
          {200, 299, 0x1 | 0x8000, 0x3FFF, 0x7},
          {300, 399, 0x1, 0x3FFF, 0x7}},
         {}},
        {"odd stored values",
         {{0, 29, 0x4, 0, 0}},
         {"UPDATE [T_TIMELINE] SET MOTION = 2 WHERE UTC BETWEEN " + std::to_string(kHour + 5) +
              " AND " + std::to_string(kHour + 9),
          "UPDATE [T_TIMELINE] SET MOTION = -1 WHERE UTC = " + std::to_string(kHour + 12),
          "UPDATE [T_TIMELINE] SET MOTION = NULL WHERE UTC = " + std::to_string(kHour + 14),
          "UPDATE [T_TIMELINE] SET [End] = 1, MOTION = 1 WHERE UTC = " + std::to_string(kHour + 20),
          "UPDATE [T_TIMELINE] SET [End] = NULL WHERE UTC = " + std::to_string(kHour + 40)}},
    };
    const std::vector<timeline_filter_s> filters = {{~0u, ~0u, ~0u}, {0, 0, 0}, {0x4, 0x200, 0x1}};
    const std::vector<std::pair<int64_t, int64_t>> ranges = {
        {kHour, kHour + 3600}, {kHour + 7, kHour + 250}, {kHour - 100, kHour + 3}};
    for (const TimelineCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Track());
        fs::create_directories(Track());
        {
            auto writer = OpenHour();
            for (const TimelineSegment& s : c.segments) {
                std::vector<dual_track_row_s> seconds;
                std::vector<index_row_s> rows;
                std::vector<timeline_flags_s> timeline;
                for (int64_t t = kHour + s.from; t <= kHour + s.to; ++t) {
                    seconds.push_back({t, false, false});
                    rows.push_back(Row(t, static_cast<uint64_t>(t - kHour) * 4096, 1000));
                    timeline.push_back(Flags(t, s.event, s.analytics, s.audio));
                }
                ASSERT_TRUE(
                    writer->WriteSeconds(1, seconds, rows, "20240131230000.kvthdt", timeline));
            }
        }
        if (!c.pokes.empty()) {
            SQLite::Database db(HourPath().string(), SQLite::OPEN_READWRITE);
            for (const std::string& poke : c.pokes) db.exec(poke);
        }
        IndexFile reader(HourPath(), folders_);
        for (const timeline_filter_s& filter : filters) {
            for (const auto& [start, end] : ranges) {
                const auto expected = ChangePointsOfEveryRow(HourPath(), start, end, filter);
                std::vector<timeline_flags_s> out;
                ASSERT_TRUE(reader.ReadTimeline(start, end, filter, out));
                ASSERT_EQ(out.size(), expected.size()) << start - kHour << ".." << end - kHour;
                for (size_t i = 0; i < out.size(); ++i) {
                    EXPECT_EQ(out[i].time, expected[i].time);
                    EXPECT_EQ(out[i].end, expected[i].end);
                    EXPECT_EQ(out[i].eventBits, expected[i].eventBits);
                    EXPECT_EQ(out[i].analyticsBits, expected[i].analyticsBits);
                    EXPECT_EQ(out[i].audioBits, expected[i].audioBits);
                }
            }
        }
    }
}

TEST_F(IndexFileTest, FilterKeepsOnlyReadableMaskedBits) {
    timeline_flags_s row = Flags(5, 0x4 | 0x20 | 0x4000, 0x3 | 0x200, 0x9);
    const timeline_flags_s out = IndexFile::FilterTimelineRow(row, {0x4 | 0x20 | 0x4000, 0x1, 0x8});
    EXPECT_EQ(out.eventBits, 0x4u);
    EXPECT_EQ(out.analyticsBits, 0x1u);
    EXPECT_EQ(out.audioBits, 0x8u);
    row.end = true;
    EXPECT_TRUE(IndexFile::FilterTimelineRow(row, {~0u, ~0u, ~0u}).end);
}

// The low writer and the normal writer's close reach one hour file: a writer
// that finds the file locked waits instead of losing its seconds.
TEST_F(IndexFileTest, SecondWriterWaitsForTheFirst) {
    auto file = OpenHour();
    SQLite::Database other = test::HourDatabase(HourPath().string(), SQLite::OPEN_READWRITE);
    other.setBusyTimeout(5000);
    other.exec("BEGIN IMMEDIATE");
    other.exec("UPDATE T_DUALTRACKINDEX SET LOW = 1 WHERE UTC = 1706742001");
    auto release = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.exec("COMMIT");
    });
    Write(*file, 1, kHour, kHour, 0x4);
    release.get();
    EXPECT_EQ(Count(HourPath(), "SELECT count(*) FROM T_INDEX"), 1);
    EXPECT_EQ(Count(HourPath(), "SELECT LOW FROM T_DUALTRACKINDEX WHERE UTC = 1706742001"), 1);
}

TEST_F(IndexFileTest, HoldsItsHourInUse) {
    auto file = OpenHour();
    EXPECT_TRUE(folders_->IsInUse(HourFolderKeyOfTrackFolder(Track())));
    file.reset();
    EXPECT_FALSE(folders_->IsInUse(HourFolderKeyOfTrackFolder(Track())));
}

}  // namespace
}  // namespace orvale::recorder
