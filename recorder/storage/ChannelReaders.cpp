// The lookups of a channel's recorded hours: file readers, index and
// metadata file lists, track ids, the day test and read jobs.
//
// Every hour walk is clamped to the channel's recorded span, so a time far
// in the future or in the past costs no more than the hours that exist.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <utility>

#include "common/AsioThreadPool.h"
#include "common/Log.h"
#include "recorder/storage/Channel.h"
#include "recorder/store/HourFileName.h"

namespace orvale::recorder {

namespace fs = std::filesystem;
using common::kLogDebug;
using common::kLogError;
using common::kLogInfo;

namespace {

// Takes the shared lock, or with `busy` given only tries it (false, *busy
// set, when it is held exclusively).
bool LockShared(SharedLock& lock, bool* busy) {
    if (busy == nullptr) {
        lock.lock();
        return true;
    }
    *busy = !lock.try_lock();
    return !*busy;
}

// The finders' choice: the candidate nearest to `time` on its side.
std::function<bool(int64_t, int64_t)> NearestInDirection(int64_t time, bool forward) {
    return [time, forward](int64_t at, int64_t best) {
        if (forward) return at >= time && (best == 0 || at < best);
        return at <= time && (best == 0 || at > best);
    };
}

constexpr int64_t kHour = 3600;

bool Exists(const fs::path& path) {
    std::error_code error;
    return !path.empty() && fs::exists(path, error);
}

}  // namespace

Channel::Drives Channel::RecordedSnapshot() const {
    Drives drives;
    recordedDrives_->Values(drives);
    return drives;
}

std::optional<Channel::Span> Channel::RecordedSpan(const Drives& drives) const {
    int64_t oldest = 0;
    int64_t newest = 0;
    for (const auto& drive : drives) {
        const int64_t first = drive->GetOldestTime(id_);
        if (first > 0 && (oldest == 0 || first < oldest)) oldest = first;
        newest = std::max(newest, drive->GetNewestTime(id_));
    }
    if (oldest == 0 || newest == 0) return std::nullopt;
    return Span{oldest, newest};
}

template <class Visit>
void Channel::ForEachHour(const Drives& drives, int64_t start, int64_t end, Visit&& visit) const {
    if (end < start) return;
    const auto span = RecordedSpan(drives);
    if (!span) return;
    const int64_t last = std::min(HourStart(end), span->newest);
    for (int64_t hour = std::max(HourStart(start), span->oldest); hour <= last; hour += kHour) {
        for (const auto& drive : drives) {
            if (visit(*drive, hour)) return;
        }
    }
}

std::shared_ptr<FileReader> Channel::MakeReader(const Drive& drive, int64_t hour, int32_t trackId,
                                                uint32_t profileType) const {
    const int kind = profileType == kLowProfileType ? kProfileLow : kProfileNormal;
    return FileReader::Create(drive.GetTrackPath(id_, hour, trackId), kind, drive.GetName(),
                              pool_->IoService(), bufferPool_, folders_);
}

std::shared_ptr<FileReader> Channel::WalkReaders(uint32_t mediaId, int32_t trackId, int64_t time,
                                                 uint32_t profileType, bool forward,
                                                 const FinderRule& rule) {
    try {
        const Drives drives = RecordedSnapshot();
        const auto span = RecordedSpan(drives);
        if (!span) {
            OLOG(kLogInfo) << "MID[" << mediaId << "], No Record";
            return nullptr;
        }
        std::shared_ptr<FileReader> kept;
        int64_t best = 0;
        const int64_t first = forward ? std::max(HourStart(time), span->oldest)
                                      : std::min(HourStart(time), span->newest);
        const int64_t step = forward ? kHour : -kHour;
        for (int64_t hour = first; forward ? hour <= span->newest : hour >= span->oldest;
             hour += step) {
            for (const auto& drive : drives) {
                if (!Exists(drive->GetTrackPath(id_, hour, trackId))) continue;
                auto reader = MakeReader(*drive, hour, trackId, profileType);
                reader->SetMediaId(mediaId);
                const auto candidate = rule.candidate(*reader, hour);
                if (!candidate || !rule.take(*candidate, best) || (kept && *candidate == best)) {
                    continue;
                }
                best = *candidate;
                kept = std::move(reader);
            }
            if (best != 0) break;
        }
        return kept;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "MID[" << mediaId << "], Exception" << e.what();
        return nullptr;
    }
}

std::shared_ptr<FileReader> Channel::FindFileReader(uint32_t mediaId, uint32_t trackId,
                                                    int64_t time, uint32_t profileType,
                                                    bool forward) {
    OLOG(kLogInfo) << "MID[" << mediaId << "], FindFileReader() trackID=" << trackId
                   << ", STIME=" << time << ", ProfileType=" << profileType;
    SharedLock lock(mutex_);
    FinderRule rule;
    rule.candidate = [&](FileReader& reader, int64_t hour) -> std::optional<int64_t> {
        if (!reader.OpenIndexFile(hour) || !reader.LoadStartTime()) return std::nullopt;
        return reader.FindIndexAt(time, forward);
    };
    rule.take = NearestInDirection(time, forward);
    return WalkReaders(mediaId, static_cast<int32_t>(trackId), time, profileType, forward, rule);
}

std::shared_ptr<FileReader> Channel::FindFileReader2(uint32_t mediaId, uint32_t trackId,
                                                     int64_t time, uint32_t profileType,
                                                     bool forward) {
    OLOG(kLogInfo) << "MID[" << mediaId << "], FindFileReader2() trackID=" << trackId
                   << ", STIME=" << time;
    SharedLock lock(mutex_);
    FinderRule rule;
    rule.candidate = [&](FileReader& reader, int64_t hour) -> std::optional<int64_t> {
        if (!reader.OpenIndexFile(hour)) return std::nullopt;
        const int64_t nearest = reader.FindNearestIndex(time, forward);
        if (nearest == 0 || !reader.LoadStartTime()) return std::nullopt;
        return nearest;
    };
    rule.take = NearestInDirection(time, forward);
    return WalkReaders(mediaId, static_cast<int32_t>(trackId), time, profileType, forward, rule);
}

std::shared_ptr<FileReader> Channel::FindNextFileReader(uint32_t mediaId, int32_t trackId,
                                                        int64_t time, uint32_t profileType,
                                                        bool fixedProfile, bool* busy) {
    OLOG(kLogDebug) << "MID[" << mediaId << "], FindNextFileReader() STIME=" << time
                    << ", ProfileType=" << profileType;
    if (time < 1) return nullptr;
    SharedLock lock(mutex_, boost::defer_lock);
    if (!LockShared(lock, busy)) return nullptr;
    FinderRule rule;
    rule.candidate = [&](FileReader& reader, int64_t hour) -> std::optional<int64_t> {
        if (!reader.OpenIndexFile(hour)) return std::nullopt;
        const int64_t start = reader.GetStartTime(!fixedProfile);
        if (start == 0) return std::nullopt;
        return start;
    };
    rule.take = [&](int64_t start, int64_t best) {
        return start > time && (best == 0 || start < best);
    };
    return WalkReaders(mediaId, trackId, time, profileType, true, rule);
}

std::shared_ptr<FileReader> Channel::FindPreviousFileReader(uint32_t mediaId, int32_t trackId,
                                                            int64_t time, uint32_t profileType,
                                                            bool fixedProfile, bool* busy) {
    OLOG(kLogDebug) << "MID[" << mediaId << "], FindPreviousFileReader() STIME=" << time
                    << ", ProfileType=" << profileType;
    if (time < 1) return nullptr;
    SharedLock lock(mutex_, boost::defer_lock);
    if (!LockShared(lock, busy)) return nullptr;
    FinderRule rule;
    rule.candidate = [&](FileReader& reader, int64_t hour) -> std::optional<int64_t> {
        if (!reader.OpenIndexFile(hour)) return std::nullopt;
        const int64_t last = reader.GetLastIndexTime(!fixedProfile);
        if (last == 0 || !reader.LoadStartTime()) return std::nullopt;
        return last;
    };
    rule.take = [&](int64_t last, int64_t best) {
        return last < time && (best == 0 || last > best);
    };
    auto reader = WalkReaders(mediaId, trackId, time, profileType, false, rule);
    if (reader) {
        OLOG(kLogDebug) << "MID[" << mediaId
                        << "], FileReader EndTime:" << reader->GetLastIndexTime(!fixedProfile);
    }
    return reader;
}

bool Channel::ListIndexFiles(int32_t trackId, int64_t start, int64_t end,
                             std::list<std::shared_ptr<IndexFile>>& files) {
    SharedLock lock(mutex_);
    try {
        ForEachHour(RecordedSnapshot(), start, end, [&](const Drive& drive, int64_t hour) {
            const fs::path track = drive.GetTrackPath(id_, hour, trackId);
            if (Exists(track)) {
                files.push_back(
                    std::make_shared<IndexFile>(track / IndexFile::MakeFileName(hour), folders_));
            }
            return false;
        });
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH[" << id_ << "] Exception: " << e.what();
        return false;
    }
}

bool Channel::ListMetaDataFiles(int32_t trackId, int64_t start, int64_t end,
                                std::list<std::shared_ptr<MetaDataFile>>& files) {
    SharedLock lock(mutex_);
    try {
        ForEachHour(RecordedSnapshot(), start, end, [&](const Drive& drive, int64_t hour) {
            const fs::path track = drive.GetTrackPath(id_, hour, trackId);
            if (Exists(track)) {
                files.push_back(
                    MetaDataFile::Create(track / MetaDataFile::MakeFileName(hour), folders_));
            }
            return false;
        });
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH[" << id_ << "], Exception" << e.what();
        return false;
    }
}

bool Channel::GetTrackIds(int64_t start, int64_t end, std::set<int>& trackIds) {
    try {
        ForEachHour(RecordedSnapshot(), start, end, [&](const Drive& drive, int64_t hour) {
            drive.ListTrackIds(drive.GetHourPath(id_, hour), trackIds);
            return false;
        });
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH[" << id_ << "], Exception" << e.what();
    }
    return true;
}

bool Channel::HasRecord(int64_t start, int64_t end) {
    bool found = false;
    try {
        ForEachHour(RecordedSnapshot(), start, end, [&](const Drive& drive, int64_t hour) {
            std::set<int> tracks;
            drive.ListTrackIds(drive.GetHourPath(id_, hour), tracks);
            for (const int track : tracks) {
                IndexFile index(
                    drive.GetTrackPath(id_, hour, track) / IndexFile::MakeFileName(hour), folders_);
                // A second recorded in the low profile alone is recorded too.
                if (index.EnsureOpen() && (index.HasRecord(start, end, kProfileNormal) ||
                                           index.HasRecord(start, end, kProfileLow))) {
                    found = true;
                    return true;
                }
            }
            return false;
        });
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CH[" << id_ << "], Exception" << e.what();
    }
    return found;
}

bool Channel::ReadData(const std::string& driveName, ReadJob job) {
    const auto drive = recordedDrives_->Find(driveName);
    if (!drive) {
        OLOG(kLogError) << "CH[" << id_
                        << "], Failed to find a recording Drive. name = " << driveName;
        return false;
    }
    ReadCommandHandler::ReadCommand command;
    command.start = std::move(job);
    command.completion = [self = shared_from_this()](uint32_t queue, uint32_t error,
                                                     uint64_t bytes) {
        self->OnReadDone(queue, error, bytes);
    };
    return drive->GetReadCommandHandler()->Enqueue(id_, std::move(command));
}

void Channel::OnReadDone(unsigned /*queue*/, unsigned error, uint64_t /*bytes*/) {
    if (error != 0) OLOG(kLogError) << "CH[" << id_ << "], Failed to read a data.";
}

}  // namespace orvale::recorder
