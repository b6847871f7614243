// The two gates of a conversion: the installed host product must be at
// version 2.10 or later, and the converter's drives together should have at
// least 150 GiB free. Both read the machine afresh on every call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvale::converter {

inline constexpr char kHostProductKey[] =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5A1C9E42-7B3D-4F60-9E21-C84D3B7A0F15}";
inline constexpr uint64_t kMinFreeGiB = 150;

bool IsSupportedHostVersion(uint32_t major, uint32_t minor);

// False when the version values cannot be read.
bool CheckInstalledVersion();

// Whole GiB free on each named drive (its total free bytes, fractions
// dropped per drive), summed; a drive whose space cannot be read adds 0.
uint64_t FreeGiB(const std::vector<std::string>& driveNames);

bool CheckFreeSpace(const std::vector<std::string>& driveNames);

}  // namespace orvale::converter
