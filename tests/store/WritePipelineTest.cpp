// Writes in flight on a data file and through a file writer: two writes of a
// file are never in flight together (they would share the end sector), a
// buffer's index rows are committed while the next write is on its way and
// reach the owner in file order, and a failed write is not indexed and moves
// nothing, so the next one lands where it began.
//
// A hook of the platform layer stands between each asynchronous data write
// and its transfer, so that a test can hold a write or fail it after its
// bytes reached the disk.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include <SQLiteCpp/SQLiteCpp.h>

#include "platform/DirectFile.h"
#include "tests/store/HourFixture.h"
#include "tests/support/HourDatabase.h"

namespace orvale::test {
namespace {

namespace fs = std::filesystem;
using recorder::DataFile;
using recorder::kProfileNormal;
using recorder::WriteBuffer;

constexpr auto kPatience = std::chrono::seconds(10);

// Sends every asynchronous data write through `step`, which knows the
// write by its file offset, for the gate's life.
class WriteGate {
  public:
    using Transfer = std::function<std::error_code()>;
    using Step = std::function<std::error_code(int64_t offset, const Transfer& transfer)>;

    explicit WriteGate(Step step) {
        platform::SetWriteHookForTesting(
            [this, step = std::move(step)](int64_t offset, std::size_t, const Transfer& transfer) {
                ++calls_;
                return step(offset, transfer);
            });
    }
    ~WriteGate() { platform::SetWriteHookForTesting(nullptr); }
    WriteGate(const WriteGate&) = delete;
    WriteGate& operator=(const WriteGate&) = delete;

    int Calls() const { return calls_.load(); }

  private:
    std::atomic<int> calls_{0};
};

// A one-shot signal between threads.
class Signal {
  public:
    void Raise() {
        std::call_once(once_, [this] { promise_.set_value(); });
    }
    bool WaitFor(std::chrono::milliseconds time) const {
        return future_.wait_for(time) == std::future_status::ready;
    }
    void Wait() const { future_.wait(); }

  private:
    std::promise<void> promise_;
    std::shared_future<void> future_ = promise_.get_future().share();
    std::once_flag once_;
};

std::error_code Failed() {
    return std::make_error_code(std::errc::io_error);
}

std::shared_ptr<WriteBuffer> BufferOf(uint64_t time, uint32_t used) {
    auto buffer = std::make_shared<WriteBuffer>(64 * 1024);
    buffer->Append(SecondOf(time, used, true, static_cast<uint8_t>(time)));
    return buffer;
}

struct DataWrite {
    std::error_code error;
    uint64_t bytes = 0;
    int64_t lastTime = 0;
};

class DataFilePipelineTest : public ::testing::Test {
  protected:
    std::shared_ptr<DataFile> Created(const std::string& name = "20240101132507.kvthdt") {
        auto file = std::make_shared<DataFile>(dir_.Path() / name, pool_.IoService());
        EXPECT_TRUE(file->Create("cam-1", 7, 1 << 20));
        return file;
    }

    // Starts a write; its result arrives in the future.
    std::future<DataWrite> Start(DataFile& file, std::shared_ptr<WriteBuffer> buffer) {
        auto promise = std::make_shared<std::promise<DataWrite>>();
        auto future = promise->get_future();
        file.Write(std::move(buffer),
                   [promise](const std::error_code& error, uint64_t bytes, int64_t last) {
                       promise->set_value({error, bytes, last});
                   });
        return future;
    }

    DataWrite WriteNow(DataFile& file, std::shared_ptr<WriteBuffer> buffer) {
        auto result = Start(file, std::move(buffer));
        EXPECT_EQ(result.wait_for(kPatience), std::future_status::ready);
        return result.get();
    }

