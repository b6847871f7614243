#include "common/LogSetting.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <locale>

#include <boost/core/null_deleter.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/counter.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/log/trivial.hpp>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "common/Log.h"
#include "platform/SystemLog.h"

namespace orvale::common {
namespace logging = boost::log;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kIniCheckIntervalNs = 10'000'000'000;
constexpr uintmax_t kRotationSize = 104'857'600;

int64_t SteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* SeverityName(int severity) {
    static const char* const kNames[] = {"trace", "debug", "info", "warning", "error", "fatal"};
    return severity >= 0 && severity <= 5 ? kNames[severity] : nullptr;
}

// Records of `level` (0 trace .. 5 fatal) and above pass.
logging::filter SeverityFrom(int level) {
    return logging::expressions::attr<logging::trivial::severity_level>("Severity") >= level;
}

void WriteTimeStamp(const boost::posix_time::ptime& time, logging::formatting_ostream& out) {
    const auto of_day = time.time_of_day();
    const long micros =
        static_cast<long>(of_day.fractional_seconds() * (1'000'000 / of_day.ticks_per_second()));
    char text[32];
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%06ld", static_cast<int>(of_day.hours()),
                  static_cast<int>(of_day.minutes()), static_cast<int>(of_day.seconds()), micros);
    out << text;
}

// "[NAME] HH:MM:SS.ffffff | <severity right-aligned in 7> | message"
void FormatRecord(const std::string& name, bool newline, const logging::record_view& record,
                  logging::formatting_ostream& out) {
    out << '[' << name << "] ";
    if (auto time = logging::extract<boost::posix_time::ptime>("TimeStamp", record)) {
        WriteTimeStamp(*time, out);
    }
    out << " | ";
    std::string severity;
    if (auto value = logging::extract<logging::trivial::severity_level>("Severity", record)) {
        const int level = static_cast<int>(*value);
        const char* known = SeverityName(level);
        severity = known != nullptr ? known : std::to_string(level);
    }
    if (severity.size() < 7) out << std::string(7 - severity.size(), ' ');
    out << severity << " | ";
    if (auto message = logging::extract<std::string>("Message", record)) out << *message;
    if (newline) out << '\n';
}

class DebugOutputBackend
    : public logging::sinks::basic_formatted_sink_backend<char,
                                                          logging::sinks::concurrent_feeding> {
  public:
    void consume(const logging::record_view&, const string_type& text) {
        platform::WriteDebugOutput(text);
    }
};

int LevelFromText(const std::string& text) {
    for (int level = 0; level <= 5; ++level) {
        if (text == SeverityName(level)) return level;
    }
    return -1;
}

bool ReadBool(const boost::property_tree::ptree& tree, const std::string& key, bool fallback) {
    const auto value = tree.get_optional<bool>(key);
    return value ? *value : fallback;
}

int64_t LastWriteTime(const std::string& path) {
    std::error_code error;
    const auto time = fs::last_write_time(path, error);
    return error ? 0 : static_cast<int64_t>(time.time_since_epoch().count());
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error) && !error;
}

boost::property_tree::ptree ParseIni(const std::string& path) {
    boost::property_tree::ptree tree;
    boost::property_tree::ini_parser::read_ini(path, tree, std::locale::classic());
    return tree;
}

// Keeps a check's own statements (its severity-0 error line) from starting
// another check on the same thread.
thread_local bool t_insideIniCheck = false;

struct IniCheckScope {
    IniCheckScope() { t_insideIniCheck = true; }
    ~IniCheckScope() { t_insideIniCheck = false; }
};

}  // namespace

LogSetting::LogSetting(std::string name) : name_(std::move(name)), lastIniCheck_(SteadyNowNs()) {
    AddCommonAttributes();
}

LogSetting::~LogSetting() = default;

void LogSetting::AddCommonAttributes() {
    auto core = logging::core::get();
    const auto inserted =
        core->add_global_attribute("TimeStamp", logging::attributes::local_clock());
    if (inserted.second) {
        core->add_global_attribute("RecordID", logging::attributes::counter<unsigned int>(0, 1));
        core->set_filter(SeverityFrom(0));
    }
    initialised_ = true;
}

void LogSetting::BuildFormatters() {
    std::lock_guard lock(sinkMutex_);
    const std::string name = name_;
    fileFormatter_ = [name](const logging::record_view& record, logging::formatting_ostream& out) {
        FormatRecord(name, false, record, out);
    };
    debugFormatter_ = [name](const logging::record_view& record, logging::formatting_ostream& out) {
        FormatRecord(name, true, record, out);
    };
}

void LogSetting::SetLevel(int level) {
    level_ = level;
    logging::core::get()->set_filter(SeverityFrom(level));
}

void LogSetting::AddConsoleSink() {
    std::lock_guard lock(sinkMutex_);
    if (!initialised_ || consoleSink_) return;
    using Sink = logging::sinks::synchronous_sink<logging::sinks::text_ostream_backend>;
    auto sink = boost::make_shared<Sink>();
    sink->locked_backend()->add_stream(
        boost::shared_ptr<std::ostream>(&std::clog, boost::null_deleter()));
    sink->locked_backend()->auto_flush(true);
    sink->set_formatter(fileFormatter_);
    logging::core::get()->add_sink(sink);
    consoleSink_ = true;
}

