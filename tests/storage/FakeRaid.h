// The steering of the test RAID library. A test loads the same library file
// itself, looks up FakeRaid_Configure and hands it a scenario, which the
// library copies; the engine's loader then shares that loaded instance.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvale::test {

// Status texts are written as these raw bytes: a text shorter than the field
// ends with NUL, one of the full width has none.
inline constexpr size_t kFakeStatusBytes = 36;

struct FakeRaidLogical {
    uint16_t id = 0;
    uint64_t value = 0;
    char status[kFakeStatusBytes] = {};
};

struct FakeRaidPhysical {
    uint16_t id = 0;
    char status[kFakeStatusBytes] = {};
};

struct FakeRaidScenario {
    int logicalResult = 0;  // answers of the three functions
    int elementResult = 0;
    int physicalResult = 0;
    uint32_t logicalCount = 0;  // written at the head of the logical-drive buffer
    const FakeRaidLogical* logical = nullptr;
    size_t logicalEntries = 0;
    uint8_t physicalCount = 0;  // written into the element-count record
    const FakeRaidPhysical* physical = nullptr;
    size_t physicalEntries = 0;
};

using FakeRaidConfigureFunction = void (*)(const FakeRaidScenario*);

}  // namespace orvale::test
