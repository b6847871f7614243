// Polling for a condition that another thread makes true, and waiting for
// an answer another thread gives, each with a bound.
#pragma once

#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace orvale::test {

// True once `done()` holds; false when it still does not after `patience`.
template <class Done>
bool WaitFor(Done&& done, std::chrono::milliseconds patience = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The answer of `future`; a failure of the test and a default answer when
// none comes within `patience`.
template <class T>
T Await(std::future<T>& future, std::chrono::milliseconds patience = std::chrono::seconds(30)) {
    if (future.wait_for(patience) != std::future_status::ready) {
        ADD_FAILURE() << "no answer";
        return T{};
    }
    return future.get();
}

}  // namespace orvale::test
