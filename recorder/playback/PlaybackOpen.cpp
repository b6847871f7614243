// Where the next read buffer of a playback medium reads: the hour and data
// file of a time, the next or previous data file or hour when a window ended
// at the end of its file, and the posting of the read to the reader's drive.
#include <algorithm>
#include <utility>

#include "common/Log.h"
#include "recorder/playback/PlaybackMediaImpl.h"
#include "recorder/store/DataFile.h"

namespace orvale::recorder {

using common::kLogError;
using common::kLogFatal;

namespace {

uint32_t ProfileTypeOf(const FileReader& reader) {
    return reader.GetProfile() == kProfileNormal ? PlaybackMediaImpl::kMainProfile
                                                 : PlaybackMediaImpl::kLowProfile;
}

// The last second of an hour in which anything was recorded; 0 when none.
int64_t LastRecordedSecond(const std::vector<dual_track_row_s>& rows) {
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        if (row->high || row->low) return row->time;
    }
    return 0;
}

// Whether the seconds a data file begins with were stored again in another
// file of the hour (a conversion run again), whose rows now name them: the
// file is then played from its first own row, not from its first byte.
bool LeadStoredElsewhere(const FileReader& reader, const index_row_s& firstRow) {
    const auto file = reader.GetCurrentDataFile();
    const auto index = reader.GetIndexFile();
    index_row_s row;
    if (!file || !index ||
        !index->FindIndexRow(reader.GetProfile(), row, file->GetStartTime(), true)) {
        return false;
    }
    return row.keyTime < firstRow.keyTime && row.name != file->GetFileName();
}

}  // namespace

bool PlaybackMediaImpl::OpenMediaInternal(int64_t time) {
    const std::shared_ptr<ReadBuffer>& buffer = readBuffers_.back();
    buffer->mediaId = mediaId_;
    bool positioned = false;
    if (!reader_) {
        positioned = OpenFirst(*buffer, time);
    } else if (buffer->lastWindow != 0) {
        positioned = buffer->reverse != 0 ? OpenPrevious(*buffer) : OpenNext(*buffer);
    } else if (indexRows_.empty()) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "], IFRAME_INDEX is zero. #4";
    } else {
        positioned = SetReadBufferOffset(
            *buffer, static_cast<int64_t>(indexRows_[currentRow_].keyOffset), buffer->reverse == 0);
        if (!positioned && buffer->retryCount == 0) {
            OLOG(kLogFatal) << "MID[" << mediaId_ << "], SetReadBufferOffset() failed. #4";
        }
    }
    return positioned && PostRead(readBuffers_.back());
}

bool PlaybackMediaImpl::OpenFirst(ReadBuffer& buffer, int64_t time) {
    if (time < 1) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "], Start time=" << time;
        return false;
    }
    const bool forward = buffer.reverse == 0;
    const uint32_t requested = requestedProfile_.load();
    auto reader = backup_ ? channel_->FindFileReader(mediaId_, trackId_, time, requested, forward)
                          : channel_->FindFileReader2(mediaId_, trackId_, time, requested, forward);
    if (!reader) {
        OLOG(kLogError) << "MID[" << mediaId_ << "], Not found file reader";
        return false;
    }
    reader_ = reader;
    profileInUse_ = ProfileTypeOf(*reader);
    const int64_t keyTime = reader->FindIndexAt(time, forward);
    if (!backup_) {
        std::vector<dual_track_row_s> dual;
        if (!LoadDualTrackRows(*reader, dual)) return false;
        dualTrackRows_ = std::move(dual);
    }
    if (!reader->OpenDataFileAt(time, forward)) {
        OLOG(kLogError) << "MID[" << mediaId_ << "], Not found data file.";
        return false;
    }
    currentRow_ = 0;
    if (!LoadIndexRows("IFRAME_INDEX is zero.")) return false;
    if (backup_ && endTime_ < keyTime) return false;  // nothing of the range is recorded
    const auto row = std::find_if(indexRows_.begin(), indexRows_.end(),
                                  [keyTime](const index_row_s& r) { return r.keyTime == keyTime; });
    if (row == indexRows_.end()) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "], Failed to start index.";
        return false;
    }
    currentRow_ = static_cast<size_t>(row - indexRows_.begin());
    if (!backup_) {
        const int64_t hourTime = reader->GetStartTime(false);
        if (reader->OpenMetaDataFile(hourTime != 0 ? hourTime : keyTime)) {
            LoadMetadata(keyTime, indexRows_.back().keyTime);
        }
    }
    bool positioned = false;
    if (forward) {
        positioned = SetReadBufferOffset(buffer, static_cast<int64_t>(row->keyOffset), true);
    } else {
        buffer.pass = 1;
        positioned = SetReadBufferOffset(buffer, RowEnd(currentRow_, buffer), false);
    }
    if (!positioned && buffer.retryCount == 0) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "], SetReadBufferOffset() failed.";
    }
    return positioned;
}

