// A bounded queue of shared pointers shared between threads (spare buffers).
// Every operation holds the exclusive lock, factories included. An element
// pushed onto a full queue (or one of maximum length 0) is released.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>

#include "common/ConcurrentLock.h"
#include "common/Log.h"

namespace orvale::recorder {

template <class T>
class ConcurrentQueue {
  public:
    explicit ConcurrentQueue(uint32_t maxLength) : maxLength_(maxLength) {}
    ConcurrentQueue(const ConcurrentQueue&) = delete;
    ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;

    // Appends when there is room, else drops the element; false only when
    // the append threw.
    bool PushBounded(T element) {
        ExclusiveLock lock(mutex_);
        try {
            if (maxLength_ != 0 && queue_.size() < maxLength_) queue_.push_back(std::move(element));
            return true;
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentQueue") << "Exception: " << e.what();
            return false;
        }
    }

    // The front element, or else the factory's result (empty without one).
    T PopOrCreate(const std::function<T()>& factory = nullptr) {
        ExclusiveLock lock(mutex_);
        try {
            if (!queue_.empty()) {
                T front = std::move(queue_.front());
                queue_.pop_front();
                return front;
            }
            return factory ? factory() : T();
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentQueue") << "Exception: " << e.what();
            return T();
        }
    }

    void Clear() {
        ExclusiveLock lock(mutex_);
        try {
            std::deque<T>().swap(queue_);
        } catch (const std::exception& e) {
            OLOG_AS(common::kLogFatal, "ConcurrentQueue") << "Exception: " << e.what();
        }
    }

    size_t Size() const {
        SharedLock lock(mutex_);
        return queue_.size();
    }

  private:
    mutable ContainerMutex mutex_;
    const uint32_t maxLength_;
    std::deque<T> queue_;
};

}  // namespace orvale::recorder
