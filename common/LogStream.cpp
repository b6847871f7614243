#include <algorithm>
#include <memory>
#include <mutex>

#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/core.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/log/trivial.hpp>

#include "common/Log.h"
#include "common/LogSetting.h"

namespace orvale::common {
namespace logging = boost::log;

namespace {

// Guarded by a plain mutex: the standard library's atomic shared pointer of
// this toolchain lets go of its inner lock without ordering a read before a
// later store (the thread sanitizer reports it when a setting is released
// while a pool thread logs).
struct SharedSetting {
    std::mutex mutex;
    std::shared_ptr<LogSetting> setting;
};

SharedSetting& ProcessSetting() {
    static SharedSetting shared;
    return shared;
}

// The one replaced goes outside the lock.
std::shared_ptr<LogSetting> SwapSetting(std::shared_ptr<LogSetting> setting) {
    SharedSetting& shared = ProcessSetting();
    std::lock_guard lock(shared.mutex);
    shared.setting.swap(setting);
    return setting;
}

// Records carry the severity as the logging core's own level type, so that
// its default output (used while no sink is set up) shows it too.
logging::sources::severity_logger_mt<logging::trivial::severity_level>& ProcessLogger() {
    static logging::sources::severity_logger_mt<logging::trivial::severity_level> logger;
    return logger;
}

// The engine's severities 0..5 are the core's levels trace..fatal; others
// are taken as the nearest of them.
logging::trivial::severity_level CoreLevel(int severity) {
    return static_cast<logging::trivial::severity_level>(
        std::clamp(severity, static_cast<int>(logging::trivial::trace),
                   static_cast<int>(logging::trivial::fatal)));
}

int Threshold(const LogSetting* setting) {
    return setting != nullptr ? setting->Level() : kThresholdWithoutSetting;
}

// Pushes one record through the logging core with the thread's id attached.
void PushRecord(int severity, const std::string& text) {
    auto core = logging::core::get();
    const auto added =
        core->add_thread_attribute("ThreadID", logging::attributes::current_thread_id());
    struct Detach {
        logging::core_ptr core;
        std::pair<logging::attribute_set::iterator, bool> added;
        ~Detach() {
            if (added.second) core->remove_thread_attribute(added.first);
        }
    } detach{core, added};

    auto& logger = ProcessLogger();
    if (logging::record record =
            logger.open_record(logging::keywords::severity = CoreLevel(severity))) {
        logging::record_ostream out(record);
        out << text;
        out.flush();
        logger.push_record(std::move(record));
    }
}

}  // namespace

std::shared_ptr<LogSetting> CurrentLogSetting() {
    SharedSetting& shared = ProcessSetting();
    std::lock_guard lock(shared.mutex);
    return shared.setting;
}

void InstallLogSetting(std::shared_ptr<LogSetting> setting) {
    SwapSetting(std::move(setting));
}

void ReleaseLogSetting() {
    SwapSetting(nullptr);
}

LogGate::LogGate(int severity) : setting_(CurrentLogSetting()) {
    if (setting_) setting_->CheckIni();
    open_ = severity >= Threshold(setting_.get());
}

LogStream::LogStream(int severity, std::shared_ptr<LogSetting> setting)
    : severity_(severity), setting_(std::move(setting)) {}

LogStream::LogStream(int severity) : LogStream(severity, CurrentLogSetting()) {}

LogStream::~LogStream() {
    try {
        Emit();
    } catch (...) {
        // A failing sink or host callback must not terminate the process.
    }
}

void LogStream::Emit() {
    const std::string text = stream_.str();
    if (severity_ >= Threshold(setting_.get())) PushRecord(severity_, text);
    if (setting_) setting_->CallDebugCallback(severity_, text);
}

}  // namespace orvale::common
