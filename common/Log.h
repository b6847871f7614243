// The engine's log statement.
//
//   OLOG(kLogInfo) << "CH=[" << id << "] opened";
//
// writes "[File](LINE:n): CH=[...] opened" as one record, where File is the
// base name of the source file without its extension. The pieces of a
// statement below the current threshold are never formatted: the macro tests
// the threshold (after the setting's cheap INI check) before any piece is
// evaluated. The threshold is the level of the process-wide LogSetting, or
// kLogError when there is none.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <string_view>

namespace orvale::common {

enum LogSeverity : int {
    kLogTrace = 0,
    kLogDebug = 1,
    kLogInfo = 2,
    kLogWarning = 3,
    kLogError = 4,
    kLogFatal = 5,
};

// Threshold of statements while no setting is installed.
inline constexpr int kThresholdWithoutSetting = kLogError;

class LogSetting;

// The process-wide setting (empty when none); readers share it, so a
// statement in flight keeps the setting it started with alive.
std::shared_ptr<LogSetting> CurrentLogSetting();
// Replaces the process-wide setting (an empty pointer removes it).
void InstallLogSetting(std::shared_ptr<LogSetting> setting);
// Empties the process-wide setting.
void ReleaseLogSetting();

// One log statement: collects its text and emits the record when destroyed.
// A destructor never throws: errors of sinks and of the host's callback are
// swallowed, since a log line must never bring the engine down.
class LogStream {
  public:
    LogStream(int severity, std::shared_ptr<LogSetting> setting);
    explicit LogStream(int severity);
    ~LogStream();

    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;

    std::ostream& Stream() { return stream_; }

  private:
    void Emit();

    std::ostringstream stream_;
    int severity_;
    std::shared_ptr<LogSetting> setting_;
};

// Decides whether a statement is formatted; holds the setting it decided with.
class LogGate {
  public:
    explicit LogGate(int severity);
    explicit operator bool() const { return open_; }
    void Close() { open_ = false; }
    std::shared_ptr<LogSetting> TakeSetting() { return std::move(setting_); }

  private:
    std::shared_ptr<LogSetting> setting_;
    bool open_ = false;
};

// Base name of a source path without folder and extension, at compile time.
constexpr std::string_view SourceBaseName(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const auto dot = path.rfind('.');
    if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
    return path;
}

}  // namespace orvale::common

// A statement without the file and line prefix (the set-up banners).
#define OLOG_PLAIN(severity)                                                     \
    for (::orvale::common::LogGate orvale_log_gate_(severity); orvale_log_gate_; \
         orvale_log_gate_.Close())                                               \
    ::orvale::common::LogStream((severity), orvale_log_gate_.TakeSetting()).Stream()

// A statement that names its source explicitly (templates in headers).
#define OLOG_AS(severity, source) \
    OLOG_PLAIN(severity) << "[" << (source) << "](LINE:" << __LINE__ << "): "

#define OLOG(severity) OLOG_AS(severity, ::orvale::common::SourceBaseName(__FILE__))
