// A stand-in for the RAID vendor's library. It writes its scenario's entries
// into the caller's buffers at the vendor's layout, never past the size it is
// given, and reports whatever counts the scenario names, however hostile.
// Variants leave out one function (FAKE_RAID_WITHOUT_LOGICAL, _ELEMENT,
// _PHYSICAL).
#include <cstring>
#include <mutex>
#include <vector>

#include "tests/storage/FakeRaid.h"

#define FAKE_RAID_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using orvale::test::FakeRaidLogical;
using orvale::test::FakeRaidPhysical;
using orvale::test::FakeRaidScenario;

struct State {
    FakeRaidScenario scenario;
    std::vector<FakeRaidLogical> logical;
    std::vector<FakeRaidPhysical> physical;
};

std::mutex g_mutex;
State g_state;

void WriteLittleEndian(unsigned char* out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

FAKE_RAID_EXPORT void FakeRaid_Configure(const FakeRaidScenario* scenario) {
    std::lock_guard lock(g_mutex);
    g_state.scenario = *scenario;
    g_state.logical.assign(scenario->logical, scenario->logical + scenario->logicalEntries);
    g_state.physical.assign(scenario->physical, scenario->physical + scenario->physicalEntries);
}

#ifndef FAKE_RAID_WITHOUT_LOGICAL
FAKE_RAID_EXPORT int i2bApi_getLogDrvInfo(void* buffer, int size) {
    std::lock_guard lock(g_mutex);
    auto* out = static_cast<unsigned char*>(buffer);
    const auto limit = static_cast<size_t>(size);
    if (limit < 4) return -1;
    WriteLittleEndian(out, g_state.scenario.logicalCount, 4);
    for (size_t i = 0; i < g_state.logical.size() && 4 + 96 * (i + 1) <= limit; ++i) {
        unsigned char* entry = out + 4 + 96 * i;
        WriteLittleEndian(entry + 4, g_state.logical[i].id, 2);
        std::memcpy(entry + 40, g_state.logical[i].status, orvale::test::kFakeStatusBytes);
        WriteLittleEndian(entry + 76, g_state.logical[i].value, 8);
    }
    return g_state.scenario.logicalResult;
}
#endif

#ifndef FAKE_RAID_WITHOUT_ELEMENT
FAKE_RAID_EXPORT int i2bApi_getElementCnt(void* record) {
    std::lock_guard lock(g_mutex);
    auto* out = static_cast<unsigned char*>(record);
    std::memset(out, 0xEE, 20);  // the bytes around the count mean nothing to the caller
    out[9] = g_state.scenario.physicalCount;
    return g_state.scenario.elementResult;
}
#endif

#ifndef FAKE_RAID_WITHOUT_PHYSICAL
FAKE_RAID_EXPORT int i2bApi_getHardDiskDriveInfo(void* buffer, int size) {
    std::lock_guard lock(g_mutex);
    auto* out = static_cast<unsigned char*>(buffer);
    const auto limit = static_cast<size_t>(size);
    for (size_t i = 0; i < g_state.physical.size() && 160 * (i + 1) <= limit; ++i) {
        unsigned char* entry = out + 160 * i;
        WriteLittleEndian(entry, g_state.physical[i].id, 2);
        std::memcpy(entry + 124, g_state.physical[i].status, orvale::test::kFakeStatusBytes);
    }
    return g_state.scenario.physicalResult;
}
#endif
