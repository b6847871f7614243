// A volume layer of the test's own: letters mapped to folders with the kind,
// bus, system flag and space each test gives them.
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/VolumeProvider.h"

namespace orvale::test {

inline constexpr uint64_t kMiB = 1ULL << 20;
inline constexpr uint64_t kGiB = 1ULL << 30;

class FakeVolumeProvider final : public platform::VolumeProvider {
  public:
    struct Volume {
        platform::VolumeInfo info;
        platform::VolumeSpace space;
        int spaceError = 0;  // answered by GetSpace instead of the space
        bool present = true;
    };

    void Add(Volume volume) {
        std::lock_guard lock(mutex_);
        volumes_[volume.info.letter] = std::move(volume);
    }
    // A fixed drive on the SATA bus, `available` of `total` bytes free.
    void AddFixed(char letter, const std::string& root, uint64_t total, uint64_t available) {
        Volume volume;
        volume.info = {letter, root, platform::VolumeKind::kFixed, platform::kBusSata, false};
        volume.space = {total, available, available};
        Add(std::move(volume));
    }
    void SetAvailable(char letter, uint64_t available) {
        std::lock_guard lock(mutex_);
        volumes_[letter].space.available = available;
        volumes_[letter].space.free = available;
    }
    void SetPresent(char letter, bool present) {
        std::lock_guard lock(mutex_);
        volumes_[letter].present = present;
    }

    std::vector<platform::VolumeInfo> ListVolumes() override {
        std::lock_guard lock(mutex_);
        std::vector<platform::VolumeInfo> list;
        for (const auto& [letter, volume] : volumes_) {
            if (volume.present) list.push_back(volume.info);
        }
        return list;
    }
    std::string RootFolder(char letter) override {
        std::lock_guard lock(mutex_);
        const auto it = volumes_.find(letter);
        return it == volumes_.end() ? std::string() : it->second.info.root;
    }
    bool IsPresent(char letter) override {
        std::lock_guard lock(mutex_);
        const auto it = volumes_.find(letter);
        return it != volumes_.end() && it->second.present;
    }
    int GetSpace(char letter, platform::VolumeSpace& space) override {
        std::lock_guard lock(mutex_);
        const auto it = volumes_.find(letter);
        if (it == volumes_.end() || !it->second.present) return ENODEV;
        if (it->second.spaceError != 0) return it->second.spaceError;
        space = it->second.space;
        return 0;
    }

  private:
    std::mutex mutex_;
    std::map<char, Volume> volumes_;
};

// Installs a fresh fake for as long as it lives.
class InstalledFakeVolumes {
  public:
    InstalledFakeVolumes() { platform::InstallVolumeProvider(fake_); }
    ~InstalledFakeVolumes() { platform::InstallVolumeProvider(nullptr); }
    InstalledFakeVolumes(const InstalledFakeVolumes&) = delete;
    InstalledFakeVolumes& operator=(const InstalledFakeVolumes&) = delete;

    FakeVolumeProvider& operator*() const { return *fake_; }
    FakeVolumeProvider* operator->() const { return fake_.get(); }

  private:
    std::shared_ptr<FakeVolumeProvider> fake_ = std::make_shared<FakeVolumeProvider>();
};

}  // namespace orvale::test
