// A vector of shared pointers shared between threads (an owner's lists of
// buffers and jobs). Walks run under the shared lock with copies of the
// elements and stop at the first exception, returning false. Size is read
// without the lock (callers ask for it once per pushed frame): it is the
// count after the last change that completed.
#pragma once

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

#include "common/ConcurrentLock.h"
#include "common/Log.h"

namespace orvale::recorder {

template <class T>
class ConcurrentVector {
  public:
    ConcurrentVector() = default;
    ConcurrentVector(const ConcurrentVector&) = delete;
    ConcurrentVector& operator=(const ConcurrentVector&) = delete;

    bool Add(T element) {
        ExclusiveLock lock(mutex_);
        try {
            items_.push_back(std::move(element));
            Published();
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentVector") << "Exception: " << e.what();
            return false;
        }
    }

    bool PushBack(T element) { return Add(std::move(element)); }

    T Front() {
        ExclusiveLock lock(mutex_);
        return items_.empty() ? T() : items_.front();
    }

    // Removes and returns the first element (empty when there is none).
    T PopFront() {
        ExclusiveLock lock(mutex_);
        if (items_.empty()) return T();
        T front = std::move(items_.front());
        items_.erase(items_.begin());
        Published();
        return front;
    }

    // Removes the first element equal to `value`; false when there is none.
    bool EraseFirst(const T& value) {
        ExclusiveLock lock(mutex_);
        for (auto it = items_.begin(); it != items_.end(); ++it) {
            if (*it == value) {
                items_.erase(it);
                Published();
                return true;
            }
        }
        return false;
    }

    size_t Size() const { return size_.load(std::memory_order_acquire); }

    void Clear() {
        ExclusiveLock lock(mutex_);
        items_.clear();
        Published();
    }

    bool ForEach(const std::function<void(T)>& fn) const {
        SharedLock lock(mutex_);
        return Walk(items_.begin(), items_.end(), fn);
    }

    bool ForEachReverse(const std::function<void(T)>& fn) const {
        SharedLock lock(mutex_);
        return Walk(items_.rbegin(), items_.rend(), fn);
    }

  private:
    // Under the exclusive lock, after each change.
    void Published() { size_.store(items_.size(), std::memory_order_release); }

    template <class It>
    static bool Walk(It first, It last, const std::function<void(T)>& fn) {
        try {
            for (; first != last; ++first) fn(*first);
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentVector") << "Exception: " << e.what();
            return false;
        }
    }

    mutable ContainerMutex mutex_;
    std::vector<T> items_;
    std::atomic<size_t> size_{0};
};

}  // namespace orvale::recorder
