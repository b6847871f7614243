// A date converted again through the real engine, after a whole first run,
// after a run cancelled half-way, and after a run killed (SIGKILL) half-way
// in a process of its own: the second run succeeds, and every second of the
// date plays back once, byte for byte, with one metadata row. Also: a folder
// dense with metadata loses none of it; two runs at once in processes of
// their own, and a run into hours another process holds, leave no damaged
// hour file, and a run that could not convert says so and can be run again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>
#include <boost/process.hpp>

#include "converter/ConversionWorker.h"
#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/HourDatabase.h"
#include "tests/support/TempDir.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::converter {
namespace {

namespace fs = std::filesystem;
using oldformat::SyntheticPayload;
using oldformat::test_meta_s;
using oldformat::test_second_s;

constexpr uint32_t kStart = 1710496800;  // 2024-03-15 10:00:00 UTC
constexpr int kSeconds = 120;            // two files of a minute each
constexpr int kVideoPerSecond = 10;
constexpr auto kPatience = std::chrono::seconds(60);

struct frame_s {
    int64_t time = 0;
    std::string payload;
    bool operator==(const frame_s&) const = default;
};

std::string Xml(int second, int object = 1) {
    return "<MetadataStream><VideoAnalytics><Frame><Object ObjectId=\"" + std::to_string(object) +
           "\"><Appearance><Shape><BoundingBox left=\"-0.5\" top=\"0.5\" right=\"0." +
           std::to_string(second % 10) +
           "\" bottom=\"-0.5\"/></Shape></Appearance></Object></Frame></VideoAnalytics>"
           "</MetadataStream>";
}

int64_t CountRows(const fs::path& database, const std::string& sql) {
    return test::CountHourRows(database.string(), sql);
}

enum class FirstRun { kWhole, kCancelled, kKilled };

class ConversionRunAgainTest : public ::testing::TestWithParam<FirstRun> {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        volumes_->AddFixed('D', drive_.Str(), 500 * test::kGiB, 200 * test::kGiB);
    }
    void TearDown() override { platform::SetHostFolder(""); }

    fs::path DateFolder() const { return drive_.Path() / "ZERoza" / "cam1" / "20240315"; }
    fs::path Track() const {
        return drive_.Path() / "KVTRecordData" / "cam1" / "2024" / "03" / "15" / "10" / "0001";
    }
    fs::path IndexPath() const { return Track() / "20240315100000.kvtidx"; }
    fs::path MetaPath() const { return Track() / "20240315100000.kvtmtd"; }

    // Two video files of a minute each (a key frame a second) and one
    // metadata file of both minutes, a record a second. With `emptyFrame`,
    // one frame of the second minute has no payload (a recorder refuses it).
    void WriteOldTree(bool emptyFrame = false) {
        fs::create_directories(DateFolder());
        uint32_t seed = 1;
        for (int minute = 0; minute < kSeconds / 60; ++minute) {
            std::vector<test_second_s> seconds;
            for (int s = 0; s < 60; ++s) {
                const uint32_t time = kStart + 60 * minute + s;
                test_second_s second{minute, s, 0x10, {}};
                for (int v = 0; v < kVideoPerSecond; ++v, ++seed) {
                    const bool key = v == 0;
                    const bool empty = emptyFrame && minute == 1 && s == 30 && v == 5;
                    std::string payload =
                        empty ? std::string()
                              : SyntheticPayload(key ? 12000 : 3000 + seed % 500, seed);
                    if (!empty) expected_.push_back({time, payload});
                    second.frames.push_back({false, 1, time, uint32_t(v * 100), 1280, 720, 0,
                                             static_cast<uint16_t>(key ? 1 : 2),
                                             std::move(payload)});
                }
                seconds.push_back(std::move(second));
            }
            const std::string name =
                "0001_2024031510" + std::string(minute == 0 ? "00" : "01") + "00.nmd";
            oldformat::OldMediaWriter({seconds}, kStart + 60 * minute).Save(DateFolder() / name);
        }
        std::vector<test_meta_s> metas;
        metas.reserve(kSeconds);
        for (int s = 0; s < kSeconds; ++s) metas.push_back({kStart + s, 0, 1, Xml(s), 0});
        oldformat::OldMetaWriter(metas).Save(DateFolder() / "0001_20240315100000.nmt");
    }

