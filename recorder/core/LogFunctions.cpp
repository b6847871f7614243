#include <memory>

#include "common/Log.h"
#include "common/LogSetting.h"
#include "common/Utility.h"
#include "recorder/api/Logging.h"

namespace orvale::recorder {
namespace {

using common::LogSetting;

const char* const kLoggerName = "MEDIARECORDER";

std::shared_ptr<LogSetting> NewSetting() {
    common::ReleaseLogSetting();
    auto setting = std::make_shared<LogSetting>(kLoggerName);
    setting->BuildFormatters();
    setting->SetLevel(common::kLogInfo);
    return setting;
}

// Runs a set-up step without letting an exception cross the exported boundary.
template <class Step>
void Guarded(Step&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}

}  // namespace

void LOG_INIT() {
    Guarded([] { common::InstallLogSetting(NewSetting()); });
}

void LOG_SET_LEVEL(int level) {
    Guarded([level] {
        if (auto setting = common::CurrentLogSetting()) setting->SetLevel(level);
    });
}

void LOG_ADD_CONSOLE_OUT() {
    Guarded([] {
        if (auto setting = common::CurrentLogSetting()) setting->AddConsoleSink();
        OLOG_PLAIN(common::kLogFatal) << "=============================   RECORDER LOG START "
                                         "CONSOLE OUT  ================================";
    });
}

void LOG_ADD_VS_DEBUG_OUT() {
    Guarded([] {
        if (auto setting = common::CurrentLogSetting()) setting->AddDebugSink();
        OLOG_PLAIN(common::kLogFatal) << "=============================   RECORDER LOG START "
                                         "VS DEBUG OUT  ================================";
    });
}

void LOG_ADD_FILE_OUT(const std::string& basePath) {
    Guarded([&basePath] {
        if (auto setting = common::CurrentLogSetting()) setting->AddFileSink(basePath);
        OLOG_PLAIN(common::kLogFatal) << "=============================   RECORDER LOG START "
                                         "VS FILE OUT  ================================";
    });
}

void SetDebugLogger(int level, DebugLoggerCallback callback) {
    Guarded([level, &callback] {
        // Installed with an empty callback slot, so the banner below stays
        // out of the host's callback.
        auto setting = NewSetting();
        common::InstallLogSetting(setting);
        OLOG_PLAIN(common::kLogInfo) << "=============================   RECORDER LOG START   "
                                        "================================";
        setting->ReadIni(common::GetModuleFolder() + "/ostrel.ini", "recorder");
        setting->SetLevel(level);
        setting->SetDebugCallback(level, std::move(callback));
    });
}

}  // namespace orvale::recorder
