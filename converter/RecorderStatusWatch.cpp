#include "converter/RecorderStatusWatch.h"

#include <string>

namespace orvale::converter {

std::shared_ptr<RecorderStatusWatch> RecorderStatusWatch::Attach(recorder::IRecorder& recorder) {
    auto watch = std::make_shared<RecorderStatusWatch>();
    recorder.SetEventCallback(
        [watch](const std::string&, int32_t status, int64_t) { watch->OnStatus(status); });
    return watch;
}

void RecorderStatusWatch::OnStatus(int32_t status) {
    {
        std::lock_guard lock(mutex_);
        switch (status) {
            case recorder::RECORDER_STATUS_RECORDING:
                writing_ = true;
                break;
            case recorder::RECORDER_STATUS_NOT_RECORDING:
                writing_ = false;
                break;
            case recorder::RECORDER_STATUS_NO_WRITABLE_DRIVE:
            case recorder::RECORDER_STATUS_FOLDER_MISSING:
            case recorder::RECORDER_STATUS_NO_FILE:
            case recorder::RECORDER_STATUS_WRITE_FAILED:
            case recorder::RECORDER_STATUS_NO_SPACE:
                error_ = true;
                break;
            default:
                break;
        }
    }
    changed_.notify_all();
}

bool RecorderStatusWatch::HadError() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool RecorderStatusWatch::WaitUntilIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return !writing_; });
}

}  // namespace orvale::converter
