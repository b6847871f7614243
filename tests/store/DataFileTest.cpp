#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "common/AsioThreadPool.h"
#include "platform/DirectFile.h"
#include "recorder/store/DataFile.h"
#include "tests/store/Frames.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace orvale::recorder {
namespace {

using test::Add;
using test::MakeAudio;
using test::MakeVideo;
using test::SecondOf;

constexpr int64_t kMiB = int64_t{1024} * 1024;
const std::string kEnd("\x00\x00\x01\xFF\x01\x00\x00\x00\x00\x00\x00\x00", 12);

struct WriteResult {
    std::error_code error;
    uint64_t bytes = 0;
    int64_t lastTime = 0;
};

struct ReadResult {
    std::error_code error;
    uint64_t bytes = 0;
};

std::string Skip(uint32_t payload) {
    std::string header("\x00\x00\x01\xFE\x01\x00\x00\x00", 8);
    header.append(reinterpret_cast<const char*>(&payload), 4);
    return header;
}

std::shared_ptr<WriteBuffer> BufferOf(std::initializer_list<std::shared_ptr<FrameBuffer>> seconds) {
    auto buffer = std::make_shared<WriteBuffer>(512 * 1024);
    for (const auto& second : seconds) EXPECT_TRUE(buffer->Append(second));
    return buffer;
}

class DataFileTest : public ::testing::Test {
  protected:
    std::filesystem::path PathOf(const std::string& name) const { return dir_.Path() / name; }

    std::shared_ptr<DataFile> Make(const std::string& name = "20240101132507.kvthdt") {
        return std::make_shared<DataFile>(PathOf(name), pool_.IoService());
    }

    std::shared_ptr<DataFile> Created(int64_t alloc = 4 * kMiB,
                                      const std::string& name = "20240101132507.kvthdt") {
        auto file = Make(name);
        EXPECT_TRUE(file->Create("cam-1", 7, alloc));
        return file;
    }

    static WriteResult WriteNow(DataFile& file, std::shared_ptr<WriteBuffer> buffer) {
        std::promise<WriteResult> done;
        file.Write(std::move(buffer),
                   [&done](const std::error_code& error, uint64_t bytes, int64_t lastTime) {
                       done.set_value({error, bytes, lastTime});
                   });
        return done.get_future().get();
    }

    static ReadResult ReadNow(DataFile& file, std::shared_ptr<ReadBuffer> buffer) {
        std::promise<ReadResult> done;
        file.Read(std::move(buffer), [&done](const std::error_code& error, uint64_t bytes) {
            done.set_value({error, bytes});
        });
        return done.get_future().get();
    }

    std::string Bytes(const std::string& name = "20240101132507.kvthdt") const {
        return test::ReadFile(PathOf(name));
    }

