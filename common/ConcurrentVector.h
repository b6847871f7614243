// A vector of shared pointers shared between threads (an owner's lists of
// buffers and jobs). Walks run under the shared lock with copies of the
// elements and stop at the first exception, returning false.
#pragma once

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
        return front;
    }

    // Removes the first element equal to `value`; false when there is none.
    bool EraseFirst(const T& value) {
        ExclusiveLock lock(mutex_);
        for (auto it = items_.begin(); it != items_.end(); ++it) {
            if (*it == value) {
                items_.erase(it);
                return true;
            }
        }
        return false;
    }

    size_t Size() const {
        SharedLock lock(mutex_);
        return items_.size();
    }

    void Clear() {
        ExclusiveLock lock(mutex_);
        items_.clear();
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
};

}  // namespace orvale::recorder
