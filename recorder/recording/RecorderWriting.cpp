// Frame input, write pacing, the writing jobs and their results, the
// metadata seconds, and the closing of the recorder's files.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include <boost/asio/post.hpp>

#include "common/Log.h"
#include "recorder/recording/DataFileSize.h"
#include "recorder/recording/MetadataXmlReader.h"
#include "recorder/recording/Recorder.h"
#include "recorder/store/HourFileName.h"

namespace orvale::recorder {

using common::kLogDebug;
using common::kLogError;
using common::kLogFatal;
using common::kLogTrace;

namespace {

bool FrameSizeValid(uint32_t size) {
    return size - 1 <= Recorder::kMaxFrameSize - 1;
}

const char* BufferText(const void* data) {
    return data == nullptr ? "nullptr" : "OK";
}

}  // namespace

// --- frame input ---

// Counts a frame input in progress for as long as it lives, so that a stop
// can wait until every push that saw the recorder running has finished.
class Recorder::PushGuard {
  public:
    explicit PushGuard(std::atomic<int>& count) : count_(count) { ++count_; }
    ~PushGuard() { --count_; }
    PushGuard(const PushGuard&) = delete;
    PushGuard& operator=(const PushGuard&) = delete;

  private:
    std::atomic<int>& count_;
};

bool Recorder::PushVideoFrame(const video_frame_header_s& header, const void* data, uint32_t size,
                              uint32_t eventFlags) {
    const PushGuard guard(pushing_);
    if (!recording_) return false;
    if (data == nullptr || !FrameSizeValid(size) || header.codec >= 0x10000) {
        OLOG(kLogError) << "CH = [" << channelId_
                        << "]Invalid Arguments frameBuffer = " << BufferText(data)
                        << ", frameSize = " << size << ", Codec = " << header.codec;
        return false;
    }
    if (!IsStorableTime(header.time)) return RefuseFrameTime(header.time);
    if (header.profile == 1) return PushProfileVideo(normal_, header, data, size, eventFlags);
    if (header.profile == 2 && useLowProfile_) {
        return PushProfileVideo(low_, header, data, size, eventFlags);
    }
    return true;
}

// A time no hour folder can name would overflow the clock arithmetic and
// make folders such as year -2147481749 or a 15-digit hour file.
bool Recorder::RefuseFrameTime(uint64_t time) {
    OLOG(kLogError) << "CH = [" << channelId_ << "]Invalid Arguments frameTime = " << time
                    << ", outside 1970-01-01 to 9999-12-31";
    return false;
}

bool Recorder::PushProfileVideo(Profile& profile, const video_frame_header_s& header,
                                const void* data, uint32_t size, uint32_t eventFlags) {
    ++profile.videoCount;
    const bool switched = header.frameType == 1 && profile.trackPending.exchange(false);
    if (switched) ApplyPendingTrack(profile);
    const auto time = static_cast<int64_t>(header.time);
    const int64_t last = profile.lastFrameTime.exchange(time);
    // The metadata of a second follows the normal profile's video, or the
    // low one's where only that recorded the second.
    if ((switched || last != time) &&
        (profile.number == 1 || !videoTracks_.TrackOf(time).has_value())) {
        videoTracks_.Note(time, profile.trackId);
    }
    // The pacer is asked before the frame goes in, so that a write falling
    // due hands over the seconds before this one: the chunk closes its arena
    // where this second begins. A job still waiting to run takes every
    // finished second anyway; the pacer is not asked meanwhile, so a write
    // that falls due then is kept for the first new second after it. A due
    // write also waits while the profile's last one is on the disk, so that
    // one buffer is filled while one is written, not a third queued between.
    const bool newSecond = last == 0 || last != time;
    if (newSecond && profile.queuedJobs == 0 && ShouldWrite(profile)) profile.handOverDue = true;
    if (newSecond && profile.handOverDue && profile.pending->Size() == 0) {
        profile.handOverDue = false;
        profile.chunk->RequestHandOver();
    }
    profile.chunk->AddVideoFrame(header, data, static_cast<int32_t>(size), eventFlags);
    if (profile.chunk->TakeHandOverReady() && profile.queuedJobs == 0) PostWrite(profile);
    if (profile.chunk->TakeArenaWanted()) PostPrepareArena(profile);
    return true;
}

void Recorder::ApplyPendingTrack(Profile& profile) {
    const int32_t trackId = trackId_;
    profile.chunk->SetTrackId(static_cast<uint32_t>(trackId));
    profile.trackId = trackId;
}

bool Recorder::PushAudioFrame(const audio_frame_header_s& header, const void* data, uint32_t size) {
    const PushGuard guard(pushing_);
    if (!recording_ || !useAudioRecord_) {
        OLOG(kLogTrace) << "CH=[" << channelId_ << "]Running : " << recording_.load()
                        << ", Use : " << useAudioRecord_.load();
        return false;
    }
    if (data == nullptr || !FrameSizeValid(size) || header.codec < 0x10000) {
        OLOG(kLogError) << "CH=[" << channelId_
                        << "]Invalid Arguments frameBuffer = " << BufferText(data)
                        << ", frameSize = " << size << ", Codec = " << header.codec;
        return false;
    }
    Profile* profile = nullptr;
    if (header.profile == 1) profile = &normal_;
    if (header.profile == 2 && useLowProfile_) profile = &low_;
    if (profile == nullptr) return true;
    ++profile->audioCount;
    profile->chunk->AddAudioFrame(header, data, static_cast<int32_t>(size));
    return true;
}

bool Recorder::ShouldWrite(Profile& profile) {
    std::lock_guard pacer(profile.pacerLock);
    return profile.pacer.OnNewSecond(NowUtc(), profile.written);
}

void Recorder::PostWrite(Profile& profile) {
    std::weak_ptr<Recorder> weak = weak_from_this();
    Profile* target = &profile;
    const uint64_t postedAfter = profile.handOvers;
    ++profile.queuedJobs;
    boost::asio::post(writeStrand_, [weak, target, postedAfter] {
        if (const auto self = weak.lock()) {
            --target->queuedJobs;
            self->WriteProfile(*target, postedAfter);
        }
    });
}

// On the pool itself, not the write strand: a writing job may be waiting for
// a file to open while the arena fills up.
void Recorder::PostPrepareArena(Profile& profile) {
    std::weak_ptr<Recorder> weak = weak_from_this();
    Profile* target = &profile;
    boost::asio::post(writeStrand_.context(), [weak, target] {
        if (const auto self = weak.lock()) target->chunk->PrepareArena();
    });
}

// --- writing jobs ---

namespace {

// Counts a buffer taken by a writing job for as long as the job has it.
class InHand {
  public:
    explicit InHand(std::atomic<uint32_t>& count) : count_(count) { ++count_; }
    ~InHand() { --count_; }
    InHand(const InHand&) = delete;
    InHand& operator=(const InHand&) = delete;