    test::LogCapture log_;
    test::TempDir dir_;
    common::AsioThreadPool pool_{2};
};

TEST_F(DataFileTest, CreateLaysOutTheHeaderAndTheFirstEndRecord) {
    auto file = Created(1 * kMiB);
    const std::string bytes = Bytes();
    ASSERT_EQ(bytes.size(), static_cast<size_t>(kMiB));

    std::string header("QZDF\x01\x00\x00\x00", 8);
    header += "cam-1" + std::string(63, '\0');
    header += std::string("\x07\x00\x00\x00", 4) + std::string(3, '\0');
    EXPECT_EQ(bytes.substr(0, 83), header);
    EXPECT_EQ(bytes.substr(83, 12), Skip(4001));
    EXPECT_EQ(bytes.substr(4096, 12), kEnd);
    EXPECT_EQ(file->GetWriteOffset(), 4096);
    EXPECT_EQ(file->GetWrittenEnd(), 8192);
    EXPECT_EQ(file->GetFileSize(), kMiB);
    EXPECT_EQ(file->GetFileName(), "20240101132507.kvthdt");
}

TEST_F(DataFileTest, ALongChannelIdIsCutTo68BytesWithoutNul) {
    const std::string id(70, 'c');
    auto file = Make();
    ASSERT_TRUE(file->Create(id, 258, kMiB));
    const std::string bytes = Bytes();
    EXPECT_EQ(bytes.substr(8, 68), id.substr(0, 68));
    EXPECT_EQ(bytes.substr(76, 4), std::string("\x02\x01\x00\x00", 4));
}

TEST_F(DataFileTest, AOneSecondWriteEndsWithSkipAndEndRecords) {
    auto file = Created();
    auto second = FrameBuffer::Create();
    ASSERT_TRUE(Add(*second, MakeVideo(1704115507, true, 4000)));
    ASSERT_TRUE(Add(*second, MakeAudio(5000 - 4039 - 31)));
    ASSERT_EQ(second->Length(), 5000u);
    auto buffer = BufferOf({second});

    const WriteResult result = WriteNow(*file, buffer);
    ASSERT_FALSE(result.error) << result.error.message();
    EXPECT_EQ(result.bytes, 12288u);  // 5000 + pad 3192 + the end sector
    EXPECT_EQ(result.lastTime, 1704115507);
    EXPECT_EQ(file->GetWriteOffset(), 12288);
    EXPECT_EQ(file->GetWrittenEnd(), 16384);
    EXPECT_EQ(file->GetLastTime(), 1704115507);
    EXPECT_EQ(buffer->GetSeconds()[0]->indexRow.keyOffset, 4096u);

    const std::string bytes = Bytes();
    EXPECT_EQ(bytes.substr(4096, 5000),
              std::string(reinterpret_cast<const char*>(second->Data()), 5000));
    EXPECT_EQ(bytes.substr(9096, 12), Skip(3180));
    EXPECT_EQ(bytes.substr(9108, 12288 - 9108), std::string(12288 - 9108, '\0'));
    EXPECT_EQ(bytes.substr(12288, 12), kEnd);
    EXPECT_EQ(bytes.substr(12300, 4096 - 12), std::string(4096 - 12, '\0'));
}

TEST_F(DataFileTest, TwoSecondsThenAnotherWriteOverwritingTheEndRecord) {
    auto file = Created();
    auto first = SecondOf(100, 3000, true, 0x11);
    auto second = SecondOf(101, 2500, false, 0x22);
    ASSERT_FALSE(WriteNow(*file, BufferOf({first, second})).error);
    // used 5500, pad 2692: the next write starts at the end record's sector.
    EXPECT_EQ(file->GetWriteOffset(), 12288);
    EXPECT_EQ(file->GetLastTime(), 101);

    auto third = SecondOf(102, 100, true, 0x33);
    const WriteResult result = WriteNow(*file, BufferOf({third}));
    ASSERT_FALSE(result.error);
    EXPECT_EQ(result.bytes, 8192u);
    EXPECT_EQ(file->GetWriteOffset(), 16384);
    EXPECT_EQ(file->GetWrittenEnd(), 20480);

    const std::string bytes = Bytes();
    EXPECT_EQ(bytes.substr(4096 + 3000, 12).substr(0, 4), std::string("\x00\x00\x01\xA0", 4));
    EXPECT_EQ(bytes.substr(4096 + 5500, 12), Skip(2692 - 12));
    EXPECT_EQ(bytes.substr(12288, 100),
              std::string(reinterpret_cast<const char*>(third->Data()), 100));
    EXPECT_EQ(bytes.substr(12388, 12), Skip(4096 - 100 - 12));
    EXPECT_EQ(bytes.substr(16384, 12), kEnd);
}

TEST_F(DataFileTest, FinishWriteTrimsToTheWrittenEndPlusOneMiB) {
    struct Case {
        int64_t alloc;
        bool write;  // one second of 1 MiB: written end 4096 + 1 MiB + 8192
        int64_t size;
    };
    const Case cases[] = {
        {8 * kMiB, true, 2 * kMiB + 12288},
        {2 * kMiB + 12288, true, 2 * kMiB + 12288},
        {2 * kMiB + 8192, true, 2 * kMiB + 8192},
        {4 * kMiB, false, kMiB + 8192},
        {kMiB, false, kMiB},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "2024010113250" + std::to_string(index++) + ".kvthdt";
        auto file = Created(c.alloc, name);
        if (c.write) {
            ASSERT_FALSE(WriteNow(*file, BufferOf({SecondOf(1, kMiB)})).error);
        }
        EXPECT_TRUE(file->FinishWrite());
        EXPECT_EQ(std::filesystem::file_size(PathOf(name)), static_cast<uint64_t>(c.size))
            << c.alloc;
    }
}

TEST_F(DataFileTest, StartTimeComesFromTheFourteenDigitName) {
    struct Case {
        const char* stem;
        bool valid;
        int64_t time;
    };
    const Case cases[] = {
        {"20240131235959", true, 1706745599}, {"19700101000000", true, 0},
        {"20240229120000", true, 1709208000}, {"2024013123595", false, 0},
        {"202401312359590", false, 0},        {"2024013123595x", false, 0},
        {"20241331000000", false, 0},         {"20230229000000", false, 0},
        {"20240131240000", false, 0},         {"20240131236000", false, 0},
    };
    for (const Case& c : cases) {
        int64_t time = -1;
        EXPECT_EQ(DataFile::StartTimeFromName(c.stem, time), c.valid) << c.stem;
        if (c.valid) {
            EXPECT_EQ(time, c.time) << c.stem;
        }
    }
}

TEST_F(DataFileTest, OpenReadsTheNameAndGoesOnWhenAlreadyOpen) {
    Created(kMiB, "20240131235959.kvthdt")->FinishWrite();
    auto file = Make("20240131235959.kvthdt");
    ASSERT_TRUE(file->Open());
    EXPECT_EQ(file->GetStartTime(), 1706745599);
    EXPECT_EQ(file->GetFileSize(), kMiB);
    EXPECT_TRUE(file->Open());
    EXPECT_EQ(log_.Count("Already open"), 1u);
    EXPECT_TRUE(file->Close());

    Created(kMiB, "2024013123595.kvthdt")->FinishWrite();
    EXPECT_FALSE(Make("2024013123595.kvthdt")->Open());
    EXPECT_EQ(log_.Count("Invalid file name. name=2024013123595"), 1u);
    EXPECT_FALSE(Make("20240131235958.kvthdt")->Open());
    EXPECT_EQ(log_.Count("Failed to get a size of file."), 1u);
}

class DataFileReadTest : public DataFileTest {
  protected:
    // Three seconds of key and other frames, the file finished and opened.
    void SetUp() override {
        auto writer = Created();
        auto buffer = std::make_shared<WriteBuffer>(512 * 1024);
        for (int s = 0; s < 3; ++s) {
            auto second = FrameBuffer::Create();
            ASSERT_TRUE(Add(*second, MakeVideo(200 + s, false, 1500, 0x10 + s)));
            ASSERT_TRUE(Add(*second, MakeVideo(200 + s, true, 3000, 0x20 + s)));
            ASSERT_TRUE(Add(*second, MakeAudio(400)));
            ASSERT_TRUE(buffer->Append(second));
        }
        ASSERT_FALSE(WriteNow(*writer, buffer).error);
        for (const auto& second : buffer->GetSeconds())
            keyOffsets_.push_back(second->indexRow.keyOffset);
        startOfSecond2_ = 4096 + buffer->GetSeconds()[1]->startOffset;
        writer->FinishWrite();
        file_ = Make();
        ASSERT_TRUE(file_->Open());
        bytes_ = Bytes();
    }

