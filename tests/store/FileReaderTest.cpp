#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>

#include "tests/store/HourFixture.h"

namespace orvale::test {
namespace {

namespace fs = std::filesystem;
using recorder::FileReader;
using recorder::kProfileLow;
using recorder::kProfileNormal;
using recorder::ReadBuffer;

class FileReaderTest : public HourFixture {
  protected:
    std::shared_ptr<FileReader> OpenHour(int profile = kProfileNormal) {
        auto reader =
            FileReader::Create(Track(), profile, "", pool_.IoService(), nullptr, folders_);
        EXPECT_TRUE(reader->OpenIndexFile(kHourStart));
        EXPECT_TRUE(reader->LoadStartTime());
        return reader;
    }

    // Reads [start, end) of the reader's current data file through the
    // drive's read queue and waits for it.
    std::shared_ptr<ReadBuffer> Read(const std::shared_ptr<FileReader>& reader, int64_t start,
                                     int64_t end) {
        auto request = std::make_shared<ReadBuffer>(256 << 10);
        request->windowStart = start;
        request->windowEnd = end;
        request->scanKeyFrames = 1;
        reader->QueueRead(request);
        EXPECT_EQ(EnqueueRead(reader).wait_for(std::chrono::seconds(10)),
                  std::future_status::ready);
        return request;
    }

    std::future<uint32_t> EnqueueRead(const std::shared_ptr<FileReader>& reader) {
        auto promise = std::make_shared<std::promise<uint32_t>>();
        auto future = promise->get_future();
        reads_->Enqueue("cam1", {[reader](unsigned q, recorder::ReadCommandHandler::Done done) {
                                     reader->OnReadCommand(q, std::move(done));
                                 },
                                 [promise](uint32_t, uint32_t result, uint64_t) {
                                     promise->set_value(result);
                                 }});
        return future;
    }

    // The key-frame times a read buffer found.
    static std::vector<int64_t> KeyTimes(const ReadBuffer& buffer) {
        std::vector<int64_t> times;
        for (const auto& row : buffer.keyFrames) times.push_back(row.keyTime);
        return times;
    }
};

TEST_F(FileReaderTest, StepsThroughTheHourAndReadsItBack) {
    auto first = MakeWriter(kProfileNormal, kHourStart);
    WriteAndWait(*first, Seconds(kHourStart, kHourStart + 2));
    first->Close();
    auto second = MakeWriter(kProfileNormal, kHourStart + 10);
    WriteAndWait(*second, Seconds(kHourStart + 10, kHourStart + 11));

    auto reader = OpenHour();
    EXPECT_EQ(reader->GetStartTime(false), kHourStart);
    EXPECT_EQ(reader->FindIndexAt(kHourStart + 5, true), kHourStart + 10);
    EXPECT_EQ(reader->FindIndexAt(kHourStart + 5, false), kHourStart + 2);
    EXPECT_EQ(reader->FindIndexAt(kHourStart + 12, true), 0);

    ASSERT_TRUE(reader->OpenDataFileAt(0, true));
    EXPECT_EQ(reader->GetCurrentDataFile()->GetFileName(), "20240101130000.kvthdt");
    std::vector<recorder::index_row_s> rows;
    ASSERT_TRUE(reader->GetIFrameIndex(rows));
    ASSERT_EQ(rows.size(), 3u);
    auto read = Read(reader, 4096, static_cast<int64_t>(rows.back().endOffset));
    EXPECT_TRUE(read->ready);
    EXPECT_EQ(KeyTimes(*read), (std::vector<int64_t>{kHourStart, kHourStart + 1, kHourStart + 2}));
    EXPECT_FALSE(reader->OpenPreviousDataFile());

    ASSERT_TRUE(reader->OpenNextDataFile());
    EXPECT_EQ(reader->GetCurrentDataFile()->GetFileName(), "20240101130010.kvthdt");
    EXPECT_FALSE(reader->HasNextDataFile());
    EXPECT_FALSE(reader->OpenNextDataFile());  // nothing newer yet

    // The writer starts a third file while the reader sits on the second.
    second->Close();
    auto third = MakeWriter(kProfileNormal, kHourStart + 20);
    WriteAndWait(*third, Seconds(kHourStart + 20, kHourStart + 20));
    EXPECT_TRUE(reader->HasNextDataFile());
    ASSERT_TRUE(reader->OpenNextDataFile());
    EXPECT_EQ(reader->GetCurrentDataFile()->GetFileName(), "20240101130020.kvthdt");
    ASSERT_TRUE(reader->OpenDataFileAt(0, false));
    EXPECT_EQ(reader->GetCurrentDataFile()->GetFileName(), "20240101130020.kvthdt");
    third->Close();
}

TEST_F(FileReaderTest, NearestKeyFrameChoosesTheProfile) {
    auto normal = MakeWriter(kProfileNormal, kHourStart + 5);
    WriteAndWait(*normal, Seconds(kHourStart + 5, kHourStart + 5));
    auto low = MakeWriter(kProfileLow, kHourStart + 3);
    WriteAndWait(*low, Seconds(kHourStart + 3, kHourStart + 3));
    auto reader = OpenHour();
    EXPECT_EQ(reader->FindNearestIndex(kHourStart, true), kHourStart + 3);
    EXPECT_EQ(reader->GetProfile(), kProfileLow);
    EXPECT_EQ(reader->FindNearestIndex(kHourStart + 10, false), kHourStart + 5);
    EXPECT_EQ(reader->GetProfile(), kProfileNormal);
    EXPECT_EQ(reader->GetLastIndexTime(true), kHourStart + 5);
    normal->Close();
    low->Close();
}

TEST_F(FileReaderTest, QueuedRequestsAreReadNewestFirstAndEachRemovedOnce) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    WriteAndWait(*writer, Seconds(kHourStart, kHourStart + 1));
    writer->Close();
    auto reader = OpenHour();
    ASSERT_TRUE(reader->OpenDataFileAt(kHourStart, true));
    std::vector<recorder::index_row_s> rows;
    ASSERT_TRUE(reader->GetIFrameIndex(rows));
    ASSERT_EQ(rows.size(), 2u);

