#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "converter/ConversionWorker.h"
#include "converter/FrameHeaders.h"
#include "tests/converter/FakeConversionEngine.h"
#include "tests/support/TempDir.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::converter {
namespace {

namespace fs = std::filesystem;
using oldformat::OldMediaWriter;
using oldformat::OldMetaWriter;
using oldformat::test_frame_s;
using test::FakeConversionEngine;
using test::FakeRecorder;

test_frame_s Video(uint32_t seconds, uint32_t ms, const std::string& payload, uint8_t codec = 1,
                   uint16_t frameType = 1) {
    return {false, codec, seconds, ms, 1280, 720, 0, frameType, payload};
}

test_frame_s Audio(uint32_t seconds, uint32_t ms, const std::string& payload, uint8_t codec = 'A',
                   uint32_t format = 0) {
    return {true, codec, seconds, ms, 0, 0, format, 0, payload};
}

// One second of one key frame: the smallest media file.
OldMediaWriter OneFrame(const std::string& payload, uint32_t seconds = 1700000000) {
    return OldMediaWriter({{{0, 1, 1, {Video(seconds, 0, payload)}}}});
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const auto& line) { return line.rfind(prefix, 0) == 0; }));
}

// An old recording tree on drive D in a temporary folder, a fake engine, and
// a worker whose pauses are only recorded.
class ConversionWorkerTest : public ::testing::Test {
  protected:
    ConversionWorkerTest()
        : worker_(engine_, [this](const std::string& line) { log_.push_back(line); }) {
        worker_.SetSleeper(
            [this](std::chrono::milliseconds pause) { sleeps_.push_back(pause.count()); });
        worker_.SetStatusWait(std::chrono::milliseconds(0));
        engine_.drives = {{"C", 3, recorder::MEDIA_DRIVE_STATUS_SYSTEM_DISK, 11},
                          {"D", 3, recorder::MEDIA_DRIVE_STATUS_RELEASE, 11},
                          {"E", 3, recorder::MEDIA_DRIVE_STATUS_ALLOCATE, 11}};
    }

    fs::path Folder(const std::string& channel, const std::string& date) {
        fs::path folder = dir_.Path() / "ZERoza" / channel / date;
        fs::create_directories(folder);
        return folder;
    }

    // A date folder holding one one-frame file "0001_<payload>.nmd".
    fs::path OneFrameFolder(const std::string& channel, const std::string& date,
                            const std::string& payload) {
        fs::path folder = Folder(channel, date);
        OneFrame(payload).Save(folder / ("0001_" + payload + ".nmd"));
        return folder;
    }

    // Every date folder of the tree, by channel and date.
    conversion_plan_s Plan(bool deleteFiles = false) {
        std::error_code error;
        conversion_plan_s plan;
        plan.folders = ListDateFolders('D', dir_.Path(), error);
        plan.deleteFiles = deleteFiles;
        return plan;
    }

    test::TempDir dir_;
    FakeConversionEngine engine_;
    std::vector<std::string> log_;
    std::vector<long long> sleeps_;
    ConversionWorker worker_;
};

