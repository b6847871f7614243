// What the file converters share: how they wait, and what they count of the
// frames they hand to a recorder. The recorder is borrowed for one file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "recorder/api/Interfaces.h"

namespace orvale::converter {

// Pauses the converting thread; tests give one that only records.
using Sleeper = std::function<void(std::chrono::milliseconds)>;

struct pushed_frames_s {
    uint64_t videoFrames = 0;
    uint64_t audioFrames = 0;
    uint64_t metaFrames = 0;
    uint64_t bytes = 0;          // payload bytes handed over, all kinds
    uint64_t refusedFrames = 0;  // frames the recorder answered false to
};

// Why a file did not convert, for the log; empty when it did, or when the
// run was cancelled under it.
struct file_failure_s {
    std::string why;
};

struct push_target_s {
    recorder::IRecorder& recorder;
    const Sleeper& sleep;
    int delayTimeMs = 0;               // pause after every 1 MiB of video of one file
    const std::atomic<bool>& running;  // cleared: stop waiting for the recorder
};

// The recorder writes asynchronously; feeding it faster than the disk takes
// its buffers (video, or metadata seconds, which it drops rather than wait
// for) would only grow its queues. Waits while it has more than one write
// buffer queued; the wait ends as soon as a write completes, so the disk
// does not idle while the converter sleeps. False when the run was
// cancelled meanwhile.
inline bool WaitForRecorder(const push_target_s& target) {
    // How long one wait may last before the run's cancel flag is looked at again.
    constexpr uint32_t kStepMs = 100;
    for (uint32_t count = target.recorder.GetWriteBufferCount(); count > 1;
         count = target.recorder.WaitWriteBufferCount(1, kStepMs)) {
        if (!target.running) return false;
    }
    return true;
}

}  // namespace orvale::converter
