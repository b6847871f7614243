#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/Utility.h"
#include "platform/ErrorText.h"
#include "platform/HostFolder.h"

namespace orvale::common {
namespace {

TEST(WideToUtf8Test, EncodesCodePoints) {
    struct Case {
        std::wstring wide;
        std::string utf8;
    };
    const Case cases[] = {
        {L"", ""},
        {L"D:/KVTRecordData", "D:/KVTRecordData"},
        {L"\uB179\uD654", "\xEB\x85\xB9\xED\x99\x94"},            // Korean "recording"
        {L"\u00E9", "\xC3\xA9"},                                  // two bytes
        {std::wstring(1, wchar_t(0x1F4F7)), "\xF0\x9F\x93\xB7"},  // four bytes
        {std::wstring(1, wchar_t(0xD800)), "\xEF\xBF\xBD"},       // lone surrogate
        {std::wstring(1, wchar_t(0x110000)), "\xEF\xBF\xBD"},     // beyond Unicode
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WideToUtf8(c.wide.data(), static_cast<int>(c.wide.size())), c.utf8);
    }
    EXPECT_EQ(WideToUtf8(L"abc", 2), "ab");  // only the given length
}

TEST(LastErrorTextTest, NamesTheCallingThreadsError) {
    platform::SetLastError(0);
    EXPECT_EQ(GetLastErrorText(), "No Error");
    platform::SetLastError(ENOENT);
    EXPECT_EQ(GetLastErrorText(), "No such file or directory");
}

TEST(ModuleFolderTest, OverrideEnvironmentAndExecutable) {
    platform::SetHostFolder("");
    ::unsetenv("OSTREL_HOST_DIR");
    const std::string executable = GetModuleFolder();
    EXPECT_FALSE(executable.empty());
    EXPECT_NE(executable.back(), '/');

    ::setenv("OSTREL_HOST_DIR", "/srv/host/", 1);
    EXPECT_EQ(GetModuleFolder(), "/srv/host");
    platform::SetHostFolder("/tmp/engine");
    EXPECT_EQ(GetModuleFolder(), "/tmp/engine");
    platform::SetHostFolder("");
    ::unsetenv("OSTREL_HOST_DIR");
    EXPECT_EQ(GetModuleFolder(), executable);
}

TEST(TimeTextTest, PrintsDateTimeDefaultForm) {
    EXPECT_EQ(TimeText(1520431402), "2018-Mar-07 14:03:22");
}

}  // namespace
}  // namespace orvale::common
