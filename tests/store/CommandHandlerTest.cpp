#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/AsioThreadPool.h"
#include "recorder/store/ReadCommandHandler.h"
#include "recorder/store/WriteCommandHandler.h"
#include "tests/support/LogCapture.h"

namespace orvale::recorder {
namespace {

using WriteDone = WriteCommandHandler::Done;
using ReadDone = ReadCommandHandler::Done;

struct WriteOutcome {
    int32_t error = 0;
    std::string message;
    uint64_t bytes = 0;
};

// A write command whose start parks its `done` for the test to call.
struct ParkedWrite {
    std::promise<WriteDone> started;
    std::promise<WriteOutcome> finished;

    WriteCommandHandler::Command Command() {
        return {[this](unsigned, WriteDone done) { started.set_value(std::move(done)); },
                [this](uint32_t, int32_t error, const std::string& message, uint64_t bytes, int64_t,
                       int32_t) {
                    finished.set_value({error, message, bytes});
                }};
    }
};

template <class T>
bool Ready(std::future<T>& future) {
    return future.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
}

TEST(CommandHandlerTest, KeysAreBoundOnceToTheLeastLoadedQueue) {
    auto writes = std::make_shared<WriteCommandHandler>();
    for (unsigned i = 0; i < 10; ++i) {
        EXPECT_EQ(writes->SelectQueue("ch" + std::to_string(i)), i % 8) << i;
    }
    EXPECT_EQ(writes->SelectQueue("ch3"), 3u);  // known: kept, nothing counted
    EXPECT_EQ(writes->GetQueueLoad(0), 2u);
    EXPECT_EQ(writes->GetQueueLoad(3), 1u);
    EXPECT_EQ(writes->GetQueueLoad(2), 1u);

    auto reads = std::make_shared<ReadCommandHandler>();
    for (unsigned i = 0; i < 6; ++i) {
        EXPECT_EQ(reads->AssignQueue("ch" + std::to_string(i)), i % 4) << i;
    }
    EXPECT_EQ(reads->AssignQueue("ch0"), 0u);
    EXPECT_EQ(reads->GetQueueLoad(0), 2u);
}

TEST(CommandHandlerTest, TheNextCommandStartsFromThePreviousDoneOnItsThread) {
    auto handler = std::make_shared<WriteCommandHandler>();
    ParkedWrite first;
    auto firstStarted = first.started.get_future();
    auto firstFinished = first.finished.get_future();
    handler->Enqueue("cam", first.Command());
    ASSERT_TRUE(Ready(firstStarted));  // an idle queue starts at once

    std::thread::id secondThread;
    std::promise<WriteDone> second;
    auto secondStarted = second.get_future();
    handler->Enqueue("cam", {[&](unsigned, WriteDone done) {
                                 secondThread = std::this_thread::get_id();
                                 second.set_value(std::move(done));
                             },
                             nullptr});
    EXPECT_FALSE(Ready(secondStarted));

    std::thread::id completing;
    std::thread io([&] {
        completing = std::this_thread::get_id();
        firstStarted.get()(0, 0, "", 4096, 10, 1);
    });
    io.join();
    EXPECT_EQ(firstFinished.get().bytes, 4096u);
    ASSERT_TRUE(Ready(secondStarted));
    EXPECT_EQ(secondThread, completing);
    EXPECT_EQ(handler->GetWrittenBytes(), 4096u);
    secondStarted.get()(0, 0, "", 0, 0, 0);
}

TEST(CommandHandlerTest, AFailedWriteCountsNothingAndTheQueueGoesOn) {
    auto handler = std::make_shared<WriteCommandHandler>();
    ParkedWrite failing;
    ParkedWrite next;
    auto failingStarted = failing.started.get_future();
    auto nextStarted = next.started.get_future();
    auto failingFinished = failing.finished.get_future();
    handler->Enqueue("cam", failing.Command());
    handler->Enqueue("cam", next.Command());

    failingStarted.get()(0, 28, "No space left on device", 1000, 0, 1);
    const WriteOutcome outcome = failingFinished.get();
    EXPECT_EQ(outcome.error, 28);
    EXPECT_EQ(outcome.message, "No space left on device");
    EXPECT_EQ(handler->GetWrittenBytes(), 0u);
    ASSERT_TRUE(Ready(nextStarted));
    nextStarted.get()(0, 0, "", 500, 0, 1);
    EXPECT_EQ(handler->GetWrittenBytes(), 500u);
}

TEST(CommandHandlerTest, AStartThatThrowsIsFinishedWithAnErrorAndTheQueueGoesOn) {
    test::LogCapture log;
    auto writes = std::make_shared<WriteCommandHandler>();
    std::promise<WriteOutcome> thrown;
    writes->Enqueue("cam", {[](unsigned, const WriteDone&) { throw std::runtime_error("boom"); },
                            [&](uint32_t, int32_t error, const std::string& message, uint64_t,
                                int64_t, int32_t) {
                                thrown.set_value({error, message, 0});
                            }});
    const WriteOutcome outcome = thrown.get_future().get();
    EXPECT_NE(outcome.error, 0);
    EXPECT_EQ(outcome.message, "Exception: boom");
    EXPECT_EQ(log.Count("A command failed to start."), 1u);

    // A command without a start function fails the same way.
    std::promise<int32_t> missing;
    writes->Enqueue("cam", {nullptr, [&](uint32_t, int32_t error, const std::string&, uint64_t,
                                         int64_t, int32_t) { missing.set_value(error); }});
    EXPECT_NE(missing.get_future().get(), 0);

    ParkedWrite after;
    auto afterStarted = after.started.get_future();
    writes->Enqueue("cam", after.Command());
    ASSERT_TRUE(Ready(afterStarted));
    afterStarted.get()(0, 0, "", 1, 0, 0);

    auto reads = std::make_shared<ReadCommandHandler>();
    std::promise<uint32_t> readThrown;
    std::promise<uint64_t> readNext;
    common::AsioThreadPool pool(1);
    reads->Enqueue("cam",
                   {[](unsigned, const ReadDone&) { throw std::logic_error("bad"); },
                    [&](uint32_t, uint32_t result, uint64_t) { readThrown.set_value(result); }});
    // Read starts report later, from another thread: the read lock is not
    // recursive.
    reads->Enqueue("cam", {[&](unsigned q, ReadDone done) {
                               pool.Post([q, done = std::move(done)] { done(q, 0, 512); });
                           },
                           [&](uint32_t, uint32_t, uint64_t bytes) { readNext.set_value(bytes); }});
    EXPECT_NE(readThrown.get_future().get(), 0u);
    EXPECT_EQ(readNext.get_future().get(), 512u);
}

TEST(CommandHandlerTest, ADoneCalledTwiceCannotFinishTheNextCommand) {
    test::LogCapture log;
    auto handler = std::make_shared<WriteCommandHandler>();
    ParkedWrite first;
    ParkedWrite second;
    auto firstStarted = first.started.get_future();
    auto secondStarted = second.started.get_future();
    auto secondFinished = second.finished.get_future();
    handler->Enqueue("cam", first.Command());
    handler->Enqueue("cam", second.Command());

    const WriteDone done = firstStarted.get();
    done(0, 0, "", 10, 0, 0);
    ASSERT_TRUE(Ready(secondStarted));
    done(0, 0, "", 10, 0, 0);
    EXPECT_EQ(secondFinished.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    EXPECT_EQ(handler->GetWrittenBytes(), 10u);
    EXPECT_EQ(log.Count("done twice"), 1u);
    secondStarted.get()(0, 0, "", 0, 0, 0);
}

TEST(CommandHandlerTest, ACompletionMayEnqueueIntoTheSameWriteQueue) {
    auto handler = std::make_shared<WriteCommandHandler>();
    std::promise<void> chained;
    const auto finish = [](unsigned q, const WriteDone& done) { done(q, 0, "", 1, 0, 0); };
    std::promise<WriteDone> parked;
    handler->Enqueue("cam",
                     {[&](unsigned, WriteDone done) { parked.set_value(std::move(done)); },
                      [&](uint32_t, int32_t, const std::string&, uint64_t, int64_t, int32_t) {
                          handler->Enqueue(
                              "cam", {finish, [&](uint32_t, int32_t, const std::string&, uint64_t,
                                                  int64_t, int32_t) { chained.set_value(); }});
                      }});
    parked.get_future().get()(0, 0, "", 1, 0, 0);
    chained.get_future().get();
    EXPECT_EQ(handler->GetWrittenBytes(), 2u);
}

// A write command that can overlap the next one; parks what its start gets.
struct OverlappingWrite {
    struct Started {
        WriteDone done;
        WriteCommandHandler::Release release;
    };
    std::promise<Started> started;
    std::promise<WriteOutcome> finished;
    std::vector<int>* order = nullptr;  // completions append `id`
    int id = 0;

    WriteCommandHandler::Command Command() {
        WriteCommandHandler::Command command;
        command.startOverlapping = [this](unsigned, WriteDone done,
                                          WriteCommandHandler::Release release) {
            started.set_value({std::move(done), std::move(release)});
        };
        command.completion = [this](uint32_t, int32_t error, const std::string& message,
                                    uint64_t bytes, int64_t, int32_t) {
            if (order != nullptr) order->push_back(id);
            finished.set_value({error, message, bytes});
        };
        return command;
    }
};

TEST(CommandHandlerTest, AReleasedCommandLetsTheNextStartAndCompletionsKeepTheirOrder) {
    auto handler = std::make_shared<WriteCommandHandler>();
    std::vector<int> order;
    OverlappingWrite first;
    first.order = &order;
    first.id = 1;
    ParkedWrite second;
    auto firstStarted = first.started.get_future();
    auto secondStarted = second.started.get_future();
    auto secondFinished = second.finished.get_future();
    handler->Enqueue("cam", first.Command());
    handler->Enqueue("cam", second.Command());
    ASSERT_TRUE(Ready(firstStarted));
    OverlappingWrite::Started running = firstStarted.get();
    EXPECT_FALSE(Ready(secondStarted));  // the first still holds the queue

    running.release();
    ASSERT_TRUE(Ready(secondStarted));
    secondStarted.get()(0, 0, "", 20, 0, 1);  // done before the one ahead of it
    EXPECT_FALSE(Ready(secondFinished));
    EXPECT_EQ(handler->GetWrittenBytes(), 20u);

    running.done(0, 0, "", 10, 0, 1);
    EXPECT_EQ(order, std::vector<int>{1});
    ASSERT_TRUE(Ready(secondFinished));
    EXPECT_EQ(secondFinished.get().bytes, 20u);
    EXPECT_EQ(handler->GetWrittenBytes(), 30u);
    running.release();  // late: changes nothing
}

// Three overlapping commands: each starts only once the one ahead of it has
// released the queue, whatever is done when.
TEST(CommandHandlerTest, EachOverlappingCommandWaitsForTheReleaseAheadOfIt) {
    auto handler = std::make_shared<WriteCommandHandler>();
    std::vector<int> order;
    std::array<OverlappingWrite, 3> writes;
    std::vector<std::future<OverlappingWrite::Started>> started;
    for (int i = 0; i < 3; ++i) {
        writes[i].order = &order;
        writes[i].id = i;
        started.push_back(writes[i].started.get_future());
        handler->Enqueue("cam", writes[i].Command());
    }
    ASSERT_TRUE(Ready(started[0]));
    auto first = started[0].get();
    first.release();
    ASSERT_TRUE(Ready(started[1]));
    EXPECT_FALSE(Ready(started[2]));
    auto second = started[1].get();
    second.done(0, 0, "", 1, 0, 0);  // done without a release: the queue is free
    ASSERT_TRUE(Ready(started[2]));
    EXPECT_TRUE(order.empty());  // the first is not done yet
    first.done(0, 0, "", 1, 0, 0);
    EXPECT_EQ(order, (std::vector<int>{0, 1}));
    started[2].get().done(0, 0, "", 1, 0, 0);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

// Many channels' commands, enqueued from several threads and completed on
// pool threads after random delays. Each test makes the commands; the run
// checks that every channel's completions come in its order.
class OrderStress {
  public:
    static constexpr int kChannels = 12;
    static constexpr int kCommands = 60;

    // Enqueues channel `channel`'s commands with `enqueue(channel, i, random)`
    // from three producer threads, and waits until every completion came.
    template <class Enqueue>
    void Run(const Enqueue& enqueue) {
        std::vector<std::thread> producers;
        producers.reserve(3);
        for (int t = 0; t < 3; ++t) {
            producers.emplace_back([&, t] {
                for (int channel = t; channel < kChannels; channel += 3) {
                    std::mt19937 random(static_cast<unsigned>(channel));
                    for (int i = 0; i < kCommands; ++i) enqueue(channel, i, random);
                }
            });
        }
        for (auto& producer : producers) producer.join();
        ASSERT_EQ(all_.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        for (int channel = 0; channel < kChannels; ++channel) {
            const auto& order = finished_[channel];
            ASSERT_EQ(order.size(), static_cast<size_t>(kCommands));
            for (int i = 0; i < kCommands; ++i) EXPECT_EQ(order[i], i) << "channel " << channel;
        }
    }

    // The completion of command i of `channel`.
    auto Completion(int channel, int i) {
        return [this, channel, i](auto...) {
            {
                std::lock_guard lock(mutex_);
                finished_[channel].push_back(i);
            }
            if (--remaining_ == 0) all_.set_value();
        };
    }

  private:
    std::mutex mutex_;
    std::map<int, std::vector<int>> finished_;
    std::atomic<int> remaining_{kChannels * kCommands};
    std::promise<void> all_;

  public:
    // Last, so that its threads are gone before what they touch.
    common::AsioThreadPool pool{4};
};

// No two commands of one queue ever run at once.
template <class Handler, class Done, class Command, class Finish>
void RunOrderStress(const std::shared_ptr<Handler>& handler, unsigned queueCount,
                    const Finish& finish) {
    std::vector<std::atomic<int>> running(queueCount);
    std::atomic<int> overlaps{0};
    OrderStress stress;
    stress.Run([&](int channel, int i, std::mt19937& random) {
        const auto delay = std::chrono::microseconds(random() % 300);
        Command command;
        command.start = [&, delay](unsigned q, Done done) {
            if (running[q].fetch_add(1) != 0) ++overlaps;
            stress.pool.Post([&, q, delay, done = std::move(done)] {
                std::this_thread::sleep_for(delay);
                running[q].fetch_sub(1);
                finish(done, q);
            });
        };
        command.completion = stress.Completion(channel, i);
        handler->Enqueue("channel-" + std::to_string(channel), std::move(command));
    });
    EXPECT_EQ(overlaps.load(), 0);
}

TEST(CommandHandlerTest, WritesOfEveryChannelRunInOrderOneAtATimePerQueue) {
    auto handler = std::make_shared<WriteCommandHandler>();
    RunOrderStress<WriteCommandHandler, WriteDone, WriteCommandHandler::Command>(
        handler, WriteCommandHandler::kQueueCount,
        [](const WriteDone& done, unsigned q) { done(q, 0, "", 100, 0, 1); });
    EXPECT_EQ(handler->GetWrittenBytes(), 12u * 60u * 100u);
}

TEST(CommandHandlerTest, ReadsOfEveryChannelRunInOrderOneAtATimePerQueue) {
    auto handler = std::make_shared<ReadCommandHandler>();
    RunOrderStress<ReadCommandHandler, ReadDone, ReadCommandHandler::ReadCommand>(
        handler, ReadCommandHandler::kQueueCount,
        [](const ReadDone& done, unsigned q) { done(q, 0, 4096); });
}

// Channels whose writes overlap: each releases its queue after a random
// delay and is done after another, on pool threads. A command starts only
// when every one ahead of it has released the queue or is done, and the
// completions of every channel keep their order.
TEST(CommandHandlerTest, OverlappingWritesStartOnlyBehindReleasedOnesAndFinishInOrder) {
    auto handler = std::make_shared<WriteCommandHandler>();
    // Commands started and neither released nor done, per queue.
    std::array<std::atomic<int>, WriteCommandHandler::kQueueCount> holding{};
    std::atomic<int> overlaps{0};
    OrderStress stress;
    stress.Run([&](int channel, int i, std::mt19937& random) {
        const auto untilRelease = std::chrono::microseconds(random() % 200);
        const auto untilDone = std::chrono::microseconds(random() % 200);
        const bool releases = random() % 4 != 0;  // some are done without a release
        WriteCommandHandler::Command command;
        command.startOverlapping = [&, untilRelease, untilDone, releases](
                                       unsigned q, WriteDone done,
                                       WriteCommandHandler::Release release) {
            if (holding[q].fetch_add(1) != 0) ++overlaps;
            stress.pool.Post([&, q, untilRelease, untilDone, releases, done = std::move(done),
                              release = std::move(release)] {
                std::this_thread::sleep_for(untilRelease);
                --holding[q];
                if (releases) {
                    release();
                    std::this_thread::sleep_for(untilDone);
                }
                done(q, 0, "", 100, 0, 1);
            });
        };
        command.completion = stress.Completion(channel, i);
        handler->Enqueue("channel-" + std::to_string(channel), std::move(command));
    });
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(handler->GetWrittenBytes(), 12u * 60u * 100u);
}

// What a drive's reader holds: the drive, and so its queues.
struct Holder {
    std::shared_ptr<ReadCommandHandler> reads;
    std::shared_ptr<WriteCommandHandler> writes;
};

// A transfer whose pool went away never calls its done; its command, and the
// one queued behind it, hold what holds the queues. Dropping the commands
// lets both go, calls no completion, and a done that turns up late is
// refused.
TEST(CommandHandlerTest, DroppedCommandsLetGoOfWhatTheyHeldAndCompleteNothing) {
    auto holder = std::make_shared<Holder>();
    holder->reads = std::make_shared<ReadCommandHandler>();
    holder->writes = std::make_shared<WriteCommandHandler>();
    const std::weak_ptr<Holder> watched = holder;
    int completions = 0;
    ReadDone lateRead;
    WriteDone lateWrite;
    // Each completion holds the holder, as a reader's holds its drive.
    const auto readCompletion = [&completions](std::shared_ptr<Holder> held) {
        return [held, &completions](uint32_t, uint32_t, uint64_t) { ++completions; };
    };
    const auto writeCompletion = [&completions](std::shared_ptr<Holder> held) {
        return [held, &completions](uint32_t, int32_t, const std::string&, uint64_t, int64_t,
                                    int32_t) { ++completions; };
    };
    holder->reads->Enqueue("cam", {[&](unsigned, ReadDone done) { lateRead = std::move(done); },
                                   readCompletion(holder)});
    holder->reads->Enqueue("cam", {[](unsigned, ReadDone) {}, readCompletion(holder)});
    holder->writes->Enqueue("cam", {[&](unsigned, WriteDone done) { lateWrite = std::move(done); },
                                    writeCompletion(holder)});
    holder->writes->Enqueue("cam", {[](unsigned, WriteDone) {}, writeCompletion(holder)});
    ASSERT_EQ(holder->reads->PendingCount(), 2u);
    const auto reads = holder->reads;
    const auto writes = holder->writes;
    holder.reset();
    ASSERT_FALSE(watched.expired());  // the queued completions hold it

    reads->DropCommands();
    writes->DropCommands();
    EXPECT_TRUE(watched.expired());
    EXPECT_EQ(reads->PendingCount(), 0u);

    test::LogCapture log;
    lateRead(0, 0, 10);
    lateWrite(0, 0, "", 10, 0, 0);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(log.Count("A command was done twice or after it was finished."), 2u);
}

}  // namespace
}  // namespace orvale::recorder
