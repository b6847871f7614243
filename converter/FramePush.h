// What the file converters share: how they wait, and what they count of the
// frames they hand to a recorder. The recorder is borrowed for one file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

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

struct push_target_s {
    recorder::IRecorder& recorder;
    const Sleeper& sleep;
    int delayTimeMs = 0;               // pause after every 1 MiB of video of one file
    const std::atomic<bool>& running;  // cleared: stop waiting for the recorder
};

}  // namespace orvale::converter
