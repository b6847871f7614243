// The storage of one camera channel: on which drives its hours may lie (the
// recorded drives), on which new hours may be written (the writable drives),
// which drive took the last file (the current drive), and the placement,
// lookup and overwrite of the channel's hours in the recording folder tree.
//
// Invariants: the id never changes and is the channel's folder name on every
// drive. Writable drives were added in the allocated status and are recorded
// drives too, unless the channel's data was removed. The channel never
// deletes an hour that its folder-in-use container lists.
//
// A drive on which creating a file or writing failed rests for
// kFailedDriveRestSeconds: new files go to the other writable drives, and
// it is tried again afterwards (or at once when every writable drive rests),
// so a drive that comes back is used again. Space alone never makes a drive
// rest: a full drive is the selection rules' to judge, and a drive whose own
// check refused for room is left to the overwrite.
//
// Locks: `mutex_` is taken exclusively by drive changes, settings, removals
// and overwriting writer requests, shared by plain writer requests and the
// finders and listings. `currentMutex_` guards the current drive alone, so
// that two plain requests (the recorder and the ARB recorder) replace it one
// at a time. `restMutex_` guards the resting drives and is a leaf. Order:
// `mutex_`, then `currentMutex_`, then `restMutex_` or any lock of a drive
// map or a drive. Held by shared pointers (read completions keep it alive).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/ConcurrentLock.h"
#include "common/ConcurrentMap.h"
#include "recorder/storage/Drive.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/BufferPool.h"
#include "recorder/store/FileReader.h"
#include "recorder/store/FileWriter.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/MetaDataFile.h"
#include "recorder/store/MetaDataWriter.h"
#include "recorder/store/ReadCommandHandler.h"
#include "recorder/store/RecordFileInfo.h"

namespace orvale::common {
class AsioThreadPool;
}

namespace orvale::recorder {

class Channel : public std::enable_shared_from_this<Channel> {
  public:
    using DriveMap = ConcurrentMap<std::string, std::shared_ptr<Drive>>;
    using Drives = std::vector<std::shared_ptr<Drive>>;
    // Seconds since 1970, UTC.
    using Clock = std::function<int64_t()>;
    // The start of a read command: (queue, done).
    using ReadJob = std::function<void(unsigned, ReadCommandHandler::Done)>;

    static constexpr int64_t kOverwriteMargin = 100LL << 20;
    // The smallest data file a short drive still gets.
    static constexpr int64_t kSmallestDataFile = 10LL << 20;
    static constexpr uint32_t kLowProfileType = 6;
    static constexpr int64_t kFailedDriveRestSeconds = 60;

    // `pool` must outlive the channel; `clock` defaults to the system clock.
    Channel(std::string id, uint32_t retentionPeriod, bool useOverwrite,
            common::AsioThreadPool* pool, std::shared_ptr<BufferPool> bufferPool, Clock clock = {});
    virtual ~Channel();

    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    std::string GetId() const { return id_; }
    const std::shared_ptr<FolderInUseContainer>& GetFolders() const { return folders_; }

    // Drive membership (Channel.cpp).
    void AddDrives(const Drives& drives);
    void AddRecordedDrive(const std::shared_ptr<Drive>& drive);
    void DeleteDrive(const std::string& name);
    bool HasWritableDrive() const;
    // Whether a writable drive has room for a data file of `requiredSize`
    // bytes or of the smallest size a short drive still gets.
    bool HasRoomForFile(int64_t requiredSize) const;
    void GetWritableDrives(Drives& drives) const;
    void GetRecordedDrives(Drives& drives) const;
    std::shared_ptr<Drive> GetCurrentDrive() const;
    // Lets the drive rest after a failed write or file creation on it; it
    // stops being the current drive.
    void LeaveFailingDrive(const std::string& name);
    // A writable drive that does not rest: false when there is none, or when
    // every writable drive failed lately.
    bool HasHealthyWritableDrive() const;

