#include "platform/ProcessMemory.h"

#include <fstream>
#include <string>

namespace orvale::platform {
namespace {

// A "<Name>:   <n> kB" line of /proc/self/status, in bytes.
uint64_t StatusBytes(const std::string& name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, name.size() + 1, name + ":") != 0) continue;
        return std::stoull(line.substr(name.size() + 1)) * 1024;
    }
    return 0;
}

}  // namespace

uint64_t ResidentBytes() {
    return StatusBytes("VmRSS");
}

uint64_t PeakResidentBytes() {
    return StatusBytes("VmHWM");
}

bool ResetPeakResident() {
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";
    refs.flush();
    return refs.good();
}

}  // namespace orvale::platform
