#include "converter/app/EngineLines.h"

#include <algorithm>
#include <mutex>

#include "recorder/api/Logging.h"

namespace orvale::converter {
namespace {

// Lines of the engine's drive handling start with their source's prefix.
constexpr char kDriveSource[] = "[Drive](";
// Below this the engine only traces what it does.
constexpr unsigned kInfo = 2;

std::mutex& TapMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<DriveLineTap*>& Taps() {
    static std::vector<DriveLineTap*> taps;
    return taps;
}

long HandLine(unsigned severity, const std::string& /*logger*/, const std::string& text) {
    std::lock_guard lock(TapMutex());
    for (DriveLineTap* tap : Taps()) tap->Take(severity, text);
    return 0;
}

}  // namespace

void HookEngineLines(int level) {
    recorder::SetDebugLogger(level, HandLine);
}

DriveLineTap::DriveLineTap() {
    std::lock_guard lock(TapMutex());
    Taps().push_back(this);
}

DriveLineTap::~DriveLineTap() {
    std::lock_guard lock(TapMutex());
    std::erase(Taps(), this);
}

std::vector<std::string> DriveLineTap::Lines() const {
    std::lock_guard lock(TapMutex());
    return lines_;
}

// Called with the tap mutex held.
void DriveLineTap::Take(unsigned severity, const std::string& text) {
    if (severity < kInfo || !text.starts_with(kDriveSource)) return;
    const size_t body = text.find("): ");
    lines_.push_back(body == std::string::npos ? text : text.substr(body + 3));
}

}  // namespace orvale::converter
