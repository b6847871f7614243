// The records, enumerations and callback types that cross the engine's
// exported boundary. Records are plain values: the caller owns what it
// declares, and the engine never keeps a pointer to a record after a call.
// Field order and widths are part of the interface.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "recorder/api/Export.h"

namespace orvale::recorder {

// Record times of one event kind. eventValue is carried, never interpreted.
struct media_event_duration_s {
    int32_t eventValue = 0;
    uint32_t preRecTime = 0;
    uint32_t postRecTime = 10;
};

// One channel of the catalogue.
struct media_channel_s {
    std::string id;
    std::string extraText1;
    std::string scheduleId;
    std::string disk;  // one drive letter per record drive, in the order added
    uint32_t retentionTime = 0;
    int32_t protocol = 0;
    // The five groups and extraValue form one block that recorders take whole.
    media_event_duration_s motion;
    media_event_duration_s alarm;
    media_event_duration_s videoLoss{0, 0, 0};
    media_event_duration_s iv;
    media_event_duration_s audio;
    uint64_t extraValue = 0;
    bool audioRecord = true;
    bool arb = false;
    bool continuousOnlyForLow = false;
    bool encrypt = false;
    bool failoverStatus = false;
    std::string extraText2;
    std::string extraText3;
};

enum media_drive_type : uint32_t {
    MEDIA_DRIVE_TYPE_NONE = 0,
    MEDIA_DRIVE_TYPE_NO_ROOT_DIR = 1,
    MEDIA_DRIVE_TYPE_REMOVABLE = 2,
    MEDIA_DRIVE_TYPE_FIXED = 3,
    MEDIA_DRIVE_TYPE_REMOTE = 4,
    MEDIA_DRIVE_TYPE_CDROM = 5,
    MEDIA_DRIVE_TYPE_RAMDISK = 6,
};

enum media_drive_status_e : uint32_t {
    MEDIA_DRIVE_STATUS_NONE = 0,
    MEDIA_DRIVE_STATUS_ALLOCATE = 1,
    MEDIA_DRIVE_STATUS_RELEASE = 2,
    MEDIA_DRIVE_STATUS_SYSTEM_DISK = 4,
};

// One storage drive: its letter alone, type, status and bus type.
struct media_drive_s {
    std::string name;
    uint32_t type = MEDIA_DRIVE_TYPE_NONE;
    uint32_t status = MEDIA_DRIVE_STATUS_NONE;
    uint32_t busType = 0;

    // "drive(D), type(MEDIA_DRIVE_TYPE_FIXED), status(MEDIA_DRIVE_STATUS_ALLOCATE), "
    OSTREL_API std::string ToString() const;
};

// Space of one drive in whole MiB; all zero for an unknown drive.
struct media_drive_info_s {
    uint32_t freeMB = 0;
    uint32_t usedMB = 0;
    uint32_t totalMB = 0;
    uint32_t driveValue = 0;
    uint32_t driveFlag = 0;
};

// One interval during which a camera was disconnected.
struct media_arb_s {
    int64_t rowId = 0;
    std::string cameraId;
    int64_t disconnectTime = 0;
    int64_t reconnectTime = 0;
    int32_t trackId = 0;
    bool dstOn = false;
    bool dstOverlap = false;
};

struct media_bookmark_s {
    int32_t rowId = 0;
    std::string guid;  // id of the channel the bookmark belongs to
    int64_t startTime = 0;
    int64_t endTime = 0;
    std::string description;
    int32_t trackId = 0;
    bool lock = false;
};

enum request_bookmark_type_s : int32_t {
    REQUEST_BOOKMARK_TYPE_INSERT = 1,
    REQUEST_BOOKMARK_TYPE_UPDATE = 2,
    REQUEST_BOOKMARK_TYPE_DELETE = 3,
};

inline constexpr int kScheduleDayRows = 8;  // Sunday..Saturday, then holidays
inline constexpr int kScheduleMinutes = 1440;
inline constexpr int kScheduleSlots = 6;  // motion, alarm, vloss, va, audio, continuous
inline constexpr int kScheduleTableSize = kScheduleDayRows * kScheduleMinutes * kScheduleSlots;

// A weekly recording grid: byte [row * 8640 + minute * 6 + slot].
struct media_schedule_s {
    uint8_t table[kScheduleTableSize] = {};
    bool useHoliday = false;
};

// A holiday: a fixed date (kind 0) or month, ISO week and day of week.
struct media_holiday_s {
    int32_t kind = 0;
    int16_t year = 0;
    int16_t month = 0;
    int16_t day = 0;
    int16_t spare = 0;
    int16_t weekMonth = 0;
    int16_t week = 0;
    int32_t dayOfWeek = 0;  // Sunday 0
};

struct media_encrypt_s {
    int32_t algorithm = 0;
    int32_t type = 0;
    std::string key;  // never logged
};

struct media_raid_virtual_disk_s {
    int32_t status = 0;  // 0 "OK", 1 otherwise
    int32_t id = 0;
    int64_t value = 0;
};

struct media_raid_physical_disk_s {
    int32_t id = 0;
    int32_t status = 0;  // 0 "OK", 1 otherwise
};

struct media_raid_info_s {
    uint8_t reserved[8] = {};
    std::list<media_raid_virtual_disk_s> virtualDisks;
    std::list<media_raid_physical_disk_s> physicalDisks;
};

// The header delivered with every playback frame. The part after the common
// head depends on `kind` (1 video, 2 audio, 3 metadata). Video and audio come
// with their media bytes, metadata with its document.
//
// A backup (export) ends with exactly one final header: kind 1, backup 1,
// size 0 and no data, `mediaId` the medium's, every other field 0 except
// `video.endMarker`: 3 after a normal end (the end time or the end of the
// recording was reached), 4 when the medium could not open or read, 0 when it
// was stopped.
struct playback_media_header_s {
    uint32_t mediaId = 0;
    int32_t kind = 0;
    uint32_t value = 0;
    uint8_t backup = 0;

