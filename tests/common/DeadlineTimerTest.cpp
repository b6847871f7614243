#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "common/AsioThreadPool.h"
#include "common/DeadlineTimer.h"

namespace orvale::common {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class DeadlineTimerTest : public ::testing::Test {
  protected:
    std::shared_ptr<DeadlineTimer> MakeTimer(int ms) {
        return std::make_shared<DeadlineTimer>(&pool_.IoService(), ms);
    }
    static DeadlineTimer::Handler Count(std::atomic<int>& calls) {
        return [&calls](const boost::system::error_code&) { ++calls; };
    }

    AsioThreadPool pool_{4};
};

TEST_F(DeadlineTimerTest, FiresOnceAfterItsInterval) {
    auto timer = MakeTimer(50);
    std::promise<Clock::time_point> fired;
    const auto start = Clock::now();
    timer->Start([&](const boost::system::error_code& error) {
        EXPECT_FALSE(error);
        fired.set_value(Clock::now());
    });
    auto when = fired.get_future();
    ASSERT_EQ(when.wait_for(5s), std::future_status::ready);
    EXPECT_GE(when.get() - start, 50ms);
}

TEST_F(DeadlineTimerTest, SecondStartChangesNothing) {
    auto timer = MakeTimer(30);
    std::atomic<int> first{0}, second{0};
    timer->Start(Count(first));
    timer->Start(Count(second));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

TEST_F(DeadlineTimerTest, StopBeforeExpiryCancelsAndStartArmsAgain) {
    auto timer = MakeTimer(50);
    std::atomic<int> cancelled{0}, rearmed{0};
    timer->Start(Count(cancelled));
    timer->Stop();
    timer->Start(Count(rearmed));
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(rearmed, 1);
}

TEST_F(DeadlineTimerTest, RestartReplacesThePendingWait) {
    auto timer = MakeTimer(80);
    std::atomic<int> old{0}, replacement{0};
    timer->Start(Count(old));
    std::this_thread::sleep_for(40ms);
    const auto restarted = Clock::now();
    std::promise<Clock::time_point> fired;
    timer->Restart([&](const boost::system::error_code&) {
        ++replacement;
        fired.set_value(Clock::now());
    });
    auto when = fired.get_future();
    ASSERT_EQ(when.wait_for(5s), std::future_status::ready);
    EXPECT_GE(when.get() - restarted, 80ms);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(old, 0);
    EXPECT_EQ(replacement, 1);
}

TEST_F(DeadlineTimerTest, HandlerRestartsItselfPeriodically) {
    auto timer = MakeTimer(10);
    std::atomic<int> calls{0};
    std::promise<void> third;
    std::function<void(const boost::system::error_code&)> tick;
    tick = [&](const boost::system::error_code&) {
        // The count is read once: after the promise is set the test may end
        // and take `calls` with it.
        const int n = ++calls;
        if (n < 3) timer->Restart(tick);
        if (n == 3) third.set_value();
    };
    timer->Start(tick);
    EXPECT_EQ(third.get_future().wait_for(5s), std::future_status::ready);
}

TEST_F(DeadlineTimerTest, DestroyedTimerIgnoresItsPendingWait) {
    std::atomic<int> calls{0};
    MakeTimer(30)->Start(Count(calls));  // destroyed at the end of the statement
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(calls, 0);
}

TEST_F(DeadlineTimerTest, StopDoesNotWaitForARunningHandlerWhichCannotRearm) {
    auto timer = MakeTimer(10);
    std::promise<void> entered, stopped, finished;
    auto stoppedFuture = stopped.get_future().share();
    std::atomic<int> calls{0};
    std::function<void(const boost::system::error_code&)> handler;
    handler = [&](const boost::system::error_code&) {
        ++calls;
        entered.set_value();
        stoppedFuture.wait();     // Stop runs and returns while this handler runs
        timer->Restart(handler);  // ignored: the timer was stopped meanwhile
        finished.set_value();
    };
    timer->Start(handler);
    ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);
    timer->Stop();
    stopped.set_value();
    ASSERT_EQ(finished.get_future().wait_for(5s), std::future_status::ready);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace orvale::common