bool PlaybackMediaImpl::OpenPrevious(ReadBuffer& buffer) {
    const int64_t leftHour = reader_->GetStartTime(false);
    bool newHour = false;
    bool changed = false;
    if (!reader_->OpenPreviousDataFile()) {
        auto previous = channel_->FindPreviousFileReader(mediaId_, static_cast<int32_t>(trackId_),
                                                         leftHour, requestedProfile_.load(),
                                                         backup_.load(), ChannelBusyFlag());
        if (!previous) {
            if (!channelBusy_)
                OLOG(kLogError) << "MID[" << mediaId_ << "], Not found file reader. #3";
            return false;
        }
        if (!previous->OpenDataFileAt(0, false)) {
            OLOG(kLogError) << "MID[" << mediaId_ << "], Not found data file. #3";
            return false;
        }
        std::vector<dual_track_row_s> dual;
        if (!LoadDualTrackRows(*previous, dual)) return false;
        const uint32_t profile = ProfileTypeOf(*previous);
        changed = profile != profileInUse_;
        profileInUse_ = profile;
        reader_ = std::move(previous);
        dualTrackRows_ = std::move(dual);
        newHour = true;
    }
    buffer.lastWindow = 0;
    // Continuity means nothing across a change of profile or a gap between
    // the hours.
    if (newHour && (changed || LastRecordedSecond(dualTrackRows_) < leftHour - 1)) buffer.pass = 1;
    if (!LoadIndexRows("IFRAME_INDEX is zero. #3")) return false;
    currentRow_ = indexRows_.size() - 1;
    if (!SetReadBufferOffset(buffer, RowEnd(currentRow_, buffer), false)) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "], SetReadBufferOffset() failed. #3";
        return false;
    }
    return true;
}

bool PlaybackMediaImpl::OpenNext(ReadBuffer& buffer) {
    bool changed = false;
    bool newHour = false;
    if (!reader_->OpenNextDataFile()) {
        auto next = channel_->FindNextFileReader(
            mediaId_, static_cast<int32_t>(trackId_), reader_->GetEndTime(false),
            requestedProfile_.load(), backup_.load(), ChannelBusyFlag());
        if (!next) {
            if (!channelBusy_)
                OLOG(kLogError) << "MID[" << mediaId_ << "], Not found file reader. #2";
            return false;
        }
        if (!next->OpenDataFileAt(0, true)) {
            OLOG(kLogError) << "MID[" << mediaId_ << "], Not found data file. #2";
            return false;
        }
        const uint32_t profile = ProfileTypeOf(*next);
        if (!backup_) {
            std::vector<dual_track_row_s> dual;
            if (!LoadDualTrackRows(*next, dual)) return false;
            dualTrackRows_ = std::move(dual);
            changed = profile != profileInUse_;
        }
        profileInUse_ = profile;
        reader_ = std::move(next);
        newHour = true;
    }
    buffer.lastWindow = 0;
    currentRow_ = 0;
    if (!LoadIndexRows("IFRAME_INDEX is zero. #2")) return false;
    if (!backup_) {
        const int64_t hourTime = reader_->GetStartTime(false);
        const bool metadata =
            !newHour || reader_->OpenMetaDataFile(hourTime != 0 ? hourTime : indexRows_[0].keyTime);
        if (metadata) LoadMetadata(indexRows_.front().keyTime, indexRows_.back().keyTime);
    }
    const int64_t start = changed || LeadStoredElsewhere(*reader_, indexRows_.front())
                              ? static_cast<int64_t>(indexRows_.front().keyOffset)
                              : DataFile::kDataStart;
    if (!SetReadBufferOffset(buffer, start, true)) {
        if (buffer.retryCount == 0) {
            OLOG(kLogFatal) << "MID[" << mediaId_ << "], SetReadBufferOffset() failed. #2";
        }
        return false;
    }
    return true;
}