    struct video_s {
        int64_t time;
        int32_t width;
        int32_t height;
        int32_t codec;
        int32_t gopCount;
        uint8_t keyFrame;
        uint8_t reserved;
        int32_t endMarker;
        uint8_t responseCounter;
    };
    struct audio_s {
        uint32_t codec;
        uint32_t audioValue1;
        uint32_t audioValue2;
        uint16_t audioValue3;
        uint8_t responseCounter;
    };
    struct metadata_s {
        int32_t reserved1;
        int32_t reserved2;
    };
    union {
        video_s video;
        audio_s audio;
        metadata_s metadata;
    };

    playback_media_header_s() : video{} {}
};

// What ControlMedia asks of a playback medium.
enum playback_control_type_e : uint32_t {
    PLAYBACK_CONTROL_STOP = 0,
    PLAYBACK_CONTROL_PLAY = 1,
    PLAYBACK_CONTROL_SEEK = 3,
    PLAYBACK_CONTROL_STEP = 4,
    PLAYBACK_CONTROL_PAUSE = 5,
    PLAYBACK_CONTROL_PROFILE = 64,
    PLAYBACK_CONTROL_SESSION = 65,  // moves a medium between sessions (the engine's)
    PLAYBACK_CONTROL_PROFILE_SESSION = 66,
};

enum media_error_e : uint32_t {
    MEDIA_ERROR_NONE = 0,
    MEDIA_ERROR_OPEN_FAILED = 0x407,
    MEDIA_ERROR_TOO_MANY_MEDIA = 0x445,
    MEDIA_ERROR_BACKUP_REFUSED = 0x1051,
};

enum media_config_type_e : uint32_t {
    MEDIA_CONFIG_TYPE_DRIVE = 2,
};

// Headers that callers pass with each frame to a recorder's frame input.
struct video_frame_header_s {
    int32_t profile = 1;  // 1 normal, 2 low
    int32_t codec = 0;
    int32_t frameType = 0;  // 1 = key frame
    uint64_t time = 0;      // seconds since 1970, UTC
    uint32_t timeMs = 0;    // milliseconds, wraps
    uint16_t width = 0;
    uint16_t height = 0;
};

struct audio_frame_header_s {
    int32_t profile = 1;
    int32_t codec = 0;
    uint32_t timeMs = 0;
    uint16_t format0 = 0;
    uint32_t format1 = 0;
    uint32_t format2 = 0;
};

struct meta_frame_header_s {
    int32_t profile = 1;  // only 1 is recorded
    int64_t time = 0;     // seconds since 1970, UTC
    uint32_t timeMs = 0;
};

// Pre- and post-record seconds per record kind: motion, alarm, video loss,
// analytics, audio, continuous (eventValue is not read).
inline constexpr int kEventDurationSlots = 6;
struct event_duration_s {
    media_event_duration_s slots[kEventDurationSlots] = {{0, 0, 20}, {0, 0, 20}, {0, 0, 20},
                                                         {0, 0, 20}, {0, 0, 20}, {0, 0, 20}};
    std::string ToString() const;
};

// What a recorder reports through its event callback; the codes without a
// note only drive its status state and never reach the caller.
// RECORDER_STATUS_WRITE_FAILED reports a data write that completed with an
// error and also a metadata second that was not stored (no metadata file
// could be had, or its insert failed).
enum recorder_status_e : int32_t {
    RECORDER_STATUS_RECORDING = 1,  // reaches the caller
    RECORDER_STATUS_NORMAL_WRITTEN = 2,
    RECORDER_STATUS_LOW_WRITTEN = 3,
    RECORDER_STATUS_NOT_RECORDING = 4,  // reaches the caller
    RECORDER_STATUS_NORMAL_IDLE = 5,
    RECORDER_STATUS_LOW_IDLE = 6,
    RECORDER_STATUS_WRITE_OK = 7,
    RECORDER_STATUS_NO_WRITABLE_DRIVE = 8,  // reaches the caller
    RECORDER_STATUS_VIDEO_LOSS = 9,         // reaches the caller
    RECORDER_STATUS_FOLDER_MISSING = 10,    // reaches the caller
    RECORDER_STATUS_NO_FILE = 11,           // reaches the caller
    RECORDER_STATUS_WRITE_FAILED = 12,      // reaches the caller
    RECORDER_STATUS_SPACE_OK = 13,
    RECORDER_STATUS_NO_SPACE = 14,  // reaches the caller
};

// Which timeline bits a search keeps, per word.
struct timeline_filter_s {
    uint32_t mask0 = 0;  // event word
    uint32_t mask1 = 0;  // analytics word
    uint32_t mask2 = 0;  // audio word
};

// One stretch of seconds of one channel and track with equal event flags.
// `end` is the last second of a span closed by a second without recording
// (`closedByEnd`), otherwise the second at which other flags begin or the
// end of the search.
struct timeline_record_s {
    uint32_t flags0 = 0;  // event bits; 0x20 / 0x10000: an analytics / audio bit is set
    uint32_t flags1 = 0;  // analytics bits
    uint32_t flags2 = 0;  // audio bits
    uint32_t reserved = 0;
    int64_t start = 0;  // seconds since 1970, UTC
    int64_t end = 0;
    int32_t trackId = 0;
    std::string channelId;
    bool closedByEnd = false;
};

// (sequence id, one vector of spans per track in ascending track id)
using TimelineCallback =
    std::function<void(unsigned int, std::vector<std::vector<timeline_record_s>>&)>;

// (sequence id, year, month, 31 day flags: day 1 first, 1 when recorded)
using CalendarCallback = std::function<void(unsigned int, int, int, std::list<unsigned char>)>;
// (sequence id, start, end, the track ids recorded in [start, end] ascending)
using TrackCallback = std::function<void(unsigned int, int64_t, int64_t, std::list<int>)>;

// A point of a forensic search shape, in normalised image coordinates: x from
// -1 (left) to 1 (right), y from 1 (top) to -1 (bottom).
struct forensic_point_s {
    float x = 0;
    float y = 0;
};

// A polygon of a forensic search. An excluded area hides what lies in it from
// every rule; otherwise `flags` says what it watches: 0x1 motion inside it,
// 0x2 objects entering it, 0x4 objects leaving it (other bits are not read).
struct forensic_search_area_s {
    bool excluded = false;
    uint32_t flags = 0;
    std::list<forensic_point_s> points;
};

// A polyline of a forensic search, fired by objects crossing it: direction 1
// and 2 each select one crossing direction, 255 both; any other value lets
// no crossing fire.
struct forensic_search_line_s {
    int32_t direction = 0;
    std::list<forensic_point_s> points;
};

// One hit of a forensic search: the second of the metadata frame and what
// fired: code 41 with subCode 2 (entered an area), 4 (left an area) or 1
// (crossed a line); code 38 with subCode 0 (moved inside a motion area).
struct forensic_event_s {
    int64_t time = 0;  // seconds since 1970, UTC
    int32_t code = 0;
    int32_t subCode = 0;
    int32_t reserved = 0;
};

// (sequence id, the hits in the order of the recording)
using ForensicCallback = std::function<void(unsigned int, std::vector<forensic_event_s>)>;

// What an ARB recorder reports through its status callback, with a second
// since 1970 as the value.
enum arb_status_e : int32_t {
    ARB_STATUS_NO_FILE = 3,
    ARB_STATUS_WRITE_FAILED = 7,
    ARB_STATUS_RECORDING = 8,
    ARB_STATUS_NOT_RECORDING = 9,
    ARB_STATUS_STOPPED = 10,
    ARB_STATUS_WRITE_OK = 11,  // only clears the write-failed latch
    ARB_STATUS_FILE_OK = 12,   // only clears the no-file latch
};

// (channel id, status code, seconds since 1970)
using RecorderEventCallback = std::function<void(const std::string&, int32_t, int64_t)>;
using ConfigEventHandler = std::function<void(media_config_type_e)>;
using OpenMediaCallback = std::function<long(playback_media_header_s*, long, unsigned char*)>;
using OpenMediaResponseCallback = std::function<void(unsigned int, unsigned int)>;
using ControlMediaResponseCallback = std::function<void(unsigned int, unsigned int, unsigned char)>;
using DebugLoggerCallback =
    std::function<long(unsigned int, const std::string&, const std::string&)>;

}  // namespace orvale::recorder
