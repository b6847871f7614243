// A stand-in for the engine and its recorders that records every call, in
// order, in one list ("CreateRecorder ch1 1 0 0"), and keeps every frame
// pushed with a copy of its payload. Recorders are kept after DeleteChannel
// so that a test can look at them afterwards.
//
// A recorder reports as the engine's does: on a thread of its own, after the
// call that caused the status has returned, in the order the statuses arose.
// It reports RECORDING at its first frame (and then the statuses a test
// scripts), and when stopped the statuses of the stop's own writes (scripted)
// and NOT_RECORDING after writing; the stop returns once all of them have
// been heard.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "converter/ConversionWorker.h"

namespace orvale::test {

struct pushed_video_s {
    recorder::video_frame_header_s header;
    std::string payload;
    uint32_t eventFlags = 0;
};

struct pushed_audio_s {
    recorder::audio_frame_header_s header;
    std::string payload;
};

struct pushed_meta_s {
    recorder::meta_frame_header_s header;
    std::string payload;
};

// Calls a recorder's callback on a thread of its own, one status after the
// other, as the engine's status strand does.
class StatusReporter {
  public:
    StatusReporter() : thread_([this] { Run(); }) {}
    ~StatusReporter() {
        {
            std::lock_guard lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    StatusReporter(const StatusReporter&) = delete;
    StatusReporter& operator=(const StatusReporter&) = delete;

    void SetCallback(recorder::RecorderEventCallback callback) {
        std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
    }
    void Post(const std::string& id, int32_t status) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back({id, status});
        }
        changed_.notify_all();
    }
    // Until everything posted so far has been called back.
    void WaitUntilHeard() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queue_.empty() && !calling_; });
    }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return ending_ || !queue_.empty(); });
            if (queue_.empty()) return;
            const auto [id, status] = queue_.front();
            queue_.pop_front();
            const recorder::RecorderEventCallback callback = callback_;
            calling_ = true;
            lock.unlock();
            if (callback) callback(id, status, 0);
            lock.lock();
            calling_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<std::string, int32_t>> queue_;
    recorder::RecorderEventCallback callback_;
    bool calling_ = false;
    bool ending_ = false;
    std::thread thread_;  // last: starts once the rest is made
};

class FakeRecorder final : public recorder::IRecorder {
  public:
    FakeRecorder(std::string id, std::vector<std::string>& calls)
        : id_(std::move(id)), calls_(calls) {}
    ~FakeRecorder() override = default;

    std::vector<pushed_video_s> video;
    std::vector<pushed_audio_s> audio;
    std::vector<pushed_meta_s> meta;
    // Answers of GetWriteBufferCount and WaitWriteBufferCount, in turn; 0
    // once they are used up.
    std::deque<uint32_t> writeBufferCounts;
    // Calls of WaitWriteBufferCount, with the video frames taken before each.
    std::vector<size_t> videoSeenByWait;
    // Reported right after RECORDING at the first frame.
    std::vector<int32_t> statusesAtFirstFrame;
    // Reported by the stop, as the results of the writes made inside it.
    std::vector<int32_t> statusesAtStop;
    bool reportsEndOfWriting = true;
    int scheduleSlotsSet = -1;  // slot bytes of the schedule that were 1
    bool scheduleUsesHolidays = true;
    size_t holidays = 99;
    // Called after every frame is taken.
    std::function<void()> onFrame;