bool PlaybackMediaImpl::LoadIndexRows(const char* zeroLine) {
    std::vector<index_row_s> rows;
    if (!reader_->GetIFrameIndex(rows) || rows.empty()) {
        OLOG(kLogFatal) << "MID[" << mediaId_ << "], " << zeroLine;
        return false;
    }
    std::sort(rows.begin(), rows.end(),
              [](const index_row_s& a, const index_row_s& b) { return a.keyTime < b.keyTime; });
    indexRows_ = std::move(rows);
    return true;
}

bool PlaybackMediaImpl::LoadDualTrackRows(FileReader& reader, std::vector<dual_track_row_s>& rows) {
    if (!reader.GetDualTrackInfos(rows)) {
        OLOG(kLogError) << "MID[" << mediaId_ << "], Not found dual track info";
        return false;
    }
    std::sort(rows.begin(), rows.end(),
              [](const dual_track_row_s& a, const dual_track_row_s& b) { return a.time < b.time; });
    return true;
}

void PlaybackMediaImpl::LoadMetadata(int64_t from, int64_t to) {
    const auto file = reader_ ? reader_->GetMetaDataFile() : nullptr;
    if (!file) return;
    // What was delivered stays delivered.
    if (deliveredOnce_ && position_ != 0) from = std::max(from, position_ + 1);
    while (!metadata_.empty() && metadata_.back()->utc >= from) metadata_.pop_back();
    MetaDataFrames rows;
    if (from <= to) file->Read(from, to, rows);
    for (auto& row : rows) metadata_.push_back(std::move(row));
}

int64_t PlaybackMediaImpl::RowEnd(size_t row, const ReadBuffer& buffer) const {
    if (row + 1 < indexRows_.size()) return static_cast<int64_t>(indexRows_[row + 1].keyOffset);
    const index_row_s& last = indexRows_[row];
    if (last.end) return static_cast<int64_t>(last.endOffset);
    // A file still being written: as far as the buffer reaches.
    return static_cast<int64_t>(last.keyOffset) + Room(buffer);
}

bool PlaybackMediaImpl::PostRead(const std::shared_ptr<ReadBuffer>& buffer) {
    if (!reader_) {
        OLOG(kLogError) << "MID[" << mediaId_ << "], Not found recordfile";
        return false;
    }
    buffer->profile = static_cast<int32_t>(profileInUse_);
    buffer->scanKeyFrames = 1;
    if (buffer->windowEnd <= buffer->windowStart) {
        // Nothing to read (a second too large for any buffer was skipped).
        buffer->readPosition = 0;
        buffer->bytesRead = 0;
        buffer->keyFrames.clear();
        buffer->ready = true;
        return true;
    }
    reader_->QueueRead(buffer);
    const std::shared_ptr<FileReader> reader = reader_;
    const std::shared_ptr<ReadSignal> signal = readSignal_;
    const bool posted = channel_->ReadData(
        reader->GetDriveName(), [reader, signal](unsigned queue, ReadCommandHandler::Done done) {
            reader->OnReadCommand(queue, [signal, done = std::move(done)](
                                             uint32_t q, uint32_t error, uint64_t bytes) {
                { std::lock_guard lock(signal->mutex); }
                signal->landed.notify_all();
                done(q, error, bytes);
            });
        });
    if (!posted) reader->CancelRead(buffer);
    return posted;
}

}  // namespace orvale::recorder
