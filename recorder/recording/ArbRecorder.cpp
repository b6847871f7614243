#include "recorder/recording/ArbRecorder.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <exception>
#include <filesystem>
#include <thread>
#include <utility>

#include <boost/asio/post.hpp>

#include "common/AsioThreadPool.h"
#include "common/Log.h"
#include "recorder/playback/TimelineSearcher.h"
#include "recorder/recording/DataFileSize.h"
#include "recorder/recording/RecordDecisions.h"
#include "recorder/store/HourFileName.h"
#include "recorder/store/RecordFileInfo.h"

namespace orvale::recorder {
using common::kLogError;
using common::kLogInfo;
using common::kLogTrace;
using common::kLogWarning;

namespace {

constexpr uint32_t kMaxVideoCodec = 0xFFFF;
constexpr int64_t kFileMarginSeconds = 120;
constexpr auto kStopSettle = std::chrono::milliseconds(100);
constexpr timeline_filter_s kEveryBit{0xFFFFFFFF, 0xFFFF, 0xFFFF};

int64_t NowSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

// A frame the chunk can take: data present and a size no second exceeds,
// checked before the size enters any arithmetic.
bool FrameSizeOk(const void* data, uint32_t size) {
    return data != nullptr && size != 0 && size <= ProfileChunk::kSecondByteLimit;
}

int64_t FirstSecond(const WriteBuffer& buffer) {
    const auto& seconds = buffer.GetSeconds();
    return seconds.empty() ? NowSeconds() : static_cast<int64_t>(seconds.front()->firstFrameTime);
}

}  // namespace

ArbRecorder::ArbRecorder(std::shared_ptr<Channel> channel, int64_t maxFileBytes,
                         common::AsioThreadPool* pool)
    : pool_(pool),
      statusStrand_(pool_->IoService()),
      writeStrand_(pool_->IoService()),
      maxFileBytes_(maxFileBytes),
      channel_(std::move(channel)),
      channelId_(channel_->GetId()),
      chunk_(std::make_shared<ProfileChunk>(channelId_, kProfileArb)) {}

ArbRecorder::~ArbRecorder() = default;

bool ArbRecorder::Start(uint32_t trackId) {
    std::lock_guard lock(mutex_);
    trackId_ = trackId;
    if (started_) {
        OLOG(kLogWarning) << "CH=[" << channelId_ << "] Already Started ARB Recording ";
        return false;
    }
    started_ = true;
    lastPushSecond_ = 0;
    writing_ = writeError_ = noWriter_ = false;
    videoCount_ = audioCount_ = 0;
    chunk_->SetUseFrameTime(true);
    chunk_->RestartClock();
    chunk_->StartEvent(RECORD_ARB, 0, false);
    OLOG(kLogInfo) << "CH=[" << channelId_ << "]Started ARB Recording";
    return true;
}

void ArbRecorder::Stop(bool notify) {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "] Ready for stop ARB Recording.";
    std::lock_guard lock(mutex_);
    started_ = false;
    chunk_->Flush();
    // Lets a frame that passed the started test just before reach the chunk.
    std::this_thread::sleep_for(kStopSettle);
    chunk_->Flush();
    // Every received second is written: each run takes at least one second,
    // so the queue shrinks until it is empty.
    for (size_t queued = chunk_->GetFinishedSecondCount(); queued > 0;) {
        WriteQueuedSeconds();
        const size_t left = chunk_->GetFinishedSecondCount();
        if (left >= queued) break;
        queued = left;
    }
    chunk_->Reset();
    WaitForWrites();
    CloseWriter();
    chunk_->StopEvent(RECORD_ARB, 0);
    if (notify) ReportStatus(ARB_STATUS_STOPPED, NowSeconds());
    OLOG(kLogInfo) << "CH=[" << channelId_
                   << "]Stoped ARB Recording. ARB Last Received Record Frame : V = "
                   << videoCount_.load() << ", A = " << audioCount_.load();
    videoCount_ = audioCount_ = 0;
}

void ArbRecorder::SetRecordCallback(RecorderEventCallback callback) {
    std::lock_guard lock(mutex_);
    std::lock_guard callbackLock(callbackMutex_);
    callback_ = std::move(callback);
}

bool ArbRecorder::PushVideoFrame(const video_frame_header_s& header, const void* data,
                                 uint32_t size) {
    if (!started_) return false;
    if (!FrameSizeOk(data, size) || static_cast<uint32_t>(header.codec) > kMaxVideoCodec) {
        OLOG(kLogError) << "CH = [" << channelId_ << "]Invalid Arguments frameBuffer = "
                        << (data != nullptr ? "OK" : "nullptr") << ", frameSize = " << size
                        << ", Codec = " << header.codec;
        return false;
    }
    if (!IsStorableTime(header.time)) {
        OLOG(kLogError) << "CH = [" << channelId_
                        << "]Invalid Arguments frameTime = " << header.time
                        << ", outside 1970-01-01 to 9999-12-31";
        return false;
    }
    if (header.profile != kProfileArb) return true;
    ++videoCount_;
    chunk_->AddVideoFrame(header, data, static_cast<int32_t>(size), 0);
    const auto second = static_cast<int64_t>(header.time);
    if (lastPushSecond_.exchange(second) != second &&
        chunk_->GetFinishedSecondCount() > kSecondsPerWrite) {
        boost::asio::post(writeStrand_, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->WriteQueuedSeconds();
        });
    }
    return true;
}

