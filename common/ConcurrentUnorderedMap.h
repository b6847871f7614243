// A hash map of shared pointers shared between threads (the engine's
// registries of channels, recorders and searchers). Locking, results and the
// walk rule are those of ConcurrentMap; walks follow the container's order.
#pragma once

#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/ConcurrentLock.h"
#include "common/Log.h"

namespace orvale::recorder {

template <class K, class V>
class ConcurrentUnorderedMap {
  public:
    ConcurrentUnorderedMap() = default;
    ConcurrentUnorderedMap(const ConcurrentUnorderedMap&) = delete;
    ConcurrentUnorderedMap& operator=(const ConcurrentUnorderedMap&) = delete;

    // Inserts when the key is absent; an existing entry keeps its value.
    bool Insert(const K& key, V value) {
        ExclusiveLock lock(mutex_);
        try {
            map_.emplace(key, std::move(value));
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentUnorderedMap") << "Exception: " << e.what();
            return false;
        }
    }

    bool Erase(const K& key) {
        ExclusiveLock lock(mutex_);
        map_.erase(key);
        return true;
    }

    void Clear() {
        ExclusiveLock lock(mutex_);
        map_.clear();
    }

    bool Contains(const K& key) const {
        SharedLock lock(mutex_);
        return map_.find(key) != map_.end();
    }

    V Find(const K& key) const {
        SharedLock lock(mutex_);
        const auto it = map_.find(key);
        return it == map_.end() ? V() : it->second;
    }

    size_t Size() const {
        SharedLock lock(mutex_);
        return map_.size();
    }

    bool Values(std::vector<V>& out) const {
        SharedLock lock(mutex_);
        try {
            for (const auto& entry : map_) out.push_back(entry.second);
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentUnorderedMap") << "Exception: " << e.what();
            return false;
        }
    }

    bool ForEach(const std::function<void(V)>& fn) const {
        SharedLock lock(mutex_);
        try {
            for (const auto& entry : map_) fn(entry.second);
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentUnorderedMap") << "Exception: " << e.what();
            return false;
        }
    }

  private:
    mutable ContainerMutex mutex_;
    std::unordered_map<K, V> map_;
};

}  // namespace orvale::recorder
