#include "platform/RegistryValues.h"

#include <charconv>

#include "platform/Environment.h"
#include "platform/ProfileIni.h"

namespace orvale::platform {

std::string RegistryFile() {
    std::string file = EnvironmentVariable("OSTREL_REGISTRY_FILE");
    return file.empty() ? kDefaultRegistryFile : file;
}

bool ReadRegistryDword(const std::string& keyPath, const std::string& valueName, uint32_t& value) {
    const auto text = ProfileIni::Load(RegistryFile()).Find(keyPath, valueName);
    if (!text || text->empty()) return false;
    uint32_t parsed = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, parsed, 10);
    if (error != std::errc() || stop != end) return false;
    value = parsed;
    return true;
}

}  // namespace orvale::platform