  private:
    std::atomic<uint32_t>& count_;
};

}  // namespace

// Hands every due buffer of the profile to its writer. While recording
// without pre-record, seconds of the arena still being filled wait for it to
// close, so that they go to the disk without another copy.
void Recorder::WriteProfile(Profile& profile, uint64_t postedAfter) {
    std::lock_guard lock(mainLock_);
    try {
        // Seconds whose write failed go first, in the order they came back.
        Rewrite(profile);
        const bool recording = recording_;
        const uint32_t keep = recording ? maxPreRecordSeconds_.load() : 0;
        const bool leaveOpen = recording && keep == 0;
        for (bool first = true;; first = false) {
            // Counted from before the take, so that the count never dips
            // while the seconds move from the chunk to the writer (which may
            // take a while to open).
            const InHand inHand(profile.inHand);
            std::shared_ptr<WriteBuffer> buffer = profile.chunk->TakeWriteBuffer(keep, leaveOpen);
            if (!buffer) break;
            if (buffer->GetSeconds().empty() || buffer->UsedLength() == 0) {
                // Nothing due was recorded (and no job since this one was
                // posted has written what was).
                const bool since =
                    postedAfter == kNoHandOverYet || profile.handOvers == postedAfter;
                if (first && since) PostStatus(profile.idleStatus, profile.lastSecond);
                profile.chunk->ReleaseWriteBuffer(std::move(buffer));
                if (profile.chunk->GetFinishedSecondCount() <= keep) break;
                continue;
            }
            ++profile.handOvers;
            WriteBufferOut(profile, std::move(buffer));
            // A stop hands over all it kept back at once; it waits for the
            // disk rather than queue more than a writer expects.
            if (!recording) WaitForPendingBelow(profile, kStopQueuedWrites);
        }
    } catch (const std::exception& e) {
        OLOG(kLogFatal) << "CH[" << channelId_ << "],Error: " << e.what();
    }
    WakeWaiters();
}

// One buffer to the profile's writer; false when it could not be written
// (its seconds are lost, as a failed writer request loses them).
bool Recorder::WriteBufferOut(Profile& profile, std::shared_ptr<WriteBuffer> buffer) {
    const WriteBuffer::Seconds& seconds = buffer->GetSeconds();
    const auto first = static_cast<int64_t>(seconds.front()->firstFrameTime);
    profile.lastSecond =
        std::max(profile.lastSecond.load(), static_cast<int64_t>(seconds.back()->firstFrameTime));

    bool renewed = false;
    std::shared_ptr<FileWriter> writer = WriterFor(profile, *buffer, renewed);
    if (writer && !writer->FolderExists()) {
        // A vanished folder (a removed hour, a lost drive): the seconds go to
        // the next writer the channel gives.
        PostStatus(RECORDER_STATUS_FOLDER_MISSING, first);
        CloseFiles();
        writer = WriterFor(profile, *buffer, renewed);
        if (writer && !writer->FolderExists()) {
            CloseFiles();
            writer.reset();
        }
    }
    if (!writer) {
        if (channel_->HasHealthyWritableDrive()) {
            // No space is said only when it is so: a file that could not be
            // made on a drive with room is no file alone.
            if (!channel_->HasRoomForFile(RequiredDataSize(*buffer))) {
                PostStatus(RECORDER_STATUS_NO_SPACE, first);
            }
            PostStatus(RECORDER_STATUS_NO_FILE, first);
        } else {
            // None, or every one failed lately: no drive takes the seconds.
            PostStatus(RECORDER_STATUS_NO_WRITABLE_DRIVE, first);
        }
        PostStatus(profile.idleStatus, first);
        profile.chunk->ReleaseWriteBuffer(std::move(buffer));
        return false;
    }
    if (renewed) {
        // Only a new writer clears the latches, so a failing disk reports
        // its error once instead of flapping with every hand-over.
        PostStatus(RECORDER_STATUS_WRITE_OK, profile.lastSecond);
        PostStatus(RECORDER_STATUS_SPACE_OK, profile.lastSecond);
    }
    PostStatus(profile.writtenStatus, profile.lastSecond);
    profile.pending->PushBack(buffer);
    // The completion keeps the recorder alive until its buffer is back.
    std::shared_ptr<Recorder> self = shared_from_this();
    Profile* target = &profile;
    writer->Write(buffer, [self, target, buffer, drive = writer->GetDriveName()](
                              uint32_t, int32_t errorCode, const std::string&, uint64_t, int64_t,
                              int32_t) { self->OnFileResult(*target, buffer, errorCode, drive); });
    return true;
}

bool Recorder::KeepForRewrite(Profile& profile, const std::shared_ptr<WriteBuffer>& buffer) {
    std::lock_guard lock(profile.rewriteLock);
    int& failed = profile.failedWrites[buffer.get()];
    if (++failed >= kMaxFailedWrites) {
        profile.failedWrites.erase(buffer.get());
        return false;
    }
    profile.rewrites.push_back(buffer);
    ++profile.rewriting;
    return true;
}

bool Recorder::Rewrite(Profile& profile) {
    bool any = false;
    for (;;) {
        std::shared_ptr<WriteBuffer> buffer;
        {
            std::lock_guard lock(profile.rewriteLock);
            if (profile.rewrites.empty()) return any;
            buffer = std::move(profile.rewrites.front());
            profile.rewrites.pop_front();
        }
        any = true;
        // Counted as in hand until it is pending again, so that the count of
        // buffers on their way never dips meanwhile.
        const InHand inHand(profile.inHand);
        --profile.rewriting;
        const WriteBuffer* const kept = buffer.get();
        if (!WriteBufferOut(profile, std::move(buffer))) {
            std::lock_guard lock(profile.rewriteLock);
            profile.failedWrites.erase(kept);
        }
    }
}

std::shared_ptr<FileWriter> Recorder::WriterFor(Profile& profile, const WriteBuffer& buffer,
                                                bool& renewed) {
    const auto first = static_cast<int64_t>(buffer.GetSeconds().front()->firstFrameTime);
    const auto trackId = static_cast<int32_t>(buffer.TrackId());
    std::shared_ptr<FileWriter> current;
    {
        std::lock_guard writers(writerLock_);
        current = profile.writer;
    }
    if (current && !current->HasFailed() && current->GetTrackId() == trackId &&
        ProfileChunk::IsSameHour(current->GetStartTime(), first) &&
        static_cast<int64_t>(buffer.UsedLength()) < current->GetRemainingSize()) {
        return current;
    }
    CloseWriter(profile);
    const int64_t required = RequiredDataSize(buffer);
    std::shared_ptr<FileWriter> writer =
        channel_->GetFileWriter(profile.number, trackId, first, required);
    if (!writer) {
        CloseFiles();
        // Drives that failed lately are no reason to delete recordings.
        if (channel_->HasHealthyWritableDrive()) {
            writer = channel_->GetFileWriterOverwriting(profile.number, trackId, first, required);
        }
    }
    if (!writer) return nullptr;
    std::lock_guard writers(writerLock_);
    profile.writer = writer;
    renewed = true;
    return writer;
}

int64_t Recorder::RequiredDataSize(const WriteBuffer& buffer) const {
    const WriteBuffer::Seconds& seconds = buffer.GetSeconds();
    int64_t earliest = static_cast<int64_t>(seconds.front()->firstFrameTime);
    int64_t latest = earliest;
    for (const auto& second : seconds) {
        const auto time = static_cast<int64_t>(second->firstFrameTime);
        earliest = std::min(earliest, time);
        latest = std::max(latest, time);
    }
    data_file_request_s request;
    request.bytes = static_cast<int64_t>(buffer.UsedLength());
    // Times pushed by a conversion may go backwards: the span is never 0.
    request.spannedSeconds = seconds.size() == 1 ? 1 : latest - earliest + 1;
    request.firstSecond = static_cast<int64_t>(seconds.front()->firstFrameTime);
    request.marginSeconds = 120;
    request.maxFileBytes = maxDataFileSize_;
    request.minFileBytes = kMinDataFileSize;
    return DataFileSizeFor(request);
}

void Recorder::OnFileResult(Profile& profile, const std::shared_ptr<WriteBuffer>& buffer,
                            int32_t errorCode, const std::string& drive) {
    bool rewrite = false;
    try {
        const WriteBuffer::Seconds& seconds = buffer->GetSeconds();
        const int64_t time =
            seconds.empty() ? NowUtc() : static_cast<int64_t>(seconds.front()->firstFrameTime);
        if (errorCode != 0) {
            if (!errorLatched_) {
                OLOG(kLogError) << "CH=[" << channelId_ << "], "
                                << (profile.number == 1 ? "Normal" : "Low")
                                << " File ErrorCode = " << errorCode;
            }
            PostStatus(RECORDER_STATUS_WRITE_FAILED, time);
            // The drive rests, and the seconds go to the writer the channel
            // gives next (no index row points at them yet).
            if (!drive.empty()) channel_->LeaveFailingDrive(drive);
            rewrite = KeepForRewrite(profile, buffer);
            if (!rewrite) PostStatus(profile.idleStatus, time);
        } else {
            {
                std::lock_guard lock(profile.rewriteLock);
                profile.failedWrites.erase(buffer.get());
            }
            PostStatus(RECORDER_STATUS_WRITE_OK, time);
            PostStatus(profile.writtenStatus, time);
        }
        // Back in the pool before anyone waiting for this result goes on, so
        // that the next arena reuses it; and the result's statuses are posted
        // before a stop that waited for it posts its own.
        if (!rewrite) profile.chunk->ReleaseWriteBuffer(buffer);
    } catch (const std::exception& e) {
        OLOG(kLogFatal) << "CH[" << channelId_ << "],Error: " << e.what();
    }
    profile.pending->EraseFirst(buffer);
    // A stop waiting for its writes writes these itself.
    if (rewrite && recording_) PostWrite(profile);
    WakeWaiters();
}

std::string Recorder::GetCurrentDrive() {
    std::lock_guard writers(writerLock_);
    if (normal_.writer && !normal_.writer->GetDriveName().empty()) {
        return normal_.writer->GetDriveName();
    }
    if (low_.writer) return low_.writer->GetDriveName();
    return {};
}

uint32_t Recorder::GetWriteBufferCount() {
    // Buffers on their way to the disk count from the moment a job takes
    // them. Finished seconds count as soon as they fill a buffer, whether a
    // writing job has been posted for them or not; those kept back for
    // pre-record never count. Every arena that fills is closed and a job posted for it,
    // and the arena being filled counts at most one, so once the writes under
    // way are done the count is at most 1 and a caller that stopped pushing
    // is never held. No recorder lock is taken: frame input never waits for a
    // writer being closed.
    //
    // Metadata seconds queued or being stored count as the larger of the two
    // (not added), so that a caller waiting while the count is above 1 keeps
    // each queue at about one and is let go by either once the other is idle.
    const uint32_t video = static_cast<uint32_t>(pendingNormal_.Size()) + normal_.inHand.load() +
                           normal_.rewriting.load() + normal_.chunk->WholeBuffersWaiting();
    const uint32_t meta = static_cast<uint32_t>(metaQueue_.Size()) + metaInHand_.load();
    return std::max(video, meta);
}

uint32_t Recorder::WaitWriteBufferCount(uint32_t count, uint32_t timeoutMs) {
    std::unique_lock lock(pendingMutex_);
    pendingDone_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return !recording_ || GetWriteBufferCount() <= count; });
    return GetWriteBufferCount();
}

