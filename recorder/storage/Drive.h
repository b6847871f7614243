// One drive the engine may record on, named by its letter and mapped to a
// root folder by the volume layer. A drive owns its operation database, the
// space reservations of the channels writing to it and the recording folder
// tree below its root:
//
//   <root>/KVTRecordData/<channel>/<YYYY>/<MM>/<DD>/<HH>/<track>/
//
// (UTC calendar of the hour's start; year not padded, month, day and hour two
// digits, track four digits at least). A recorded hour is its hour folder.
//
// Invariants: name, type and bus type never change; the root folder is fixed
// when the drive is made (empty when the letter was not mapped, and then the
// drive has no tree). Nothing is created on a volume the layer reports absent,
// so an empty mount-point folder of the system disk is never written to.
// Channel ids that would leave the tree are refused by every operation.
//
// Thread safety: status and minimum free space are atomics; the reservations
// have their own lock; the drive's mutex serialises the operation database
// and the writer factories, so that two channels never check and reserve
// space at the same time. Path builders, listings and removals take no lock:
// callers keep removals apart from their own writers and readers.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "recorder/api/MediaTypes.h"
#include "recorder/database/OperationDatabase.h"
#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/storage/ReservedSpaceContainer.h"
#include "recorder/store/FileWriter.h"
#include "recorder/store/MetaDataWriter.h"
#include "recorder/store/ReadCommandHandler.h"
#include "recorder/store/RecordFileInfo.h"
#include "recorder/store/WriteCommandHandler.h"

namespace orvale::platform {
struct VolumeSpace;
}

namespace orvale::recorder {

// Why a writer factory gave no writer: the room its own check found was
// short of the size asked for, or the file could not be made (or the id or
// the volume could not be used). Only the latter says anything of the drive.
enum class WriterRefusal { kNone, kNoRoom, kFailed };

class Drive : public std::enable_shared_from_this<Drive> {
  public:
    // Appends the usable drives of the volume layer in letter order: fixed,
    // not on USB, at least `minFreeBytes` large unless it is the system disk.
    static void EnumerateLocalDrives(std::vector<media_drive_s>& drives, uint64_t minFreeBytes);

    // False for ids that would leave the channel's folder: empty, ".", "..",
    // holding '/', '\' or NUL, or longer than a folder name may be.
    static bool IsValidChannelId(const std::string& channelId);

    // Use MakeDrive. Touches no file.
    Drive(const media_drive_s& drive, uint64_t minFreeSpace);
    virtual ~Drive();

    Drive(const Drive&) = delete;
    Drive& operator=(const Drive&) = delete;

    std::string GetName() const { return name_; }
    uint32_t GetType() const { return type_; }
    uint32_t GetStatus() const { return status_.load(); }
    uint32_t GetBusType() const { return busType_; }
    media_drive_s GetRecord() const;

    // The bytes the drive keeps free: 90 GiB while anything named
    // "PostgreSQL" lies at the volume's root, else the configured minimum.
    uint64_t GetMinFreeSize() const;
    void SetMinFreeSpace(uint64_t bytes) { minFreeSpace_.store(bytes); }

    // Stores any status; leaving the allocated status drops all reservations,
    // entering it creates the root folder when missing.
    void ChangeStatus(uint32_t status);
    // Creates the root folder with its parents; true when a folder was made.
    bool CreateRootDirectory();

    // Total bytes of the volume; 0 on error.
    uint64_t GetCapacity() const;
    // Free, used and total MiB of the volume, for GetMediaDriveSpace.
    void GetSpace(media_drive_info_s& info) const;

    // TRACKID and LASTTIME of the drive's operation database. Reading needs
    // the root folder and the file; writing makes the file when missing.
    bool GetTrackId(int& trackId);
    bool SetTrackId(int trackId);
    bool GetLastTime(int64_t& lastTime);
    bool SetLastTime(uint64_t lastTime);

    // Path builders (DriveFolders.cpp): no file-system access. They answer an
    // empty path for a refused channel id or a drive without a root folder.
    const std::filesystem::path& GetRootPath() const { return rootPath_; }
    std::filesystem::path GetChannelPath(const std::string& channelId) const;
    std::filesystem::path GetYearPath(const std::string& channelId, int64_t time) const;
    std::filesystem::path GetMonthPath(const std::string& channelId, int64_t time) const;
    std::filesystem::path GetDayPath(const std::string& channelId, int64_t time) const;
    std::filesystem::path GetHourPath(const std::string& channelId, int64_t time) const;
    std::filesystem::path GetTrackPath(const std::string& channelId, int64_t time,
                                       int trackId) const;
    // The folder-in-use key of the hour holding `time`, as writers and
    // readers of that hour register it.
    std::string GetHourKey(const std::string& channelId, int64_t time) const;

