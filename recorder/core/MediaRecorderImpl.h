// The engine object behind MediaRecorder. It owns every long-lived piece of
// the engine: the thread pools, the buffer pool, the drive registry, the
// catalogue and the maintenance timer. The exported handle owns it.
//
// `mutex_` is the engine lock: Initialize and Finalize hold it for their whole
// run; the catalogue backup, the drive refresh, the drive and setting
// changes that touch the catalogue, and the configuration event take it. The
// registries guard themselves; walks over them visit a snapshot, outside the
// registry's lock (RegistryWalk.h). The maintenance job runs on the service
// pool and stops for good once Finalize cleared `maintenanceEnabled_`.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/AsioThreadPool.h"
#include "common/ConcurrentMap.h"
#include "common/ConcurrentUnorderedMap.h"
#include "common/DeadlineTimer.h"
#include "recorder/api/MediaTypes.h"
#include "recorder/core/CatalogueFiles.h"
#include "recorder/core/PlaybackTimer.h"
#include "recorder/database/QzDatabase.h"
#include "recorder/playback/CalendarSearcher.h"
#include "recorder/playback/ForensicSearcher.h"
#include "recorder/playback/PlaybackMediaContainer.h"
#include "recorder/playback/PlaybackMediaImpl.h"
#include "recorder/playback/TimelineSearcher.h"
#include "recorder/playback/TrackSearcher.h"
#include "recorder/recording/ArbRecorder.h"
#include "recorder/recording/Recorder.h"
#include "recorder/storage/Channel.h"
#include "recorder/storage/Drive.h"
#include "recorder/storage/RaidChecker.h"
#include "recorder/store/BufferPool.h"

namespace orvale::recorder {

using ChannelTableRows = std::map<std::string, media_channel_s>;

class MediaRecorderImpl {
  public:
    static constexpr int kMaintenancePeriodMs = 60'000;

    MediaRecorderImpl();
    ~MediaRecorderImpl();

    MediaRecorderImpl(const MediaRecorderImpl&) = delete;
    MediaRecorderImpl& operator=(const MediaRecorderImpl&) = delete;

    void Initialize();
    void Finalize(bool removeFiles);
    unsigned GetTrackId() const { return trackId_.load(); }
    void ChangeTrackId(int trackId);

    // --- recorders ---
    IRecorder* CreateRecorder(const std::string& channelId, const std::string& scheduleId,
                              int protocol, bool failover);
    IRecorder* GetRecorder(const std::string& channelId);
    void DeleteRecorder(const std::string& channelId);
    bool DeleteChannel(const std::string& channelId, bool removeData);
    bool SetSchedule(const std::string& scheduleId, const media_schedule_s& schedule,
                     const std::vector<media_holiday_s>& holidays);
    bool ResetSchedule(const std::string& scheduleId);
    unsigned GetExpectedRetention(const std::string& channelId);

    // --- ARB recorders: one per channel that has a recorder ---
    IArbRecorder* CreateArbRecorder(const std::string& channelId);
    IArbRecorder* GetArbRecorder(const std::string& channelId);
    void DeleteArbRecorder(const std::string& channelId);

    // --- settings ---
    void SetUseOverwrite(bool value);
    bool GetUseOverwrite() const { return useOverwrite_.load(); }
    void SetUseDualRecord(bool value);
    bool GetUseDualRecord() const { return useDualRecord_.load(); }
    void SetMinFreeSpace(unsigned mib);
    unsigned GetMinFreeSpace() const;
    void SetDataFileSize(int64_t mib);
    int64_t GetDataFileSize() const;
    // The size of the read buffers of the pool that the next Initialize
    // makes. 0, and sizes whose whole sectors do not fit 32 bits, are
    // refused: they would make buffers that hold nothing.
    void SetBufferSize(unsigned bytes);
    unsigned GetBufferSize() const { return bufferSize_.load(); }
    void SetEncryptionInfo(const media_encrypt_s& info);
    media_encrypt_s GetEncryptionInfo() const;
    unsigned GetMaxPreRecordTimeForSetUp() const;
    void RegisterEventHandler(ConfigEventHandler handler);

    // --- drives ---
    void RefreshDrives();
    bool GetMediaDrive(std::vector<media_drive_s>& out);
    bool SetMediaDrive(const std::string& name, media_drive_status_e status);
    bool SetRecordDrives(const std::string& channelId, const std::string& driveLetters);
    media_drive_info_s GetMediaDriveSpace(const std::string& name) const;