void Recorder::WakeWaiters() {
    // Under the lock, so that no waiter misses the wake between its look at
    // the count and its wait.
    std::lock_guard lock(pendingMutex_);
    pendingDone_.notify_all();
}

void Recorder::ReleaseDrive(const std::string& drive) {
    std::lock_guard lock(mainLock_);
    bool onDrive = false;
    bool metaOnDrive = false;
    {
        std::lock_guard writers(writerLock_);
        for (const Profile* profile : {&normal_, &low_}) {
            if (profile->writer && profile->writer->GetDriveName() == drive) onDrive = true;
        }
        metaOnDrive = metaWriter_ && metaWriter_->DriveName() == drive;
    }
    if (onDrive) {
        OLOG(common::kLogInfo) << "CH=[" << channelId_ << "],  Release Drive = " << drive;
        CloseWriter(normal_);
        CloseWriter(low_);
    }
    if (metaOnDrive) DropMetaWriter();
}

// --- metadata ---

bool Recorder::PushMetaFrame(const meta_frame_header_s& header, const void* data, uint32_t size) {
    const PushGuard guard(pushing_);
    if (!recording_) return false;
    if (data == nullptr || !FrameSizeValid(size)) {
        OLOG(kLogError) << "CH=[" << channelId_
                        << "]Invalid Arguments frameBuffer = " << BufferText(data)
                        << ", frameSize = " << size;
        return false;
    }
    if (header.profile != 1) return true;
    try {
        std::shared_ptr<MetaDataFrameBuffer> finished;
        {
            std::lock_guard meta(metaLock_);
            if (header.time <= 0) return false;
            if (!IsStorableTime(header.time)) {
                return RefuseFrameTime(static_cast<uint64_t>(header.time));
            }
            ++metaCount_;
            if (!currentMeta_) {
                currentMeta_ = std::make_shared<MetaDataFrameBuffer>(trackId_.load());
                currentMeta_->Add(header, data, size);
                return true;
            }
            if (currentMeta_->Add(header, data, size)) {
                // The first frames of a second are all it keeps.
                if (currentMeta_->Frames().size() >= 3) finished = std::move(currentMeta_);
            } else {
                finished = std::move(currentMeta_);
                currentMeta_ = std::make_shared<MetaDataFrameBuffer>(trackId_.load());
                currentMeta_->Add(header, data, size);
            }
            // A later buffer of a second already queued is never written,
            // also when the queued one has been written meanwhile.
            if (finished && finished->Second() == lastQueuedMetaSecond_) finished.reset();
            if (finished) lastQueuedMetaSecond_ = finished->Second();
        }
        if (finished) QueueMetaSecond(std::move(finished));
    } catch (const std::exception& e) {
        OLOG(kLogFatal) << "CH[" << channelId_ << "], Push MetaFrame Exception = " << e.what();
    }
    return true;
}

