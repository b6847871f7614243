// A channel hour on a folder of the test's own: the template databases, a
// pool for completions, the drive's command handlers, and helpers that write
// whole seconds through a file writer and wait for their results.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "common/AsioThreadPool.h"
#include "platform/HostFolder.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/FileReader.h"
#include "recorder/store/FileWriter.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/MetaDataFile.h"
#include "tests/store/Frames.h"
#include "tests/support/TempDir.h"

namespace orvale::test {

inline constexpr int64_t kHourStart = 1704114000;  // 2024-01-01 13:00:00 UTC

struct WriteResult {
    int32_t error = -1;
    uint64_t bytes = 0;
    int64_t lastTime = 0;
    int32_t trackId = 0;
};

class HourFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        ASSERT_TRUE(recorder::IndexFile::CreateTemplate());
        ASSERT_TRUE(recorder::MetaDataFile::CreateTemplate());
    }
    void TearDown() override { platform::SetHostFolder(""); }

    std::filesystem::path Track() const {
        return host_.Path() / "KVTRecordData" / "cam1" / "2024" / "01" / "01" / "13" / "0001";
    }

    std::shared_ptr<recorder::FileWriter> MakeWriter(int profile, int64_t start,
                                                     int64_t size = 8 << 20) {
        auto writer =
            recorder::FileWriter::Create(1, Track(), "", pool_.IoService(), writes_, folders_);
        const recorder::record_file_info_s location{"cam1", 1, start, profile};
        EXPECT_TRUE(writer->CreateDataFile(location, size));
        EXPECT_TRUE(writer->CreateIndexFile(location));
        return writer;
    }

    // A write buffer of whole seconds [from, to], each one key frame of
    // `frameSize` data bytes filled with the second's low byte.
    static std::shared_ptr<recorder::WriteBuffer> Seconds(int64_t from, int64_t to,
                                                          uint32_t frameSize = 10000,
                                                          uint32_t event = 0x4) {
        auto buffer = std::make_shared<recorder::WriteBuffer>(1 << 20);
        for (int64_t t = from; t <= to; ++t) {
            auto second = recorder::FrameBuffer::Create();
            recorder::timeline_flags_s flags;
            flags.time = t;
            flags.eventBits = event;
            Add(*second,
                MakeVideo(static_cast<uint64_t>(t), true, frameSize, static_cast<uint8_t>(t)),
                flags);
            buffer->Append(second);
        }
        return buffer;
    }

    WriteResult WriteAndWait(recorder::FileWriter& writer,
                             std::shared_ptr<recorder::WriteBuffer> buffer) {
        auto promise = std::make_shared<std::promise<WriteResult>>();
        auto future = promise->get_future();
        writer.Write(std::move(buffer), [promise](uint32_t, int32_t error, const std::string&,
                                                  uint64_t bytes, int64_t last, int32_t track) {
            promise->set_value({error, bytes, last, track});
        });
        EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return future.get();
    }

    TempDir host_;
    common::AsioThreadPool pool_{2};
    std::shared_ptr<recorder::WriteCommandHandler> writes_ =
        std::make_shared<recorder::WriteCommandHandler>();
    std::shared_ptr<recorder::ReadCommandHandler> reads_ =
        std::make_shared<recorder::ReadCommandHandler>();
    std::shared_ptr<recorder::FolderInUseContainer> folders_ =
        recorder::FolderInUseContainer::Create();
};

}  // namespace orvale::test