    // Writers of a new hour or data file; empty when none could be made. The
    // overwriting forms first delete the oldest day while overwrite is on,
    // short of the hour of `time`.
    std::shared_ptr<FileWriter> GetFileWriter(int32_t profile, int32_t trackId, int64_t time,
                                              int64_t requiredSize);
    std::shared_ptr<FileWriter> GetFileWriterOverwriting(int32_t profile, int32_t trackId,
                                                         int64_t time, int64_t requiredSize);
    std::shared_ptr<MetaDataWriter> GetMetaDataWriter(int32_t trackId, int64_t time,
                                                      int64_t requiredSize);
    std::shared_ptr<MetaDataWriter> GetMetaDataWriterOverwriting(int32_t trackId, int64_t time,
                                                                 int64_t requiredSize);

    // Settings, removal and the overwrite step (ChannelOverwrite.cpp).
    void SetRetentionPeriod(uint32_t period);
    uint32_t GetRetentionPeriod() const;
    void SetUseOverwrite(bool useOverwrite);
    bool GetUseOverwrite() const { return useOverwrite_.load(); }
    // Removes the channel folder on every recorded drive, going on past a
    // drive that fails, then forgets the recorded drives.
    void RemoveAllMediaData();
    // Drops this channel's space reservation on every drive it knows and
    // forgets the current drive.
    void ReleaseReservedSpace();
    // Deletes the oldest recorded day's hours that are not in use, short of
    // the hour of `recordingTime` (the hour a writer is asked for) and every
    // later one: the recording never frees room at its own expense. Answers
    // the last hour removed, the oldest hour when none was, 0 without any
    // recording. The caller holds `mutex_` exclusively.
    int64_t DeleteFirstDay(int64_t recordingTime);

    // Readers and listings (ChannelReaders.cpp). Profile type 6 reads the
    // low profile, any other the main one. Ranges cover every hour from the
    // hour of `start` through the hour of `end`.
    std::shared_ptr<FileReader> FindFileReader(uint32_t mediaId, uint32_t trackId, int64_t time,
                                               uint32_t profileType, bool forward);
    std::shared_ptr<FileReader> FindFileReader2(uint32_t mediaId, uint32_t trackId, int64_t time,
                                                uint32_t profileType, bool forward);
    // With `busy` given, a channel held exclusively (a drive change, an
    // overwrite) is not waited for: nullptr is answered and *busy set.
    std::shared_ptr<FileReader> FindNextFileReader(uint32_t mediaId, int32_t trackId, int64_t time,
                                                   uint32_t profileType, bool fixedProfile,
                                                   bool* busy = nullptr);
    std::shared_ptr<FileReader> FindPreviousFileReader(uint32_t mediaId, int32_t trackId,
                                                       int64_t time, uint32_t profileType,
                                                       bool fixedProfile, bool* busy = nullptr);
    bool ListIndexFiles(int32_t trackId, int64_t start, int64_t end,
                        std::list<std::shared_ptr<IndexFile>>& files);
    bool ListMetaDataFiles(int32_t trackId, int64_t start, int64_t end,
                           std::list<std::shared_ptr<MetaDataFile>>& files);
    bool GetTrackIds(int64_t start, int64_t end, std::set<int>& trackIds);
    // A second of [start, end] recorded in either profile.
    bool HasRecord(int64_t start, int64_t end);
    bool ReadData(const std::string& driveName, ReadJob job);
    void OnReadDone(unsigned queue, unsigned error, uint64_t bytes);

  private:
    // Tests hold the lock as a drive change or an overwrite would.
    friend class ChannelLockHolder;

    struct Span {
        int64_t oldest;  // hour starts
        int64_t newest;
    };
    // The per-finder part of a reader walk: the candidate time of a reader
    // of an hour (nullopt drops it) and whether it beats the best so far.
    struct FinderRule {
        std::function<std::optional<int64_t>(FileReader&, int64_t hour)> candidate;
        std::function<bool(int64_t candidate, int64_t best)> take;
    };