// Never waits: a full queue (the disk or the database is behind) drops the
// new second, as frame input never waits for a disk.
void Recorder::QueueMetaSecond(std::shared_ptr<MetaDataFrameBuffer> second) {
    const int64_t time = second->Second();
    if (metaQueue_.Contains(time)) return;
    if (metaQueue_.Size() >= size_t{maxPreRecordSeconds_.load()} + 40) {
        OLOG(kLogError) << "CH=[" << channelId_ << "], metadata of second " << time
                        << " dropped: the metadata queue is full";
        PostWriteMetaData();
        return;
    }
    metaQueue_.Insert(time, std::move(second));
    PostWriteMetaData();
}

void Recorder::PostWriteMetaData() {
    std::weak_ptr<Recorder> weak = weak_from_this();
    boost::asio::post(writeStrand_, [weak] {
        if (const auto self = weak.lock()) self->WriteMetaData();
    });
}

bool Recorder::WriteMetaData() {
    std::lock_guard lock(mainLock_);
    bool written = true;
    try {
        while (written) {
            {
                // Counted from before the take, so that a caller waiting for
                // the count never sees the second neither queued nor stored.
                const InHand inHand(metaInHand_);
                auto entry = metaQueue_.PopFront();
                if (!entry) break;
                written = WriteMetaSecond(*entry->second);
            }
            WakeWaiters();
        }
    } catch (const std::exception& e) {
        OLOG(kLogFatal) << "CH[" << channelId_ << "],Error: " << e.what();
        PostStatus(RECORDER_STATUS_WRITE_FAILED, NowUtc());
        written = false;
    }
    WakeWaiters();
    return written;
}

