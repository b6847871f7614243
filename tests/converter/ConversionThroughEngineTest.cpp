// An old recording converted through the real engine on a fake drive D, and
// the stored hour read back: index rows, frame records of the data file and
// metadata rows must be what the old files held.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "converter/ConversionWorker.h"
#include "converter/FrameHeaders.h"
#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/DataFile.h"
#include "recorder/store/FrameRecord.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/MetaDataFile.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::converter {
namespace {

namespace fs = std::filesystem;
using oldformat::test_meta_s;
using oldformat::test_second_s;

constexpr uint32_t kStart = 1710496800;  // 2024-03-15 10:00:00 UTC
constexpr int kSeconds = 30;

struct stored_frame_s {
    bool audio = false;
    uint32_t codec = 0;
    uint64_t time = 0;  // video only
    uint32_t timeMs = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t frameType = 0;
    uint16_t format0 = 0;
    uint32_t format1 = 0;
    uint32_t format2 = 0;
    std::string payload;

    bool operator==(const stored_frame_s&) const = default;
};

std::string Xml(int second) {
    return "<MetadataStream><VideoAnalytics><Frame><Object ObjectId=\"" + std::to_string(second) +
           "\"><Appearance><Shape><BoundingBox left=\"-0.5\" top=\"0.5\" right=\"0.5\" "
           "bottom=\"-0.5\"/></Shape></Appearance></Object></Frame></VideoAnalytics>"
           "</MetadataStream>";
}

// The frame records of a data file, from its first record to its end record.
std::vector<stored_frame_s> ReadRecords(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<stored_frame_s> frames;
    size_t at = recorder::DataFile::kDataStart;
    while (at + recorder::kRecordHeaderSize <= bytes.size()) {
        recorder::record_header_s header;
        std::memcpy(&header, bytes.data() + at, sizeof(header));
        at += sizeof(header);
        if (header.type == recorder::RECORD_TYPE_END) break;
        if (at + header.payloadLength > bytes.size()) {
            ADD_FAILURE() << "record past the end of the file at " << at;
            break;
        }
        const char* info = bytes.data() + at;
        const char* data = info + header.infoLength;
        const size_t size = header.payloadLength - header.infoLength;
        stored_frame_s frame;
        if (header.type == recorder::RECORD_TYPE_VIDEO) {
            recorder::video_frame_info_s video;
            std::memcpy(&video, info, sizeof(video));
            frame = {false,
                     video.codec,
                     video.time,
                     video.timeMs,
                     video.width,
                     video.height,
                     video.frameType,
                     0,
                     0,
                     0,
                     std::string(data, size)};
            frames.push_back(frame);
        } else if (header.type == recorder::RECORD_TYPE_AUDIO) {
            recorder::audio_frame_info_s audio;
            std::memcpy(&audio, info, sizeof(audio));
            frame = {true,
                     audio.codec,
                     0,
                     audio.timeMs,
                     0,
                     0,
                     0,
                     audio.format0,
                     audio.format1,
                     audio.format2,
                     std::string(data, size)};
            frames.push_back(frame);
        }
        at += header.payloadLength;
    }
    return frames;
}

class ConversionThroughEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetHostFolder(host_.Str());
        volumes_->AddFixed('D', drive_.Str(), 500 * test::kGiB, 200 * test::kGiB);
    }
    void TearDown() override { platform::SetHostFolder(""); }

    test::TempDir host_;
    test::TempDir drive_;
    test::InstalledFakeVolumes volumes_;
};