    auto window = [](const recorder::index_row_s& row, int64_t end) {
        auto request = std::make_shared<ReadBuffer>(64 << 10);
        request->windowStart = static_cast<int64_t>(row.keyOffset);
        request->windowEnd = end;
        request->scanKeyFrames = 1;
        return request;
    };
    auto a = window(rows[0], static_cast<int64_t>(rows[1].keyOffset));
    auto b = window(rows[1], static_cast<int64_t>(rows[1].endOffset));
    reader->QueueRead(a);
    reader->QueueRead(b);
    auto firstRead = EnqueueRead(reader);
    auto secondRead = EnqueueRead(reader);
    EXPECT_EQ(firstRead.get(), 0u);
    EXPECT_EQ(secondRead.get(), 0u);
    EXPECT_EQ(KeyTimes(*a), (std::vector<int64_t>{kHourStart}));
    EXPECT_EQ(KeyTimes(*b), (std::vector<int64_t>{kHourStart + 1}));
}

// A writer that goes away without Close (a crash) leaves every second whose
// index rows were committed readable.
TEST_F(FileReaderTest, SecondsOfAnAbandonedWriterStayReadable) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    for (int64_t t = kHourStart; t < kHourStart + 6; t += 2)
        WriteAndWait(*writer, Seconds(t, t + 1));
    writer.reset();

    auto reader = OpenHour();
    for (int64_t t = kHourStart; t < kHourStart + 6; ++t) {
        SCOPED_TRACE(t - kHourStart);
        ASSERT_EQ(reader->FindIndexAt(t, true), t);
        ASSERT_TRUE(reader->OpenDataFileAt(t, true));
        std::vector<recorder::index_row_s> rows;
        ASSERT_TRUE(reader->GetIFrameIndex(rows));
        const auto& row = rows[static_cast<size_t>(t - kHourStart)];
        auto read = Read(reader, static_cast<int64_t>(row.keyOffset),
                         static_cast<int64_t>(row.keyOffset) + 12 + 27 + 10000);
        EXPECT_EQ(KeyTimes(*read), (std::vector<int64_t>{t}));
        reader->CloseDataFile();
    }
}

TEST_F(FileReaderTest, MissingHourIsReported) {
    auto reader =
        FileReader::Create(Track(), kProfileNormal, "", pool_.IoService(), nullptr, folders_);
    EXPECT_FALSE(reader->OpenIndexFile(kHourStart));
    EXPECT_FALSE(reader->OpenMetaDataFile(kHourStart));
    EXPECT_FALSE(reader->LoadStartTime());
    EXPECT_FALSE(reader->OpenDataFileAt(0, true));
}

}  // namespace
}  // namespace orvale::test