bool ArbRecorder::PushAudioFrame(const audio_frame_header_s& header, const void* data,
                                 uint32_t size) {
    if (!started_ || !useAudio_) {
        OLOG(kLogTrace) << "CH=[" << channelId_ << "]Running : " << started_.load()
                        << ", Use : " << useAudio_.load();
        return false;
    }
    if (!FrameSizeOk(data, size) || static_cast<uint32_t>(header.codec) <= kMaxVideoCodec) {
        OLOG(kLogError) << "CH=[" << channelId_ << "]Invalid Arguments frameBuffer = "
                        << (data != nullptr ? "OK" : "nullptr") << ", frameSize = " << size
                        << ", Codec = " << header.codec;
        return false;
    }
    if (header.profile != kProfileArb) return true;
    ++audioCount_;
    chunk_->AddAudioFrame(header, data, static_cast<int32_t>(size));
    return true;
}

void ArbRecorder::UseAudioRecord(bool use) {
    std::lock_guard lock(mutex_);
    OLOG(kLogInfo) << "CH=[" << channelId_ << "] ARB UseAudioRecord = " << use;
    useAudio_ = use;
}

void ArbRecorder::UseEncrypt(bool use) {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "] ARB UseEncrypt = " << use;
    useEncrypt_ = use;
}

bool ArbRecorder::SetSchedule(const media_schedule_s& schedule) {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "] ARB SetSchedule";
    return chunk_->SetSchedule(schedule);
}

bool ArbRecorder::SetHoliday(const std::vector<media_holiday_s>& holidays) {
    OLOG(kLogInfo) << "CH=[" << channelId_ << "] ARB Set Holiday";
    return chunk_->SetHolidays(holidays);
}

void ArbRecorder::SetEncryptType(const media_encrypt_s& encrypt) {
    std::lock_guard lock(mutex_);
    OLOG(kLogInfo) << "CH=[" << channelId_ << "] ARB Encrypt Type = " << encrypt.type
                   << ", Algorithm = " << encrypt.algorithm;
    algorithm_ = encrypt.algorithm;
    type_ = encrypt.type;
    key_ = encrypt.key;
}

void ArbRecorder::LogFrameStatus() {
    OLOG(kLogInfo) << "CH[" << channelId_
                   << "], ARB Received Record Frame : V = " << videoCount_.exchange(0)
                   << ", A = " << audioCount_.exchange(0);
}

