// The converter's settings from converter.ini beside the program, section
// CONVERTER. They are read once; a missing file or key gives its default,
// and a value out of range falls back without a word.
#pragma once

#include <string>

namespace orvale::converter {

inline constexpr char kSettingsFileName[] = "converter.ini";
inline constexpr char kSettingsSection[] = "CONVERTER";
inline constexpr int kMaxDelayTimeMs = 100;

struct converter_settings_s {
    // DELETE_CHECK other than exactly "0": the operator sees "Delete file"
    // and may clear it; hidden, it stays ticked.
    bool showDeleteCheck = false;
    int delayTimeMs = 1;    // DELAY_TIME, 0..100, else 0
    bool ascending = true;  // ASCENDING == 1: oldest date first
};

// The settings file in the host program's folder.
std::string ConverterSettingsPath();

converter_settings_s ReadConverterSettings(const std::string& iniPath);

}  // namespace orvale::converter
