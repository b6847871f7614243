#include "recorder/recording/RecordDecisions.h"

#include <sstream>

#include "common/Log.h"
#include "platform/Time.h"

namespace orvale::recorder {
namespace {

constexpr uint64_t Key(uint32_t type, uint32_t value) {
    return (static_cast<uint64_t>(type) << 32) | value;
}

constexpr uint64_t kManualKey = Key(RECORD_MANUAL, 0);
constexpr uint64_t kUserDefinedKey = Key(RECORD_USERDEFINED, 0);

// Types that name no event of their own (continuous is the schedule's).
bool IsRefusedType(uint32_t type) {
    switch (type) {
        case 0:
        case 16:
        case 64:
        case 256:
        case 512:
        case 1024:
        case 4096:
            return true;
        default:
            return false;
    }
}

bool IsSlotGatedType(uint32_t type) {
    switch (type) {
        case RECORD_ALARM:
        case RECORD_MOTION:
        case RECORD_IV:
        case RECORD_AUDIODETECT:
        case RECORD_DEFOCUSED:
        case RECORD_FOGDETECTION:
        case RECORD_AUDIOANALYTICS:
            return true;
        default:
            return false;
    }
}

void LogUnsupported(uint32_t type) {
    OLOG(common::kLogError) << "Not Supported Record Type. type = " << type;
}

// Day of the week (0 Sunday) of 1 January of `year`, proleptic Gregorian.
int Jan1Weekday(int64_t year) {
    const int64_t y = year - 1;
    return static_cast<int>((1 + 5 * (y % 4) + 4 * (y % 100) + 6 * (y % 400)) % 7);
}

int IsoWeeksInYear(int64_t year) {
    const int jan1 = Jan1Weekday(year);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return (jan1 == 4 || (leap && jan1 == 3)) ? 53 : 52;
}

}  // namespace

std::string event_duration_s::ToString() const {
    static constexpr const char* kNames[] = {"Motion\t", "Alarm\t", "VLoss\t", "VA\t\t", "AUDIO\t"};
    std::ostringstream out;
    out << "- Duration of Event Record - \n";
    for (int slot = 0; slot < kSlotContinuous; ++slot) {
        out << kNames[slot] << ": Pre = " << slots[slot].preRecTime
            << ", Post = " << slots[slot].postRecTime << "\n";
    }
    return out.str();
}

int IsoWeekNumber(const std::tm& date) {
    const int64_t year = int64_t{date.tm_year} + 1900;
    const int isoWeekday = date.tm_wday == 0 ? 7 : date.tm_wday;  // Monday 1 .. Sunday 7
    const int week = (date.tm_yday + 1 - isoWeekday + 10) / 7;
    if (week < 1) return IsoWeeksInYear(year - 1);
    if (week > IsoWeeksInYear(year)) return 1;
    return week;
}

void MarkSecond(second_frame_info_s& second, const timeline_flags_s& flags) {
    if ((second.eventBits & RECORD_CONTINUOUS) != 0) return;
    second.eventBits |= flags.eventBits;
    second.analyticsBits |= flags.analyticsBits;
    second.audioBits |= flags.audioBits;
}

void AddEventToRecentSeconds(uint32_t preSeconds, const timeline_flags_s& flags,
                             std::span<second_frame_info_s* const> queuedOldestFirst,
                             second_frame_info_s* current) {
    uint32_t left = preSeconds;
    for (auto it = queuedOldestFirst.rbegin(); it != queuedOldestFirst.rend() && left > 0; ++it) {
        if (*it != nullptr) MarkSecond(**it, flags);
        --left;
    }
    if (current != nullptr) MarkSecond(*current, flags);
}

RecordDecisions::RecordDecisions() : schedule_(std::make_unique<media_schedule_s>()) {}

int32_t RecordDecisions::GetScheduleSlot(uint32_t type) {
    switch (type) {
        case RECORD_VIDEOLOSS:
            return kSlotVideoLoss;
        case RECORD_ALARM:
            return kSlotAlarm;
        case RECORD_CONTINUOUS:
            return kSlotContinuous;
        case RECORD_IV:
        case RECORD_DEFOCUSED:
        case RECORD_FOGDETECTION:
            return kSlotAnalytics;
        case RECORD_AUDIODETECT:
        case RECORD_AUDIOANALYTICS:
            return kSlotAudio;
        default:
            return kSlotMotion;
    }
}

bool RecordDecisions::IsHoliday(const std::tm& localDate) const {
    const int year = localDate.tm_year + 1900;
    const int month = localDate.tm_mon + 1;
    for (const media_holiday_s& holiday : holidays_) {
        if (holiday.kind == 0) {
            if (holiday.year == year && holiday.month == month &&
                holiday.day == localDate.tm_mday) {
                OLOG(common::kLogTrace) << "Today is holiday. Year =" << year
                                        << ", Month = " << month << ", Day = " << localDate.tm_mday;
                return true;
            }
        } else if (holiday.weekMonth == month && holiday.week == IsoWeekNumber(localDate) &&
                   holiday.dayOfWeek == localDate.tm_wday) {
            OLOG(common::kLogTrace)
                << "Today is holiday. Month =" << month << ", Week = " << holiday.week
                << ", DayOfWeek = " << holiday.dayOfWeek;
            return true;
        }
    }
    return false;
}

const uint8_t* RecordDecisions::SlotBytes(int64_t second) const {
    const std::tm local = platform::LocalTime(second);
    const int row = (schedule_->useHoliday && IsHoliday(local)) ? 7 : local.tm_wday;
    const int minute = local.tm_hour * 60 + local.tm_min;
    const size_t offset = (static_cast<size_t>(row) * kScheduleMinutes + minute) * kScheduleSlots;
    return schedule_->table + offset;
}

bool RecordDecisions::IsRecordingTime(int64_t second, uint8_t slots[kSlotCount]) const {
    const uint8_t* bytes = SlotBytes(second);
    bool eventAllowed = false;
    for (int slot = 0; slot < kSlotContinuous; ++slot) eventAllowed |= bytes[slot] != 0;
    const bool continuousAllowed = useContinuous_ && bytes[kSlotContinuous] != 0;
    if (eventAllowed || continuousAllowed) {
        for (int slot = 0; slot < kSlotContinuous; ++slot) slots[slot] = bytes[slot];
        slots[kSlotContinuous] = useContinuous_ ? bytes[kSlotContinuous] : 0;
        return true;
    }
    return HasOpenKey(kManualKey) || HasOpenKey(kUserDefinedKey);
}

bool RecordDecisions::IsContinuousSecond(int64_t second) const {
    uint8_t slots[kSlotCount] = {};
    return IsRecordingTime(second, slots) && slots[kSlotContinuous] != 0;
}

bool RecordDecisions::IsScheduledContinuous(int64_t second) const {
    return SlotBytes(second)[kSlotContinuous] != 0;
}

RecordDecisions::EventStart RecordDecisions::StartEvent(uint32_t type, uint32_t value,
                                                        bool momentary, int64_t currentSecond) {
    EventStart result;
    if (IsRefusedType(type)) {
        LogUnsupported(type);
        return result;
    }
    uint64_t key = Key(type, 0);
    uint64_t seconds = 0;
    if (type == RECORD_MANUAL || type == RECORD_ARB) {
        seconds = kUntilEnded;
    } else if (type == RECORD_USERDEFINED) {
        seconds = value;
    } else {
        uint8_t slots[kSlotCount] = {};
        if (!IsRecordingTime(currentSecond, slots)) {
            OLOG(common::kLogTrace) << "Dosen't be in a recording time";
            return result;
        }
        if (type == RECORD_VIDEOLOSS) {
            if (slots[kSlotVideoLoss] == 0) {
                OLOG(common::kLogTrace) << "Dosen't be in a recording time of videoloss";
                return result;
            }
            result.accepted = true;
            result.markRecent = true;
            result.preSeconds = durations_.slots[kSlotVideoLoss].preRecTime;
            result.flags.eventBits = RECORD_VIDEOLOSS;
            return result;
        }
        if (!IsSlotGatedType(type)) {
            LogUnsupported(type);
            return result;
        }
        const int32_t slot = GetScheduleSlot(type);
        if (slots[slot] == 0) {
            OLOG(common::kLogTrace) << "Dosen't be in a recording time of recordtype =" << type;
            return result;
        }
        result.markRecent = true;
        result.preSeconds = durations_.slots[slot].preRecTime;
        result.flags.eventBits = type;
        if (type == RECORD_IV) result.flags.analyticsBits = value;
        if (type == RECORD_AUDIOANALYTICS) result.flags.audioBits = value;
        key = Key(type, value);
        const uint32_t post = durations_.slots[slot].postRecTime;
        seconds = momentary ? post : (post != 0 ? kUntilEnded : 0);
    }
    if (seconds != 0) openEvents_[key] = seconds;
    result.accepted = true;
    return result;
}

uint8_t RecordDecisions::StopEvent(uint32_t type, uint32_t value) {
    uint64_t key = 0;
    uint64_t post = 0;
    if (type == RECORD_VIDEOLOSS) return 1;
    if (IsSlotGatedType(type)) {
        key = Key(type, value);
        post = durations_.slots[GetScheduleSlot(type)].postRecTime;
    } else if (type == RECORD_MANUAL || type == RECORD_ARB || type == RECORD_USERDEFINED) {
        key = Key(type, 0);
    } else {
        LogUnsupported(type);
        return 0;
    }
    const auto found = openEvents_.find(key);
    if (found != openEvents_.end()) {
        if (post != 0) {
            found->second = post;
        } else {
            openEvents_.erase(found);
        }
    }
    return 1;
}

void RecordDecisions::CollectSecondEvents(const uint8_t slots[kSlotCount],
                                          timeline_flags_s& flags) {
    if (slots[kSlotContinuous] != 0) flags.eventBits |= RECORD_CONTINUOUS;
    bool anySlot = false;
    for (int slot = 0; slot < kSlotCount; ++slot) anySlot |= slots[slot] != 0;

    for (auto it = openEvents_.begin(); it != openEvents_.end();) {
        const auto type = static_cast<uint32_t>(it->first >> 32);
        const auto value = static_cast<uint32_t>(it->first);
        uint64_t& left = it->second;
        const auto countDown = [&left] {
            if (left != kUntilEnded) --left;
        };
        if (type == RECORD_MANUAL) {
            flags.eventBits |= RECORD_MANUAL;
        } else if (type == RECORD_USERDEFINED) {
            flags.eventBits |= RECORD_USERDEFINED;
            countDown();
        } else if (type == RECORD_ARB) {
            // ARB names the whole second: bits of smaller keys are dropped.
            if (anySlot) flags.eventBits = RECORD_ARB;
        } else if (IsSlotGatedType(type)) {
            if (slots[GetScheduleSlot(type)] != 0) {
                flags.eventBits |= type;
                if (type == RECORD_IV) flags.analyticsBits |= value;
                if (type == RECORD_AUDIOANALYTICS) flags.audioBits |= value;
                countDown();
            } else {
                left = 0;
            }
        }
        it = left == 0 ? openEvents_.erase(it) : std::next(it);
    }
}

bool RecordDecisions::ResetEvents() {
    const bool manual = HasOpenKey(kManualKey);
    openEvents_.clear();
    if (manual) openEvents_[kManualKey] = kUntilEnded;
    return manual;
}

}  // namespace orvale::recorder