void ArbRecorder::GetTimeline(int64_t start, int64_t end, Timeline& out) {
    // Runs on the calling thread: the look-up never waits on the pool.
    const auto searcher =
        std::make_shared<TimelineSearcher>(1, TimelineSearcher::Channels{channel_}, nullptr);
    searcher->GetTimeline(start, end, kEveryBit, out);
}

bool ArbRecorder::IsNotRecorded(int64_t second, const Timeline& timeline) {
    for (const auto& track : timeline) {
        for (const timeline_record_s& span : track) {
            if (span.start <= second && second <= span.end) return false;
        }
    }
    return true;
}

bool ArbRecorder::DataFileNameTaken(int64_t second) const {
    Channel::Drives drives;
    channel_->GetRecordedDrives(drives);
    const std::string name = FileWriter::MakeDataFileName(second, kProfileArb);
    std::error_code error;
    return std::any_of(drives.begin(), drives.end(), [&](const std::shared_ptr<Drive>& drive) {
        const auto track = drive->GetTrackPath(channelId_, second, static_cast<int>(trackId_));
        return !track.empty() && std::filesystem::exists(track / name, error);
    });
}

std::shared_ptr<WriteBuffer> ArbRecorder::GatherSeconds() {
    auto buffer = std::make_shared<WriteBuffer>(ProfileChunk::kWriteBufferCapacity);
    Timeline timeline;
    int64_t lookedFrom = 0;
    int64_t lookedTo = -1;
    int64_t hour = 0;
    for (size_t round = 0; round < kSecondsPerWrite; ++round) {
        const auto oldest = chunk_->GetOldestSecondInfo();
        if (!oldest) break;
        const auto second = static_cast<int64_t>(oldest->firstFrameTime);
        const bool empty = buffer->GetSeconds().empty();
        // Seconds of another hour go to that hour's files; a second beyond
        // the looked-up window waits for a look-up of its own.
        if (!empty &&
            (!ProfileChunk::IsSameHour(hour, second) || second < lookedFrom || second > lookedTo)) {
            break;
        }
        if (second < lookedFrom || second > lookedTo) {
            timeline.clear();
            lookedFrom = second - kLookupMargin;
            lookedTo = second + kLookupMargin;
            GetTimeline(lookedFrom, lookedTo, timeline);
        }
        const auto frames = chunk_->PopFinishedSecond();
        if (!frames) break;
        if (oldest->eventBits == 0 || !IsNotRecorded(second, timeline) ||
            DataFileNameTaken(second)) {
            if (empty) continue;
            break;
        }
        if (empty) hour = second;
        buffer->Append(frames);
    }
    return buffer;
}

bool ArbRecorder::PrepareWriter(const WriteBuffer& buffer, int64_t first) {
    const auto bytes = static_cast<int64_t>(buffer.UsedLength());
    if (writer_ && writer_->GetTrackId() == static_cast<int32_t>(trackId_) &&
        ProfileChunk::IsSameHour(writer_->GetStartTime(), first) &&
        bytes < writer_->GetRemainingSize()) {
        return true;
    }
    CloseWriter();
    int64_t lowest = first;
    int64_t highest = first;
    for (const auto& second : buffer.GetSeconds()) {
        lowest = std::min(lowest, static_cast<int64_t>(second->firstFrameTime));
        highest = std::max(highest, static_cast<int64_t>(second->firstFrameTime));
    }
    data_file_request_s request;
    request.bytes = bytes;
    request.spannedSeconds = highest - lowest + 1;
    request.firstSecond = first;
    request.marginSeconds = kFileMarginSeconds;
    request.maxFileBytes = maxFileBytes_;
    const int64_t required = DataFileSizeFor(request);
    writer_ = channel_->GetFileWriter(kProfileArb, static_cast<int32_t>(trackId_), first, required);
    return writer_ != nullptr;
}

