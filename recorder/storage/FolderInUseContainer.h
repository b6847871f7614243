// Counts, per hour folder of the recording tree, the open objects working
// inside that hour (writers, readers, index and metadata files). The
// overwrite of old hours skips every folder that is in use: on Linux a folder
// can be removed while files in it are open, so this count is the only guard
// of a recording hour.
//
// Every registrant builds its key with one of the HourFolderKey helpers, so a
// writer, a reader and the overwrite step always name one hour by one text.
// Keys are compared as exact texts. Shared by a channel and its registrants;
// thread-safe.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>

#include "common/ConcurrentLock.h"

namespace orvale::recorder {

// The key of an hour folder: its path in normal form, no trailing separator.
std::string HourFolderKey(const std::filesystem::path& hourFolder);
// The key of the hour whose track folder this is (the hour folder is its parent).
std::string HourFolderKeyOfTrackFolder(const std::filesystem::path& trackFolder);
// The key of the hour holding this file (the file lies in the hour's track folder).
std::string HourFolderKeyOfFile(const std::filesystem::path& file);

class FolderInUseContainer {
  public:
    static std::shared_ptr<FolderInUseContainer> Create();

    FolderInUseContainer(const FolderInUseContainer&) = delete;
    FolderInUseContainer& operator=(const FolderInUseContainer&) = delete;

    // Counts one more user; false (nothing counted) when that failed.
    bool Add(const std::string& folder);
    // Lowers the count; a folder that was never added changes nothing.
    void Release(const std::string& folder);
    bool IsInUse(const std::string& folder) const;

  private:
    FolderInUseContainer() = default;

    mutable ContainerMutex mutex_;
    std::unordered_map<std::string, int32_t> counts_;  // only entries above 0
};

// Holds one registration of an hour folder for as long as it lives: the
// registering objects keep one as a member, so each releases exactly what it
// added. An empty container means no tracking.
class FolderInUseRegistration {
  public:
    FolderInUseRegistration() = default;
    FolderInUseRegistration(std::shared_ptr<FolderInUseContainer> container, std::string key);
    ~FolderInUseRegistration();

    FolderInUseRegistration(const FolderInUseRegistration&) = delete;
    FolderInUseRegistration& operator=(const FolderInUseRegistration&) = delete;

    const std::string& Key() const { return key_; }

  private:
    std::shared_ptr<FolderInUseContainer> container_;  // empty unless counted
    std::string key_;
};

}  // namespace orvale::recorder
