// Collects the engine's log statements of a test (every severity) through the
// setting's debug callback; the logging core's own output is switched off
// meanwhile. One capture at a time per process.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/log/core.hpp>

#include "common/Log.h"
#include "common/LogSetting.h"

namespace orvale::test {

class LogCapture {
  public:
    LogCapture() : setting_(std::make_shared<common::LogSetting>("MEDIARECORDER")) {
        boost::log::core::get()->set_logging_enabled(false);
        setting_->SetLevel(common::kLogTrace);
        setting_->SetDebugCallback(common::kLogTrace,
                                   [this](unsigned, const std::string&, const std::string& text) {
                                       std::lock_guard lock(mutex_);
                                       lines_.push_back(text);
                                       return 0L;
                                   });
        common::InstallLogSetting(setting_);
    }
    ~LogCapture() {
        common::ReleaseLogSetting();
        boost::log::core::get()->set_logging_enabled(true);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Number of lines that contain `text`.
    size_t Count(const std::string& text) const {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& l) {
            return l.find(text) != std::string::npos;
        }));
    }

  private:
    std::shared_ptr<common::LogSetting> setting_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace orvale::test
