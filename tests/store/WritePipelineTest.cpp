// Writes in flight on a data file and through a file writer: two writes of a
// file never share a sector, they finish in file order whatever order their
// transfers end in, nothing behind a failed write advances or is indexed,
// and a buffer's index rows are committed while the next write is on its way.
//
// A hook of the platform layer stands between each asynchronous data write
// and its transfer, so that a test can hold a write, end it after another
// one, or fail it after its bytes reached the disk.
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
#include "tests/support/LogCapture.h"

namespace orvale::test {
namespace {

namespace fs = std::filesystem;
using recorder::DataFile;
using recorder::kProfileNormal;
using recorder::WriteBuffer;

constexpr auto kPatience = std::chrono::seconds(10);
const std::string kEnd("\x00\x00\x01\xFF\x01\x00\x00\x00\x00\x00\x00\x00", 12);

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

    // Starts a write; its result arrives in the future (and a number above 0
    // in `order_`).
    std::future<DataWrite> Start(DataFile& file, std::shared_ptr<WriteBuffer> buffer, int number,
                                 bool followed = false) {
        auto promise = std::make_shared<std::promise<DataWrite>>();
        auto future = promise->get_future();
        file.Write(
            std::move(buffer),
            [this, promise, number](const std::error_code& error, uint64_t bytes, int64_t last) {
                if (number > 0) {
                    std::lock_guard lock(mutex_);
                    order_.push_back(number);
                }
                promise->set_value({error, bytes, last});
            },
            followed);
        return future;
    }

    DataWrite WriteNow(DataFile& file, std::shared_ptr<WriteBuffer> buffer) {
        auto result = Start(file, std::move(buffer), 0);
        EXPECT_EQ(result.wait_for(kPatience), std::future_status::ready);
        return result.get();
    }

    std::string Bytes(const std::string& name = "20240101132507.kvthdt") const {
        return ReadFile(dir_.Path() / name);
    }

