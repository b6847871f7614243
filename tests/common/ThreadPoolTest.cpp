#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>

#include "common/AsioThreadPool.h"

namespace orvale::common {
namespace {

using namespace std::chrono_literals;

TEST(AsioThreadPoolTest, RunsJobsOnAllItsThreadsAtOnce) {
    AsioThreadPool pool(4);
    EXPECT_EQ(pool.ThreadCount(), 4u);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::atomic<int> waiting{0};
    std::promise<void> release;
    auto released = release.get_future().share();
    std::vector<std::future<void>> done;
    for (int i = 0; i < 4; ++i) {
        auto finished = std::make_shared<std::promise<void>>();
        done.push_back(finished->get_future());
        pool.Post([&, finished] {
            {
                std::lock_guard lock(mutex);
                threads.insert(std::this_thread::get_id());
            }
            ++waiting;
            released.wait();  // all four must be running together to get here
            finished->set_value();
        });
    }
    while (waiting < 4) std::this_thread::sleep_for(1ms);
    release.set_value();
    for (auto& f : done) f.wait();
    EXPECT_EQ(threads.size(), 4u);
}

TEST(AsioThreadPoolTest, StrandRunsJobsOneAtATimeInOrder) {
    AsioThreadPool pool(8);
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::promise<void> finished;
    constexpr int kJobs = 500;
    for (int i = 0; i < kJobs; ++i) {
        boost::asio::post(pool.Strand(), [&, i] {
            if (++inside > 1) overlapped = true;
            order.push_back(i);
            --inside;
            if (i == kJobs - 1) finished.set_value();
        });
    }
    finished.get_future().wait();
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), static_cast<size_t>(kJobs));
    for (int i = 0; i < kJobs; ++i) EXPECT_EQ(order[i], i);
}

TEST(AsioThreadPoolTest, ThrowingJobLeavesTheThreadServing) {
    AsioThreadPool pool(1);
    pool.Post([] { throw std::runtime_error("job failed"); });
    std::promise<void> ran;
    pool.Post([&] { ran.set_value(); });
    EXPECT_EQ(ran.get_future().wait_for(5s), std::future_status::ready);
}

TEST(AsioThreadPoolTest, DestructionWaitsForTheRunningJob) {
    std::atomic<bool> finished{false};
    std::promise<void> started;
    {
        AsioThreadPool pool(1);
        pool.Post([&] {
            started.set_value();
            std::this_thread::sleep_for(100ms);
            finished = true;
        });
        started.get_future().wait();
    }
    EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace orvale::common