void ArbRecorder::WriteQueuedSeconds() {
    std::lock_guard lock(mutex_);
    try {
        const size_t queued = chunk_->GetFinishedSecondCount();
        if (queued == 0 || (started_ && queued < kSecondsPerWrite)) return;
        const std::shared_ptr<WriteBuffer> buffer = GatherSeconds();
        if (buffer->GetSeconds().empty()) return;
        buffer->SetTrackId(trackId_);
        buffer->SetProfile(kProfileArb);
        const int64_t first = FirstSecond(*buffer);
        if (!PrepareWriter(*buffer, first)) {
            PostStatus(ARB_STATUS_NO_FILE, first);
            PostStatus(ARB_STATUS_NOT_RECORDING, first);
            chunk_->ReleaseWriteBuffer(buffer);
            return;
        }
        PostStatus(ARB_STATUS_FILE_OK, 0);
        if (!writer_->FolderExists()) {
            PostStatus(ARB_STATUS_WRITE_FAILED, first);
            PostStatus(ARB_STATUS_NOT_RECORDING, first);
            CloseWriter();
            return;
        }
        PostStatus(ARB_STATUS_RECORDING, first);
        inFlight_.Add(buffer);
        writer_->Write(buffer,
                       [weak = weak_from_this()](uint32_t, int32_t errorCode, const std::string&,
                                                 uint64_t, int64_t, int32_t) {
                           if (const auto self = weak.lock()) self->OnWriteDone(errorCode);
                       });
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH=[" << channelId_ << "] ARB Error: " << e.what();
    }
}

// Runs where the writer completes: the buffer leaves `inFlight_` at once, so
// that Stop's wait does not depend on the recorder's own pool; the reports go
// to the status strand.
void ArbRecorder::OnWriteDone(int32_t errorCode) {
    try {
        const std::shared_ptr<WriteBuffer> buffer = inFlight_.PopFront();
        const int64_t first = buffer ? FirstSecond(*buffer) : NowSeconds();
        if (errorCode != 0) {
            if (!writeError_) {
                OLOG(kLogError) << "CH=[" << channelId_
                                << "], ARB Record File ErrorCode = " << errorCode;
            }
            PostStatus(ARB_STATUS_WRITE_FAILED, first);
            PostStatus(ARB_STATUS_NOT_RECORDING, first);
        } else {
            PostStatus(ARB_STATUS_WRITE_OK, 0);
            PostStatus(ARB_STATUS_RECORDING, first);
        }
        chunk_->ReleaseWriteBuffer(buffer);
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH=[" << channelId_ << "] ARB Error: " << e.what();
    }
    std::lock_guard lock(inFlightMutex_);
    writesDone_.notify_all();
}

void ArbRecorder::WaitForWrites() {
    std::unique_lock lock(inFlightMutex_);
    writesDone_.wait(lock, [this] { return inFlight_.Size() == 0; });
}

void ArbRecorder::CloseWriter() {
    if (!writer_) return;
    try {
        writer_->Close();
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH[" << channelId_ << "], Exception : " << e.what();
    }
    writer_.reset();
}

void ArbRecorder::PostStatus(int32_t code, int64_t value) {
    boost::asio::post(statusStrand_, [weak = weak_from_this(), code, value] {
        if (const auto self = weak.lock()) self->ReportStatus(code, value);
    });
}

void ArbRecorder::ReportStatus(int32_t code, int64_t value) {
    switch (code) {
        case ARB_STATUS_NO_FILE:
            if (noWriter_.exchange(true)) return;
            break;
        case ARB_STATUS_WRITE_FAILED:
            if (writeError_.exchange(true)) return;
            break;
        case ARB_STATUS_RECORDING:
            if (writing_) return;
            if (started_ && !writeError_ && !noWriter_) writing_ = true;
            break;
        case ARB_STATUS_NOT_RECORDING:
            if (!writing_.exchange(false)) return;
            break;
        case ARB_STATUS_WRITE_OK:
            writeError_ = false;
            return;
        case ARB_STATUS_FILE_OK:
            noWriter_ = false;
            return;
        default:
            break;
    }
    RecorderEventCallback callback;
    {
        std::lock_guard lock(callbackMutex_);
        callback = callback_;
    }
    if (callback) callback(channelId_, code, value);
}

}  // namespace orvale::recorder