    std::string GetChannelId() override { return id_; }
    bool IsRecording() override { return recording_; }
    bool StartRecording() override {
        Call("StartRecording");
        recording_ = true;
        return true;
    }
    void StopRecording() override {
        Call("StopRecording");
        recording_ = false;
        for (const int32_t status : statusesAtStop) Report(status);
        if (writing_ && reportsEndOfWriting) Report(recorder::RECORDER_STATUS_NOT_RECORDING);
        writing_ = false;
        reporter_.WaitUntilHeard();
    }
    void SetEventCallback(recorder::RecorderEventCallback callback) override {
        Call("SetEventCallback");
        reporter_.SetCallback(std::move(callback));
    }
    bool UseArb() override { return false; }
    recorder::media_channel_s GetMediaChannel() override { return {}; }
    void SetMediaChannel(const recorder::media_channel_s&) override {}
    bool UseLowProfile() override { return false; }
    std::string GetScheduleId() override { return scheduleId_; }
    bool SetSchedule(std::string& scheduleId, const recorder::media_schedule_s& schedule,
                     const std::vector<recorder::media_holiday_s>& holidayList) override {
        Call("SetSchedule " + scheduleId);
        scheduleId_ = scheduleId;
        scheduleSlotsSet = 0;
        for (const uint8_t slot : schedule.table) scheduleSlotsSet += slot == 1 ? 1 : 0;
        scheduleUsesHolidays = schedule.useHoliday;
        holidays = holidayList.size();
        return true;
    }
    bool SetEventRecordDuration(const recorder::event_duration_s&) override { return true; }
    uint16_t NotifyEvent(int32_t, int32_t, bool) override { return 0; }
    uint16_t NotifyEventEnd(int32_t, int32_t) override { return 0; }
    void SetUseFrameTime(bool use) override {
        Call(std::string("SetUseFrameTime ") + (use ? "1" : "0"));
    }
    bool PushVideoFrame(const recorder::video_frame_header_s& header, const void* data,
                        uint32_t size, uint32_t eventFlags) override {
        video.push_back({header, Copy(data, size), eventFlags});
        return Taken();
    }
    bool PushAudioFrame(const recorder::audio_frame_header_s& header, const void* data,
                        uint32_t size) override {
        audio.push_back({header, Copy(data, size)});
        return Taken();
    }
    bool PushMetaFrame(const recorder::meta_frame_header_s& header, const void* data,
                       uint32_t size) override {
        meta.push_back({header, Copy(data, size)});
        return Taken();
    }
    std::string GetCurrentDrive() override { return {}; }
    uint32_t GetBitrate(int32_t) override { return 0; }
    uint32_t GetWriteBufferCount() override {
        if (writeBufferCounts.empty()) return 0;
        const uint32_t count = writeBufferCounts.front();
        writeBufferCounts.pop_front();
        return count;
    }
    // As the recorder does once a write has completed: the next count.
    uint32_t WaitWriteBufferCount(uint32_t, uint32_t) override {
        videoSeenByWait.push_back(video.size());
        return GetWriteBufferCount();
    }

  private:
    void Call(const std::string& what) { calls_.push_back(what + " " + id_); }
    static std::string Copy(const void* data, uint32_t size) {
        return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size);
    }
    void Report(int32_t status) { reporter_.Post(id_, status); }
    bool Taken() {
        if (!writing_) {
            writing_ = true;
            Report(recorder::RECORDER_STATUS_RECORDING);
            for (const int32_t status : statusesAtFirstFrame) Report(status);
        }
        if (onFrame) onFrame();
        return recording_;
    }

    std::string id_;
    std::vector<std::string>& calls_;
    std::string scheduleId_;
    bool recording_ = false;
    bool writing_ = false;
    StatusReporter reporter_;
};

class FakeConversionEngine final : public converter::ConversionEngine {
  public:
    std::vector<std::string> calls;
    std::vector<recorder::media_drive_s> drives;
    unsigned trackId = 1;  // what GetTrackId answers
    bool useOverwrite = true;
    std::set<std::string> refused;               // channels CreateRecorder gives no recorder for
    std::function<void(FakeRecorder&)> prepare;  // called for every new recorder
    std::vector<std::unique_ptr<FakeRecorder>> recorders;  // in creation order, never freed

    FakeRecorder& Recorder(size_t index) { return *recorders.at(index); }

    bool GetMediaDrive(std::vector<recorder::media_drive_s>& out) override {
        calls.push_back("GetMediaDrive");
        out.insert(out.end(), drives.begin(), drives.end());
        return true;
    }
    bool SetMediaDrive(std::string& name, recorder::media_drive_status_e status) override {
        calls.push_back("SetMediaDrive " + name + " " + std::to_string(status));
        return true;
    }
    recorder::IRecorder* CreateRecorder(std::string& channelId, std::string& scheduleId,
                                        int protocol, bool failover) override {
        calls.push_back("CreateRecorder " + channelId + " " + scheduleId + " " +
                        std::to_string(protocol) + " " + (failover ? "1" : "0"));
        if (refused.count(channelId) != 0) return nullptr;
        recorders.push_back(std::make_unique<FakeRecorder>(channelId, calls));
        if (prepare) prepare(*recorders.back());
        return recorders.back().get();
    }
    void ChangeTrackId(int track) override {
        calls.push_back("ChangeTrackId " + std::to_string(track));
    }
    unsigned GetTrackId() override { return trackId; }
    bool GetUseOverwrite() override { return useOverwrite; }
    void SetUseOverwrite(bool use) override {
        calls.push_back(std::string("SetUseOverwrite ") + (use ? "1" : "0"));
        useOverwrite = use;
    }
    bool DeleteChannel(std::string& channelId, bool removeData) override {
        calls.push_back("DeleteChannel " + channelId + " " + (removeData ? "1" : "0"));
        return true;
    }
};

}  // namespace orvale::test
