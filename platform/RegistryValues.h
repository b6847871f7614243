// The host product's registry values, read from the file that stands in for
// the registry: $OSTREL_REGISTRY_FILE, else /etc/ostrel/registry.ini. A
// section is a key path as written (backslashes kept), its keys are value
// names and its values decimal numbers. Stateless: every read opens the file
// anew, so a test may change it between reads.
#pragma once

#include <cstdint>
#include <string>

namespace orvale::platform {

inline constexpr char kDefaultRegistryFile[] = "/etc/ostrel/registry.ini";

std::string RegistryFile();

// False when the file, the key, the value is missing or the value is not a
// decimal number that fits 32 bits; `value` is then left as it was.
bool ReadRegistryDword(const std::string& keyPath, const std::string& valueName, uint32_t& value);

}  // namespace orvale::platform
