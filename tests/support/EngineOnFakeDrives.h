// The exported engine as a host uses it, on a host folder of its own and
// fixed fake drives (500 GiB, 200 GiB free) whose roots lie in one temporary
// folder. The default set-up makes drive D and starts the engine; a test
// that needs other drives or a later start overrides SetUp.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>

#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"

namespace orvale::test {

class EngineOnFakeDrives : public ::testing::Test {
  protected:
    void SetUp() override {
        AddDrives({'D'});
        StartEngine();
    }
    void TearDown() override {
        StopEngine();
        platform::SetHostFolder("");
    }

    void AddDrives(std::initializer_list<char> letters) {
        platform::SetHostFolder(host_.Str());
        for (const char letter : letters) {
            const std::filesystem::path root = DriveRoot(letter);
            std::filesystem::create_directories(root);
            volumes_->AddFixed(letter, root.string(), 500 * kGiB, 200 * kGiB);
        }
    }
    std::filesystem::path DriveRoot(char letter) const {
        return drives_.Path() / std::string(1, letter);
    }
    // A new engine on the same host folder and drives.
    void StartEngine() {
        engine_ = std::make_unique<recorder::MediaRecorder>();
        engine_->Initialize();
    }
    void StopEngine() {
        if (engine_) engine_->Finalize(false);
        engine_.reset();
    }

    TempDir host_;
    TempDir drives_;
    InstalledFakeVolumes volumes_;
    std::unique_ptr<recorder::MediaRecorder> engine_;
};

}  // namespace orvale::test