    // One run in this process; with `cancelAtPause`, the run is cancelled at
    // that pause (one comes after every MiB of video).
    conversion_result_s Convert(bool deleteFiles, int cancelAtPause = 0) {
        recorder::MediaRecorder engine;
        engine.Initialize();
        MediaRecorderEngine adapter(engine);
        ConversionWorker worker(adapter, [](const std::string&) {});
        int pauses = 0;
        worker.SetSleeper([&](std::chrono::milliseconds) {
            if (++pauses == cancelAtPause) worker.Cancel();
        });
        conversion_plan_s plan;
        std::error_code error;
        plan.folders = ListDateFolders('D', drive_.Path(), error);
        plan.deleteFiles = deleteFiles;
        plan.delayTimeMs = cancelAtPause > 0 ? 1 : 0;
        const conversion_result_s result = worker.Run(plan);
        engine.Finalize(false);
        return result;
    }

    // A run in a process of its own, slowed down, killed once the first
    // minute and the metadata are stored and the second minute is under way.
    // The run holds its hour files, so it tells what it stored itself.
    void ConvertAndKillHalfWay() {
        namespace bp = boost::process;
        bp::ipstream progress;
        bp::child child(ORVALE_CONVERSION_CHILD, drive_.Str(), host_.Str(), "300",
                        IndexPath().string(), MetaPath().string(), bp::std_out > progress,
                        bp::std_err > bp::null);
        long long video = 0;
        long long metadata = 0;
        std::string line;
        while (std::getline(progress, line) &&
               // The last second of metadata is stored at the stop.
               (video < 70 || metadata < kSeconds - 1)) {
            std::sscanf(line.c_str(), "stored %lld %lld", &video, &metadata);
        }
        ASSERT_TRUE(child.running()) << "the run ended before it could be killed half-way";
        child.terminate();  // SIGKILL
        child.wait();
        EXPECT_LT(CountRows(IndexPath(), "SELECT count(*) FROM T_INDEX"), kSeconds);
    }

    // Plays the date back as a backup (every frame, as fast as it is read).
    void PlayBack(std::vector<frame_s>& videos) {
        recorder::MediaRecorder engine;
        engine.Initialize();
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        auto data = [&](recorder::playback_media_header_s* header, long size,
                        unsigned char* bytes) {
            std::lock_guard lock(mutex);
            if (header->kind == 1 && size == 0) {
                done = true;
                ended.notify_all();
            } else if (header->kind == 1) {
                videos.push_back({header->video.time, std::string(reinterpret_cast<char*>(bytes),
                                                                  static_cast<size_t>(size))});
            }
            return 0L;
        };
        std::string channel = "cam1";
        engine.OpenMedia(1, kStart, kStart + kSeconds - 1, 1, 1, channel, false, true, 4, "", data,
                         [](unsigned, unsigned) {});
        {
            std::unique_lock lock(mutex);
            EXPECT_TRUE(ended.wait_for(lock, kPatience, [&] { return done; }))
                << "the backup did not end";
        }
        engine.DeletePlaybackMedia(1);
        engine.Finalize(false);
    }

    // Every frame of the date plays back once, byte for byte.
    void ExpectEveryFrameOnce() {
        std::vector<frame_s> videos;
        PlayBack(videos);
        ASSERT_EQ(videos.size(), expected_.size());
        for (size_t i = 0; i < videos.size(); ++i) {
            ASSERT_EQ(videos[i].time, expected_[i].time) << i;
            ASSERT_TRUE(videos[i].payload == expected_[i].payload) << "frame " << i;
        }
    }

