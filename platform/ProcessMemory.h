// The resident memory of the running process, as benchmarks measure it.
#pragma once

#include <cstdint>

namespace orvale::platform {

// Bytes of the process resident now; 0 when the system does not tell.
uint64_t ResidentBytes();
// The most bytes resident at once since the start or the last
// ResetPeakResident; 0 when the system does not tell.
uint64_t PeakResidentBytes();
// Starts the peak afresh from what is resident now; false when the system
// does not allow it (the peak then runs from the process start).
bool ResetPeakResident();

}  // namespace orvale::platform
