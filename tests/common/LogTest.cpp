#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <boost/log/core.hpp>

#include "common/Log.h"
#include "common/LogSetting.h"
#include "platform/HostFolder.h"
#include "recorder/api/Logging.h"
#include "tests/support/TempDir.h"

namespace orvale {
namespace {

using common::kLogDebug;
using common::kLogError;
using common::kLogFatal;
using common::kLogInfo;
using common::kLogWarning;
using test::TempDir;

// Counts how often it is formatted into a stream.
struct Counted {
    int* count;
};
std::ostream& operator<<(std::ostream& out, const Counted& counted) {
    ++*counted.count;
    return out << "counted";
}

struct Call {
    unsigned severity;
    std::string name;
    std::string text;
};

// Collects what the host's debug callback receives.
class CallbackLog {
  public:
    recorder::DebugLoggerCallback Callback() {
        return [this](unsigned severity, const std::string& name, const std::string& text) {
            std::lock_guard lock(mutex_);
            calls_.push_back({severity, name, text});
            return 0L;
        };
    }
    std::vector<Call> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    std::mutex mutex_;
    std::vector<Call> calls_;
};

// Logging into a file sink in a folder of the test's own.
class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(dir_.Str());
        recorder::LOG_INIT();
        recorder::LOG_ADD_FILE_OUT((dir_.Path() / "engine").string());
    }
    void TearDown() override {
        common::ReleaseLogSetting();
        boost::log::core::get()->remove_all_sinks();
    }

    std::string LogText() {
        boost::log::core::get()->flush();
        std::string text;
        for (const auto& file : test::FilesIn(dir_.Path())) text += test::ReadFile(file);
        return text;
    }

    TempDir dir_;
};

TEST_F(LogFileTest, RecordLayoutCarriesTimeSeverityAndSourcePrefix) {
    OLOG(kLogInfo) << "opened " << 42;
    OLOG(kLogWarning) << "slow";

    const std::string text = LogText();
    const std::regex info(
        R"(\[MEDIARECORDER\] \d\d:\d\d:\d\d\.\d{6} \|    info \| \[LogTest\]\(LINE:\d+\): opened 42\n)");
    const std::regex warning(
        R"(\[MEDIARECORDER\] \d\d:\d\d:\d\d\.\d{6} \| warning \| \[LogTest\]\(LINE:\d+\): slow\n)");
    EXPECT_TRUE(std::regex_search(text, info)) << text;
    EXPECT_TRUE(std::regex_search(text, warning)) << text;
    EXPECT_NE(
        text.find("|   fatal | =============================   RECORDER LOG START VS FILE OUT"),
        std::string::npos)
        << text;
}

TEST_F(LogFileTest, FileNameFollowsThePattern) {
    OLOG(kLogError) << "x";
    const auto files = test::FilesIn(dir_.Path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(),
                                 std::regex(R"(engine_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_0\.log)")))
        << files[0];
}

TEST_F(LogFileTest, PiecesBelowTheThresholdAreNeverFormatted) {
    int formatted = 0;
    OLOG(kLogDebug) << "hidden " << Counted{&formatted};
    EXPECT_EQ(formatted, 0);
    OLOG(kLogInfo) << "shown " << Counted{&formatted};
    EXPECT_EQ(formatted, 1);
    EXPECT_EQ(LogText().find("hidden"), std::string::npos);
}

TEST_F(LogFileTest, LevelFiltersStatementsAndBanners) {
    recorder::LOG_SET_LEVEL(3);
    OLOG(kLogInfo) << "info-line";
    OLOG(kLogWarning) << "warning-line";
    recorder::LOG_SET_LEVEL(6);
    OLOG(kLogFatal) << "fatal-line";
    recorder::LOG_ADD_FILE_OUT("ignored");
    const std::string text = LogText();
    EXPECT_EQ(text.find("info-line"), std::string::npos);
    EXPECT_NE(text.find("warning-line"), std::string::npos);
    EXPECT_EQ(text.find("fatal-line"), std::string::npos);
    // Only the banner of the set-up call in SetUp, none of the call at level 6.
    size_t banners = 0;
    for (size_t at = text.find("VS FILE OUT"); at != std::string::npos;
         at = text.find("VS FILE OUT", at + 1)) {
        ++banners;
    }
    EXPECT_EQ(banners, 1u);
}

TEST_F(LogFileTest, WithoutASettingOnlyErrorsPass) {
    common::ReleaseLogSetting();
    int formatted = 0;
    OLOG(kLogWarning) << "warning-after-release " << Counted{&formatted};
    OLOG(kLogError) << "error-after-release";
    EXPECT_EQ(formatted, 0);
    const std::string text = LogText();
    EXPECT_EQ(text.find("warning-after-release"), std::string::npos);
    EXPECT_NE(text.find("error-after-release"), std::string::npos);
}