    std::shared_ptr<ReadBuffer> Window(int64_t start, int64_t end, uint32_t size = 64 * 1024) {
        auto buffer = std::make_shared<ReadBuffer>(size);
        buffer->windowStart = start;
        buffer->windowEnd = end;
        return buffer;
    }

    std::shared_ptr<DataFile> file_;
    std::string bytes_;
    std::vector<uint64_t> keyOffsets_;
    uint64_t startOfSecond2_ = 0;
};

TEST_F(DataFileReadTest, ReadsTheSectorsAroundTheWindow) {
    auto buffer = Window(5000, 9000);
    const ReadResult result = ReadNow(*file_, buffer);
    ASSERT_FALSE(result.error);
    EXPECT_EQ(result.bytes, 8192u);
    EXPECT_TRUE(buffer->ready.load());
    EXPECT_EQ(buffer->bytesRead, 8192u);
    EXPECT_EQ(buffer->readPosition, 904u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer->Data()), 8192),
              bytes_.substr(4096, 8192));
    EXPECT_TRUE(buffer->keyFrames.empty());  // no scan asked
}

TEST_F(DataFileReadTest, ReadsNeverPassTheBufferOrTheEndOfFile) {
    // A window whose sectors the buffer cannot hold is refused, not cut.
    auto small = Window(4096, 100000, 8192);
    EXPECT_TRUE(ReadNow(*file_, small).error);
    EXPECT_TRUE(small->failed.load());
    EXPECT_FALSE(small->ready.load());
    auto fits = Window(5000, 12288, 8192);
    EXPECT_EQ(ReadNow(*file_, fits).bytes, 8192u);
    auto straddles = Window(5000, 12289, 8192);
    EXPECT_TRUE(ReadNow(*file_, straddles).error);

    const auto size = static_cast<int64_t>(bytes_.size());
    auto tail = Window(size - 100, size + 5000);
    const ReadResult atEnd = ReadNow(*file_, tail);
    ASSERT_FALSE(atEnd.error);
    EXPECT_EQ(atEnd.bytes, 4096u);
    EXPECT_EQ(tail->readPosition, 3996u);

    auto beyond = Window(size + 8192, size + 9000);
    const ReadResult past = ReadNow(*file_, beyond);
    EXPECT_FALSE(past.error);
    EXPECT_EQ(past.bytes, 0u);

    auto inverted = Window(9000, 5000);
    EXPECT_TRUE(ReadNow(*file_, inverted).error);
    EXPECT_FALSE(inverted->ready.load());
    EXPECT_TRUE(inverted->failed.load());
}