TEST_F(ConversionWorkerTest, FramesReachTheRecorderWithTheConvertedHeaders) {
    const fs::path folder = Folder("ch1", "20231114");
    // 4294968 s x 1000 passes 2^32: the millisecond time wraps.
    const uint32_t late = 4294968;
    OldMediaWriter({{{0,
                      5,
                      0x10,
                      {Video(late, 250, "key", 19, 0x0A), Audio(late, 20, "pcm", 'H', 0x0A4D),
                       Audio(late, 40, "raw", 'Z')}},
                     {0, 6, 0x14, {Video(1700000001, 0, "p-frame", 77, 2)}}}})
        .Save(folder / "0001_a.nmd");
    OldMetaWriter({{1700000002, 7, 3, "<xml/>"}}).Save(folder / "0001_a.nmt");

    const conversion_result_s result = worker_.Run(Plan());

    ASSERT_EQ(engine_.recorders.size(), 1u);
    const FakeRecorder& recorder = engine_.Recorder(0);
    ASSERT_EQ(recorder.video.size(), 2u);
    const auto& key = recorder.video[0];
    EXPECT_EQ(key.header.profile, 1);
    EXPECT_EQ(key.header.codec, 0x40);
    EXPECT_EQ(key.header.frameType, 2);  // low three bits of 0x0A
    EXPECT_EQ(key.header.time, late);
    EXPECT_EQ(key.header.timeMs, static_cast<uint32_t>(uint64_t{late} * 1000 + 250));
    EXPECT_EQ(key.header.width, 1280);
    EXPECT_EQ(key.header.height, 720);
    EXPECT_EQ(key.payload, "key");
    EXPECT_EQ(key.eventFlags, 0x10u);
    EXPECT_EQ(recorder.video[1].header.codec, 0);  // not in the table
    EXPECT_EQ(recorder.video[1].eventFlags, 0x14u);
    EXPECT_EQ(recorder.video[1].payload, "p-frame");

    ASSERT_EQ(recorder.audio.size(), 2u);
    const auto& audio = recorder.audio[0].header;
    EXPECT_EQ(audio.profile, 1);
    EXPECT_EQ(audio.codec, 0x20000);  // H has B's value
    EXPECT_EQ(audio.timeMs, static_cast<uint32_t>(uint64_t{late} * 1000 + 20));
    EXPECT_EQ(audio.format0, 0x1);          // bits 0-1 of 0x0A4D
    EXPECT_EQ(audio.format1, 0x13u);        // bits 2-7
    EXPECT_EQ(audio.format2, 0x13u * 0xA);  // bits 2-7 times bits 8-11
    EXPECT_EQ(recorder.audio[0].payload, "pcm");
    EXPECT_EQ(recorder.audio[1].header.codec, 0);

    ASSERT_EQ(recorder.meta.size(), 1u);
    EXPECT_EQ(recorder.meta[0].header.profile, 1);
    EXPECT_EQ(recorder.meta[0].header.time, 1700000002);
    EXPECT_EQ(recorder.meta[0].header.timeMs, static_cast<uint32_t>(1700000002ULL * 1000 + 7));
    EXPECT_EQ(recorder.meta[0].payload, "<xml/>");

    EXPECT_EQ(recorder.scheduleSlotsSet, recorder::kScheduleTableSize);
    EXPECT_FALSE(recorder.scheduleUsesHolidays);
    EXPECT_EQ(recorder.holidays, 0u);
    EXPECT_EQ(result.files, 2u);
    EXPECT_EQ(result.failedFiles, 0u);
    EXPECT_EQ(result.videoFrames, 2u);
    EXPECT_EQ(result.audioFrames, 2u);
    EXPECT_EQ(result.metaFrames, 1u);
    EXPECT_EQ(result.videoBytes, 3u + 3 + 3 + 7 + 6);
    EXPECT_EQ(log_, std::vector<std::string>{"File Count = 2"});
}

TEST_F(ConversionWorkerTest, EachFolderRecordsOnItsOwnDriveThroughARecorderOfItsChannel) {
    OneFrame("x").Save(Folder("ch1", "20231114") / "0001_a.nmd");
    worker_.Run(Plan());
    // Overwrite is off for the whole run.
    const std::vector<std::string> expected = {
        "SetUseOverwrite 0",        "GetMediaDrive",
        "SetMediaDrive D 1",        "SetMediaDrive E 2",
        "CreateRecorder ch1 1 0 0", "SetEventCallback ch1",
        "SetUseFrameTime 1 ch1",    "SetSchedule 1 ch1",
        "StartRecording ch1",       "StopRecording ch1",
        "DeleteChannel ch1 0",      "SetUseOverwrite 1",
    };
    EXPECT_EQ(engine_.calls, expected);
}

// A conversion never makes room by deleting earlier recordings; the stored
// setting is back once the run ends, however it ends.
TEST_F(ConversionWorkerTest, OverwriteIsOffDuringARunAndRestoredAfterIt) {
    OneFrame("a").Save(Folder("ch1", "20231114") / "0001_a.nmd");
    OneFrame("b").Save(Folder("ch2", "20231114") / "0001_b.nmd");
    engine_.prepare = [this](FakeRecorder& recorder) {
        recorder.onFrame = [this] {
            EXPECT_FALSE(engine_.useOverwrite);
            worker_.Cancel();
        };
    };
    EXPECT_TRUE(worker_.Run(Plan()).cancelled);
    EXPECT_TRUE(engine_.useOverwrite);

    engine_.calls.clear();
    engine_.useOverwrite = false;
    worker_.Run(Plan());
    EXPECT_EQ(CountOf(engine_.calls, "SetUseOverwrite"), 0u);
    EXPECT_FALSE(engine_.useOverwrite);
}

