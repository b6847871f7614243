// Process-wide SQLite settings the engine relies on. They take effect only
// before SQLite is first used in the process, so the engine makes them when
// it is created; where a host has set SQLite up already they change nothing.
#pragma once

namespace orvale::recorder {

// Turns off SQLite's memory statistics, which serialise every allocation of
// every connection on one global mutex: the index writes of many channels at
// once would otherwise spend most of their time waiting on it. Once per
// process; later calls do nothing.
void ApplySqliteSettings();

}  // namespace orvale::recorder
