// The folder of the running host program. Everything the engine keeps "beside
// the host program" (settings, catalogue, templates, logs) lives there.
//
// The environment variable OSTREL_HOST_DIR overrides the executable's folder,
// and SetHostFolder overrides both, so that tests can give every engine a
// folder of its own. The result never ends with a '/' (except for "/").
#pragma once

#include <string>

namespace orvale::platform {

// The host folder, or an empty string when it cannot be determined.
std::string HostFolder();

// Overrides the host folder for this process; an empty text removes the
// override again. Thread-safe.
void SetHostFolder(const std::string& folder);

}  // namespace orvale::platform