TEST_F(ConversionWorkerTest, TrackChangesFollowTheFileNumbersAcrossFolders) {
    const fs::path first = Folder("ch1", "20231114");
    OneFrame("a").Save(first / "0001_a.nmd");
    OneFrame("b").Save(first / "0003_b.nmd");
    OldMetaWriter({{1700000000, 0, 1, "m"}}).Save(first / "0003_b.nmt");
    OneFrame("c").Save(first / "x_no_number.nmd");
    // The next folder's recorder starts on the engine's track (1), so the
    // same number as before must still be asked for.
    OneFrame("d").Save(Folder("ch2", "20231114") / "0003_d.nmd");

    worker_.Run(Plan());

    std::vector<std::string> changes;
    for (const std::string& call : engine_.calls) {
        if (call.rfind("ChangeTrackId", 0) == 0 || call.rfind("StartRecording", 0) == 0) {
            changes.push_back(call);
        }
    }
    const std::vector<std::string> expected = {"StartRecording ch1", "ChangeTrackId 3",
                                               "StartRecording ch2", "ChangeTrackId 3"};
    EXPECT_EQ(changes, expected);
}

TEST_F(ConversionWorkerTest, VideoWaitsWhileTheRecorderHasQueuedWritesAndPausesAfterEachMiB) {
    const fs::path folder = Folder("ch1", "20231114");
    const std::string big(size_t{600} * 1024, 'v');
    OldMediaWriter({{{0, 1, 1, {Audio(1700000000, 0, "a"), Video(1700000000, 0, big)}},
                     {0, 2, 1, {Video(1700000001, 0, big)}},
                     {0, 3, 1, {Video(1700000002, 0, big)}}}})
        .Save(folder / "0001_a.nmd");
    engine_.prepare = [](FakeRecorder& recorder) { recorder.writeBufferCounts = {3, 2, 1}; };
    conversion_plan_s plan = Plan();
    plan.delayTimeMs = 7;
    std::vector<size_t> videoSeenBySleep;
    worker_.SetSleeper([&](std::chrono::milliseconds pause) {
        sleeps_.push_back(pause.count());
        videoSeenBySleep.push_back(engine_.Recorder(0).video.size());
    });

    worker_.Run(plan);

    ASSERT_EQ(engine_.Recorder(0).video.size(), 3u);
    EXPECT_EQ(engine_.Recorder(0).audio.size(), 1u);
    // Two waits on the recorder's writes before the first video frame (audio
    // does not wait), none of them a sleep; the second frame brings the file
    // over 1 MiB and pauses before it is pushed.
    EXPECT_EQ(engine_.Recorder(0).videoSeenByWait, (std::vector<size_t>{0, 0}));
    EXPECT_EQ(sleeps_, (std::vector<long long>{7}));
    EXPECT_EQ(videoSeenBySleep, (std::vector<size_t>{1}));
}

TEST_F(ConversionWorkerTest, NoPauseWithoutADelay) {
    const std::string big(size_t{700} * 1024, 'v');
    OldMediaWriter({{{0, 1, 1, {Video(1700000000, 0, big), Video(1700000000, 1, big)}}}})
        .Save(Folder("ch1", "20231114") / "0001_a.nmd");
    worker_.Run(Plan());
    EXPECT_EQ(engine_.Recorder(0).video.size(), 2u);
    EXPECT_TRUE(sleeps_.empty());
}

TEST_F(ConversionWorkerTest, CancelStopsBetweenFilesWithoutRemovingFolders) {
    const fs::path folder = Folder("ch1", "20231114");
    for (const char* name : {"0001_a.nmd", "0001_b.nmd", "0001_c.nmd"})
        OneFrame(name).Save(folder / name);
    OneFrame("later").Save(Folder("ch2", "20231114") / "0001_d.nmd");
    engine_.prepare = [this](FakeRecorder& recorder) {
        recorder.onFrame = [this] { worker_.Cancel(); };
    };

    const conversion_result_s result = worker_.Run(Plan(true));

    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(worker_.IsRunning());
    ASSERT_EQ(engine_.recorders.size(), 1u);
    EXPECT_EQ(engine_.Recorder(0).video.size(), 1u);
    const std::vector<std::string> tail(engine_.calls.end() - 3, engine_.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"StopRecording ch1", "DeleteChannel ch1 0",
                                              "SetUseOverwrite 1"}));
    // The converted file is gone as it would be after a finished folder;
    // the rest and both folders stay.
    EXPECT_FALSE(fs::exists(folder / "0001_a.nmd"));
    EXPECT_TRUE(fs::exists(folder / "0001_b.nmd"));
    EXPECT_TRUE(fs::exists(folder / "0001_c.nmd"));
    EXPECT_EQ(worker_.Remaining(), 3);
}

