#include "platform/ErrorText.h"

#include <cerrno>
#include <cstring>

namespace orvale::platform {

int LastError() {
    return errno;
}

void SetLastError(int code) {
    errno = code;
}

std::string ErrorText(int code) {
    if (code == 0) return "No Error";
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be the buffer.
    const char* text = ::strerror_r(code, buffer, sizeof(buffer));
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace orvale::platform