TEST_F(ConversionThroughEngineTest, TheStoredHourHoldsEveryOldFrameAndMetadataRecord) {
    // 30 seconds of a key frame, three further video frames and two audio
    // frames each, in a file of track 2, and one metadata record a second.
    std::vector<test_second_s> seconds;
    std::vector<test_meta_s> metas;
    std::vector<stored_frame_s> expected;
    for (int s = 0; s < kSeconds; ++s) {
        const uint32_t time = kStart + s;
        test_second_s second{0, s, 0x10, {}};
        for (int v = 0; v < 4; ++v) {
            const std::string payload(200 + 10 * v + s, static_cast<char>('a' + v));
            const uint16_t type = v == 0 ? 1 : 2;
            second.frames.push_back(
                {false, 19, time, uint32_t(v * 250), 640, 480, 0, type, payload});
            expected.push_back({false, 0x40, time, WrappedMilliseconds(time, v * 250), 640, 480,
                                static_cast<uint8_t>(type), 0, 0, 0, payload});
        }
        for (int a = 0; a < 2; ++a) {
            const std::string payload(160, static_cast<char>('0' + s % 10));
            second.frames.push_back({true, 'C', time, uint32_t(a * 500), 0, 0, 0x0A4D, 0, payload});
            expected.push_back({true, 0x40000, 0, WrappedMilliseconds(time, a * 500), 0, 0, 0, 0x1,
                                0x13, 0x13 * 0xA, payload});
        }
        seconds.push_back(second);
        metas.push_back({time, 100, 1, Xml(s), 0});
    }
    const fs::path folder = drive_.Path() / "ZERoza" / "cam1" / "20240315";
    fs::create_directories(folder);
    oldformat::OldMediaWriter({seconds}, kStart).Save(folder / "0002_20240315100000.nmd");
    oldformat::OldMetaWriter(metas).Save(folder / "0002_20240315100000.nmt");

    recorder::MediaRecorder engine;
    engine.Initialize();
    MediaRecorderEngine adapter(engine);
    std::vector<std::string> log;
    ConversionWorker worker(adapter, [&](const std::string& line) { log.push_back(line); });
    conversion_plan_s plan;
    std::error_code error;
    plan.folders = ListDateFolders('D', drive_.Path(), error);
    plan.deleteFiles = true;
    const conversion_result_s result = worker.Run(plan);
    engine.Finalize(false);

    EXPECT_EQ(result.failedFiles + result.failedFolders + result.refusedFrames, 0u);
    EXPECT_EQ(log, std::vector<std::string>{"File Count = 2"});
    EXPECT_FALSE(fs::exists(folder.parent_path())) << "converted folders are removed";

    const fs::path track =
        drive_.Path() / "KVTRecordData" / "cam1" / "2024" / "03" / "15" / "10" / "0002";
    const auto folders = recorder::FolderInUseContainer::Create();
    recorder::IndexFile index(track / recorder::IndexFile::MakeFileName(kStart), folders);
    std::vector<recorder::index_row_s> rows;
    ASSERT_TRUE(index.ReadAllIndexRows(rows));
    ASSERT_EQ(rows.size(), static_cast<size_t>(kSeconds));
    std::vector<std::string> dataFiles;
    for (int s = 0; s < kSeconds; ++s) {
        EXPECT_EQ(rows[s].keyTime, kStart + s) << s;
        if (dataFiles.empty() || dataFiles.back() != rows[s].name)
            dataFiles.push_back(rows[s].name);
    }
    ASSERT_EQ(dataFiles.size(), 1u);

    const std::vector<stored_frame_s> stored = ReadRecords(track / dataFiles[0]);
    ASSERT_EQ(stored.size(), expected.size());
    for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i], expected[i]) << i;

    recorder::MetaDataFrames rowsOfMeta;
    const auto meta = recorder::MetaDataFile::Create(
        track / recorder::MetaDataFile::MakeFileName(kStart), folders);
    ASSERT_TRUE(meta->Read(kStart, kStart + kSeconds, rowsOfMeta));
    ASSERT_EQ(rowsOfMeta.size(), static_cast<size_t>(kSeconds));
    for (int s = 0; s < kSeconds; ++s) {
        EXPECT_EQ(rowsOfMeta[s]->utc, kStart + s);
        EXPECT_EQ(rowsOfMeta[s]->timestamp, WrappedMilliseconds(kStart + s, 100));
        const std::string xml = Xml(s);
        EXPECT_EQ(std::string(rowsOfMeta[s]->content.begin(), rowsOfMeta[s]->content.end()), xml);
    }
}

}  // namespace
}  // namespace orvale::converter