TEST_F(DataFileReadTest, ListsTheCompleteKeyFramesOfWhatWasRead) {
    auto whole = Window(4096, 4096 + 20000);
    whole->scanKeyFrames = 1;
    ASSERT_FALSE(ReadNow(*file_, whole).error);
    ASSERT_EQ(whole->keyFrames.size(), 3u);
    for (int s = 0; s < 3; ++s) {
        EXPECT_EQ(whole->keyFrames[s].keyTime, 200 + s);
        EXPECT_EQ(whole->keyFrames[s].keyOffset, keyOffsets_[s] - 4096);
    }

    // From the middle of a sector, in reverse, up to the middle of the last
    // key frame: only the one complete key frame is listed.
    auto part = Window(static_cast<int64_t>(startOfSecond2_),
                       static_cast<int64_t>(keyOffsets_[2]) + 100, 8192);
    part->reverse = 1;
    ASSERT_FALSE(ReadNow(*file_, part).error);
    EXPECT_EQ(part->readPosition, startOfSecond2_ % 4096);
    ASSERT_EQ(part->keyFrames.size(), 1u);
    EXPECT_EQ(part->keyFrames[0].keyTime, 201);
    EXPECT_EQ(part->keyFrames[0].keyOffset, keyOffsets_[1] - (startOfSecond2_ / 4096 * 4096));
}

