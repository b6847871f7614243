#include "common/Utility.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include "platform/ErrorText.h"
#include "platform/HostFolder.h"

namespace orvale::common {
namespace {

void AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool IsValidCodePoint(char32_t code) {
    return code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
}

}  // namespace

std::string GetModuleFolder() {
    return platform::HostFolder();
}

std::string WideToUtf8(const wchar_t* text, int length) {
    std::string out;
    if (text == nullptr || length < 1) return out;
    out.reserve(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        const auto code = static_cast<char32_t>(text[i]);
        AppendUtf8(IsValidCodePoint(code) ? code : U'\uFFFD', out);
    }
    return out;
}

std::string GetLastErrorText() {
    return platform::ErrorText(platform::LastError());
}

std::string TimeText(int64_t seconds) {
    return boost::posix_time::to_simple_string(
        boost::posix_time::from_time_t(static_cast<std::time_t>(seconds)));
}

}  // namespace orvale::common