    LogCapture log_;
    TempDir dir_;
    std::mutex mutex_;
    std::vector<int> order_;
    common::AsioThreadPool pool_{2};
};

TEST_F(DataFilePipelineTest, AWriteThatWouldShareASectorWithOneInFlightIsRefused) {
    auto file = Created();
    Signal entered;
    Signal go;
    WriteGate gate([&](int64_t, const WriteGate::Transfer& transfer) {
        entered.Raise();
        go.Wait();
        return transfer();
    });
    auto first = Start(*file, BufferOf(5, 5000), 1);
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

// The first write of a pair leaves out its end sector; the second one takes
// that sector. Even when the first transfer ends last, the file holds what two
// writes one after the other leave, and the results come in file order.
TEST_F(DataFilePipelineTest, APairNeverSharesASectorAndFinishesInFileOrder) {
    auto reference = Created("20240101132508.kvthdt");
    ASSERT_FALSE(WriteNow(*reference, BufferOf(5, 5000)).error);
    ASSERT_FALSE(WriteNow(*reference, BufferOf(6, 7000)).error);

    auto file = Created();
    Signal secondOver;
    int64_t lastTimeWhileHeld = -1;
    WriteGate gate([&](int64_t offset, const WriteGate::Transfer& transfer) {
        if (offset != 4096) {
            const auto error = transfer();
            secondOver.Raise();
            return error;
        }
        secondOver.Wait();
        // The second write is over; nothing advances before the first is.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        lastTimeWhileHeld = file->GetLastTime();
        return transfer();
    });
    auto first = Start(*file, BufferOf(5, 5000), 1, true);
    auto second = Start(*file, BufferOf(6, 7000), 2);
    // A third write would share the second one's end sector.
    EXPECT_EQ(WriteNow(*file, BufferOf(7, 100)).error, std::errc::device_or_resource_busy);
    ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);
    const DataWrite firstResult = first.get();
    const DataWrite secondResult = second.get();

    EXPECT_EQ(order_, (std::vector<int>{1, 2}));
    EXPECT_EQ(lastTimeWhileHeld, 0);
    EXPECT_FALSE(firstResult.error);
    EXPECT_FALSE(secondResult.error);
    EXPECT_EQ(firstResult.bytes, 8192u);  // data and padding, no end sector
    EXPECT_EQ(firstResult.lastTime, 5);
    EXPECT_EQ(secondResult.bytes, 8192u + 4096u);
    EXPECT_EQ(secondResult.lastTime, 6);
    EXPECT_EQ(file->GetWriteOffset(), reference->GetWriteOffset());
    EXPECT_EQ(file->GetWrittenEnd(), reference->GetWrittenEnd());
    const auto end = static_cast<size_t>(reference->GetWrittenEnd());
    EXPECT_EQ(Bytes().substr(0, end), Bytes("20240101132508.kvthdt").substr(0, end));
}

// A write whose bytes reached the disk but which failed (a failed flush, say)
// may have overwritten the end record; the write behind it is cancelled.
// Either way the file ends its good data with an end record again, and the
// next write starts right behind that data.
TEST_F(DataFilePipelineTest, AFailedWriteCancelsTheOneBehindItAndTheEndRecordComesBack) {
    struct Case {
        const char* name;
        int failing;  // 0: the first write of the pair, 1: the second
        std::errc first;
        std::errc second;
        int64_t advance;  // of the write offset
    };
    const Case cases[] = {
        {"the first fails", 0, std::errc::io_error, std::errc::operation_canceled, 0},
        {"the second fails", 1, std::errc(), std::errc::io_error, 8192},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.failing == 0 ? "20240101132507.kvthdt" : "20240101132509.kvthdt";
        auto file = Created(name);
        ASSERT_FALSE(WriteNow(*file, BufferOf(4, 3000)).error);
        const int64_t start = file->GetWriteOffset();
        const size_t failuresBefore = log_.Count("Failed to write a data. error = ");
        {
            // Both writes are in flight before either one ends.
            Signal secondBegun;
            WriteGate gate([&](int64_t offset, const WriteGate::Transfer& transfer) {
                if (offset == start) {
                    secondBegun.Wait();
                } else {
                    secondBegun.Raise();
                }
                const auto error = transfer();
                return (offset == start) == (c.failing == 0) ? Failed() : error;
            });
            auto first = Start(*file, BufferOf(5, 5000), 1, true);
            auto second = Start(*file, BufferOf(6, 7000), 2);
            ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);
            EXPECT_EQ(first.get().error, c.first);
            EXPECT_EQ(second.get().error, c.second);
        }
        EXPECT_EQ(log_.Count("Failed to write a data. error = "), failuresBefore + 1);
        const int64_t end = start + c.advance;
        EXPECT_EQ(file->GetWriteOffset(), end);
        EXPECT_EQ(file->GetWrittenEnd(), end + 4096);
        EXPECT_EQ(file->GetLastTime(), c.failing == 0 ? 4 : 5);
        EXPECT_EQ(Bytes(name).substr(static_cast<size_t>(end), 12), kEnd);

        const DataWrite next = WriteNow(*file, BufferOf(8, 3000));
        EXPECT_FALSE(next.error);
        EXPECT_EQ(next.lastTime, 8);
        EXPECT_EQ(static_cast<uint8_t>(Bytes(name)[static_cast<size_t>(end) + 39]), 8);
    }
}

class WriterPipelineTest : public HourFixture {
  protected:
    fs::path HourIndex() const { return Track() / "20240101130000.kvtidx"; }

