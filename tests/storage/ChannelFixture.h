// Channels over drives that the fake volume layer maps to folders of the
// test's own, with the hour templates and a pool from HourFixture, a clock
// the test sets, and helpers that record seconds or lay out bare hours.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "recorder/storage/Channel.h"
#include "recorder/storage/Drive.h"
#include "tests/database/DatabaseTestSupport.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/store/HourFixture.h"

namespace orvale::test {

inline constexpr int64_t kHour = 3600;
inline constexpr int64_t kDay = 24 * kHour;
inline constexpr int64_t kDay1 = 1709596800;  // 2024-03-05 00:00:00 UTC

class ChannelFixture : public HourFixture {
  protected:
    // Drive `letter` on a folder of its own with `available` bytes free.
    std::shared_ptr<recorder::Drive> AddDrive(
        char letter, uint64_t available, uint32_t status = recorder::MEDIA_DRIVE_STATUS_ALLOCATE) {
        const std::filesystem::path root = host_.Path() / std::string(1, letter);
        std::filesystem::create_directories(root);
        volumes_->AddFixed(letter, root.string(), 100 * kGiB, available);
        auto drive = recorder::MakeDrive(
            {std::string(1, letter), recorder::MEDIA_DRIVE_TYPE_FIXED, status, platform::kBusSata},
            0);
        drives_[letter] = drive;
        return drive;
    }

    std::shared_ptr<recorder::Channel> MakeChannel(bool overwrite = true) {
        return std::make_shared<recorder::Channel>("cam1", 0, overwrite, &pool_, buffers_,
                                                   [this] { return now_; });
    }

    // An hour folder with an empty track folder, as far as the tree goes.
    void MakeHour(char letter, int64_t time, int track = 1) {
        std::filesystem::create_directories(drives_.at(letter)->GetTrackPath("cam1", time, track));
    }
    bool HourExists(char letter, int64_t time) const {
        return std::filesystem::exists(drives_.at(letter)->GetHourPath("cam1", time));
    }

    // Records the seconds [from, to] of one hour through the channel.
    std::string Record(recorder::Channel& channel, int64_t from, int64_t to, int track = 1) {
        auto writer = channel.GetFileWriter(recorder::kProfileNormal, track, from, 4 << 20);
        EXPECT_TRUE(writer);
        if (!writer) return {};
        EXPECT_EQ(WriteAndWait(*writer, Seconds(from, to)).error, 0);
        writer->Close();
        return writer->GetDriveName();
    }

    InstalledFakeVolumes volumes_;
    LogCapture log_;
    std::shared_ptr<recorder::BufferPool> buffers_ = std::make_shared<recorder::BufferPool>();
    std::map<char, std::shared_ptr<recorder::Drive>> drives_;
    int64_t now_ = kDay1 + 2 * kDay;
};

inline bool Logged(LogCapture& log, const std::string& part) {
    for (const auto& line : log.Lines()) {
        if (line.text.find(part) != std::string::npos) return true;
    }
    return false;
}

}  // namespace orvale::test
