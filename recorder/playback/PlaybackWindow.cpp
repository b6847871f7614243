// The window of one read buffer: whole seconds of the current data file from
// a start offset forward or up to an end offset in reverse, as many as the
// buffer holds, ending where the profile must change. Windows never outgrow
// their buffer: a buffer grows (up to the largest one) for a second that
// does not fit alone. A second that fits no buffer is skipped in playback;
// it ends a backup, whose final header then says that it failed.
#include <algorithm>

#include "common/Log.h"
#include "recorder/playback/PlaybackMediaImpl.h"
#include "recorder/store/FrameRecord.h"

namespace orvale::recorder {

using common::kLogDebug;
using common::kLogError;

namespace {

// What an unaligned window may add at its two ends when read in sectors.
constexpr int64_t kPartialSectors = 2 * static_cast<int64_t>(kSectorSize);

int DualProfile(uint32_t profileType) {
    return profileType == PlaybackMediaImpl::kMainProfile ? kProfileNormal : kProfileLow;
}

}  // namespace

int64_t PlaybackMediaImpl::Room(const ReadBuffer& buffer) const {
    return static_cast<int64_t>(buffer.Capacity()) - kPartialSectors;
}

bool PlaybackMediaImpl::GrowFor(ReadBuffer& buffer, int64_t need, const char* line) {
    OLOG(kLogError) << "MID[" << mediaId_ << "], " << line << ", current max size=" << Room(buffer)
                    << ", need size=" << need;
    if (need + kPartialSectors > ReadBuffer::kMaxCapacity) {
        OLOG(kLogError) << "MID[" << mediaId_
                        << "], A second larger than any read buffer is skipped. size=" << need;
        if (backup_) secondLost_ = true;
        return false;
    }
    buffer.Resize(static_cast<uint64_t>(need + kPartialSectors));
    buffer.resized = 1;
    return true;
}

void PlaybackMediaImpl::EndWindowAt(ReadBuffer& buffer, size_t row) {
    buffer.windowEnd = static_cast<int64_t>(indexRows_[row].keyOffset);
    buffer.windowEndTime = indexRows_[row > 0 ? row - 1 : 0].keyTime;
    currentRow_ = row;
}

void PlaybackMediaImpl::MarkSwitch(ReadBuffer& buffer, int64_t switchTime, int64_t rowTime) {
    buffer.switchTime = switchTime;
    OLOG(kLogDebug) << "MID[" << mediaId_ << "], PlayableTime=" << switchTime
                    << ", IndexTime=" << rowTime << ", Current ProfileType=" << profileInUse_;
}

bool PlaybackMediaImpl::SetReadBufferOffset(ReadBuffer& buffer, int64_t offset, bool forward) {
    if (indexRows_.empty()) return false;
    buffer.switchTime = 0;
    const int64_t switchTime = backup_ ? 0 : FindSwitchTime(forward);
    return forward ? SetForwardWindow(buffer, offset, switchTime)
                   : SetReverseWindow(buffer, offset, switchTime);
}

bool PlaybackMediaImpl::SetForwardWindow(ReadBuffer& buffer, int64_t start, int64_t switchTime) {
    for (;;) {
        buffer.windowStart = start;
        const size_t current = currentRow_;
        buffer.windowStartTime = indexRows_[current].keyTime;
        bool skipped = false;
        for (size_t j = current + 1; j < indexRows_.size(); ++j) {
            const index_row_s& row = indexRows_[j];
            const int64_t distance = static_cast<int64_t>(row.keyOffset) - start;
            const bool switches = switchTime != 0 && row.keyTime >= switchTime;
            if (distance > Room(buffer)) {
                if (j > current + 1) {
                    EndWindowAt(buffer, j - 1);
                    return true;
                }
                if (!GrowFor(buffer, distance, "Resize #1")) {
                    if (backup_) return false;
                    start = static_cast<int64_t>(row.keyOffset);
                    currentRow_ = j;
                    skipped = true;
                    break;
                }
            } else if (!switches && distance < Room(buffer)) {
                continue;
            }
            if (switches) MarkSwitch(buffer, switchTime, row.keyTime);
            EndWindowAt(buffer, j);
            return true;
        }
        if (skipped) continue;
        bool again = false;
        const bool set = SetLastRowWindow(buffer, start, switchTime, again);
        if (!again) return set;
    }
}

bool PlaybackMediaImpl::SetLastRowWindow(ReadBuffer& buffer, int64_t start, int64_t switchTime,
                                         bool& again) {
    const size_t lastRow = indexRows_.size() - 1;
    const index_row_s last = indexRows_[lastRow];
    const bool isCurrent = currentRow_ == lastRow;
    if (last.end) {
        int64_t end = static_cast<int64_t>(last.endOffset);
        if (end - start > Room(buffer)) {
            if (!isCurrent) {
                EndWindowAt(buffer, lastRow);
                return true;
            }
            if (!GrowFor(buffer, end - start, "Resize #2")) {
                if (backup_) return false;
                end = start;
            }
        }
        buffer.windowEnd = end;
        buffer.windowEndTime = last.keyTime;
        if (IsSwitchAhead(switchTime, true, static_cast<int64_t>(last.endTime), last.keyTime)) {
            MarkSwitch(buffer, switchTime, last.keyTime);
        } else {
            buffer.lastWindow = 1;
        }
        return true;
    }
    if (!isCurrent) {
        EndWindowAt(buffer, lastRow);
        return true;
    }
    // The data file is still being written and its last second is next.
    if (switchTime != 0 &&
        (switchTime == last.keyTime + 1 || IsSwitchAhead(switchTime, false, 0, last.keyTime))) {
        TakeOpenRowWhole(buffer, start, "Resize #4");
        MarkSwitch(buffer, switchTime, last.keyTime);
        return true;
    }
    OLOG(kLogError) << "MID[" << mediaId_ << "], Not found end marker && read size < buffer size";
    std::vector<index_row_s> rows;
    if (reader_->GetIFrameIndex(rows) && !rows.empty() &&
        (rows.size() > indexRows_.size() || rows.back().end)) {
        OLOG(kLogDebug) << "MID[" << mediaId_ << "] Update IFRAME_INDEX";
        std::sort(rows.begin(), rows.end(),
                  [](const index_row_s& a, const index_row_s& b) { return a.keyTime < b.keyTime; });
        indexRows_ = std::move(rows);
        if (!backup_) {
            const int64_t hourTime = reader_->GetStartTime(false);
            LoadMetadata(hourTime != 0 ? hourTime : last.keyTime, indexRows_.back().keyTime);
        }
        again = true;
        return false;
    }
    if (!backup_ && !HasNextRecording()) {
        // The live edge: at speed 1 the newest second is read once the one
        // after it is written, tried once a second.
        if (buffer.retryCount != 0) return false;
        if (speed_ == 1) {
            OLOG(kLogDebug) << "MID[" << mediaId_ << "] Retry start";
            buffer.retryCount = kRetryCount;
            buffer.lastTryTime = NowNs();
            return false;
        }
    }
    TakeOpenRowWhole(buffer, start, backup_ ? "Resize #3" : "Resize #4");
    buffer.lastWindow = 1;
    return true;
}

void PlaybackMediaImpl::TakeOpenRowWhole(ReadBuffer& buffer, int64_t start, const char* line) {
    // The written part of the second ends with the end record that closes
    // every write; the walk stops there.
    const index_row_s& last = indexRows_.back();
    const int64_t keyEnd = static_cast<int64_t>(last.keyOffset) - start + kRecordHeaderSize +
                           kVideoInfoLength + last.keySize;
    if (keyEnd > Room(buffer)) GrowFor(buffer, keyEnd, line);
    buffer.windowEnd = start + Room(buffer);
    buffer.windowEndTime = last.keyTime;
}

bool PlaybackMediaImpl::SetReverseWindow(ReadBuffer& buffer, int64_t end, int64_t switchTime) {
    for (;;) {
        buffer.windowEnd = end;
        // The newest second that lies before the end.
        auto newest = static_cast<ptrdiff_t>(std::min(currentRow_, indexRows_.size() - 1));
        while (newest >= 0 && static_cast<int64_t>(indexRows_[newest].keyOffset) >= end) --newest;
        if (newest < 0) {
            buffer.windowStart = end;
            currentRow_ = 0;
            buffer.windowStartTime = buffer.windowEndTime = indexRows_[0].keyTime;
        } else {
            const int64_t alone = end - static_cast<int64_t>(indexRows_[newest].keyOffset);
            if (alone > Room(buffer) && !GrowFor(buffer, alone, "Resize #2")) {
                if (backup_) return false;
                end = static_cast<int64_t>(indexRows_[newest].keyOffset);
                currentRow_ = static_cast<size_t>(newest);
                continue;
            }
            ptrdiff_t first = newest;
            for (ptrdiff_t j = newest; j >= 0; --j) {
                if (end - static_cast<int64_t>(indexRows_[j].keyOffset) > Room(buffer)) break;
                first = j;
                if (switchTime != 0 && indexRows_[j].keyTime <= switchTime + 1) {
                    MarkSwitch(buffer, switchTime, indexRows_[j].keyTime);
                    break;
                }
            }
            buffer.windowStart = static_cast<int64_t>(indexRows_[first].keyOffset);
            buffer.windowStartTime = indexRows_[first].keyTime;
            buffer.windowEndTime = indexRows_[newest].keyTime;
            currentRow_ = static_cast<size_t>(first);
        }
        if (currentRow_ == 0 && buffer.switchTime == 0) {
            const auto file = reader_->GetCurrentDataFile();
            if (IsSwitchBehind(switchTime, file ? file->GetStartTime() : 0)) {
                MarkSwitch(buffer, switchTime, indexRows_[0].keyTime);
            } else {
                buffer.lastWindow = 1;
            }
        }
        return true;
    }
}

bool PlaybackMediaImpl::HasData(const dual_track_row_s& row, uint32_t profile) const {
    return profile == kMainProfile ? row.high : row.low;
}

int64_t PlaybackMediaImpl::FindSwitchTime(bool forward) const {
    if (dualTrackRows_.empty() || indexRows_.empty() || !reader_) return 0;
    const int64_t from = indexRows_[currentRow_].keyTime;
    const uint32_t requested = requestedProfile_ == kMainProfile ? kMainProfile : kLowProfile;
    const uint32_t other = profileInUse_ == kMainProfile ? kLowProfile : kMainProfile;
    // Where the profile in use stops while the other goes on, or, while the
    // medium plays the other profile, where the requested one is back.
    const auto wanted = [&](const dual_track_row_s& row) {
        if (requested == profileInUse_) return !HasData(row, profileInUse_) && HasData(row, other);
        return HasData(row, requested);
    };
    const auto byTime = [](const dual_track_row_s& row, int64_t time) { return row.time < time; };
    auto at = std::lower_bound(dualTrackRows_.begin(), dualTrackRows_.end(), from, byTime);
    const dual_track_row_s* found = nullptr;
    if (forward) {
        const auto hit = std::find_if(at, dualTrackRows_.end(), wanted);
        if (hit != dualTrackRows_.end()) found = &*hit;
    } else {
        if (at != dualTrackRows_.end() && at->time == from) ++at;
        const auto hit =
            std::find_if(std::make_reverse_iterator(at), dualTrackRows_.rend(), wanted);
        if (hit != dualTrackRows_.rend()) found = &*hit;
    }
    if (!found) return 0;
    return reader_->FindIndexAtProfile(found->time, forward, static_cast<int>(other));
}

bool PlaybackMediaImpl::HasNextRecording() {
    if (reader_->HasNextDataFile()) return true;
    return channel_->FindNextFileReader(mediaId_, static_cast<int32_t>(trackId_),
                                        reader_->GetEndTime(false), requestedProfile_.load(),
                                        backup_.load()) != nullptr;
}

bool PlaybackMediaImpl::IsSwitchAhead(int64_t switchTime, bool rowEnd, int64_t rowEndTime,
                                      int64_t rowTime) {
    if (!reader_ || backup_ || switchTime == 0) return false;
    const auto next = reader_->GetNextDataFile();
    const int64_t nextStart = next ? next->GetStartTime() : 0;
    int64_t playable = 0;
    if (rowEnd && rowEndTime != 0) {
        playable = rowEndTime;
    } else if (rowEnd) {
        const auto index = reader_->GetIndexFile();
        if (nextStart == 0 || !index) return false;
        playable = index->FindPreviousTrackTime(DualProfile(profileInUse_), nextStart);
    } else {
        const auto gap = std::find_if(
            dualTrackRows_.begin(), dualTrackRows_.end(), [&](const dual_track_row_s& row) {
                return row.time >= rowTime && !HasData(row, profileInUse_);
            });
        if (gap == dualTrackRows_.end()) return false;
        playable = gap->time - 1;
    }
    return playable < switchTime && (nextStart == 0 || switchTime < nextStart);
}

bool PlaybackMediaImpl::IsSwitchBehind(int64_t switchTime, int64_t fileStart) {
    if (!reader_ || switchTime == 0) return false;
    int64_t playable = 0;
    if (reader_->GetPreviousDataFile()) {
        for (auto row = dualTrackRows_.rbegin(); row != dualTrackRows_.rend(); ++row) {
            if (row->time < fileStart && HasData(*row, profileInUse_)) {
                playable = row->time;
                break;
            }
        }
    }
    return switchTime < fileStart && !(playable != 0 && playable >= switchTime);
}

bool PlaybackMediaImpl::HasDataGap(int64_t from, int64_t to) const {
    const auto byTime = [](const dual_track_row_s& row, int64_t time) { return row.time < time; };
    auto row = std::lower_bound(dualTrackRows_.begin(), dualTrackRows_.end(), from, byTime);
    for (int64_t second = from; second <= to; ++second, ++row) {
        // Seconds of another hour count as seconds without data.
        if (row == dualTrackRows_.end() || row->time != second) return true;
        if (!HasData(*row, profileInUse_)) return true;
    }
    return false;
}

}  // namespace orvale::recorder
