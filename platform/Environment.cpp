#include "platform/Environment.h"

#include <cstdlib>

namespace orvale::platform {

bool SetEnvironmentVariable(const std::string& name, const std::string& value) {
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

std::string EnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? std::string() : std::string(value);
}

}  // namespace orvale::platform
