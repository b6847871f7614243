// The recording engine's exported interface: the one header a caller
// includes.
//
// MediaRecorder is a thin handle over the engine object, which it creates in
// its constructor and destroys in its destructor. It cannot be copied: two
// handles would destroy one engine twice. No method but the constructor
// throws: a failure inside is logged and the method answers its failure
// value (null, false, 0, -1 or an empty record).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "recorder/api/Export.h"
#include "recorder/api/Interfaces.h"
#include "recorder/api/Logging.h"
#include "recorder/api/MediaTypes.h"

namespace orvale::recorder {

class MediaRecorderImpl;

class OSTREL_API MediaRecorder {
  public:
    MediaRecorder();
    ~MediaRecorder();

    MediaRecorder(const MediaRecorder&) = delete;
    MediaRecorder& operator=(const MediaRecorder&) = delete;

    // Start-up and shut-down: templates, catalogue, drives, track id and the
    // maintenance job; Finalize(true) also removes the catalogue files.
    void Initialize();
    void Finalize(bool removeFiles);
    unsigned GetTrackId();
    // The track of the recordings from now on (taken at each channel's next
    // key frame).
    void ChangeTrackId(int trackId);

    // Recorders: one per channel, owned by the engine and handed out stopped.
    // A new channel's catalogue row takes the arguments and every allocated
    // drive; an existing row is used as stored. Null for an invalid id or
    // while the catalogue is not open.
    IRecorder* CreateRecorder(std::string& channelId, std::string& scheduleId, int protocol,
                              bool failover);
    IRecorder* GetRecorder(std::string& channelId);
    void DeleteRecorder(std::string& channelId);
    // Stops and forgets the channel's recorders and catalogue rows; its
    // recordings stay unless `removeData`.
    bool DeleteChannel(std::string& channelId, bool removeData);
    // Applied to every recorder using the schedule id; always true.
    bool SetSchedule(std::string& scheduleId, const media_schedule_s& schedule,
                     const std::vector<media_holiday_s>& holidays);
    bool ResetSchedule(std::string& scheduleId);
    // A channel's ARB recorder, configured from its recorder (which must
    // exist); owned by the engine like the recorders.
    IArbRecorder* CreateArbRecorder(std::string& channelId);
    IArbRecorder* GetArbRecorder(std::string& channelId);
    void DeleteArbRecorder(std::string& channelId);
    // Whole hours the channel's drives hold at the present rates, less one.
    unsigned GetExpectedRetention(std::string& channelId);

    // Settings. Overwrite and dual record persist in the catalogue. Each
    // reaches the channels, recorders and drives that exist already, except
    // the data file size (recorders made afterwards) and the buffer size
    // (the next Initialize, whose read buffers take it). A data file size
    // below 1 MB or whose bytes do not fit 64 bits, and a buffer size of 0 or
    // above 0xFFFFF000 bytes (its whole 4096-byte sectors do not fit 32 bits),
    // are refused and logged.
    void SetUseOverwrite(bool use);
    bool GetUseOverwrite();
    void SetUseDualRecord(bool use);
    bool GetUseDualRecord();
    void SetMinFreeSpace(unsigned mib);
    unsigned GetMinFreeSpace();
    void SetDataFileSize(long long mib);
    long long GetDataFileSize();
    void SetBufferSize(unsigned bytes);
    unsigned GetBufferSize();
    void SetEncryptionInfo(media_encrypt_s& info);
    media_encrypt_s GetEncryptionInfo();
    unsigned GetMaxPreRecordTimeForSetUp();
    void RegisterEventHandler(ConfigEventHandler handler);

    // Drives: listed (appended), allocated to or released from recording,
    // and their space.
    bool GetMediaDrive(std::vector<media_drive_s>& drives);
    bool SetMediaDrive(std::string& name, media_drive_status_e status);
    // A channel's record drives: its drive letters run together ("DE").
    bool SetRecordDrives(std::string& channelId, const std::string& drives);
    media_drive_info_s GetMediaDriveSpace(std::string name);

    // The channel record of the catalogue; false when it has none.
    bool GetMediaChannel(std::string& channelId, media_channel_s& channel);
    // The channels to fill in for failed cameras, keyed by channel id.
    void getFailOverCameras(std::map<std::string, media_channel_s>& channels);

