#include "platform/SystemLog.h"

#include <syslog.h>

#include <mutex>
#include <string>

namespace orvale::platform {

void WriteDebugOutput(std::string_view text) {
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("ostrel", LOG_NDELAY, LOG_USER); });
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    const std::string line(text);
    ::syslog(LOG_USER | LOG_DEBUG, "%s", line.c_str());
}

}  // namespace orvale::platform