    // --- catalogue records: channels, ARB intervals, bookmarks, RAID ---
    // Each answers with its failure result (false, nothing, -1) while the
    // catalogue is not open.
    bool GetMediaChannel(const std::string& channelId, media_channel_s& channel);
    void getARB(const std::string& cameraId, std::map<long long, media_arb_s>& arbs);
    void getARBAll(std::map<long long, media_arb_s>& arbs);
    void insertARB(media_arb_s arb);
    void updateARB(const media_arb_s& arb);
    void deleteARB(const media_arb_s& arb);
    void RequestBookmark(const media_bookmark_s& bookmark, request_bookmark_type_s type);
    void GetBookmark(const std::string& guid, std::map<long long, media_bookmark_s>& bookmarks);
    long long InsertLastRowId();
    void getFailOverCameras(std::map<std::string, media_channel_s>& channels);
    void getRaidChecker(media_raid_info_s& info);

    // --- searchers (SearcherRegistry.cpp): one per sequence id and kind ---
    // Null when no channel is found (track, calendar, forensic) or the sequence id
    // is taken; the registry keeps the searcher until the delete.
    ITrackSearcher* CreateTrackSearcher(unsigned seqId);
    void DeleteTrackSearcher(unsigned seqId);
    ICalendarSearcher* CreateCalendarSearcher(unsigned seqId,
                                              const std::vector<std::string>& channelIds);
    void DeleteCalendarSearcher(unsigned seqId);
    ITimelineSearcher* CreateTimelineSearcher(unsigned seqId,
                                              const std::vector<std::string>& channelIds);
    void DeleteTimelineSearcher(unsigned seqId);
    IForensicSearcher* CreateForensicSearcher(unsigned seqId, const std::string& channelId);
    void DeleteForensicSearcher(unsigned seqId);
    // The channel that playback and searches reach under `channelId`: the
    // catalogue's, else one found on the drives without a catalogue row.
    std::shared_ptr<Channel> FindRecordedChannel(const std::string& channelId) const;

    // --- playback media (PlaybackRegistry.cpp) ---
    // At most this many media are registered (OpenMedia answers 0x445).
    static constexpr uint64_t kMaxPlaybackMedia = 128;
    // Null when the channel is unknown or the media id is taken anywhere.
    PlaybackMedia* CreatePlaybackMedia(unsigned mediaId, unsigned trackId,
                                       const std::string& channelId, const std::string& session);
    PlaybackMedia* GetPlaybackMedia(unsigned mediaId);
    // Stops the medium (no callback of it comes after this returns, unless
    // called from one of its own); the last one ends the timer thread.
    void DeletePlaybackMedia(unsigned mediaId);
    media_error_e OpenMedia(unsigned seqId, long long start, long long end, int trackId,
                            unsigned mediaId, const std::string& channelId, bool pause, bool backup,
                            unsigned profileType, const std::string& session,
                            OpenMediaCallback data, OpenMediaResponseCallback response);
    bool ControlMedia(unsigned seqId, unsigned controlType, unsigned mediaId, int speed,
                      long long time, unsigned profileType, const std::string& session,
                      ControlMediaResponseCallback response);

    // The maintenance job, callable directly (tests run it without waiting).
    // Its steps (backup, drive refresh, the status of each recorder) run
    // one after another, each on its own: one that fails stops no other.
    void RunMaintenance();