    // Camera disconnection intervals, keyed by row id. The getters add to
    // the map; an id already there keeps its entry.
    void getARB(std::string& cameraId, std::map<long long, media_arb_s>& arbs);
    void getARBAll(std::map<long long, media_arb_s>& arbs);
    void insertARB(media_arb_s arb);
    void updateARB(media_arb_s arb);  // the reconnect time of row arb.rowId
    void deleteARB(media_arb_s arb);  // row arb.rowId

    // Bookmarks: inserted, updated or deleted (by rowId) as `type` says. The
    // row id of an inserted one is InsertLastRowId's right afterwards, on the
    // same thread (-1 after a failed insert and while the catalogue is
    // closed). Texts are stored byte for byte.
    void RequestBookmark(media_bookmark_s bookmark, request_bookmark_type_s type);
    void GetBookmark(std::string& guid, std::map<long long, media_bookmark_s>& bookmarks);
    long long InsertLastRowId();

    // Searchers, owned by the engine and given back through the matching
    // delete; one per sequence id and kind (null when the id is taken).
    // Channels are looked up among the catalogue's, then among those found
    // on the drives without a catalogue row. A searcher deleted before its
    // search runs never answers. Finalize deletes them all.
    // The track searcher covers every channel known now; null when none is.
    ITrackSearcher* CreateTrackSearcher(unsigned seqId);
    void DeleteTrackSearcher(unsigned seqId);
    // Unknown ids are skipped; null when none is known.
    ICalendarSearcher* CreateCalendarSearcher(unsigned seqId, std::vector<std::string>& channelIds);
    void DeleteCalendarSearcher(unsigned seqId);
    // Unknown ids are skipped; a searcher over none answers with nothing.
    ITimelineSearcher* CreateTimelineSearcher(unsigned seqId, std::vector<std::string>& channelIds);
    void DeleteTimelineSearcher(unsigned seqId);
    // The forensic searcher of one channel; null when the channel is unknown.
    IForensicSearcher* CreateForensicSearcher(unsigned seqId, std::string& channelId);
    void DeleteForensicSearcher(unsigned seqId);

    // Playback media, owned by the engine and given back through
    // DeletePlaybackMedia (or DeleteChannel for the channel's media). A media
    // id names one medium; media opened under one session name play in
    // lock-step on one session time, the empty name is no session. Channels
    // are looked up as for the searchers. Frames and answers come on the
    // engine's playback thread (a backup's on a worker thread); a callback
    // may create, open, control and delete media.
    // Registers a medium for the caller to open through its own OpenMedia;
    // null for an unknown channel or a media id in use.
    PlaybackMedia* CreatePlaybackMedia(unsigned mediaId, unsigned trackId, std::string& channelId,
                                       std::string session);
    PlaybackMedia* GetPlaybackMedia(unsigned mediaId);
    // No callback of the medium comes after this returns (from inside one of
    // its callbacks: none after that callback).
    void DeletePlaybackMedia(unsigned mediaId);
    // Registers and opens a medium: at `start` at speed 1, or, in a session
    // already playing, at the session's time and speed. A negative trackId
    // takes the engine's. With 128 media registered the answer
    // MEDIA_ERROR_TOO_MANY_MEDIA goes to `response` and nothing is made; a
    // second backup while one is registered is refused.
    media_error_e OpenMedia(unsigned seqId, long long start, long long end, int trackId,
                            unsigned mediaId, std::string& channelId, bool pause, bool backup,
                            unsigned profileType, std::string session, OpenMediaCallback data,
                            OpenMediaResponseCallback response);
    // A playback_control_type_e command for the medium, or, with a session
    // name, for every medium of the session (the addressed one answers).
    // True once handed on; the fifth argument is not used.
    bool ControlMedia(unsigned seqId, unsigned controlType, unsigned mediaId, int speed, unsigned,
                      long long time, unsigned profileType, std::string session,
                      ControlMediaResponseCallback response);

    // Appends the RAID controller's disk states; nothing without its library.
    void getRaidChecker(media_raid_info_s& info);

  private:
    MediaRecorderImpl* impl;
};

}  // namespace orvale::recorder
