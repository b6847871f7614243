// Pins the process's time zone for the life of the object and puts the
// earlier one back afterwards. Set it while no other thread reads the zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace orvale::test {

class TimeZone {
  public:
    // The named zone of the system's zone database, or, on a machine without
    // it, `rule`: the same zone written as a POSIX rule.
    TimeZone(const std::string& name, const std::string& rule)
        : TimeZone(std::filesystem::exists("/usr/share/zoneinfo/" + name) ? name : rule) {}

    explicit TimeZone(const std::string& zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        ::setenv("TZ", zone.c_str(), 1);
        ::tzset();
    }
    ~TimeZone() {
        if (previous_) {
            ::setenv("TZ", previous_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

  private:
    std::optional<std::string> previous_;
};

}  // namespace orvale::test