TEST_F(ConversionWorkerTest, DeletionKeepsEveryFileThatDidNotConvert) {
    const fs::path folder = Folder("ch1", "20231114");
    OneFrame("good").Save(folder / "0001_good.nmd");
    OneFrame("good").Save(folder / "0001_good.nmb");
    OldMediaWriter({{{0, 1, 1, {Video(1, 0, "old")}}}}, 1700000000, "Ver 3.0")
        .Save(folder / "0001_old.nmd");
    OldMetaWriter({{1700000000, 0, 1, "m"}}).Save(folder / "0001_meta.nmt");
    test::WriteFile(folder / "notes.txt", "x");
    test::WriteFile(dir_.Path() / "target.txt", "keep me");
    fs::create_symlink(dir_.Path() / "target.txt", folder / "link.txt");

    const conversion_result_s result = worker_.Run(Plan(true));

    EXPECT_EQ(result.failedFiles, 1u);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder))
        left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"0001_old.nmd", "link.txt", "notes.txt"}));
    EXPECT_EQ(test::ReadFile(dir_.Path() / "target.txt"), "keep me");
    EXPECT_TRUE(fs::exists(folder.parent_path()));
    EXPECT_EQ(log_.front(), "File Count = 4");
}

// `seconds` seconds of one key frame each, every payload its own.
OldMediaWriter Seconds(int seconds, size_t size, uint32_t seed) {
    std::vector<oldformat::test_second_s> media;
    for (int s = 0; s < seconds; ++s) {
        const std::string payload = oldformat::SyntheticPayload(size, seed + s);
        media.push_back({0, s, 1, {Video(1710496800 + s, 0, payload)}});
    }
    return OldMediaWriter({media});
}

// An old tree as an operator finds it: a note beside the recordings, a
// recording copied from a volume that ignores case, and a file that lost
// its tail (its header intact). Only what converted may go.
TEST_F(ConversionWorkerTest, OnlyTheConvertedOldFilesGoAndEveryFailedFileIsNamed) {
    const fs::path mixed = Folder("ch1", "20240315");
    const fs::path copied = Folder("ch2", "20240315");
    test::WriteFile(mixed / "readme.txt", "note");
    OneFrame("good").Save(mixed / "0001_20240315100000.nmd");
    const OldMediaWriter whole = Seconds(20, 20000, 7);
    ASSERT_GT(whole.bytes.size(), 300000u);
    whole.Save(mixed / "0001_20240315103000.nmd");
    fs::resize_file(mixed / "0001_20240315103000.nmd", 50000);
    OldMetaWriter({{1710496800, 0, 1, "m"}}).Save(mixed / "0001_20240315100000.nmt");
    Seconds(5, 3000, 100).Save(copied / "0002_20240315110000.NMD");

    const conversion_result_s result = worker_.Run(Plan(true));

    EXPECT_EQ(test::ReadFile(mixed / "readme.txt"), "note");
    EXPECT_TRUE(fs::exists(mixed / "0001_20240315103000.nmd"));
    EXPECT_FALSE(fs::exists(mixed / "0001_20240315100000.nmd"));
    EXPECT_FALSE(fs::exists(mixed / "0001_20240315100000.nmt"));
    EXPECT_FALSE(fs::exists(copied));
    EXPECT_EQ(result.files, 4u);
    EXPECT_EQ(result.failedFiles, 1u);
    EXPECT_EQ(log_[0], "File Count = 4");
    EXPECT_EQ(log_[1], "Other files left alone = 1");
    EXPECT_TRUE(
        Contains(log_, "File failed, kept: " + (mixed / "0001_20240315103000.nmd").string() +
                           " (file ends before its last chunk)"));
    ASSERT_EQ(engine_.recorders.size(), 2u);
    ASSERT_EQ(engine_.Recorder(1).video.size(), 5u);
    for (int s = 0; s < 5; ++s) {
        EXPECT_EQ(engine_.Recorder(1).video[s].payload, oldformat::SyntheticPayload(3000, 100 + s));
    }
    EXPECT_EQ(engine_.Recorder(0).meta.size(), 1u);
}