    // Appends the channel folders of the root, sorted; errors are logged.
    void ListChannels(std::vector<std::string>& channelIds) const;
    // Inserts the track numbers of the track folders of an hour folder.
    void ListTrackIds(const std::filesystem::path& hourFolder, std::set<int>& trackIds) const;
    bool HasChannelFolder(const std::string& channelId) const;
    bool ChannelHasFolders(const std::string& channelId) const;
    bool YearHasFolders(const std::string& channelId, int64_t time) const;
    bool MonthHasFolders(const std::string& channelId, int64_t time) const;
    bool DayHasFolders(const std::string& channelId, int64_t time) const;

    // Start of the channel's oldest or newest recorded hour; 0 when none.
    // Throws std::filesystem::filesystem_error when a folder cannot be read.
    int64_t GetOldestTime(const std::string& channelId) const;
    int64_t GetNewestTime(const std::string& channelId) const;

    // Removals of existing folders with all they hold; a file-system error
    // reaches the caller as std::filesystem::filesystem_error.
    void RemoveChannel(const std::string& channelId);
    void RemoveHour(const std::string& channelId, int64_t time);
    // Removes the day, month and year folders of `time` that hold no folder.
    bool RemoveEmptyFolder(const std::string& channelId, int64_t time);

    // Bytes available above the minimum free size; 0 on error.
    int64_t GetFreeSize() const;
    // What the drive offers a channel: its own reservation counts as free,
    // the others' do not.
    int64_t GetFreeSizeForChannel(const std::string& channelId) const;
    ReservedSpaceContainer& Reservations() { return reservations_; }

    // Opens the hour's metadata database when the channel has room for
    // `requiredSize`, then reserves for the channel what the others leave, at
    // most 100 MiB. Empty when refused or when the file could not be made;
    // `refusal`, when given, is told which.
    std::shared_ptr<MetaDataWriter> CreateMetaDataWriter(
        const record_file_info_s& location, int64_t requiredSize,
        std::shared_ptr<FolderInUseContainer> folders, WriterRefusal* refusal = nullptr);

    // Makes the data-file writer of a channel hour on this drive: the room
    // check, the preallocated data file and the reservation, as for metadata
    // writers. Its writes run on the drive's write queues and complete on
    // `io`. Empty when refused or when the file could not be made, as
    // `refusal` is told when given.
    std::shared_ptr<FileWriter> CreateFileWriter(const record_file_info_s& location,
                                                 int64_t requiredSize, boost::asio::io_context& io,
                                                 std::shared_ptr<FolderInUseContainer> folders,
                                                 WriterRefusal* refusal = nullptr);

    // The drive's command queues: every writer and reader of the drive runs
    // its transfers through them, one at a time per channel.
    const std::shared_ptr<WriteCommandHandler>& GetWriteCommandHandler() const {
        return writeCommands_;
    }
    const std::shared_ptr<ReadCommandHandler>& GetReadCommandHandler() const {
        return readCommands_;
    }

  private:
    // A path as log lines show it: in double quotes, '&' escaping.
    static std::string Quoted(const std::filesystem::path& path);

    char Letter() const;
    // The volume layer's answer for this drive's letter: 0 or an error code.
    int QuerySpace(platform::VolumeSpace& space) const;
    // Logs an error for a refused channel id.
    bool CheckChannelId(const std::string& channelId) const;
    // Available bytes above the minimum; empty when the volume cannot be read.
    std::optional<int64_t> FreeAboveMinimum() const;
    bool RootFolderExists() const;
    bool OpenOperationDatabase();
    // The shared steps of the writer factories: checks room, then runs `open`
    // on the track folder (it makes the writer and its file, or answers
    // false), then reserves. Takes the drive's mutex. The room is judged
    // here alone, under that mutex, so the answer says why it refused.
    WriterRefusal MakeWriter(const record_file_info_s& location, int64_t requiredSize,
                             const char* fileKind,
                             const std::function<bool(const std::filesystem::path&)>& open);
    bool FolderHasFolders(const std::filesystem::path& folder) const;
    int64_t FindHour(const std::string& channelId, bool newest) const;
    void RemoveFolder(const std::filesystem::path& folder, const char* what) const;

    const std::string name_;
    const uint32_t type_;
    const uint32_t busType_;
    std::atomic<uint32_t> status_;
    std::atomic<uint64_t> minFreeSpace_;

    std::string volumeRoot_;               // empty when the letter was not mapped
    std::filesystem::path rootPath_;       // volumeRoot_ + "KVTRecordData"
    std::filesystem::path operationPath_;  // rootPath_ + "operation.kvtdb"

    std::mutex mutex_;  // the operation database and the writer factories
    ReservedSpaceContainer reservations_;
    std::shared_ptr<OperationDatabase> operationDatabase_;
    const std::shared_ptr<WriteCommandHandler> writeCommands_;
    const std::shared_ptr<ReadCommandHandler> readCommands_;
    bool operationOpened_ = false;  // under mutex_
};

std::shared_ptr<Drive> MakeDrive(const media_drive_s& drive, uint64_t minFreeSpace);

}  // namespace orvale::recorder