TEST_F(DataFileTest, ARecordedFileIsNeverOverwritten) {
    {
        auto file = Created(kMiB);
        ASSERT_FALSE(WriteNow(*file, BufferOf({SecondOf(5, 3000)})).error);
        file->FinishWrite();
    }
    const std::string before = Bytes();
    auto again = Make();
    EXPECT_FALSE(again->Create("cam-2", 8, 2 * kMiB));
    EXPECT_EQ(log_.Count("the file already holds records"), 1u);
    EXPECT_EQ(Bytes(), before);
    // Its write position never existed, so nothing can be written either.
    const WriteResult result = WriteNow(*again, BufferOf({SecondOf(6, 3000)}));
    EXPECT_TRUE(result.error);
    EXPECT_EQ(Bytes(), before);
}

TEST_F(DataFileTest, AFileWithNothingPastItsHeaderIsReused) {
    Created(kMiB)->FinishWrite();  // created, never written
    auto file = Make();
    ASSERT_TRUE(file->Create("cam-2", 8, 2 * kMiB));
    EXPECT_EQ(std::filesystem::file_size(PathOf("20240101132507.kvthdt")),
              static_cast<uint64_t>(2 * kMiB));
    EXPECT_EQ(Bytes().substr(8, 5), "cam-2");

    // What a failed creation leaves behind: an empty file.
    test::WriteFile(PathOf("20240101000000.kvtldt"), "");
    auto empty = Make("20240101000000.kvtldt");
    ASSERT_TRUE(empty->Create("cam-3", 1, kMiB));
    EXPECT_EQ(std::filesystem::file_size(PathOf("20240101000000.kvtldt")),
              static_cast<uint64_t>(kMiB));
}

TEST_F(DataFileTest, AFailedWriteMovesNothing) {
    auto file = Created();
    ASSERT_FALSE(WriteNow(*file, BufferOf({SecondOf(5, 3000)})).error);
    file->FinishWrite();  // the handle is gone: the next write fails
    const WriteResult result = WriteNow(*file, BufferOf({SecondOf(6, 3000)}));
    EXPECT_TRUE(result.error);
    EXPECT_EQ(result.lastTime, 5);
    EXPECT_EQ(file->GetWriteOffset(), 8192);
    EXPECT_EQ(file->GetWrittenEnd(), 12288);
    EXPECT_EQ(log_.Count("Failed to write a data. error = "), 1u);

    const WriteResult empty = WriteNow(*file, std::make_shared<WriteBuffer>(100));
    EXPECT_TRUE(empty.error);
    EXPECT_EQ(file->GetWriteOffset(), 8192);
}

TEST_F(DataFileTest, FallsBackToBufferedAccessWhereUnbufferedIsRefused) {
    platform::ForceBufferedFiles(true);
    auto first = Created(kMiB);
    auto second = SecondOf(9, 5000);
    ASSERT_FALSE(WriteNow(*first, BufferOf({second})).error);
    first->FinishWrite();
    auto other = Created(kMiB, "20240101132508.kvthdt");
    other->FinishWrite();

    auto reader = Make();
    ASSERT_TRUE(reader->Open());
    auto buffer = std::make_shared<ReadBuffer>(16384);
    buffer->windowStart = 4096;
    buffer->windowEnd = 9096;
    buffer->scanKeyFrames = 1;
    ASSERT_FALSE(ReadNow(*reader, buffer).error);
    platform::ForceBufferedFiles(false);

    EXPECT_EQ(std::memcmp(buffer->Data(), second->Data(), 5000), 0);
    EXPECT_EQ(buffer->keyFrames.size(), 1u);
    EXPECT_EQ(Bytes().substr(83, 12), Skip(4001));
    EXPECT_EQ(Bytes().substr(9096, 12), Skip(3180));
    EXPECT_EQ(log_.Count("Unbuffered file access is refused"), 1u);
}

}  // namespace
}  // namespace orvale::recorder