    // Every frame of the date plays back, byte for byte and in order, among
    // what plays back.
    void ExpectEveryFrameAmongThePlayedBack() {
        std::vector<frame_s> videos;
        PlayBack(videos);
        size_t found = 0;
        for (size_t i = 0; i < videos.size() && found < expected_.size(); ++i) {
            if (videos[i] == expected_[found]) ++found;
        }
        EXPECT_EQ(found, expected_.size()) << "of " << videos.size() << " played back";
    }

    // Every hour index and metadata file on the drive passes SQLite's check.
    void ExpectSoundHourFiles() {
        int files = 0;
        for (const auto& entry :
             fs::recursive_directory_iterator(drive_.Path() / "KVTRecordData")) {
            const fs::path& path = entry.path();
            if (path.extension() != ".kvtidx" && path.extension() != ".kvtmtd") continue;
            ++files;
            SQLite::Database db = test::HourDatabase(path.string());
            EXPECT_EQ(db.execAndGet("PRAGMA integrity_check").getString(), "ok") << path;
        }
        EXPECT_EQ(files, 2);
    }

    // A conversion run in a process of its own, with its own host folder:
    // what two programs share here is the drive's hours alone.
    boost::process::child ConvertInChild(const test::TempDir& host, const char* pauseMs,
                                         boost::process::ipstream& progress) {
        namespace bp = boost::process;
        return bp::child(ORVALE_CONVERSION_CHILD, drive_.Str(), host.Str(), pauseMs,
                         IndexPath().string(), MetaPath().string(), bp::std_out > progress,
                         bp::std_err > bp::null);
    }

    test::TempDir host_;
    test::TempDir drive_;
    test::InstalledFakeVolumes volumes_;
    std::vector<frame_s> expected_;
};

TEST_P(ConversionRunAgainTest, EverySecondOfTheDateIsStoredOnceAndTheOldFilesGo) {
    WriteOldTree();
    switch (GetParam()) {
        case FirstRun::kWhole: {
            const conversion_result_s first = Convert(false);
            EXPECT_EQ(first.failedFiles + first.failedFolders + first.keptFiles, 0u);
            break;
        }
        case FirstRun::kCancelled: {
            // Noticed after the first file: its minute is stored, the rest not.
            const conversion_result_s first = Convert(false, 1);
            ASSERT_TRUE(first.cancelled);
            EXPECT_EQ(first.failedFolders, 0u) << "a cancel is no recording error";
            break;
        }
        case FirstRun::kKilled:
            ConvertAndKillHalfWay();
            if (HasFatalFailure()) return;
            break;
    }
    ASSERT_GT(CountRows(IndexPath(), "SELECT count(*) FROM T_INDEX"), 0)
        << "the first run stored nothing";

    // The recorder's errors (no space, no file, a failed write) fail the
    // folder, and only a folder without any keeps no old file.
    const conversion_result_s second = Convert(true);
    EXPECT_EQ(second.files, 3u);
    EXPECT_EQ(second.failedFiles, 0u);
    EXPECT_EQ(second.failedFolders, 0u);
    EXPECT_EQ(second.keptFiles, 0u);
    EXPECT_EQ(second.refusedFrames, 0u);
    EXPECT_FALSE(second.cancelled);
    EXPECT_FALSE(fs::exists(DateFolder())) << "the old files were kept";

    EXPECT_EQ(CountRows(MetaPath(), "SELECT count(*) FROM T_METADATA"), kSeconds);
    EXPECT_EQ(CountRows(MetaPath(), "SELECT count(DISTINCT UTC) FROM T_METADATA"), kSeconds);

    ExpectEveryFrameOnce();
    SQLite::Database meta = test::HourDatabase(MetaPath().string());
    SQLite::Statement rows(meta, "SELECT UTC, CONTENT FROM T_METADATA ORDER BY UTC");
    for (int s = 0; s < kSeconds; ++s) {
        ASSERT_TRUE(rows.executeStep()) << s;
        EXPECT_EQ(rows.getColumn(0).getInt64(), kStart + s);
        EXPECT_EQ(rows.getColumn(1).getString(), Xml(s));
    }
}

