// Which seconds of one recording profile are recorded and with which timeline
// bits: the weekly schedule with its holiday row, the holiday list, the open
// events and the pre- and post-record times.
//
// A profile chunk owns one RecordDecisions and calls it under its own lock;
// the class has no lock of its own. The seconds the pre-record walk marks stay
// with the chunk: StartEvent says what to mark and AddEventToRecentSeconds
// marks the chunk's queued summaries.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "recorder/api/MediaTypes.h"
#include "recorder/store/IndexRecords.h"
#include "recorder/store/SecondFrameInfo.h"

namespace orvale::recorder {

// Record types: each is the timeline event bit it sets.
enum event_record_type_e : uint32_t {
    RECORD_VIDEOLOSS = 0x1,
    RECORD_ALARM = 0x2,
    RECORD_MOTION = 0x4,
    RECORD_MANUAL = 0x8,
    RECORD_CONTINUOUS = 0x10,
    RECORD_IV = 0x20,
    RECORD_AUDIODETECT = 0x80,
    RECORD_ARB = 0x800,
    RECORD_USERDEFINED = 0x2000,
    RECORD_DEFOCUSED = 0x4000,
    RECORD_FOGDETECTION = 0x8000,
    RECORD_AUDIOANALYTICS = 0x10000,
};

// Schedule slots, in the order of event_duration_s.
inline constexpr int kSlotMotion = 0;
inline constexpr int kSlotAlarm = 1;
inline constexpr int kSlotVideoLoss = 2;
inline constexpr int kSlotAnalytics = 3;
inline constexpr int kSlotAudio = 4;
inline constexpr int kSlotContinuous = 5;
inline constexpr int kSlotCount = kEventDurationSlots;

// ISO 8601 week number (1..53) of a calendar date.
int IsoWeekNumber(const std::tm& date);

// ORs the flags into a second's summary unless it carries CONTINUOUS.
void MarkSecond(second_frame_info_s& second, const timeline_flags_s& flags);

// The pre-record walk: marks up to `preSeconds` of the queued seconds, newest
// first (a CONTINUOUS second is skipped but counted), then the current one.
void AddEventToRecentSeconds(uint32_t preSeconds, const timeline_flags_s& flags,
                             std::span<second_frame_info_s* const> queuedOldestFirst,
                             second_frame_info_s* current);

class RecordDecisions {
  public:
    static constexpr uint64_t kUntilEnded = ~uint64_t{0};

    // What an accepted start asks the chunk to mark in its recent seconds.
    struct EventStart {
        bool accepted = false;
        bool markRecent = false;
        uint32_t preSeconds = 0;
        timeline_flags_s flags;
    };

    RecordDecisions();

    static int32_t GetScheduleSlot(uint32_t type);

    void SetSchedule(const media_schedule_s& schedule) { *schedule_ = schedule; }
    void GetSchedule(media_schedule_s& out) const { out = *schedule_; }
    void SetHolidays(const std::vector<media_holiday_s>& holidays) { holidays_ = holidays; }
    const std::vector<media_holiday_s>& Holidays() const { return holidays_; }
    void SetEventRecordDuration(const event_duration_s& durations) { durations_ = durations; }
    const event_duration_s& Durations() const { return durations_; }
    void SetUseContinuous(bool use) { useContinuous_ = use; }
    bool UseContinuous() const { return useContinuous_; }

    // Whether `second` (seconds since 1970) may be recorded; `slots` gets the
    // schedule's six slot bytes of its local minute (the caller zeroes it).
    bool IsRecordingTime(int64_t second, uint8_t slots[kSlotCount]) const;
    bool IsHoliday(const std::tm& localDate) const;
    // Recording time with the continuous slot set: the re-marking test.
    bool IsContinuousSecond(int64_t second) const;
    // The schedule's continuous slot of `second`'s minute is set, whether
    // continuous recording is used now or not.
    bool IsScheduledContinuous(int64_t second) const;

    // `currentSecond` is the chunk's current recording second.
    EventStart StartEvent(uint32_t type, uint32_t value, bool momentary, int64_t currentSecond);
    uint8_t StopEvent(uint32_t type, uint32_t value);

    // The bits of the open events and the continuous slot for a new second that
    // IsRecordingTime allowed; timed events count the second down.
    void CollectSecondEvents(const uint8_t slots[kSlotCount], timeline_flags_s& flags);

    // Forgets the open events but an open manual one; true when it was kept.
    bool ResetEvents();

    // Key (type << 32 | value) -> seconds still to mark.
    const std::map<uint64_t, uint64_t>& OpenEvents() const { return openEvents_; }

  private:
    bool HasOpenKey(uint64_t key) const { return openEvents_.count(key) != 0; }
    // The six slot bytes of `second`'s local minute (holiday row included).
    const uint8_t* SlotBytes(int64_t second) const;

    std::unique_ptr<media_schedule_s> schedule_;
    std::vector<media_holiday_s> holidays_;
    event_duration_s durations_;
    bool useContinuous_ = true;
    std::map<uint64_t, uint64_t> openEvents_;
};

}  // namespace orvale::recorder
