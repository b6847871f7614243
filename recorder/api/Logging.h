// The engine's exported logging set-up. None of these functions throws.
#pragma once

#include <string>

#include "recorder/api/Export.h"
#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {

// A new logging setting at level info, without sinks.
OSTREL_API void LOG_INIT();
// Sets the lowest severity written (0 trace .. 5 fatal); nothing before LOG_INIT.
OSTREL_API void LOG_SET_LEVEL(int level);
// Adds the console sink (standard error-log stream) once per setting.
OSTREL_API void LOG_ADD_CONSOLE_OUT();
// Adds the debugger-output sink (the system log) once per setting.
OSTREL_API void LOG_ADD_VS_DEBUG_OUT();
// Adds the rotating file sink: basePath + "_%Y-%m-%d_%H-%M-%S_%N.log".
OSTREL_API void LOG_ADD_FILE_OUT(const std::string& basePath);
// A new setting configured from ostrel.ini beside the host program, at
// `level`, that hands every statement of at least `level` to `callback`.
OSTREL_API void SetDebugLogger(int level, DebugLoggerCallback callback);

}  // namespace orvale::recorder
