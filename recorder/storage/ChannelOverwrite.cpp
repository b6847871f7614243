// Settings, removal of a channel's data and the deletion of its oldest day.
#include <algorithm>
#include <ctime>
#include <exception>
#include <filesystem>

#include "common/Log.h"
#include "common/Utility.h"
#include "platform/Time.h"
#include "recorder/storage/Channel.h"
#include "recorder/store/HourFileName.h"

namespace orvale::recorder {

namespace fs = std::filesystem;
using common::kLogDebug;
using common::kLogError;
using common::kLogInfo;

namespace {

constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 24 * kHour;

}  // namespace

void Channel::SetRetentionPeriod(uint32_t period) {
    ExclusiveLock lock(mutex_);
    OLOG(kLogInfo) << "CH[" << id_ << "], RetentionPeriod = " << period;
    retentionPeriod_.store(period);
}

uint32_t Channel::GetRetentionPeriod() const {
    return retentionPeriod_.load();
}

void Channel::SetUseOverwrite(bool useOverwrite) {
    ExclusiveLock lock(mutex_);
    OLOG(kLogInfo) << "CH[" << id_ << "], useOverwrite  = " << (useOverwrite ? 1 : 0);
    useOverwrite_.store(useOverwrite);
    overwriteMargin_.store(useOverwrite ? kOverwriteMargin : 0);
}

void Channel::RemoveAllMediaData() {
    ExclusiveLock lock(mutex_);
    OLOG(kLogInfo) << "CH[" << id_ << "], Remove All Media Data";
    Drives drives;
    recordedDrives_->Values(drives);
    for (const auto& drive : drives) {
        try {
            drive->RemoveChannel(id_);
        } catch (const std::exception& e) {
            OLOG(kLogError) << "CH[" << id_ << "], Failed to remove media data. Drive("
                            << drive->GetName() << ") Exception: " << e.what();
        }
    }
    recordedDrives_->Clear();
}

void Channel::ReleaseReservedSpace() {
    ExclusiveLock lock(mutex_);
    Drives drives;
    recordedDrives_->Values(drives);
    writableDrives_->Values(drives);
    {
        std::lock_guard current(currentMutex_);
        if (currentDrive_) drives.push_back(currentDrive_);
        currentDrive_.reset();
    }
    for (const auto& drive : drives) drive->Reservations().Release(id_);
}

void Channel::DeleteHours(const Drives& drives, int64_t from, int64_t to, int64_t& last,
                          int& removed, int& kept) {
    for (int64_t hour = from; hour < to; hour += kHour) {
        for (const auto& drive : drives) {
            const fs::path path = drive->GetHourPath(id_, hour);
            if (path.empty()) continue;
            if (folders_->IsInUse(drive->GetHourKey(id_, hour))) {
                std::error_code error;
                if (fs::exists(path, error)) ++kept;
                continue;
            }
            OLOG(kLogDebug) << "Delete Folder of firset day. Path = " << path;
            std::error_code error;
            const bool existed = fs::exists(path, error);
            drive->RemoveHour(id_, hour);
            drive->RemoveEmptyFolder(id_, hour);
            last = hour;
            if (existed) ++removed;
        }
    }
}

int64_t Channel::DeleteFirstDay(int64_t recordingTime) {
    Drives drives;
    recordedDrives_->Values(drives);
    int64_t last = 0;
    try {
        const auto span = RecordedSpan(drives);
        if (!span) return 0;
        const int64_t oldest = span->oldest;
        last = oldest;
        // The hour being recorded (that of the request) stays, and so does
        // every later one: the recorder closed its writers before it asked,
        // so the folder-in-use count no longer guards its own hour. Hours
        // from the current time on are never candidates.
        const int64_t now = clock_();
        const int64_t keepFrom = std::min(now, HourStart(recordingTime));
        int removed = 0;
        int kept = 0;
        DeleteHours(drives, oldest, std::min(oldest + kDay, keepFrom), last, removed, kept);
        // When in-use hours kept the whole day, one more day is tried, short
        // of the hour now running and of the hour being recorded.
        if (removed == 0 && kept > 0) {
            DeleteHours(drives, oldest + kDay,
                        std::min({oldest + 2 * kDay, HourStart(now), HourStart(recordingTime)}),
                        last, removed, kept);
        }
    } catch (const fs::filesystem_error& e) {
        OLOG(kLogError) << "CH[" << id_
                        << "], Failed to delete a media file. Exception: " << e.what()
                        << ", time: " << common::TimeText(last);
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Failed to delete a media file. Exception: " << e.what()
                        << ", time: " << common::TimeText(last);
    }
    return last;
}

}  // namespace orvale::recorder