    void AddRecordedDriveUnlocked(const std::shared_ptr<Drive>& drive);
    bool HasRoom(const Drive& drive, int64_t requiredSize) const;
    bool IsResting(const std::string& name) const;
    // The writable drives that do not rest; all of them when every one does.
    Drives HealthyWritableDrives() const;
    // Runs `make(drive, size, refusal)` on the drive placed for the request.
    // A drive that refused for room gives the request up (the caller may
    // overwrite); one that failed rests and the request goes to the next
    // one placed.
    template <class Writer, class Make>
    std::shared_ptr<Writer> PlaceWriter(int32_t trackId, int64_t time, int64_t requiredSize,
                                        Make&& make);
    // Keeps or replaces the current drive for a request; may be empty.
    std::shared_ptr<Drive> PickDrive(int32_t trackId, int64_t time, int64_t requiredSize);
    std::shared_ptr<Drive> SelectDrive(int32_t trackId, int64_t time, int64_t requiredSize,
                                       const Drives& drives) const;
    std::shared_ptr<Drive> GetNewestRecordedDrive(const Drives& drives) const;
    std::shared_ptr<Drive> GetOldestRecordedDrive(const Drives& drives) const;
    // The size a writer on `drive` gets: R, or what is left down to the
    // smallest data file; 0 for none.
    int64_t SizeOnDrive(const Drive& drive, int64_t requiredSize) const;
    // The drive a new file of this request goes to and the size it gets
    // there; empty when no drive has room.
    std::optional<std::pair<std::shared_ptr<Drive>, int64_t>> PlaceFile(int32_t trackId,
                                                                        int64_t time,
                                                                        int64_t requiredSize);
    std::shared_ptr<FileWriter> MakeFileWriter(int32_t profile, int32_t trackId, int64_t time,
                                               int64_t requiredSize);
    // A writer of `size` on `drive` with the hour's index; what it made goes
    // again when the index cannot be had.
    std::shared_ptr<FileWriter> MakeFileWriterOn(Drive& drive, int32_t profile, int32_t trackId,
                                                 int64_t time, int64_t size,
                                                 WriterRefusal& refusal);
    std::shared_ptr<MetaDataWriter> MakeMetaDataWriter(int32_t trackId, int64_t time,
                                                       int64_t requiredSize);

    Drives RecordedSnapshot() const;
    // The first and last recorded hours over `drives`; empty when none.
    std::optional<Span> RecordedSpan(const Drives& drives) const;
    std::shared_ptr<FileReader> MakeReader(const Drive& drive, int64_t hour, int32_t trackId,
                                           uint32_t profileType) const;
    std::shared_ptr<FileReader> WalkReaders(uint32_t mediaId, int32_t trackId, int64_t time,
                                            uint32_t profileType, bool forward,
                                            const FinderRule& rule);
    // Calls `visit(drive, hour)` for the hours of [start, end] within the
    // recorded span, each on every drive in order.
    template <class Visit>
    void ForEachHour(const Drives& drives, int64_t start, int64_t end, Visit&& visit) const;
    // Removes the hours of [from, to) not in use; counts what it removed
    // and what it had to keep.
    void DeleteHours(const Drives& drives, int64_t from, int64_t to, int64_t& last, int& removed,
                     int& kept);

    mutable ContainerMutex mutex_;
    common::AsioThreadPool* const pool_;
    const std::shared_ptr<BufferPool> bufferPool_;
    const std::string id_;
    const Clock clock_;
    std::atomic<uint32_t> retentionPeriod_;
    std::atomic<bool> useOverwrite_;
    std::atomic<int64_t> overwriteMargin_;

    mutable std::mutex currentMutex_;
    std::shared_ptr<Drive> currentDrive_;  // under currentMutex_

    mutable std::mutex restMutex_;
    std::map<std::string, int64_t> restingUntil_;  // by drive name, under restMutex_

    const std::shared_ptr<FolderInUseContainer> folders_;
    const std::shared_ptr<DriveMap> recordedDrives_;
    const std::shared_ptr<DriveMap> writableDrives_;
};

}  // namespace orvale::recorder
