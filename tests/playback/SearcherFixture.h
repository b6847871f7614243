// Two channels, cam1 and cam2, on one fake drive, with helpers that record
// seconds in either profile and on any track, and a pool of their own for
// the searches.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/AsioThreadPool.h"
#include "recorder/storage/Channel.h"
#include "recorder/store/RecordFileInfo.h"
#include "tests/storage/ChannelFixture.h"

namespace orvale::test {

class SearcherFixture : public ChannelFixture {
  protected:
    void SetUp() override {
        ChannelFixture::SetUp();
        const auto drive = AddDrive('D', 50 * kGiB);
        cam1_ = MakeChannel();
        cam1_->AddDrives({drive});
        cam2_ = std::make_shared<recorder::Channel>("cam2", 0, true, &pool_, buffers_,
                                                    [this] { return now_; });
        cam2_->AddDrives({drive});
    }

    // Records the seconds [from, to], all in one hour.
    void RecordIn(recorder::Channel& channel, int64_t from, int64_t to,
                  int profile = recorder::kProfileNormal, int track = 1) {
        auto writer = channel.GetFileWriter(profile, track, from, 4 << 20);
        ASSERT_TRUE(writer);
        ASSERT_EQ(WriteAndWait(*writer, Seconds(from, to, 2000)).error, 0);
        writer->Close();
    }

    std::shared_ptr<recorder::Channel> cam1_;
    std::shared_ptr<recorder::Channel> cam2_;
    common::AsioThreadPool searchPool_{4};
};

}  // namespace orvale::test