  private:
    void OpenCatalogue();
    void TakeImportCopy();
    bool MoveDamagedAside(const std::filesystem::path& path);
    bool OpenCatalogueFile(const std::filesystem::path& path);
    void ReadSettings();
    void BackupCatalogue();
    void LoadTrackId();
    void LoadTrackIdOfDrives();
    void ArmMaintenance();
    void OnMaintenanceTimer(const boost::system::error_code& error);
    void AddDrive(const media_drive_s& record);
    void ScanChannelFolders();
    void ReleaseDriveFromChannels(const std::string& name);
    void AddDriveToFailoverChannels(const std::string& name);
    void PostConfigEvent();
    void StopAllRecorders();
    void StopStartedArbRecorders();
    // Every channel FindRecordedChannel reaches, each id once.
    std::vector<std::shared_ptr<Channel>> AllRecordedChannels() const;
    void ClearSearchers();
    // Under the playback container's hold: creates and registers a medium
    // and starts the timer thread.
    std::shared_ptr<PlaybackMediaImpl> RegisterMedium(unsigned mediaId, unsigned trackId,
                                                      const std::string& channelId,
                                                      const std::string& session,
                                                      const std::shared_ptr<BufferPool>& buffers);
    std::shared_ptr<BufferPool> ReadBufferPool() const;
    // The playback timer thread stopped and joined, every medium stopped for
    // good and forgotten: the engine's last playback step.
    void EndPlayback();
    uint64_t DriveRecordRate(const Drive& drive, const ChannelTableRows& rows) const;
    void ForgetVanishedDrives(std::map<std::string, media_drive_s>& stored);
    std::vector<std::shared_ptr<Drive>> DrivesInUse() const;
    // The catalogue object, read under the engine lock: Initialize may
    // replace it while a caller on another thread reaches for a table.
    std::shared_ptr<QzDatabase> Catalogue() const;

    mutable std::recursive_mutex mutex_;
    ConfigEventHandler eventHandler_;  // under mutex_
    std::atomic<unsigned> trackId_{1};
    int64_t lastTime_ = 0;
    mutable std::mutex encryptMutex_;
    media_encrypt_s encryptInfo_;
    std::atomic<bool> useOverwrite_{true};
    std::atomic<bool> useDualRecord_{true};
    std::atomic<uint64_t> minFreeSpace_{0x80000000ULL};
    std::atomic<int64_t> dataFileSize_{0x19000000LL};
    std::atomic<unsigned> bufferSize_{0x400000U};

    std::shared_ptr<common::AsioThreadPool> drivePool_;
    std::shared_ptr<common::AsioThreadPool> recorderPool_;
    std::shared_ptr<common::AsioThreadPool> servicePool_;
    // Where playback media start reading for an open, off the timer thread.
    std::shared_ptr<common::AsioThreadPool> openPool_;
    std::shared_ptr<BufferPool> bufferPool_;
    std::shared_ptr<ConcurrentMap<std::string, std::shared_ptr<Drive>>> drives_;
    using ChannelRegistry = ConcurrentUnorderedMap<std::string, std::shared_ptr<Channel>>;
    std::shared_ptr<ChannelRegistry> channels_;          // channels of the catalogue
    std::shared_ptr<ChannelRegistry> unlistedChannels_;  // found on disk only
    using RecorderRegistry = ConcurrentUnorderedMap<std::string, std::shared_ptr<Recorder>>;
    std::shared_ptr<RecorderRegistry> recorders_;
    using ArbRecorderRegistry = ConcurrentUnorderedMap<std::string, std::shared_ptr<ArbRecorder>>;
    std::shared_ptr<ArbRecorderRegistry> arbRecorders_;
    uint32_t recorderCounter_ = 0;  // under mutex_; hands out write offsets 0..9
    template <class Searcher>
    using SearcherRegistry = ConcurrentUnorderedMap<unsigned, std::shared_ptr<Searcher>>;
    std::shared_ptr<SearcherRegistry<TrackSearcher>> trackSearchers_;
    std::shared_ptr<SearcherRegistry<CalendarSearcher>> calendarSearchers_;
    std::shared_ptr<SearcherRegistry<TimelineSearcher>> timelineSearchers_;
    std::shared_ptr<SearcherRegistry<ForensicSearcher>> forensicSearchers_;
    // Playback: the container's lock is never taken under the engine lock
    // (callbacks on the timer thread hold it and may call into the engine).
    std::shared_ptr<PlaybackMediaContainer> playbackMedia_;
    std::unique_ptr<PlaybackTimer> playbackTimer_;
    std::shared_ptr<common::DeadlineTimer> maintenanceTimer_;
    bool maintenanceEnabled_ = false;  // under mutex_
    std::shared_ptr<QzDatabase> catalogue_;
    CatalogueFiles catalogueFiles_;
    // Replaced by each RAID query; the query runs on it under raidMutex_, so
    // a checker is never released while another thread is inside it.
    std::mutex raidMutex_;
    std::shared_ptr<RaidChecker> raidChecker_;
};

}  // namespace orvale::recorder