INSTANTIATE_TEST_SUITE_P(FirstRuns, ConversionRunAgainTest,
                         ::testing::Values(FirstRun::kWhole, FirstRun::kCancelled,
                                           FirstRun::kKilled),
                         [](const ::testing::TestParamInfo<FirstRun>& info) {
                             switch (info.param) {
                                 case FirstRun::kWhole:
                                     return std::string("AfterAWholeRun");
                                 case FirstRun::kCancelled:
                                     return std::string("AfterARunCancelledHalfWay");
                                 case FirstRun::kKilled:
                                     return std::string("AfterARunKilledHalfWay");
                             }
                             return std::string();
                         });

// A run again that is cancelled half-way stores its first minute anew; the
// second minute, not converted again, still plays from the first run's file.
TEST_F(ConversionRunAgainTest, SecondsNotConvertedAgainStayPlayable) {
    WriteOldTree();
    const conversion_result_s first = Convert(false);
    ASSERT_EQ(first.failedFiles + first.failedFolders + first.keptFiles, 0u);
    const conversion_result_s again = Convert(false, 1);
    ASSERT_TRUE(again.cancelled);
    EXPECT_EQ(again.failedFolders, 0u);
    EXPECT_EQ(CountRows(IndexPath(), "SELECT count(DISTINCT NAME) FROM T_INDEX"), 2);

    ExpectEveryFrameOnce();
    EXPECT_EQ(CountRows(MetaPath(), "SELECT count(*) FROM T_METADATA"), kSeconds);
}

// A frame the recorder refused is not stored: its file is kept, the files
// stored whole go.
TEST_F(ConversionRunAgainTest, AFileWithARefusedFrameIsKept) {
    WriteOldTree(true);
    const conversion_result_s result = Convert(true);
    EXPECT_EQ(result.refusedFrames, 1u);
    EXPECT_EQ(result.keptFiles, 1u);
    EXPECT_EQ(result.failedFiles + result.failedFolders, 0u);
    EXPECT_FALSE(fs::exists(DateFolder() / "0001_20240315100000.nmd"));
    EXPECT_FALSE(fs::exists(DateFolder() / "0001_20240315100000.nmt"));
    EXPECT_TRUE(fs::exists(DateFolder() / "0001_20240315100100.nmd"));
}

// Metadata that cannot be stored (no metadata file can be had in the hour)
// fails the folder and keeps its files; the converter, waiting for the
// recorder's metadata queue, is not held by what is left in it.
TEST_F(ConversionRunAgainTest, AFolderWhoseMetadataCannotBeStoredEndsAndKeepsItsFiles) {
    WriteOldTree();
    fs::create_directories(MetaPath());
    const auto start = std::chrono::steady_clock::now();
    const conversion_result_s result = Convert(true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPatience);
    EXPECT_EQ(result.failedFolders, 1u);
    EXPECT_EQ(result.keptFiles, 3u);
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(fs::exists(DateFolder() / "0001_20240315100000.nmt"));
}

