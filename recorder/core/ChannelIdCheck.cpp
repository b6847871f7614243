#include "recorder/core/ChannelIdCheck.h"

#include "common/Log.h"

namespace orvale::recorder {

bool IsUsableChannelId(const std::string& id) {
    if (id.empty() || id.size() > kMaxChannelIdBytes || id == "." || id == "..") return false;
    return id.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool CheckChannelId(const std::string& id, const char* operation) {
    if (IsUsableChannelId(id)) return true;
    OLOG(common::kLogError) << operation << ": refused channel id \"" << id.substr(0, 64)
                            << "\" (empty, a dot name, a separator, a NUL or over "
                            << kMaxChannelIdBytes << " bytes)";
    return false;
}

}  // namespace orvale::recorder