int32_t Recorder::MetaTrackOf(const MetaDataFrameBuffer& second) const {
    return videoTracks_.TrackOf(second.Second()).value_or(second.TrackId());
}

// A second that is not stored is reported as a failed write, so a caller
// that keeps its source until the recording is safe keeps it.
bool Recorder::WriteMetaSecond(const MetaDataFrameBuffer& second) {
    MetaDataFrames kept;
    int64_t bytes = 0;
    for (const std::shared_ptr<MetaDataFrame>& frame : second.Frames()) {
        const int64_t utc = frame->utc;
        frame->BuildExtension([utc](const uint8_t* content, uint32_t length) {
            return MetadataXmlExtension(utc, content, length);
        });
        if (frame->extension.empty()) continue;
        bytes += frame->ContentSize();
        kept.push_back(frame);
    }
    if (kept.empty()) return true;
    metaBytesPerSecond_ = static_cast<uint32_t>(bytes);

    const int64_t time = second.Second();
    // A failed insert lets the drive rest and tries the writer the channel
    // gives next, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::shared_ptr<MetaDataWriter> writer = MetaWriterFor(MetaTrackOf(second), time);
        if (!writer) {
            PostStatus(RECORDER_STATUS_WRITE_FAILED, time);
            return false;
        }
        if (writer->File() && writer->File()->Insert(kept)) return true;
        OLOG(kLogError) << "CH[" << channelId_ << "], metadata of second " << time
                        << " could not be stored";
        PostStatus(RECORDER_STATUS_WRITE_FAILED, time);
        DropMetaWriter();
        if (!writer->DriveName().empty()) channel_->LeaveFailingDrive(writer->DriveName());
    }
    return true;
}

