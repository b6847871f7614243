// What the converter's dialog tests share: one QApplication for the process
// (offscreen), an engine and a recorder of the test's own, and message boxes
// answered from a script instead of a window.
#pragma once

#include <QApplication>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "converter/ConversionWorker.h"
#include "converter/app/MessageBoxes.h"

namespace orvale::test {

// Made on first use and kept (reachable) for the rest of the process.
inline QApplication& QtApp() {
    static QApplication* app = [] {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "zolvane_test";
        static char* argv[] = {name, nullptr};
        auto* made = new QApplication(argc, argv);
        QApplication::setApplicationName(QStringLiteral("zolvane"));
        return made;
    }();
    return *app;
}

// Counts what it is given; may hold the worker inside a video frame.
class FakeRecorder final : public recorder::IRecorder {
  public:
    explicit FakeRecorder(std::string channel) : channel_(std::move(channel)) {}
    ~FakeRecorder() override = default;

    // Called inside every video frame push, on the worker thread.
    std::function<void()> onVideoFrame;
    std::atomic<int> videoFrames{0};
    std::atomic<int> metaFrames{0};

    std::string GetChannelId() override { return channel_; }
    bool IsRecording() override { return recording_; }
    bool StartRecording() override { return recording_ = true; }
    void StopRecording() override { recording_ = false; }
    void SetEventCallback(recorder::RecorderEventCallback) override {}
    bool UseArb() override { return false; }
    recorder::media_channel_s GetMediaChannel() override { return {}; }
    void SetMediaChannel(const recorder::media_channel_s&) override {}
    bool UseLowProfile() override { return false; }
    std::string GetScheduleId() override { return "1"; }
    bool SetSchedule(std::string&, const recorder::media_schedule_s&,
                     const std::vector<recorder::media_holiday_s>&) override {
        return true;
    }
    bool SetEventRecordDuration(const recorder::event_duration_s&) override { return true; }
    uint16_t NotifyEvent(int32_t, int32_t, bool) override { return 0; }
    uint16_t NotifyEventEnd(int32_t, int32_t) override { return 0; }
    void SetUseFrameTime(bool) override {}
    bool PushVideoFrame(const recorder::video_frame_header_s&, const void*, uint32_t,
                        uint32_t) override {
        ++videoFrames;
        if (onVideoFrame) onVideoFrame();
        return true;
    }
    bool PushAudioFrame(const recorder::audio_frame_header_s&, const void*, uint32_t) override {
        return true;
    }
    bool PushMetaFrame(const recorder::meta_frame_header_s&, const void*, uint32_t) override {
        ++metaFrames;
        return true;
    }
    std::string GetCurrentDrive() override { return {}; }
    uint32_t GetBitrate(int32_t) override { return 0; }
    uint32_t GetWriteBufferCount() override { return 0; }
    uint32_t WaitWriteBufferCount(uint32_t, uint32_t) override { return 0; }

  private:
    std::string channel_;
    std::atomic<bool> recording_{false};
};

// An engine with a fixed drive list; it keeps one recorder per channel.
class FakeConversionEngine final : public converter::ConversionEngine {
  public:
    explicit FakeConversionEngine(std::vector<recorder::media_drive_s> drives)
        : drives_(std::move(drives)) {}

    std::function<void(FakeRecorder&)> onNewRecorder;  // before it is handed out

    bool GetMediaDrive(std::vector<recorder::media_drive_s>& drives) override {
        std::lock_guard lock(mutex_);
        drives.insert(drives.end(), drives_.begin(), drives_.end());
        return true;
    }
    bool SetMediaDrive(std::string& name, recorder::media_drive_status_e status) override {
        std::lock_guard lock(mutex_);
        driveChanges.emplace_back(name, status);
        return true;
    }
    recorder::IRecorder* CreateRecorder(std::string& channelId, std::string&, int, bool) override {
        std::lock_guard lock(mutex_);
        auto& recorder = recorders_[channelId];
        if (!recorder) {
            recorder = std::make_unique<FakeRecorder>(channelId);
            if (onNewRecorder) onNewRecorder(*recorder);
        }
        return recorder.get();
    }
    void ChangeTrackId(int trackId) override { trackId_ = trackId; }
    unsigned GetTrackId() override { return trackId_; }
    bool GetUseOverwrite() override { return useOverwrite_; }
    void SetUseOverwrite(bool use) override { useOverwrite_ = use; }
    bool DeleteChannel(std::string& channelId, bool) override {
        std::lock_guard lock(mutex_);
        deletedChannels.push_back(channelId);
        return true;
    }

    int VideoFrames() {
        std::lock_guard lock(mutex_);
        int frames = 0;
        for (const auto& [channel, recorder] : recorders_) frames += recorder->videoFrames;
        return frames;
    }

    std::vector<std::pair<std::string, recorder::media_drive_status_e>> driveChanges;
    std::vector<std::string> deletedChannels;

  private:
    std::mutex mutex_;
    std::vector<recorder::media_drive_s> drives_;
    std::map<std::string, std::unique_ptr<FakeRecorder>> recorders_;
    std::atomic<unsigned> trackId_{1};
    std::atomic<bool> useOverwrite_{true};
};

// Records every box and answers from a script (Yes, or Ok, when it runs dry).
class ScriptedBoxes {
  public:
    std::vector<converter::message_box_s> shown;
    std::deque<QMessageBox::StandardButton> answers;

    converter::MessageBoxFn Fn() {
        return [this](QWidget*, const converter::message_box_s& box) {
            shown.push_back(box);
            if (!answers.empty()) {
                const auto answer = answers.front();
                answers.pop_front();
                return answer;
            }
            return (box.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
        };
    }
};

}  // namespace orvale::test
