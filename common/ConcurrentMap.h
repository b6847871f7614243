// An ordered map shared between threads (drives by name, open events, queued
// metadata frames).
//
// Readers share the lock, writers hold it exclusively, each for the whole
// operation including the callbacks it runs; a callback must not modify the
// same map. Walks hand out copies of shared-pointer values, so an element
// stays alive while a callback uses it. Operations that can fail inside the
// standard container log the exception and report failure; a walk stops at
// the first exception and returns false.
#pragma once

#include <map>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/ConcurrentLock.h"
#include "common/Log.h"

namespace orvale::recorder {

template <class K, class V>
class ConcurrentMap {
  public:
    ConcurrentMap() = default;
    ConcurrentMap(const ConcurrentMap&) = delete;
    ConcurrentMap& operator=(const ConcurrentMap&) = delete;

    // Inserts when the key is absent; an existing entry keeps its value.
    bool Insert(const K& key, V value) {
        ExclusiveLock lock(mutex_);
        try {
            map_.emplace(key, std::move(value));
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentMap") << "Exception: " << e.what();
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

    // Sets the value of an existing key; false (nothing inserted) when absent.
    bool Update(const K& key, V value) {
        ExclusiveLock lock(mutex_);
        const auto it = map_.find(key);
        if (it == map_.end()) return false;
        it->second = std::move(value);
        return true;
    }

    bool Contains(const K& key) const {
        SharedLock lock(mutex_);
        return map_.find(key) != map_.end();
    }

    // A copy of the value, or a default (empty) one when absent.
    V Find(const K& key) const {
        SharedLock lock(mutex_);
        const auto it = map_.find(key);
        return it == map_.end() ? V() : it->second;
    }

    size_t Size() const {
        SharedLock lock(mutex_);
        return map_.size();
    }

    // Appends every value in key order; what the vector held stays in front.
    bool Values(std::vector<V>& out) const {
        SharedLock lock(mutex_);
        try {
            for (const auto& entry : map_) out.push_back(entry.second);
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentMap") << "Exception: " << e.what();
            return false;
        }
    }

    // Removes and returns the entry with the smallest key, if any.
    std::optional<std::pair<K, V>> PopFront() {
        ExclusiveLock lock(mutex_);
        if (map_.empty()) return std::nullopt;
        auto node = map_.extract(map_.begin());
        return std::make_pair(std::move(node.key()), std::move(node.mapped()));
    }

    // Walks the entries in ascending key order. A function taking the key and
    // a reference to the value may change the value and walks under the
    // exclusive lock; a function taking the value gets a copy under the
    // shared lock.
    template <class Fn>
    bool ForEach(Fn&& fn) {
        if constexpr (std::is_invocable_v<Fn, const K&, V&>) {
            ExclusiveLock lock(mutex_);
            return Walk([&](std::pair<const K, V>& entry) { fn(entry.first, entry.second); });
        } else {
            SharedLock lock(mutex_);
            return Walk([&](std::pair<const K, V>& entry) { fn(V(entry.second)); });
        }
    }

  private:
    template <class Visit>
    bool Walk(Visit&& visit) {
        try {
            for (auto& entry : map_) visit(entry);
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentMap") << "Exception: " << e.what();
            return false;
        }
    }

    mutable ContainerMutex mutex_;
    std::map<K, V> map_;
};

}  // namespace orvale::recorder
