// Playback through MediaRecorder as a host uses it: an engine on fake drive
// D, channels recorded through the engine's recorders (25 frames a second,
// a key frame on each second), media driven by the engine's own timer thread,
// and a sink that keeps what their callbacks heard.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/log/core.hpp>

#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/recording/RecorderFrames.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/EngineOnFakeDrives.h"

namespace orvale::test {

inline constexpr int64_t kPlayStart = 1733824800;  // 2024-12-10 10:00:00 UTC
inline constexpr uint32_t kMainProfileType = 4;
inline constexpr auto kPlayPatience = std::chrono::seconds(30);

// One call of a data callback.
struct Heard {
    uint32_t mediaId = 0;
    int kind = 0;
    int64_t time = 0;
    bool key = false;
    bool backup = false;
    int endMarker = 0;
    long size = 0;
};

struct ControlAnswer {
    unsigned seq = 0;
    unsigned result = 0;
    int counter = 0;
};

// What the callbacks of any number of media heard, in the order heard.
class Sink {
  public:
    using Hook = std::function<void(const Heard&)>;

    recorder::OpenMediaCallback Data(Hook hook = {}) {
        return [this, hook = std::move(hook)](recorder::playback_media_header_s* header, long size,
                                              unsigned char*) {
            Heard heard;
            heard.mediaId = header->mediaId;
            heard.kind = header->kind;
            heard.backup = header->backup != 0;
            heard.size = size;
            if (header->kind == 1) {
                heard.time = header->video.time;
                heard.key = header->video.keyFrame != 0;
                heard.endMarker = header->video.endMarker;
            }
            {
                std::lock_guard lock(mutex_);
                heard_.push_back(heard);
            }
            changed_.notify_all();
            if (hook) hook(heard);
            return 0L;
        };
    }
    recorder::OpenMediaResponseCallback OpenAnswer() {
        return [this](unsigned seq, unsigned result) {
            {
                std::lock_guard lock(mutex_);
                opens_.push_back({seq, result, -1});
            }
            changed_.notify_all();
        };
    }
    recorder::ControlMediaResponseCallback Answer() {
        return [this](unsigned seq, unsigned result, unsigned char counter) {
            {
                std::lock_guard lock(mutex_);
                controls_.push_back({seq, result, counter});
            }
            changed_.notify_all();
        };
    }

    // Video frames (no final headers) of one medium, or of all.
    std::vector<Heard> Videos(uint32_t mediaId = 0) {
        std::lock_guard lock(mutex_);
        std::vector<Heard> videos;
        for (const auto& h : heard_) {
            if (h.kind == 1 && h.size > 0 && (mediaId == 0 || h.mediaId == mediaId)) {
                videos.push_back(h);
            }
        }
        return videos;
    }
    std::vector<Heard> All() {
        std::lock_guard lock(mutex_);
        return heard_;
    }
    size_t Count() {
        std::lock_guard lock(mutex_);
        return heard_.size();
    }
    std::vector<ControlAnswer> Opens() {
        std::lock_guard lock(mutex_);
        return opens_;
    }
    std::vector<ControlAnswer> Controls() {
        std::lock_guard lock(mutex_);
        return controls_;
    }
    // True once `done` holds (checked whenever a callback was heard).
    bool WaitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds patience = kPlayPatience) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(5));
        }
        return true;
    }
    bool SawVideo(uint32_t mediaId, int64_t time) {
        for (const auto& h : Videos(mediaId)) {
            if (h.time == time) return true;
        }
        return false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Heard> heard_;
    std::vector<ControlAnswer> opens_;
    std::vector<ControlAnswer> controls_;
};

// Whether the kernel marks the thread exiting: a joined thread stays listed
// for a moment after its join returned (the join wakes before the kernel
// has let go of it), so a thread started right after it would count twice.
inline bool Exiting(const std::filesystem::path& task) {
    constexpr unsigned long kExitingFlag = 0x4;
    std::ifstream stat(task / "stat");
    std::string line;
    if (!std::getline(stat, line)) return true;  // gone meanwhile
    const size_t name = line.rfind(')');
    if (name == std::string::npos) return false;
    std::istringstream fields(line.substr(name + 1));
    std::string field;
    // After the name: state, parent, group, session, terminal, its group, flags.
    int read = 0;
    while (read < 7 && fields >> field) ++read;
    return read == 7 && (std::stoul(field) & kExitingFlag) != 0;
}

// The threads of this process as the kernel lists them, those on their way
// out not counted.
inline size_t ThreadCount() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        if (!Exiting(entry.path())) ++count;
    }
    return count;
}

// True once the process runs `count` threads, within a few seconds.
inline bool WaitForThreadCount(size_t count) {
    for (int i = 0; i < 5000; ++i) {
        if (ThreadCount() == count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ThreadCount() == count;
}

class PlaybackEngineFixture : public EngineOnFakeDrives {
  protected:
    void SetUp() override {
        // The logging core is made by the first log line; made here, before
        // any engine thread logs, its (uninstrumented) set-up is not raced
        // in the thread sanitizer's eyes.
        boost::log::core::get();
        EngineOnFakeDrives::SetUp();
    }

    // Records the seconds of each [from, to] range of `channel`.
    void Record(std::string channel, const std::vector<std::pair<int64_t, int64_t>>& ranges) {
        std::string schedule = "1";
        recorder::IRecorder* recorder = engine_->CreateRecorder(channel, schedule, 0, false);
        ASSERT_NE(recorder, nullptr);
        engine_->SetSchedule(schedule, FullSchedule(), {});
        recorder->SetUseFrameTime(true);
        ASSERT_TRUE(recorder->StartRecording());
        for (const auto& [from, to] : ranges) {
            for (int64_t t = from; t <= to; ++t) PushSecond(*recorder, t);
        }
        recorder->StopRecording();
    }

    recorder::media_error_e Open(uint32_t mediaId, std::string channel, int64_t start, int64_t end,
                                 const std::string& session = "", bool pause = false,
                                 bool backup = false, Sink::Hook hook = {}, Sink* sink = nullptr) {
        Sink& to = sink == nullptr ? sink_ : *sink;
        return engine_->OpenMedia(mediaId, start, end, 1, mediaId, channel, pause, backup,
                                  kMainProfileType, session, to.Data(std::move(hook)),
                                  to.OpenAnswer());
    }

    bool Control(uint32_t mediaId, unsigned type, int64_t time, int speed,
                 const std::string& session = "", unsigned seq = 0) {
        return engine_->ControlMedia(seq == 0 ? mediaId : seq, type, mediaId, speed, 0, time,
                                     kMainProfileType, session, sink_.Answer());
    }

    Sink sink_;
};

}  // namespace orvale::test
