// The interfaces of the objects the engine hands out. The engine owns every
// object behind them; the caller gives each back through the matching delete
// method of MediaRecorder and never deletes one itself.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "recorder/api/Export.h"
#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {

// One camera channel's recording. Frame input may come from any thread;
// the recorder is stopped when handed out and reports through the event
// callback (recorder_status_e) from one of the engine's threads.
class OSTREL_API IRecorder {
  public:
    virtual std::string GetChannelId() = 0;
    virtual bool IsRecording() = 0;
    virtual bool StartRecording() = 0;
    // Writes what it holds and closes its files; returns once the callback
    // has heard every status of those writes (unless called from the
    // callback), so a caller may decide about its sources right after.
    virtual void StopRecording() = 0;
    virtual void SetEventCallback(RecorderEventCallback callback) = 0;
    virtual bool UseArb() = 0;
    virtual media_channel_s GetMediaChannel() = 0;
    virtual void SetMediaChannel(const media_channel_s& channel) = 0;
    virtual bool UseLowProfile() = 0;
    virtual std::string GetScheduleId() = 0;
    virtual bool SetSchedule(std::string& scheduleId, const media_schedule_s& schedule,
                             const std::vector<media_holiday_s>& holidays) = 0;
    virtual bool SetEventRecordDuration(const event_duration_s& durations) = 0;
    // 0 when taken; 0xFFFF when not recording or refused; 1063 while a
    // manual recording finds no space.
    virtual uint16_t NotifyEvent(int32_t type, int32_t value, bool flag) = 0;
    virtual uint16_t NotifyEventEnd(int32_t type, int32_t value) = 0;
    // Each frame's own time becomes its recording second.
    virtual void SetUseFrameTime(bool use) = 0;
    // False for a frame refused as invalid, a frame time outside 1970-01-01
    // to 9999-12-31 (UTC) included, and while not recording.
    virtual bool PushVideoFrame(const video_frame_header_s& header, const void* data, uint32_t size,
                                uint32_t eventFlags) = 0;
    virtual bool PushAudioFrame(const audio_frame_header_s& header, const void* data,
                                uint32_t size) = 0;
    // Never waits: a finished second that finds the metadata queue full is
    // dropped (a caller that must lose none waits on the write buffer count).
    virtual bool PushMetaFrame(const meta_frame_header_s& header, const void* data,
                               uint32_t size) = 0;
    virtual std::string GetCurrentDrive() = 0;
    // Bits per second of one profile (2 = low), metadata included.
    virtual uint32_t GetBitrate(int32_t profile) = 0;
    // Normal-profile write buffers on their way to the disk, plus its
    // finished seconds not yet taken by a write, as whole buffers (seconds
    // kept back for pre-record never count); or, when larger, the metadata
    // seconds queued or being stored. A caller that holds back its frames
    // while this is above 1 is always let go by the writes under way.
    virtual uint32_t GetWriteBufferCount() = 0;
    // Waits until GetWriteBufferCount is at most `count`, the recorder stops,
    // or `timeoutMs` pass; answers the count then. Wakes as writes complete.
    virtual uint32_t WaitWriteBufferCount(uint32_t count, uint32_t timeoutMs) = 0;

  protected:
    virtual ~IRecorder() = default;
};

// Back-fill of one channel with frames that arrive late, each carrying its
// own time: only the seconds the channel's recording lacks are written.
// Frame input may come from any thread; status reports (arb_status_e) come
// from one of the engine's threads.
class OSTREL_API IArbRecorder {
  public:
    virtual bool IsStarted() = 0;
    virtual bool Start(uint32_t trackId) = 0;
    // Writes every frame received so far, then stops; with `notify` the
    // callback hears ARB_STATUS_STOPPED.
    virtual void Stop(bool notify) = 0;
    virtual void SetRecordCallback(RecorderEventCallback callback) = 0;
    // Only frames of profile 3 are recorded; others are taken and ignored.
    virtual bool PushVideoFrame(const video_frame_header_s& header, const void* data,
                                uint32_t size) = 0;
    virtual bool PushAudioFrame(const audio_frame_header_s& header, const void* data,
                                uint32_t size) = 0;