// The recorder drops a metadata second that finds its queue full rather
// than hold the caller; the converter waits for it instead, so nothing of a
// folder that pushes metadata much faster than it is stored is lost.
TEST_F(ConversionRunAgainTest, AFolderDenseWithMetadataLosesNone) {
    constexpr int kMetaSeconds = 900;
    fs::create_directories(DateFolder());
    std::vector<test_meta_s> metas;
    for (int s = 0; s < kMetaSeconds; ++s) {
        for (int object = 1; object <= 3; ++object) {
            metas.push_back({kStart + s, uint32_t(object * 100), 1, Xml(s, object), 0});
        }
    }
    oldformat::OldMetaWriter(metas).Save(DateFolder() / "0001_20240315100000.nmt");

    const conversion_result_s result = Convert(true);
    EXPECT_EQ(result.metaFrames, metas.size());
    EXPECT_EQ(result.failedFiles + result.failedFolders + result.keptFiles, 0u);
    EXPECT_EQ(CountRows(MetaPath(), "SELECT count(*) FROM T_METADATA"),
              static_cast<int64_t>(metas.size()));
    EXPECT_EQ(CountRows(MetaPath(), "SELECT count(DISTINCT UTC) FROM T_METADATA"), kMetaSeconds);
}

// Two converters of one tree at once, each a process of its own: the one
// that takes an hour first holds it, the other is refused it while it is
// held. No hour file is damaged; a run that says it converted the date
// stored every frame of it; one that could not says so, and a run after it
// converts the date.
TEST_F(ConversionRunAgainTest, TwoRunsAtOnceLeaveSoundHoursAndSayWhetherTheyConverted) {
    WriteOldTree();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        fs::remove_all(drive_.Path() / "KVTRecordData");
        test::TempDir hostA;
        test::TempDir hostB;
        boost::process::ipstream progressA;
        boost::process::ipstream progressB;
        auto a = ConvertInChild(hostA, "0", progressA);
        auto b = ConvertInChild(hostB, "0", progressB);
        for (std::string line; std::getline(progressA, line);) {
        }
        for (std::string line; std::getline(progressB, line);) {
        }
        a.wait();
        b.wait();
        ExpectSoundHourFiles();
        // A run refused the hour may take it once the other lets go, and
        // store some of the seconds again beside it.
        if (a.exit_code() == 0 || b.exit_code() == 0) ExpectEveryFrameAmongThePlayedBack();
        if (a.exit_code() != 0 || b.exit_code() != 0) {
            const conversion_result_s again = Convert(false);
            EXPECT_EQ(again.failedFiles + again.failedFolders + again.keptFiles, 0u);
            ExpectSoundHourFiles();
        }
        if (HasFailure()) return;
    }
}

// While a process records into an hour, another that opens it is told so
// clearly, and the first one's run goes on untouched.
TEST_F(ConversionRunAgainTest, AnHourHeldByAnotherProcessIsRefusedAndKeptWhole) {
    WriteOldTree();
    boost::process::ipstream progress;
    auto holder = ConvertInChild(host_, "300", progress);
    // Both hour files are made once the holder has stored some of each.
    long long video = 0;
    long long metadata = 0;
    std::string line;
    while ((video == 0 || metadata == 0) && std::getline(progress, line)) {
        std::sscanf(line.c_str(), "stored %lld %lld", &video, &metadata);
    }
    ASSERT_TRUE(video > 0 && metadata > 0) << "the holder ended before it held both files";
    for (const fs::path& path : {IndexPath(), MetaPath()}) {
        try {
            SQLite::Database db = test::HourDatabase(path.string(), SQLite::OPEN_READWRITE);
            db.exec("DELETE FROM T_VER");
            ADD_FAILURE() << "an hour another process holds was written: " << path;
        } catch (const SQLite::Exception& e) {
            EXPECT_NE(std::string(e.what()).find("database is locked"), std::string::npos)
                << e.what();
        }
    }
    while (std::getline(progress, line)) {
    }
    holder.wait();
    EXPECT_EQ(holder.exit_code(), 0);
    ExpectSoundHourFiles();
    ExpectEveryFrameOnce();
    EXPECT_EQ(CountRows(MetaPath(), "SELECT count(*) FROM T_METADATA"), kSeconds);
    EXPECT_EQ(CountRows(IndexPath(), "SELECT count(*) FROM T_VER"), 1);
}

}  // namespace
}  // namespace orvale::converter
