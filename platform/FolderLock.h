// An exclusive lock on a folder, held by one holder at a time across every
// process of the machine (and every thread: two holders in one process
// exclude each other too), for a step that must see the folder's files
// unchanged by any other writer while it runs. The lock goes with the
// object; a process that dies lets go of it.
#pragma once

#include <string>

namespace orvale::platform {

class FolderLock {
  public:
    // Waits until the lock on `folder` is held; Held() says whether that worked.
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace orvale::platform
