#include "recorder/store/HourFileName.h"

#include <cstdio>
#include <ctime>

#include "platform/Time.h"

namespace orvale::recorder {

std::string HourFileName(int64_t time, const std::string& extension) {
    const std::tm utc = platform::UtcTime(time);
    char name[32];
    std::snprintf(name, sizeof(name), "%04d%02d%02d%02d0000", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour);
    return name + extension;
}

}  // namespace orvale::recorder