std::shared_ptr<MetaDataWriter> Recorder::MetaWriterFor(int32_t trackId, int64_t time) {
    std::shared_ptr<MetaDataWriter> writer;
    {
        std::lock_guard writers(writerLock_);
        writer = metaWriter_;
    }
    if (writer && writer->TrackId() == trackId &&
        ProfileChunk::IsSameHour(writer->StartTime(), time)) {
        return writer;
    }
    DropMetaWriter();
    const int64_t required = std::max(
        (ProfileChunk::SecondsLeftInHour(time) + 120) * kMetaBytesPerSecond, kMinDataFileSize);
    writer = channel_->GetMetaDataWriter(trackId, time, required);
    if (!writer) {
        CloseFiles();
        writer = channel_->GetMetaDataWriterOverwriting(trackId, time, required);
    }
    if (!writer) return nullptr;
    std::lock_guard writers(writerLock_);
    metaWriter_ = writer;
    return writer;
}

// --- closing ---

void Recorder::CloseFiles() {
    OLOG(kLogDebug) << "CH[" << channelId_ << "] Close File - Start";
    CloseWriter(normal_);
    CloseWriter(low_);
    DropMetaWriter();
    OLOG(kLogDebug) << "CH[" << channelId_ << "] Close File - End";
}

void Recorder::CloseWriter(Profile& profile) {
    std::shared_ptr<FileWriter> writer;
    {
        std::lock_guard writers(writerLock_);
        writer = std::move(profile.writer);
        profile.writer.reset();
    }
    if (!writer) return;
    try {
        writer->Close();
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH[" << channelId_ << "], Exception : " << e.what();
    }
}

void Recorder::DropMetaWriter() {
    std::shared_ptr<MetaDataWriter> writer;
    {
        std::lock_guard writers(writerLock_);
        writer = std::move(metaWriter_);
        metaWriter_.reset();
    }
    if (writer) writer->Close();
}

}  // namespace orvale::recorder
