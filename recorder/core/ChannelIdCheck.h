// Channel ids become folder names on the drives, so an id that could name
// another folder (empty, ".", "..", a separator, a NUL) or exceed a file
// name is refused before it reaches a path.
#pragma once

#include <string>

namespace orvale::recorder {

inline constexpr size_t kMaxChannelIdBytes = 255;

bool IsUsableChannelId(const std::string& id);
// The same test; a refused id is logged at error with `operation`.
bool CheckChannelId(const std::string& id, const char* operation);

}  // namespace orvale::recorder
