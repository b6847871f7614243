// The event columns of the hourly timeline table, in table order, with the
// bits that set each column when a second is written and the bit each column
// is read back into. The two directions differ on purpose: IV and
// AUDIOANALYTICS are written but never read back, and DEFOCUSED reads back as
// its analytics bit whichever bit set it. Stored files depend on this table.
#pragma once

#include <array>
#include <cstdint>

#include "recorder/store/IndexRecords.h"

namespace orvale::recorder {

enum class TimelineWord { kEvent, kAnalytics, kAudio, kNone };

struct TimelineColumn {
    const char* name;
    uint32_t eventBit;  // bits that set the column on write
    uint32_t analyticsBit;
    uint32_t audioBit;
    TimelineWord readWord;  // where the column goes on read
    uint32_t readBit;
};

inline constexpr int kTimelineFirstEventColumn = 2;  // after UTC and End

inline constexpr std::array<TimelineColumn, 30> kTimelineColumns = {{
    {"VIDEOLOSS", 0x1, 0, 0, TimelineWord::kEvent, 0x1},
    {"ALARM", 0x2, 0, 0, TimelineWord::kEvent, 0x2},
    {"MOTION", 0x4, 0, 0, TimelineWord::kEvent, 0x4},
    {"MANUAL", 0x8, 0, 0, TimelineWord::kEvent, 0x8},
    {"CONTINUOUS", 0x10, 0, 0, TimelineWord::kEvent, 0x10},
    {"IV", 0x20, 0, 0, TimelineWord::kNone, 0},
    {"AUDIODETECT", 0x80, 0, 0, TimelineWord::kEvent, 0x80},
    {"ARB", 0x800, 0, 0, TimelineWord::kEvent, 0x800},
    {"ENCRYPTED", 0x1000, 0, 0, TimelineWord::kEvent, 0x1000},
    {"USERDEFINED", 0x2000, 0, 0, TimelineWord::kEvent, 0x2000},
    {"DEFOCUSED", 0x4000, 0x200, 0, TimelineWord::kAnalytics, 0x200},
    {"FOGDETECTION", 0x8000, 0, 0, TimelineWord::kEvent, 0x8000},
    {"AUDIOANALYTICS", 0x10000, 0, 0, TimelineWord::kNone, 0},
    {"PASSING", 0, 0x1, 0, TimelineWord::kAnalytics, 0x1},
    {"ENTERING", 0, 0x2, 0, TimelineWord::kAnalytics, 0x2},
    {"EXITING", 0, 0x4, 0, TimelineWord::kAnalytics, 0x4},
    {"APPEARING", 0, 0x8, 0, TimelineWord::kAnalytics, 0x8},
    {"DISAPPEARING", 0, 0x10, 0, TimelineWord::kAnalytics, 0x10},
    {"SCENECHANGE", 0, 0x20, 0, TimelineWord::kAnalytics, 0x20},
    {"TRACKING", 0, 0x40, 0, TimelineWord::kAnalytics, 0x40},
    {"FACEDETECTION", 0, 0x80, 0, TimelineWord::kAnalytics, 0x80},
    {"NORMAL", 0, 0x100, 0, TimelineWord::kAnalytics, 0x100},
    {"INTRUSION", 0, 0x400, 0, TimelineWord::kAnalytics, 0x400},
    {"LOITERING", 0, 0x800, 0, TimelineWord::kAnalytics, 0x800},
    {"SCREAM", 0, 0, 0x1, TimelineWord::kAudio, 0x1},
    {"GUNSHOT", 0, 0, 0x2, TimelineWord::kAudio, 0x2},
    {"EXPLOSION", 0, 0, 0x4, TimelineWord::kAudio, 0x4},
    {"GLASSBREAK", 0, 0, 0x8, TimelineWord::kAudio, 0x8},
    {"TEMPERATURE", 0, 0x1000, 0, TimelineWord::kAnalytics, 0x1000},
    {"SHOCK", 0, 0x2000, 0, TimelineWord::kAnalytics, 0x2000},
}};

inline bool ColumnIsSet(const TimelineColumn& column, const timeline_flags_s& flags) {
    return (flags.eventBits & column.eventBit) != 0 ||
           (flags.analyticsBits & column.analyticsBit) != 0 ||
           (flags.audioBits & column.audioBit) != 0;
}

// The bits of each word that reading a timeline row can produce.
inline constexpr uint32_t kReadableEventBits =
    0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x80 | 0x800 | 0x1000 | 0x2000 | 0x8000;
inline constexpr uint32_t kReadableAnalyticsBits = 0x3FFF;
inline constexpr uint32_t kReadableAudioBits = 0xF;

}  // namespace orvale::recorder
