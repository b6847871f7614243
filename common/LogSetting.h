// The process-wide logging setting: severity threshold, record layout, the
// three sinks (system log, console, rotating files), the watch of ostrel.ini
// and the host's debug callback.
//
// Sinks, once added, belong to the logging core, not to the setting: a
// setting that goes away leaves them in place. Every field read by logging
// threads (level, sink flags, callback) is atomic; the INI check and the sink
// rebuild run under one mutex, taken with try_lock by statements so that a
// statement never waits for another thread's check and a check's own log line
// never re-enters it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <boost/log/expressions/formatter.hpp>
#include <boost/property_tree/ptree_fwd.hpp>

namespace orvale::common {

class LogSetting {
  public:
    using DebugCallback = std::function<long(unsigned int, const std::string&, const std::string&)>;

    explicit LogSetting(std::string name);
    ~LogSetting();

    LogSetting(const LogSetting&) = delete;
    LogSetting& operator=(const LogSetting&) = delete;

    const std::string& Name() const { return name_; }

    void AddCommonAttributes();
    void BuildFormatters();

    void SetLevel(int level);
    int Level() const { return level_.load(std::memory_order_relaxed); }

    void AddConsoleSink();
    void AddDebugSink();
    void AddFileSink(const std::string& basePath);
    void RemoveAllSinks();

    bool ReadIni(const std::string& iniPath, const std::string& section);
    void ApplyIni(const boost::property_tree::ptree& tree, const std::string& section);
    // The periodic re-read; cheap unless more than ten seconds have passed.
    void CheckIni();

    void SetDebugCallback(int level, DebugCallback callback);
    // Hands a statement's text to the callback when its level is reached.
    void CallDebugCallback(int severity, const std::string& text) const;

    bool HasConsoleSink() const { return consoleSink_.load(); }
    bool HasDebugSink() const { return debugSink_.load(); }
    bool HasFileSink() const { return fileSink_.load(); }
    bool IniLoaded() const { return iniLoaded_.load(); }

    // Makes the next statement's INI check due now, as if ten seconds had passed.
    void ExpireIniCheckForTesting();

  private:
    struct DebugHook {
        int level;
        DebugCallback callback;
    };

    bool IniCheckDue(int64_t now) const;
    void ReloadIniLocked();

    std::atomic<bool> initialised_{false};
    boost::log::formatter fileFormatter_;
    boost::log::formatter debugFormatter_;
    const std::string name_;
    std::atomic<int> level_{0};
    std::atomic<bool> iniLoaded_{false};
    std::string iniPath_;
    std::string section_;
    std::atomic<bool> debugSink_{false};
    std::atomic<bool> consoleSink_{false};
    std::atomic<bool> fileSink_{false};
    std::string fileBase_;
    std::string appliedFileName_;
    std::atomic<std::shared_ptr<const DebugHook>> debugHook_;
    std::atomic<int64_t> lastIniCheck_;  // steady clock, nanoseconds
    int64_t iniWriteTime_ = 0;

    std::mutex sinkMutex_;  // sink flags, formatters and file base
    std::mutex iniMutex_;   // INI path, section, write time; the check itself
};

}  // namespace orvale::common