// Files that lost their tail or never held anything are failures, whatever
// the walk could still read of them.
TEST_F(ConversionWorkerTest, CutAndEmptyFilesFailByName) {
    const fs::path folder = Folder("ch1", "20240315");
    const OldMediaWriter whole = Seconds(20, 20000, 7);
    struct Case {
        const char* name;
        uint64_t size;
        const char* why;
    };
    const OldMetaWriter meta({{1710496800, 0, 1, "first"}, {1710496801, 0, 1, "second"}});
    const Case cases[] = {
        {"0001_cut.nmd", 50000, "file ends before its last chunk"},
        {"0001_most.nmd", whole.bytes.size() - 100, "file ends before its last chunk"},
        {"0001_table.nmd", 200, "bad segment table"},
        {"0001_cut.nmt", meta.bytes.size() - 10, "file ends before its last record"},
        {"0001_empty.nmt", 0, "no record in the file"},
    };
    for (const Case& c : cases) {
        const fs::path file = folder / c.name;
        if (std::string(c.name).ends_with(".nmt")) {
            (c.size == 0 ? OldMetaWriter({}) : meta).Save(file);
        } else {
            whole.Save(file);
        }
        if (c.size > 0) fs::resize_file(file, c.size);
    }

    const conversion_result_s result = worker_.Run(Plan(true));

    EXPECT_EQ(result.failedFiles, std::size(cases));
    for (const Case& c : cases) {
        EXPECT_TRUE(fs::exists(folder / c.name)) << c.name;
        EXPECT_TRUE(
            Contains(log_, "File failed, kept: " + (folder / c.name).string() + " (" + c.why + ")"))
            << c.name;
    }
}

// A ticked folder gone at its turn fails by name; the others convert.
TEST_F(ConversionWorkerTest, AFolderGoneAtItsTurnIsNamedAndTheRunGoesOn) {
    const fs::path first = OneFrameFolder("ch1", "20240315", "a");
    const fs::path gone = OneFrameFolder("ch2", "20240315", "b");
    const fs::path last = OneFrameFolder("ch3", "20240315", "c");
    engine_.prepare = [&](FakeRecorder& recorder) {
        recorder.onFrame = [&] {
            std::error_code ignored;  // gone already after the first frame
            fs::rename(gone, dir_.Path() / "moved", ignored);
        };
    };

    const conversion_result_s result = worker_.Run(Plan(true));

    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.failedFolders, 1u);
    EXPECT_EQ(CountOf(log_, "Folder missing: " + gone.string() + " ("), 1u);
    ASSERT_EQ(engine_.recorders.size(), 2u);
    EXPECT_EQ(engine_.Recorder(1).video.size(), 1u);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(last));
    EXPECT_TRUE(fs::exists(dir_.Path() / "moved" / "0001_b.nmd"));
    EXPECT_EQ(worker_.Percent(), 100);
}

TEST_F(ConversionWorkerTest, EmptiedFoldersAreRemovedUnlessAnotherDateRemains) {
    const fs::path done = OneFrameFolder("ch1", "20231114", "a");
    const fs::path other = OneFrameFolder("ch1", "20231115", "b");
    const fs::path alone = OneFrameFolder("ch2", "20231114", "c");
    conversion_plan_s plan = Plan(true);
    // Only the first date of ch1 is ticked.
    std::erase_if(plan.folders, [&](const date_folder_s& f) { return f.path == other; });

    worker_.Run(plan);

    EXPECT_FALSE(fs::exists(done));
    EXPECT_TRUE(fs::exists(other / "0001_b.nmd"));
    EXPECT_FALSE(fs::exists(alone.parent_path()));
    EXPECT_TRUE(fs::exists(dir_.Path() / "ZERoza"));
}

