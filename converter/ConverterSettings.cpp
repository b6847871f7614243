#include "converter/ConverterSettings.h"

#include "platform/HostFolder.h"
#include "platform/ProfileIni.h"

namespace orvale::converter {

std::string ConverterSettingsPath() {
    return platform::HostFolder() + "/" + kSettingsFileName;
}

converter_settings_s ReadConverterSettings(const std::string& iniPath) {
    const platform::ProfileIni ini = platform::ProfileIni::Load(iniPath);
    converter_settings_s settings;
    settings.showDeleteCheck = ini.GetString(kSettingsSection, "DELETE_CHECK", "0") != "0";
    const int delay = platform::LeadingInt(ini.GetString(kSettingsSection, "DELAY_TIME", "1"));
    settings.delayTimeMs = (delay >= 0 && delay <= kMaxDelayTimeMs) ? delay : 0;
    settings.ascending =
        platform::LeadingInt(ini.GetString(kSettingsSection, "ASCENDING", "1")) == 1;
    return settings;
}

}  // namespace orvale::converter