    TempDir dir_;
    common::AsioThreadPool pool_{2};
};

TEST_F(DataFilePipelineTest, AWriteThatWouldShareASectorWithOneInFlightIsRefused) {
    auto file = Created();
    Signal entered;
    Signal go;
    std::atomic<int> transfers{0};
    WriteGate gate([&](int64_t, const WriteGate::Transfer& transfer) {
        if (transfers++ == 0) {
            entered.Raise();
            go.Wait();
        }
        return transfer();
    });
    auto first = Start(*file, BufferOf(5, 5000));
    ASSERT_TRUE(entered.WaitFor(kPatience));
    // The first write carries its end sector, where the next one would begin.
    const DataWrite refused = WriteNow(*file, BufferOf(6, 5000));
    EXPECT_EQ(refused.error, std::errc::device_or_resource_busy);
    go.Raise();
    ASSERT_EQ(first.wait_for(kPatience), std::future_status::ready);
    EXPECT_FALSE(first.get().error);
    EXPECT_EQ(gate.Calls(), 1);
    EXPECT_EQ(file->GetWriteOffset(), 4096 + 8192);
    EXPECT_EQ(file->GetWrittenEnd(), 4096 + 8192 + 4096);
    EXPECT_EQ(file->GetLastTime(), 5);
}

class WriterPipelineTest : public HourFixture {
  protected:
    fs::path HourIndex() const { return Track() / "20240101130000.kvtidx"; }

    int64_t Query(const std::string& sql) const {
        SQLite::Database db = test::HourDatabase(HourIndex().string());
        return db.execAndGet(sql).getInt64();
    }

    // Hands a buffer to the writer; its result arrives in the future.
    std::future<WriteResult> WriteLater(recorder::FileWriter& writer,
                                        const std::shared_ptr<WriteBuffer>& buffer, int number) {
        auto promise = std::make_shared<std::promise<WriteResult>>();
        auto future = promise->get_future();
        writer.Write(buffer, [this, promise, number](uint32_t, int32_t error, const std::string&,
                                                     uint64_t bytes, int64_t last, int32_t track) {
            {
                std::lock_guard lock(mutex_);
                order_.push_back(number);
            }
            promise->set_value({error, bytes, last, track});
        });
        return future;
    }

    // Keeps the channel's queue busy until the returned function is called,
    // so that the buffers written meanwhile are queued together.
    std::function<void()> HoldTheQueue() {
        auto held = std::make_shared<std::promise<recorder::WriteCommandHandler::Done>>();
        auto done = held->get_future().share();
        writes_->Enqueue("cam1", {[held](unsigned, recorder::WriteCommandHandler::Done d) {
                                      held->set_value(std::move(d));
                                  },
                                  nullptr});
        return [done] { done.get()(0, 0, "", 0, 0, 0); };
    }

    std::mutex mutex_;
    std::vector<int> order_;
};

// The rows of a buffer cannot be committed while the test holds the hour
// index's write lock; the next data write starts all the same, and the owner
// hears of the first write only once its rows are in.
TEST_F(WriterPipelineTest, IndexRowsAreCommittedWhileTheNextWriteIsInFlight) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    Signal secondQueued;
    Signal secondWriting;
    WriteGate gate([&](int64_t offset, const WriteGate::Transfer& transfer) {
        if (offset == 4096) {
            secondQueued.Wait();
        } else {
            secondWriting.Raise();
        }
        return transfer();
    });
    SQLite::Database blocker = test::HourDatabase(HourIndex().string(), SQLite::OPEN_READWRITE);
    blocker.exec("BEGIN IMMEDIATE");
    auto first = WriteLater(*writer, Seconds(kHourStart, kHourStart + 1), 1);
    auto second = WriteLater(*writer, Seconds(kHourStart + 2, kHourStart + 3), 2);
    secondQueued.Raise();

