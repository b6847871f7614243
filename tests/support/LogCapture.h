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

struct LogLine {
    int severity;
    std::string text;
};

class LogCapture {
  public:
    LogCapture() {
        boost::log::core::get()->set_logging_enabled(false);
        auto setting = std::make_shared<common::LogSetting>("MEDIARECORDER");
        setting->SetLevel(common::kLogTrace);
        setting->SetDebugCallback(common::kLogTrace, [this](unsigned severity, const std::string&,
                                                            const std::string& text) {
            const std::lock_guard lock(mutex_);
            lines_.push_back({static_cast<int>(severity), text});
            return 0L;
        });
        common::InstallLogSetting(std::move(setting));
    }
    ~LogCapture() {
        common::ReleaseLogSetting();
        boost::log::core::get()->set_logging_enabled(true);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> Lines() const {
        const std::lock_guard lock(mutex_);
        return lines_;
    }
    // Lines of `severity` and above.
    std::vector<LogLine> LinesFrom(int severity) const {
        auto lines = Lines();
        std::erase_if(lines, [severity](const LogLine& line) { return line.severity < severity; });
        return lines;
    }
    // Number of lines that contain `text`.
    size_t Count(const std::string& text) const {
        const std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& l) {
            return l.text.find(text) != std::string::npos;
        }));
    }
    void Clear() {
        const std::lock_guard lock(mutex_);
        lines_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
};

}  // namespace orvale::test
