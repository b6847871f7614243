// The least gap media can show on this machine at a given moment: one thread
// that wakes every millisecond, as the engine's playback timer does, and
// keeps time for a number of media at speed 1, their frames spread evenly
// over the 40 ms, each shown whenever speed-1 pacing would (40 ms after its
// last one, with the engine's 1.5 ms of slack), doing nothing else. Its gaps
// are those of a perfect engine in the same run: whatever holds the machine's
// threads (the host scheduling the machine, the kernel) holds it too.
//
// Owns its thread from construction to Stop (or destruction).
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace orvale::bench {

class PaceFloor {
  public:
    using Clock = std::chrono::steady_clock;

    // `media` kept from `origin` on (the long gaps' times count from it).
    PaceFloor(Clock::time_point origin, int media);
    ~PaceFloor();

    PaceFloor(const PaceFloor&) = delete;
    PaceFloor& operator=(const PaceFloor&) = delete;

    void Stop();
    // Milliseconds between two frames.
    std::vector<float> Gaps();
    // The gaps above `limit` ms with the second of the run they ended at.
    std::vector<std::pair<float, double>> LongGaps(float limit);

  private:
    void Run();

    const Clock::time_point origin_;
    const int media_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<float> gaps_;
    std::vector<double> ends_;  // seconds since origin_, one per gap
    std::thread thread_;
};

}  // namespace orvale::bench
