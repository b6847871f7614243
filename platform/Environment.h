// The process's environment variables, through which a program configures
// the engine's platform layer before it starts the engine (the engine's
// shared library keeps its own copy of the layer, so a setter called in the
// program would not reach it; the environment does).
#pragma once

#include <string>

namespace orvale::platform {

// Sets (or replaces) a variable; false when the system refused.
bool SetEnvironmentVariable(const std::string& name, const std::string& value);

// The variable's value; empty when it is not set.
std::string EnvironmentVariable(const std::string& name);

}  // namespace orvale::platform
