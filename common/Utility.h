// Small helpers shared by the engine: the host folder, UTF-8 from wide text,
// the text of the last system error and the log form of a point in time.
#pragma once

#include <cstdint>
#include <string>

namespace orvale::common {

// The folder of the host program, without a trailing '/'; empty when unknown.
std::string GetModuleFolder();

// UTF-8 form of `length` wide characters (UTF-32 code points on this
// platform). Surrogates and values above U+10FFFF become U+FFFD.
std::string WideToUtf8(const wchar_t* text, int length);

// The text of the calling thread's last system error; "No Error" for none.
std::string GetLastErrorText();

// A time (seconds since 1970, UTC) as log lines print it: 2018-Mar-07 14:03:22.
std::string TimeText(int64_t seconds);

}  // namespace orvale::common