TEST_F(ConversionWorkerTest, WithoutDeleteEverythingStays) {
    const fs::path folder = Folder("ch1", "20231114");
    OneFrame("a").Save(folder / "0001_a.nmd");
    worker_.Run(Plan(false));
    EXPECT_TRUE(fs::exists(folder / "0001_a.nmd"));
}

// A folder whose recording did not surely reach the disk keeps its files.
struct KeepCase {
    const char* name;
    std::vector<int32_t> statuses;  // reported at the first frame
    bool reportsEnd;
    bool noRecorder;
    bool kept;
    std::vector<int32_t> atStop;  // reported by the stop, after the call returned
};

TEST_F(ConversionWorkerTest, FoldersWithRecordingTroubleKeepTheirFiles) {
    const KeepCase cases[] = {
        {"clean", {}, true, false, false, {}},
        {"video loss is no error", {9}, true, false, false, {}},
        {"no writable drive", {8}, true, false, true, {}},
        {"folder missing", {10}, true, false, true, {}},
        {"no file", {14, 11}, true, false, true, {}},
        {"write failed", {12}, true, false, true, {}},
        {"end of writing never reported", {}, false, false, true, {}},
        {"no recorder", {}, true, true, true, {}},
        {"no space for the stop's own writes", {}, true, false, true, {14, 11}},
        {"metadata of the stop not stored", {}, true, false, true, {12}},
    };
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeConversionEngine engine;
        engine.drives = engine_.drives;
        std::vector<std::string> log;
        ConversionWorker worker(engine, [&](const std::string& line) { log.push_back(line); });
        worker.SetStatusWait(std::chrono::milliseconds(0));
        engine.prepare = [&](FakeRecorder& recorder) {
            recorder.statusesAtFirstFrame = c.statuses;
            recorder.statusesAtStop = c.atStop;
            recorder.reportsEndOfWriting = c.reportsEnd;
        };
        if (c.noRecorder) engine.refused.insert("ch1");
        const fs::path folder = Folder("ch1", "20231114");
        OneFrame("a").Save(folder / "0001_a.nmd");
        OldMetaWriter({{1700000000, 0, 1, "m"}}).Save(folder / "0001_a.nmt");

        const conversion_result_s result = worker.Run(Plan(true));

        EXPECT_EQ(fs::exists(folder / "0001_a.nmd"), c.kept);
        EXPECT_EQ(fs::exists(folder / "0001_a.nmt"), c.kept);
        EXPECT_EQ(result.failedFolders, c.kept ? 1u : 0u);
        EXPECT_EQ(log.size(), c.kept ? 2u : 1u);
        EXPECT_EQ(worker.Percent(), 100);
        EXPECT_EQ(CountOf(engine.calls, "DeleteChannel"), c.noRecorder ? 0u : 1u);
        fs::remove_all(dir_.Path() / "ZERoza");
    }
}

TEST_F(ConversionWorkerTest, PercentReachesExactlyOneHundredAtTheLastFile) {
    // Three files in descending date order: 33, 66, 100.
    OneFrame("a").Save(Folder("ch1", "20231115") / "0001_a.nmd");
    OneFrame("b").Save(Folder("ch1", "20231114") / "0001_b.nmd");
    OldMetaWriter({{1700000000, 0, 1, "m"}}).Save(Folder("ch1", "20231114") / "0001_b.nmt");
    conversion_plan_s plan = Plan();
    std::reverse(plan.folders.begin(), plan.folders.end());
    std::vector<int> seen;
    engine_.prepare = [&](FakeRecorder& recorder) {
        recorder.onFrame = [&] { seen.push_back(worker_.Percent()); };
    };

    worker_.Run(plan);

    EXPECT_EQ(seen, (std::vector<int>{0, 33, 66}));
    EXPECT_EQ(worker_.Percent(), 100);
    EXPECT_EQ(worker_.Total(), 3);
    EXPECT_EQ(worker_.Remaining(), 0);
    EXPECT_EQ(worker_.TimeRemaining(), 0.0);
}

