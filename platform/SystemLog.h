// The "debugger output" of the engine's log: the system log, identity
// "ostrel", facility user, level debug.
#pragma once

#include <string_view>

namespace orvale::platform {

// Writes one record to the system log. A trailing line end is dropped, since
// the system log keeps records apart itself. Thread-safe.
void WriteDebugOutput(std::string_view text);

}  // namespace orvale::platform
