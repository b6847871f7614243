// Polling for a condition that another thread makes true, with a bound.
#pragma once

#include <chrono>
#include <thread>

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

}  // namespace orvale::test
