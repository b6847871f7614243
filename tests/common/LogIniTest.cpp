#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <regex>
#include <vector>

#include <boost/log/core.hpp>

#include "common/Log.h"
#include "common/LogSetting.h"
#include "platform/HostFolder.h"
#include "recorder/api/Logging.h"
#include "tests/support/TempDir.h"

namespace orvale {
namespace {

using common::LogSetting;
using test::TempDir;

class LogIniTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetHostFolder(dir_.Str()); }
    void TearDown() override {
        common::ReleaseLogSetting();
        boost::log::core::get()->remove_all_sinks();
    }

    std::filesystem::path IniPath() const { return dir_.Path() / "ostrel.ini"; }

    void WriteIni(const std::string& body) { test::WriteFile(IniPath(), "[recorder]\n" + body); }

    // Rewrites the INI with a write time that surely differs from the last one.
    void EditIni(const std::string& body) {
        const auto before = std::filesystem::last_write_time(IniPath());
        WriteIni(body);
        std::filesystem::last_write_time(IniPath(), before + std::chrono::seconds(2));
    }

    TempDir dir_;
};

struct IniCase {
    const char* name;
    const char* body;
    int level;  // expected level, starting from 5
    bool debug;
    bool console;
    bool file;
};

TEST_F(LogIniTest, KeysAndDefaults) {
    const IniCase cases[] = {
        {"empty section", "", 2, true, false, false},
        {"trace", "log_level=trace\n", 0, true, false, false},
        {"warning", "log_level=warning\n", 3, true, false, false},
        {"capitalised level is ignored", "log_level=Info\n", 5, true, false, false},
        {"unknown level is ignored", "log_level=verbose\n", 5, true, false, false},
        {"console by number", "log_console_out=1\n", 2, true, true, false},
        {"console by word", "log_console_out=true\n", 2, true, true, false},
        {"unparsable boolean counts as missing", "log_console_out=yes\nlog_vsdebug_out=nope\n", 2,
         true, false, false},
        {"no debugger output", "log_vsdebug_out=false\n", 2, false, false, false},
        {"file output", "log_file_out=1\nlog_file_name=cam\n", 2, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteIni(c.body);
        LogSetting setting("MEDIARECORDER");
        setting.BuildFormatters();
        setting.SetLevel(5);
        EXPECT_TRUE(setting.ReadIni(IniPath().string(), "recorder"));
        EXPECT_EQ(setting.Level(), c.level);
        EXPECT_EQ(setting.HasDebugSink(), c.debug);
        EXPECT_EQ(setting.HasConsoleSink(), c.console);
        EXPECT_EQ(setting.HasFileSink(), c.file);
        setting.RemoveAllSinks();
    }
}

TEST_F(LogIniTest, MissingOrBrokenFileIsNotRead) {
    LogSetting setting("MEDIARECORDER");
    EXPECT_FALSE(setting.ReadIni(IniPath().string(), "recorder"));
    test::WriteFile(IniPath(), "[recorder\nlog_level=trace\n");
    EXPECT_FALSE(setting.ReadIni(IniPath().string(), "recorder"));
    EXPECT_FALSE(setting.IniLoaded());
    EXPECT_FALSE(setting.HasDebugSink());
}

TEST_F(LogIniTest, FileSinkWritesIntoRecorderLogsBesideTheIni) {
    WriteIni("log_file_out=true\nlog_file_name=cam\nlog_vsdebug_out=false\n");
    recorder::SetDebugLogger(2, nullptr);
    OLOG(common::kLogInfo) << "into the file";
    boost::log::core::get()->flush();

    const auto files = test::FilesIn(dir_.Path() / "recorder_logs");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(),
                                 std::regex(R"(cam_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_0\.log)")));
    EXPECT_NE(test::ReadFile(files[0]).find("into the file"), std::string::npos);
}

TEST_F(LogIniTest, EditIsPickedUpAfterTheCheckInterval) {
    WriteIni("log_level=trace\nlog_console_out=true\n");
    std::mutex mutex;
    std::vector<unsigned> severities;
    recorder::SetDebugLogger(3, [&](unsigned severity, const std::string&, const std::string&) {
        std::lock_guard lock(mutex);
        severities.push_back(severity);
        return 0L;
    });
    auto setting = common::CurrentLogSetting();
    ASSERT_TRUE(setting);
    EXPECT_EQ(setting->Level(), 3);  // the argument overrides the INI
    EXPECT_TRUE(setting->HasConsoleSink());
    EXPECT_TRUE(setting->HasDebugSink());

    EditIni("log_level=debug\nlog_console_out=true\n");
    OLOG(common::kLogWarning) << "within ten seconds";
    EXPECT_EQ(setting->Level(), 3);

    setting->ExpireIniCheckForTesting();
    OLOG(common::kLogWarning) << "after ten seconds";
    EXPECT_EQ(setting->Level(), 1);
    OLOG(common::kLogDebug) << "debug line";
    OLOG(common::kLogError) << "error line";

    std::lock_guard lock(mutex);
    EXPECT_EQ(severities, (std::vector<unsigned>{3, 3, 4}));
}

TEST_F(LogIniTest, UnchangedFileIsNotAppliedAgain) {
    WriteIni("log_level=warning\n");
    recorder::SetDebugLogger(0, nullptr);
    auto setting = common::CurrentLogSetting();
    ASSERT_EQ(setting->Level(), 0);
    setting->ExpireIniCheckForTesting();
    OLOG(common::kLogError) << "check";
    EXPECT_EQ(setting->Level(), 0);  // the file's warning was not re-applied
}

TEST_F(LogIniTest, DeletedFileKeepsTheSettings) {
    WriteIni("log_level=warning\n");
    recorder::SetDebugLogger(3, nullptr);
    auto setting = common::CurrentLogSetting();
    std::filesystem::remove(IniPath());
    setting->ExpireIniCheckForTesting();
    OLOG(common::kLogError) << "check";
    EXPECT_EQ(setting->Level(), 3);
    EXPECT_TRUE(setting->HasDebugSink());
}

}  // namespace
}  // namespace orvale