void LogSetting::AddDebugSink() {
    std::lock_guard lock(sinkMutex_);
    if (!initialised_ || debugSink_) return;
    auto sink = boost::make_shared<logging::sinks::synchronous_sink<DebugOutputBackend>>();
    sink->set_formatter(debugFormatter_);
    logging::core::get()->add_sink(sink);
    debugSink_ = true;
}

void LogSetting::AddFileSink(const std::string& basePath) {
    std::lock_guard lock(sinkMutex_);
    if (!initialised_ || fileSink_) return;
    try {
        namespace keywords = logging::keywords;
        auto backend = boost::make_shared<logging::sinks::text_file_backend>(
            keywords::file_name = basePath + "_%Y-%m-%d_%H-%M-%S_%N.log",
            keywords::open_mode = std::ios_base::out | std::ios_base::trunc,
            keywords::rotation_size = kRotationSize,
            keywords::time_based_rotation = logging::sinks::file::rotation_at_time_point(0, 0, 0),
            keywords::auto_flush = true);
        auto sink =
            boost::make_shared<logging::sinks::synchronous_sink<logging::sinks::text_file_backend>>(
                backend);
        sink->set_formatter(fileFormatter_);
        logging::core::get()->add_sink(sink);
        fileSink_ = true;
        fileBase_ = basePath;
    } catch (const std::exception&) {
        // The flag stays false, so a later call or INI change tries again.
    }
}

void LogSetting::RemoveAllSinks() {
    std::lock_guard lock(sinkMutex_);
    consoleSink_ = false;
    debugSink_ = false;
    fileSink_ = false;
    fileBase_.clear();
    auto core = logging::core::get();
    core->flush();
    core->remove_all_sinks();
}

bool LogSetting::ReadIni(const std::string& iniPath, const std::string& section) {
    IniCheckScope scope;
    std::lock_guard lock(iniMutex_);
    try {
        iniPath_ = iniPath;
        section_ = section;
        if (!FileExists(iniPath_)) return false;
        ApplyIni(ParseIni(iniPath_), section_);
        iniWriteTime_ = LastWriteTime(iniPath_);
        iniLoaded_ = true;
        return true;
    } catch (const std::exception& e) {
        OLOG_AS(kLogTrace, "LogSetting") << e.what();
        return false;
    }
}

void LogSetting::ApplyIni(const boost::property_tree::ptree& tree, const std::string& section) {
    const std::string prefix = section + ".";
    const auto levelText = tree.get<std::string>(prefix + "log_level", "info");
    const bool debugOut = ReadBool(tree, prefix + "log_vsdebug_out", true);
    const bool consoleOut = ReadBool(tree, prefix + "log_console_out", false);
    const bool fileOut = ReadBool(tree, prefix + "log_file_out", false);
    const auto fileName = tree.get<std::string>(prefix + "log_file_name", section);

    const bool rebuild = consoleOut != consoleSink_ || debugOut != debugSink_ ||
                         fileOut != fileSink_ || (fileOut && fileName != appliedFileName_);
    if (rebuild) {
        RemoveAllSinks();
        if (consoleOut) AddConsoleSink();
        if (debugOut) AddDebugSink();
        if (fileOut) {
            const auto folder = fs::path(iniPath_).parent_path();
            appliedFileName_ = fileName;
            AddFileSink((folder / "recorder_logs" / fileName).string());
        }
    }
    if (const int level = LevelFromText(levelText); level >= 0) SetLevel(level);
}

bool LogSetting::IniCheckDue(int64_t now) const {
    return now - lastIniCheck_.load(std::memory_order_relaxed) > kIniCheckIntervalNs;
}

void LogSetting::CheckIni() {
    if (!iniLoaded_.load(std::memory_order_relaxed) || t_insideIniCheck) return;
    const int64_t now = SteadyNowNs();
    if (!IniCheckDue(now)) return;
    std::unique_lock lock(iniMutex_, std::try_to_lock);
    if (!lock.owns_lock() || !IniCheckDue(now)) return;
    lastIniCheck_ = now;
    IniCheckScope scope;
    ReloadIniLocked();
}

void LogSetting::ReloadIniLocked() {
    if (!FileExists(iniPath_)) return;
    const int64_t writeTime = LastWriteTime(iniPath_);
    if (writeTime == 0) {
        iniWriteTime_ = 0;
        return;
    }
    if (writeTime == iniWriteTime_) return;
    try {
        ApplyIni(ParseIni(iniPath_), section_);
    } catch (const std::exception& e) {
        OLOG_AS(kLogTrace, "LogSetting") << e.what();
    }
    iniWriteTime_ = writeTime;
}

void LogSetting::SetDebugCallback(int level, DebugCallback callback) {
    debugHook_.store(std::make_shared<const DebugHook>(DebugHook{level, std::move(callback)}));
}

void LogSetting::CallDebugCallback(int severity, const std::string& text) const {
    const auto hook = debugHook_.load();
    if (!hook || !hook->callback || severity < hook->level || text.empty()) return;
    hook->callback(static_cast<unsigned int>(severity), name_, text);
}

void LogSetting::ExpireIniCheckForTesting() {
    lastIniCheck_ = SteadyNowNs() - kIniCheckIntervalNs - 1;
}

}  // namespace orvale::common