TEST_F(LogFileTest, ConcurrentStatementsWriteWholeLines) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) OLOG(kLogInfo) << "thread " << t << " line " << i;
        });
    }
    for (auto& thread : threads) thread.join();
    std::istringstream lines(LogText());
    const std::regex line(R"(\[MEDIARECORDER\] [0-9:.]{15} \| +\w+ \| .*)");
    int count = 0;
    for (std::string text; std::getline(lines, text);) {
        EXPECT_TRUE(std::regex_match(text, line)) << text;
        if (text.find("line ") != std::string::npos) ++count;
    }
    EXPECT_EQ(count, 8 * 200);
}

TEST(LogSetupTest, FileOutWithoutInitAddsNoSink) {
    TempDir dir;
    recorder::LOG_ADD_FILE_OUT((dir.Path() / "engine").string());
    OLOG(kLogFatal) << "no sink";
    EXPECT_TRUE(test::FilesIn(dir.Path()).empty());
}

TEST(LogSetupTest, ConsoleSinkIsAddedOncePerSetting) {
    std::ostringstream captured;
    auto* old = std::clog.rdbuf(captured.rdbuf());
    recorder::LOG_INIT();
    recorder::LOG_ADD_CONSOLE_OUT();
    recorder::LOG_ADD_CONSOLE_OUT();
    EXPECT_TRUE(common::CurrentLogSetting()->HasConsoleSink());
    OLOG(kLogInfo) << "console-line";
    boost::log::core::get()->remove_all_sinks();
    std::clog.rdbuf(old);

    const std::string text = captured.str();
    size_t banners = 0;
    for (size_t at = text.find("CONSOLE OUT"); at != std::string::npos;
         at = text.find("CONSOLE OUT", at + 1)) {
        ++banners;
    }
    EXPECT_EQ(banners, 2u);
    EXPECT_EQ(text.find("console-line"), text.rfind("console-line"));  // written once
}

// With no set-up at all, lines go to the logging core's default output (the
// standard output), which shows each line's own severity.
TEST(LogSetupTest, TheDefaultOutputShowsEachLinesSeverity) {
    common::ReleaseLogSetting();
    boost::log::core::get()->remove_all_sinks();
    boost::log::core::get()->reset_filter();
    ::testing::internal::CaptureStdout();
    OLOG(kLogError) << "default-error-line";
    OLOG(kLogFatal) << "default-fatal-line";
    boost::log::core::get()->flush();
    const std::string text = ::testing::internal::GetCapturedStdout();
    for (const char* expected : {R"(\[error\] +\[LogTest\]\(LINE:\d+\): default-error-line\n)",
                                 R"(\[fatal\] +\[LogTest\]\(LINE:\d+\): default-fatal-line\n)"}) {
        EXPECT_TRUE(std::regex_search(text, std::regex(expected))) << text;
    }
}

class DebugLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetHostFolder(dir_.Str()); }
    void TearDown() override {
        common::ReleaseLogSetting();
        boost::log::core::get()->remove_all_sinks();
    }
    TempDir dir_;
};

TEST_F(DebugLoggerTest, CallbackReceivesStatementsFromItsLevel) {
    CallbackLog log;
    recorder::SetDebugLogger(3, log.Callback());
    OLOG(kLogInfo) << "info";
    OLOG(kLogWarning) << "warn";
    OLOG(kLogFatal) << "fatal";

    const auto calls = log.Calls();
    ASSERT_EQ(calls.size(), 2u);  // the start banner (info) is not among them
    EXPECT_EQ(calls[0].severity, 3u);
    EXPECT_EQ(calls[0].name, "MEDIARECORDER");
    EXPECT_TRUE(std::regex_match(calls[0].text, std::regex(R"(\[LogTest\]\(LINE:\d+\): warn)")))
        << calls[0].text;
    EXPECT_EQ(calls[1].severity, 5u);
}

TEST_F(DebugLoggerTest, NoCallbackAfterTheSettingIsReleased) {
    CallbackLog log;
    recorder::SetDebugLogger(0, log.Callback());
    common::ReleaseLogSetting();
    OLOG(kLogFatal) << "after release";
    EXPECT_TRUE(log.Calls().empty());
}

TEST_F(DebugLoggerTest, ThrowingOrEmptyCallbackDoesNotEscape) {
    recorder::SetDebugLogger(0, [](unsigned, const std::string&, const std::string&) -> long {
        throw std::runtime_error("host failure");
    });
    OLOG(kLogError) << "survives a throwing callback";
    recorder::SetDebugLogger(0, nullptr);
    OLOG(kLogError) << "survives an empty callback";
    SUCCEED();
}

TEST_F(DebugLoggerTest, LogInitDropsTheCallback) {
    CallbackLog log;
    recorder::SetDebugLogger(0, log.Callback());
    recorder::LOG_INIT();
    OLOG(kLogFatal) << "after init";
    EXPECT_TRUE(log.Calls().empty());
}

}  // namespace
}  // namespace orvale
