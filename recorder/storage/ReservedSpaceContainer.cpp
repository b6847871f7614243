#include "recorder/storage/ReservedSpaceContainer.h"

#include <exception>

#include "common/Log.h"

namespace orvale::recorder {

void ReservedSpaceContainer::Set(const std::string& channelId, int64_t bytes) {
    ExclusiveLock lock(mutex_);
    try {
        bytes_[channelId] = bytes;
    } catch (const std::exception& e) {
        OLOG(common::kLogFatal) << "Exception: " << e.what();
    }
}

void ReservedSpaceContainer::Release(const std::string& channelId) {
    ExclusiveLock lock(mutex_);
    bytes_.erase(channelId);
}

void ReservedSpaceContainer::Clear() {
    ExclusiveLock lock(mutex_);
    bytes_.clear();
}

int64_t ReservedSpaceContainer::Get(const std::string& channelId) const {
    SharedLock lock(mutex_);
    const auto it = bytes_.find(channelId);
    return it == bytes_.end() ? 0 : it->second;
}

int64_t ReservedSpaceContainer::Total() const {
    SharedLock lock(mutex_);
    int64_t total = 0;
    for (const auto& [channel, bytes] : bytes_) total += bytes;
    return total;
}

}  // namespace orvale::recorder
