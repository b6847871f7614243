// A channel on one fake drive whose hours the test records run by run, each
// run a stretch of seconds with the same timeline words.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "recorder/api/MediaTypes.h"
#include "recorder/storage/Channel.h"
#include "tests/storage/ChannelFixture.h"

namespace orvale::test {

struct RecordedRun {
    int64_t from;
    int64_t to;
    uint32_t event;
    uint32_t analytics = 0;
    uint32_t audio = 0;
};

class TimelineFixture : public ChannelFixture {
  protected:
    void SetUp() override {
        ChannelFixture::SetUp();
        channel_ = MakeChannel();
        channel_->AddDrives({AddDrive('D', 50 * kGiB)});
    }

    // Seconds [run.from, run.to], one key frame each, with the run's words.
    static std::shared_ptr<recorder::WriteBuffer> RunSeconds(const RecordedRun& run) {
        auto buffer = std::make_shared<recorder::WriteBuffer>(1 << 20);
        for (int64_t t = run.from; t <= run.to; ++t) {
            auto second = recorder::FrameBuffer::Create();
            recorder::timeline_flags_s flags;
            flags.time = t;
            flags.eventBits = run.event;
            flags.analyticsBits = run.analytics;
            flags.audioBits = run.audio;
            Add(*second, MakeVideo(static_cast<uint64_t>(t), true, 2000, static_cast<uint8_t>(t)),
                flags);
            buffer->Append(second);
        }
        return buffer;
    }

    // Records the runs, all in the hour of the first, through one writer.
    void RecordRuns(const std::vector<RecordedRun>& runs, int track = 1) {
        auto writer =
            channel_->GetFileWriter(recorder::kProfileNormal, track, runs.front().from, 4 << 20);
        ASSERT_TRUE(writer);
        for (const RecordedRun& run : runs) {
            ASSERT_EQ(WriteAndWait(*writer, RunSeconds(run)).error, 0);
        }
        writer->Close();
    }

    std::shared_ptr<recorder::Channel> channel_;
};

}  // namespace orvale::test
