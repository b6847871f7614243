#include "recorder/storage/FolderInUseContainer.h"

#include "common/Log.h"

namespace orvale::recorder {

std::string HourFolderKey(const std::filesystem::path& hourFolder) {
    std::string key = hourFolder.lexically_normal().string();
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

std::string HourFolderKeyOfTrackFolder(const std::filesystem::path& trackFolder) {
    return HourFolderKey(std::filesystem::path(HourFolderKey(trackFolder)).parent_path());
}

std::string HourFolderKeyOfFile(const std::filesystem::path& file) {
    return HourFolderKeyOfTrackFolder(file.lexically_normal().parent_path());
}

std::shared_ptr<FolderInUseContainer> FolderInUseContainer::Create() {
    return std::shared_ptr<FolderInUseContainer>(new FolderInUseContainer());
}

bool FolderInUseContainer::Add(const std::string& folder) {
    ExclusiveLock lock(mutex_);
    try {
        ++counts_[folder];
        return true;
    } catch (const std::exception& e) {
        OLOG(common::kLogFatal) << "Exception: " << e.what();
        return false;
    }
}

void FolderInUseContainer::Release(const std::string& folder) {
    ExclusiveLock lock(mutex_);
    const auto it = counts_.find(folder);
    if (it == counts_.end()) return;
    if (--it->second <= 0) counts_.erase(it);
}

bool FolderInUseContainer::IsInUse(const std::string& folder) const {
    SharedLock lock(mutex_);
    return counts_.find(folder) != counts_.end();
}

FolderInUseRegistration::FolderInUseRegistration(std::shared_ptr<FolderInUseContainer> container,
                                                 std::string key)
    : key_(std::move(key)) {
    if (container && container->Add(key_)) container_ = std::move(container);
}

FolderInUseRegistration::~FolderInUseRegistration() {
    try {
        if (container_) container_->Release(key_);
    } catch (...) {
        // Only a failing lock can throw here; the hour then stays marked in use.
    }
}

}  // namespace orvale::recorder