  protected:
    virtual ~IArbRecorder() = default;
};

// One channel and track played back to one caller. Answers to OpenMedia and
// ControlMedia come through their response callbacks (0 or a media_error_e),
// one per tick of the engine's playback timer, except STOP, which is answered
// inside ControlMedia; frames come through the data callback of OpenMedia.
// Both happen on an engine thread (a backup on a worker thread) with the
// medium's lock held; a callback may control the medium and may delete it
// through MediaRecorder::DeletePlaybackMedia.
class OSTREL_API PlaybackMedia {
  public:
    virtual std::string GetChannelId() = 0;
    virtual bool IsOpened() = 0;
    virtual void Stop() = 0;
    // speed: negative plays in reverse; profileType 4 the main profile, any
    // other value the low one. Always true: the outcome goes to `response`.
    virtual bool OpenMedia(int seqID, int64_t start, int64_t end, int speed, bool pause,
                           bool backup, unsigned profileType, OpenMediaCallback data,
                           OpenMediaResponseCallback response) = 0;
    // controlType: a playback_control_type_e value. Always true.
    virtual bool ControlMedia(int seqID, unsigned controlType, int64_t time, int speed,
                              unsigned profileType, ControlMediaResponseCallback response) = 0;

  protected:
    virtual ~PlaybackMedia() = default;
};

// The days of a month on which a set of channels recorded anything. A search
// answers once, through the callback, on one of the engine's threads.
class OSTREL_API ICalendarSearcher {
  public:
    // True once the search is queued (false only when the engine could not
    // queue it). Days are the local calendar days of the process's time
    // zone. A month outside 1..12 or a year outside 1400..10000 is answered
    // with 31 zeros.
    virtual bool Search(int year, int month, CalendarCallback callback) = 0;

  protected:
    virtual ~ICalendarSearcher() = default;
};

// The event spans of a set of channels per track. A search answers once,
// through the callback, on one of the engine's threads.
class OSTREL_API ITimelineSearcher {
  public:
    // Always true; the answer comes later, also when it is empty.
    virtual bool Search(int64_t start, int64_t end, const timeline_filter_s& filter,
                        TimelineCallback callback) = 0;

  protected:
    virtual ~ITimelineSearcher() = default;
};

// The track ids recorded in a time range over every channel the engine knew
// when the searcher was made. A search answers once, through the callback,
// on one of the engine's threads.
class OSTREL_API ITrackSearcher {
  public:
    // True once the search is queued, as for the calendar; times are
    // seconds since 1970, UTC.
    virtual bool Search(int64_t start, int64_t end, TrackCallback callback) = 0;

  protected:
    virtual ~ITrackSearcher() = default;
};

// A forensic motion search over one channel: the object boxes stored with a
// track's metadata in a time range are replayed through the motion rule
// library against the caller's areas and lines, and every hit is answered.
//
// Each accepted search answers exactly once, through the callback, on one of
// the engine's threads, unless it fails inside (a database or memory error):
// such a failure is logged and that search then never answers. A searcher
// deleted before its search started never answers either. Searches of all
// searchers run one after another; a further Search on the same searcher
// takes its own copy of the arguments and does not disturb one in progress.
class OSTREL_API IForensicSearcher {
  public:
    // Times are seconds since 1970, UTC, both included. At most 32 excluded,
    // 32 motion and 32 enter/exit areas (an area watching both entering and
    // leaving takes two) and 32 lines are taken, each with its first 11
    // points; the rest is dropped with a warning. False (and no answer) when
    // nothing of the areas and lines could be taken, or when the engine
    // could not queue the search.
    virtual bool Search(int64_t start, int64_t end, int trackId,
                        const std::list<forensic_search_area_s>& areas,
                        const std::list<forensic_search_line_s>& lines,
                        ForensicCallback callback) = 0;

  protected:
    virtual ~IForensicSearcher() = default;
};

}  // namespace orvale::recorder