    int64_t Query(const std::string& sql) const {
        SQLite::Database db(HourIndex().string());
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
    SQLite::Database blocker(HourIndex().string(), SQLite::OPEN_READWRITE);
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

// Two buffers written together; the first write fails after its bytes went
// out. Neither is indexed, nothing advances, and the next buffer lands where
// the failed one began.
TEST_F(WriterPipelineTest, NothingBehindAFailedWriteIsIndexed) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    const auto data = writer->GetDataFile();
    auto release = HoldTheQueue();
    std::future<WriteResult> first;
    std::future<WriteResult> second;
    {
        // The second write begins before the first one fails.
        Signal secondBegun;
        WriteGate gate([&](int64_t offset, const WriteGate::Transfer& transfer) {
            if (offset == 4096) {
                secondBegun.Wait();
            } else {
                secondBegun.Raise();
            }
            const auto error = transfer();
            return offset == 4096 ? Failed() : error;
        });
        first = WriteLater(*writer, Seconds(kHourStart, kHourStart + 1), 1);
        second = WriteLater(*writer, Seconds(kHourStart + 2, kHourStart + 3), 2);
        release();
        ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);
        EXPECT_EQ(gate.Calls(), 2);  // written together
    }
    EXPECT_EQ(first.get().error, EIO);
    EXPECT_EQ(second.get().error, ECANCELED);
    EXPECT_EQ(Query("SELECT count(*) FROM T_INDEX"), 0);
    EXPECT_EQ(Query("SELECT count(*) FROM T_DUALTRACKINDEX WHERE HIGH = 1"), 0);
    EXPECT_EQ(Query("SELECT count(*) FROM T_TIMELINE WHERE End = 0"), 0);
    EXPECT_EQ(data->GetWriteOffset(), 4096);

    EXPECT_EQ(WriteAndWait(*writer, Seconds(kHourStart + 4, kHourStart + 4)).error, 0);
    EXPECT_EQ(Query("SELECT count(*) FROM T_INDEX"), 1);
    EXPECT_EQ(Query("SELECT OFFSET FROM T_INDEX WHERE UTC = 1704114004"), 4096);
    writer->Close();
}

// Two buffers written together, the second transfer ending first: nothing
// of the second (result, rows, last time) shows before the first is done.
TEST_F(WriterPipelineTest, WritesFinishInFileOrder) {
    auto writer = MakeWriter(kProfileNormal, kHourStart);
    const auto data = writer->GetDataFile();
    auto release = HoldTheQueue();
    Signal secondOver;
    std::vector<int> resultsWhileHeld{-1};
    int64_t rowsWhileHeld = -1;
    int64_t lastTimeWhileHeld = -1;
    WriteGate gate([&](int64_t offset, const WriteGate::Transfer& transfer) {
        if (offset != 4096) {
            const auto error = transfer();
            secondOver.Raise();
            return error;
        }
        secondOver.Wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        {
            std::lock_guard lock(mutex_);
            resultsWhileHeld = order_;
        }
        rowsWhileHeld = Query("SELECT count(*) FROM T_INDEX");
        lastTimeWhileHeld = data->GetLastTime();
        return transfer();
    });
    auto first = WriteLater(*writer, Seconds(kHourStart, kHourStart + 1), 1);
    auto second = WriteLater(*writer, Seconds(kHourStart + 2, kHourStart + 3), 2);
    release();
    ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);

    EXPECT_TRUE(resultsWhileHeld.empty());
    EXPECT_EQ(rowsWhileHeld, 0);
    EXPECT_EQ(lastTimeWhileHeld, 0);
    EXPECT_EQ(first.get().lastTime, kHourStart + 1);
    EXPECT_EQ(second.get().lastTime, kHourStart + 3);
    EXPECT_EQ(order_, (std::vector<int>{1, 2}));
    EXPECT_EQ(Query("SELECT count(*) FROM T_INDEX"), 4);
    EXPECT_EQ(data->GetLastTime(), kHourStart + 3);
    writer->Close();
    EXPECT_EQ(Query("SELECT UTC FROM T_INDEX WHERE END = 1"), kHourStart + 3);
}

}  // namespace
}  // namespace orvale::test
