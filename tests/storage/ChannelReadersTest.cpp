// Finding recorded hours of a channel: the four finders across a gap in time
// and across two drives, ranges that start inside an hour, and times far
// outside the recording.
#include <gtest/gtest.h>

#include <boost/asio/post.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <limits>
#include <list>
#include <set>
#include <string>

#include "recorder/storage/Channel.h"
#include "tests/storage/ChannelFixture.h"

namespace orvale::recorder {
namespace {

namespace fs = std::filesystem;
using test::kDay1;
using test::kGiB;
using test::kHour;

constexpr int64_t k10 = kDay1 + 10 * kHour;
constexpr int64_t k12 = kDay1 + 12 * kHour;
constexpr int64_t k13 = kDay1 + 13 * kHour;
constexpr int64_t k14 = kDay1 + 14 * kHour;
constexpr uint32_t kMain = 4;

class ChannelReadersTest : public test::ChannelFixture {
  protected:
    // D holds 10:00:00-10:00:20, 12:00:05-12:00:20 and 13:00:10-13:00:20;
    // E holds 13:00:30-13:00:40 and 14:00:00-14:00:10.
    void SetUp() override {
        ChannelFixture::SetUp();
        auto d = AddDrive('D', 50 * kGiB);
        auto e = AddDrive('E', 50 * kGiB);
        auto onD = MakeChannel();
        onD->AddDrives({d});
        Record(*onD, k10, k10 + 20);
        Record(*onD, k12 + 5, k12 + 20);
        Record(*onD, k13 + 10, k13 + 20);
        auto onE = MakeChannel();
        onE->AddDrives({e});
        Record(*onE, k13 + 30, k13 + 40);
        Record(*onE, k14, k14 + 10);
        channel_ = MakeChannel();
        channel_->AddDrives({d, e});
    }

    // "<drive>/<hour>" of a reader, "" for none.
    static std::string Where(const std::shared_ptr<FileReader>& reader) {
        if (!reader) return "";
        return reader->GetDriveName() + "/" +
               reader->GetFolderPath().parent_path().filename().string();
    }

    std::shared_ptr<Channel> channel_;
};

TEST_F(ChannelReadersTest, FindersWalkAcrossAGapAndTwoDrives) {
    const struct {
        const char* name;
        int finder;  // 0 FindFileReader, 1 FindFileReader2, 2 next, 3 previous
        int64_t time;
        bool forward;
        const char* expected;
    } cases[] = {
        {"forward over the empty hour 11", 0, k10 + 1800, true, "D/12"},
        {"backward over the empty hour 11", 0, k12 + 1, false, "D/10"},
        {"backward into the hour before", 0, k12 - 1, false, "D/10"},
        {"the nearer row of two drives, forward", 0, k13 + 25, true, "E/13"},
        {"the nearer row of two drives, backward", 0, k13 + 25, false, "D/13"},
        {"forward from before the drive with the later rows", 1, k13, true, "D/13"},
        {"both profiles, backward", 1, k13 + 35, false, "E/13"},
        {"next is strictly after the first second", 2, k12 + 5, true, "D/13"},
        {"next crosses to the other drive", 2, k13 + 10, true, "E/13"},
        {"previous is strictly before the last second", 3, k14 + 10, false, "E/13"},
        {"previous over the gap", 3, k12 + 10, false, "D/10"},
        {"nothing after the newest hour", 0, k14 + 11, true, ""},
        {"far future backward finds the newest hour", 0, std::numeric_limits<int64_t>::max(), false,
         "E/14"},
        {"from the start of time forward finds the oldest", 0, 1, true, "D/10"},
        {"next of time 0 is nothing", 2, 0, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::shared_ptr<FileReader> reader;
        switch (c.finder) {
            case 0:
                reader = channel_->FindFileReader(3, 1, c.time, kMain, c.forward);
                break;
            case 1:
                reader = channel_->FindFileReader2(3, 1, c.time, kMain, c.forward);
                break;
            case 2:
                reader = channel_->FindNextFileReader(3, 1, c.time, kMain, false);
                break;
            default:
                reader = channel_->FindPreviousFileReader(3, 1, c.time, kMain, false);
                break;
        }
        EXPECT_EQ(Where(reader), c.expected);
        if (reader) {
            EXPECT_EQ(reader->GetMediaId(), 3u);
        }
    }
}

TEST_F(ChannelReadersTest, TheLowProfileFindsNothingInMainOnlyHours) {
    EXPECT_FALSE(channel_->FindFileReader(3, 1, k10, Channel::kLowProfileType, true));
    EXPECT_TRUE(channel_->FindFileReader(3, 1, k10, kMain, true));
}

TEST_F(ChannelReadersTest, ARangeStartingInsideAnHourIncludesItsLastPartialHour) {
    std::list<std::shared_ptr<IndexFile>> indexes;
    ASSERT_TRUE(channel_->ListIndexFiles(1, k12 + 1800, k13 + 600, indexes));
    ASSERT_EQ(indexes.size(), 3u);  // 12 on D, 13 on D and E
    EXPECT_EQ(indexes.front()->GetPath().filename(), IndexFile::MakeFileName(k12));

    std::list<std::shared_ptr<MetaDataFile>> metas;
    ASSERT_TRUE(channel_->ListMetaDataFiles(1, k10 + 1800, k10 + 3700, metas));
    EXPECT_EQ(metas.size(), 1u);  // hour 11 has no folder

    std::set<int> tracks;
    EXPECT_TRUE(channel_->GetTrackIds(k13 + 1800, k14 + 5, tracks));
    EXPECT_EQ(tracks, std::set<int>({1}));

    EXPECT_TRUE(channel_->HasRecord(k13 + 35, k13 + 3000));
    EXPECT_TRUE(channel_->HasRecord(k13 + 1800, k14 + 5));
    EXPECT_FALSE(channel_->HasRecord(k13 + 1800, k13 + 3599));
    EXPECT_FALSE(channel_->HasRecord(k10 + 21, k12 + 4));
}

TEST_F(ChannelReadersTest, RangesFarOutsideTheRecordingEndAtOnce) {
    std::list<std::shared_ptr<IndexFile>> indexes;
    ASSERT_TRUE(channel_->ListIndexFiles(1, std::numeric_limits<int64_t>::min() / 2,
                                         std::numeric_limits<int64_t>::max(), indexes));
    EXPECT_EQ(indexes.size(), 5u);  // D 10, 12, 13 and E 13, 14
    EXPECT_FALSE(channel_->HasRecord(k14 + 3600, std::numeric_limits<int64_t>::max()));
}

TEST_F(ChannelReadersTest, ReadJobsGoToTheRecordedDriveOnly) {
    // The test waits for the completion, so that no command outlives it.
    std::promise<void> completed;
    auto future = completed.get_future();
    EXPECT_TRUE(channel_->ReadData("E", [&](unsigned queue, ReadCommandHandler::Done done) {
        boost::asio::post(pool_.IoService(), [queue, done, &completed] {
            done(queue, 0, 0);
            completed.set_value();
        });
    }));
    EXPECT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(channel_->ReadData("Q", [](unsigned, ReadCommandHandler::Done) {}));
    EXPECT_TRUE(test::Logged(log_, "CH[cam1], Failed to find a recording Drive. name = Q"));
    EXPECT_FALSE(test::Logged(log_, "Failed to read a data."));
}

}  // namespace
}  // namespace orvale::recorder
