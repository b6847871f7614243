// The lock discipline shared by the concurrent containers: readers share the
// mutex, writers take an upgrade lock and turn it into the exclusive lock.
#pragma once

#include <boost/thread/locks.hpp>
#include <boost/thread/shared_mutex.hpp>

namespace orvale::recorder {

using ContainerMutex = boost::shared_mutex;
using SharedLock = boost::shared_lock<ContainerMutex>;

class ExclusiveLock {
  public:
    explicit ExclusiveLock(ContainerMutex& mutex) : upgrade_(mutex), unique_(upgrade_) {}

  private:
    boost::upgrade_lock<ContainerMutex> upgrade_;
    boost::upgrade_to_unique_lock<ContainerMutex> unique_;
};

}  // namespace orvale::recorder
