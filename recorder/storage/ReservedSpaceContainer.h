// The bytes that each channel keeps reserved on one drive for its current
// files. Other channels see the drive's free space reduced by the reservations
// that are not theirs. One entry per channel at most; entries live in memory
// only. Owned by the drive; thread-safe: any channel may read it at any time.
//
// Each operation is atomic on its own; a caller that checks and then reserves
// (the drive's writer factories) holds the drive's lock around both.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "common/ConcurrentLock.h"

namespace orvale::recorder {

class ReservedSpaceContainer {
  public:
    ReservedSpaceContainer() = default;
    ReservedSpaceContainer(const ReservedSpaceContainer&) = delete;
    ReservedSpaceContainer& operator=(const ReservedSpaceContainer&) = delete;

    // Inserts the channel's entry or replaces its value.
    void Set(const std::string& channelId, int64_t bytes);
    // Removes the channel's entry; nothing happens when there is none.
    void Release(const std::string& channelId);
    void Clear();
    // The channel's reservation, 0 when it has none.
    int64_t Get(const std::string& channelId) const;
    // The sum of all reservations.
    int64_t Total() const;

  private:
    mutable ContainerMutex mutex_;
    std::unordered_map<std::string, int64_t> bytes_;
};

}  // namespace orvale::recorder