    EXPECT_TRUE(secondWriting.WaitFor(std::chrono::seconds(3)));
    EXPECT_EQ(first.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    blocker.exec("COMMIT");
    ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(first.get().error, 0);
    EXPECT_EQ(second.get().error, 0);
    EXPECT_EQ(order_, (std::vector<int>{1, 2}));
    EXPECT_EQ(Query("SELECT count(*) FROM T_INDEX"), 4);
    writer->Close();
}

// The first write fails after its bytes went out; the second one, queued
// behind it, lands where the first began and only its seconds are indexed.
TEST_F(WriterPipelineTest, AFailedWriteIsNotIndexedAndTheNextLandsWhereItBegan) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    const auto data = writer->GetDataFile();
    auto release = HoldTheQueue();
    std::vector<int64_t> offsets;
    std::future<WriteResult> first;
    std::future<WriteResult> second;
    {
        WriteGate gate([&](int64_t offset, const WriteGate::Transfer& transfer) {
            offsets.push_back(offset);  // one transfer at a time
            const auto error = transfer();
            return offsets.size() == 1 ? Failed() : error;
        });
        first = WriteLater(*writer, Seconds(kHourStart, kHourStart + 1), 1);
        second = WriteLater(*writer, Seconds(kHourStart + 2, kHourStart + 3), 2);
        release();
        ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);
    }
    EXPECT_EQ(first.get().error, EIO);
    EXPECT_EQ(second.get().error, 0);
    EXPECT_EQ(order_, (std::vector<int>{1, 2}));
    EXPECT_EQ(offsets, (std::vector<int64_t>{4096, 4096}));
    EXPECT_EQ(Query("SELECT count(*) FROM T_INDEX"), 2);
    EXPECT_EQ(Query("SELECT min(UTC) FROM T_INDEX"), kHourStart + 2);
    EXPECT_EQ(Query("SELECT OFFSET FROM T_INDEX WHERE UTC = 1704114002"), 4096);
    EXPECT_EQ(Query("SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH = 1"), 2);
    EXPECT_EQ(Query("SELECT count(*) FROM T_TIMELINE WHERE End = 0"), 2);
    EXPECT_EQ(data->GetLastTime(), kHourStart + 3);
    writer->Close();
}

// While a write's transfer is held, the next buffer's write does not begin
// (it would share the sector of the first one's end record); it begins
// right behind the first one's data once that transfer is over.
TEST_F(WriterPipelineTest, TheNextWriteBeginsOnlyWhenTheTransferAheadIsOver) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    const auto data = writer->GetDataFile();
    Signal firstHeld;
    Signal go;
    std::mutex offsetsMutex;
    std::vector<int64_t> offsets;
    WriteGate gate([&](int64_t offset, const WriteGate::Transfer& transfer) {
        {
            std::lock_guard lock(offsetsMutex);
            offsets.push_back(offset);
        }
        if (offset == 4096) {
            firstHeld.Raise();
            go.Wait();
        }
        return transfer();
    });
    auto first = WriteLater(*writer, Seconds(kHourStart, kHourStart + 1), 1);
    ASSERT_TRUE(firstHeld.WaitFor(kPatience));
    auto second = WriteLater(*writer, Seconds(kHourStart + 2, kHourStart + 3), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(gate.Calls(), 1);
    go.Raise();
    ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);

    const WriteResult firstResult = first.get();
    EXPECT_EQ(firstResult.error, 0);
    EXPECT_EQ(firstResult.lastTime, kHourStart + 1);
    EXPECT_EQ(second.get().lastTime, kHourStart + 3);
    EXPECT_EQ(order_, (std::vector<int>{1, 2}));
    ASSERT_EQ(offsets.size(), 2u);
    EXPECT_EQ(offsets[1], 4096 + 20480);  // two seconds of 10,039 bytes, padded
    EXPECT_EQ(Query("SELECT OFFSET FROM T_INDEX WHERE UTC = 1704114002"), offsets[1]);
    writer->Close();
    EXPECT_EQ(Query("SELECT UTC FROM T_INDEX WHERE END = 1"), kHourStart + 3);
}

}  // namespace
}  // namespace orvale::test