TEST_F(ConversionWorkerTest, AnNmbFileConvertsExactlyLikeAnNmdFile) {
    const OldMediaWriter file(
        {{{0, 1, 0x4, {Video(1700000000, 5, "v"), Audio(1700000000, 6, "a")}}}});
    file.Save(Folder("ch1", "20231114") / "0001_a.nmd");
    file.Save(Folder("ch2", "20231114") / "0001_a.nmb");
    // ".nmt" anywhere in the name makes metadata, whatever follows it.
    OldMetaWriter({{1700000000, 0, 1, "m"}}).Save(Folder("ch2", "20231114") / "0001_a.nmt.nmd");

    worker_.Run(Plan());

    const FakeRecorder& nmd = engine_.Recorder(0);
    const FakeRecorder& nmb = engine_.Recorder(1);
    ASSERT_EQ(nmb.video.size(), 1u);
    EXPECT_EQ(nmb.video[0].payload, nmd.video[0].payload);
    EXPECT_EQ(nmb.video[0].header.timeMs, nmd.video[0].header.timeMs);
    EXPECT_EQ(nmb.video[0].eventFlags, nmd.video[0].eventFlags);
    ASSERT_EQ(nmb.audio.size(), 1u);
    EXPECT_EQ(nmb.audio[0].header.codec, nmd.audio[0].header.codec);
    EXPECT_EQ(nmb.meta.size(), 1u);
}

TEST_F(ConversionWorkerTest, AMetadataRecordOutOfBoundsEndsItsFile) {
    struct Case {
        const char* name;
        uint32_t offset;  // in the second record's header
        uint32_t value;
    };
    const Case cases[] = {{"payload one above 1 MiB", 13, 0x100001}, {"record type 50", 25, 50}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = Folder("ch1", "20231114");
        OldMetaWriter file({{1700000000, 0, 1, "first"},
                            {1700000001, 0, 2, "second"},
                            {1700000002, 0, 3, "third"}});
        file.Put32(file.records[1] + c.offset, c.value);
        file.Save(folder / "0001_a.nmt");
        FakeConversionEngine engine;
        ConversionWorker worker(engine, [](const std::string&) {});
        const conversion_result_s result = worker.Run(Plan());
        ASSERT_EQ(engine.recorders.size(), 1u);
        ASSERT_EQ(engine.Recorder(0).meta.size(), 1u);
        EXPECT_EQ(engine.Recorder(0).meta[0].payload, "first");
        EXPECT_EQ(result.failedFiles, 0u);
        fs::remove_all(dir_.Path() / "ZERoza");
    }
}

TEST_F(ConversionWorkerTest, AMetadataFileThatCannotBeOpenedIsLoggedAndTheRunGoesOn) {
    const fs::path folder = Folder("ch1", "20231114");
    OneFrame("a").Save(folder / "0001_a.nmd");
    OldMetaWriter({{1700000000, 0, 1, "m"}}).Save(folder / "0001_b.nmt");
    OneFrame("c").Save(folder / "0001_c.nmd");
    // The metadata file disappears after it was counted.
    engine_.prepare = [&](FakeRecorder& recorder) {
        recorder.onFrame = [&] { fs::remove(folder / "0001_b.nmt"); };
    };

    const conversion_result_s result = worker_.Run(Plan());

    EXPECT_TRUE(Contains(log_, "File open error!(nmt)"));
    EXPECT_EQ(result.failedFiles, 1u);
    EXPECT_EQ(engine_.Recorder(0).video.size(), 2u);
    EXPECT_EQ(worker_.Percent(), 100);
}

// The codec tables, including the codes they do not know.
TEST(FrameHeadersTest, CodecTables) {
    const std::pair<uint8_t, int32_t> video[] = {{1, 0x1},   {2, 0x2},   {3, 0x4},   {4, 0x8},
                                                 {17, 0x10}, {18, 0x20}, {19, 0x40}, {20, 0x100},
                                                 {0, 0},     {5, 0},     {16, 0},    {21, 0}};
    for (const auto& [code, value] : video) EXPECT_EQ(VideoCodec(code), value) << int(code);
    const std::pair<uint8_t, int32_t> audio[] = {
        {'A', 0x10000},  {'B', 0x20000},  {'C', 0x40000}, {'D', 0x80000},    {'E', 0x100000},
        {'F', 0x200000}, {'G', 0x400000}, {'H', 0x20000}, {'I', 0x10000000}, {'J', 0x20000000},
        {'K', 0},        {'a', 0},        {1, 0}};
    for (const auto& [letter, value] : audio) EXPECT_EQ(AudioCodec(letter), value) << letter;
}

}  // namespace
}  // namespace orvale::converter
