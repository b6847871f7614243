#include "recorder/storage/Drive.h"

#include <algorithm>
#include <exception>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string_view>

#include <boost/locale/encoding_utf.hpp>

#include "common/GlobalNames.h"
#include "common/Log.h"
#include "platform/ErrorText.h"
#include "platform/VolumeProvider.h"

namespace orvale::recorder {
namespace fs = std::filesystem;
using common::kLogDebug;
using common::kLogError;
using common::kLogFatal;
using common::kLogInfo;
using common::kLogWarning;

namespace {

// A drive holding "PostgreSQL" at its root shares the volume with a database
// server, which needs this much room of its own.
constexpr uint64_t kPostgresFreeSpace = 0x1680000000ULL;  // 90 GiB
constexpr const char* kPostgresName = "PostgreSQL";
// The most a channel keeps reserved on a drive for its next files.
constexpr int64_t kMaxReservation = 0x6400000;  // 100 MiB
constexpr size_t kMaxFolderName = 255;

}  // namespace

std::string Drive::Quoted(const fs::path& path) {
    std::ostringstream text;
    text << std::quoted(path.string(), '"', '&');
    return text.str();
}

void Drive::EnumerateLocalDrives(std::vector<media_drive_s>& drives, uint64_t minFreeBytes) {
    const auto provider = platform::CurrentVolumeProvider();
    for (const auto& volume : provider->ListVolumes()) {
        media_drive_s drive{std::string(1, volume.letter), MEDIA_DRIVE_TYPE_NONE,
                            MEDIA_DRIVE_STATUS_RELEASE, 0};
        if (volume.kind != platform::VolumeKind::kFixed) {
            OLOG(kLogDebug) << "Drive[" << volume.root << "]"
                            << "Default";
            continue;
        }
        drive.type = MEDIA_DRIVE_TYPE_FIXED;
        drive.busType = volume.busType;
        if (volume.busType == platform::kBusUsb) {
            OLOG(kLogInfo) << "Drive[" << volume.root << "]"
                           << "USB TYPE";
            continue;
        }
        // The system disk stays one even when its size cannot be read, so it is
        // never taken for a new recording drive.
        if (volume.systemDisk) drive.status = MEDIA_DRIVE_STATUS_SYSTEM_DISK;
        platform::VolumeSpace space;
        if (const int error = provider->GetSpace(volume.letter, space); error != 0) {
            OLOG(kLogWarning) << "warning " << platform::ErrorText(error);
        } else if (!volume.systemDisk && space.total < minFreeBytes) {
            OLOG(kLogInfo) << "Drive[" << volume.root << "]"
                           << "Fixed Type totalNumberOfBytes < (unsigned long long)(minFreeBytes)"
                           << space.total;
            continue;
        }
        drives.push_back(std::move(drive));
    }
}

bool Drive::IsValidChannelId(const std::string& channelId) {
    if (channelId.empty() || channelId.size() > kMaxFolderName) return false;
    if (channelId == "." || channelId == "..") return false;
    return channelId.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

Drive::Drive(const media_drive_s& drive, uint64_t minFreeSpace)
    : name_(drive.name),
      type_(drive.type),
      busType_(drive.busType),
      status_(drive.status),
      minFreeSpace_(minFreeSpace),
      operationDatabase_(std::make_shared<OperationDatabase>()),
      writeCommands_(std::make_shared<WriteCommandHandler>()),
      readCommands_(std::make_shared<ReadCommandHandler>()) {
    if (Letter() != 0) volumeRoot_ = platform::CurrentVolumeProvider()->RootFolder(Letter());
    if (!volumeRoot_.empty()) {
        rootPath_ = fs::path(volumeRoot_) / common::kRecordDataFolder;
        operationPath_ = rootPath_ / common::kOperationFileName;
    }
}

Drive::~Drive() = default;

std::shared_ptr<Drive> MakeDrive(const media_drive_s& drive, uint64_t minFreeSpace) {
    return std::make_shared<Drive>(drive, minFreeSpace);
}

char Drive::Letter() const {
    if (name_.size() != 1 || name_[0] < 'A' || name_[0] > 'Z') return '\0';
    return name_[0];
}

media_drive_s Drive::GetRecord() const {
    return media_drive_s{name_, type_, status_.load(), busType_};
}

uint64_t Drive::GetMinFreeSize() const {
    std::error_code error;
    if (!volumeRoot_.empty() && fs::exists(fs::path(volumeRoot_) / kPostgresName, error)) {
        return kPostgresFreeSpace;
    }
    return minFreeSpace_.load();
}

void Drive::ChangeStatus(uint32_t status) {
    const uint32_t old = status_.exchange(status);
    OLOG(kLogInfo) << "Drive[" << name_ << "], Change the status From (" << old << ") To ("
                   << status << ")";
    if (status != MEDIA_DRIVE_STATUS_ALLOCATE) {
        // Under the factories' lock, so that no reservation made meanwhile survives.
        std::lock_guard lock(mutex_);
        reservations_.Clear();
        return;
    }
    std::error_code error;
    if (!fs::is_directory(rootPath_, error) && CreateRootDirectory()) {
        OLOG(kLogInfo) << "Drive[" << name_
                       << "], Created a root directory. path = " << Quoted(rootPath_);
    }
}

bool Drive::CreateRootDirectory() {
    std::error_code error;
    if (rootPath_.empty() || !platform::CurrentVolumeProvider()->IsPresent(Letter())) {
        error = std::make_error_code(std::errc::no_such_device);
    } else {
        const bool made = fs::create_directories(rootPath_, error);
        if (!error) return made;
    }
    OLOG(kLogFatal) << "Drive[" << name_
                    << "], Failed to create a root directory error = " << error.message();
    return false;
}

int Drive::QuerySpace(platform::VolumeSpace& space) const {
    if (Letter() == 0) return ENODEV;
    return platform::CurrentVolumeProvider()->GetSpace(Letter(), space);
}

uint64_t Drive::GetCapacity() const {
    platform::VolumeSpace space;
    if (const int error = QuerySpace(space); error != 0) {
        OLOG(kLogError) << "Drive[" << name_
                        << "], Failed to get a space of drvie. name = " << name_
                        << ", error = " << platform::ErrorText(error);
        return 0;
    }
    return space.total;
}

void Drive::GetSpace(media_drive_info_s& info) const {
    info = media_drive_info_s{};
    platform::VolumeSpace space;
    if (const int error = QuerySpace(space); error != 0) {
        OLOG(kLogError) << "Drive[" << name_
                        << "], Failed to get a space of drvie. name = " << name_
                        << ", error = " << platform::ErrorText(error);
        return;
    }
    const uint64_t used = space.total > space.available ? space.total - space.available : 0;
    info.freeMB = static_cast<uint32_t>(space.available >> 20);
    info.usedMB = static_cast<uint32_t>(used >> 20);
    info.totalMB = static_cast<uint32_t>(space.total >> 20);
}

bool Drive::RootFolderExists() const {
    std::error_code error;
    return !rootPath_.empty() && platform::CurrentVolumeProvider()->IsPresent(Letter()) &&
           fs::is_directory(rootPath_, error);
}

bool Drive::OpenOperationDatabase() {
    if (operationOpened_) return true;
    std::wstring path;
    try {
        // The database layer takes wide paths; it writes them back as UTF-8.
        path = boost::locale::conv::utf_to_utf<wchar_t>(operationPath_.string(),
                                                        boost::locale::conv::stop);
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Drive[" << name_ << "], Error: " << e.what()
                        << ". path = " << Quoted(operationPath_);
        return false;
    }
    operationOpened_ = operationDatabase_->Open(std::move(path));
    return operationOpened_;
}

bool Drive::GetTrackId(int& trackId) {
    std::lock_guard lock(mutex_);
    std::error_code error;
    if (!RootFolderExists() || !fs::exists(operationPath_, error)) return false;
    return OpenOperationDatabase() && operationDatabase_->GetTrackId(trackId);
}

bool Drive::SetTrackId(int trackId) {
    std::lock_guard lock(mutex_);
    if (!RootFolderExists()) return false;
    return OpenOperationDatabase() && operationDatabase_->SetTrackId(trackId);
}

bool Drive::GetLastTime(int64_t& lastTime) {
    std::lock_guard lock(mutex_);
    std::error_code error;
    if (!RootFolderExists() || !fs::exists(operationPath_, error)) return false;
    return OpenOperationDatabase() && operationDatabase_->GetLastTime(lastTime);
}

bool Drive::SetLastTime(uint64_t lastTime) {
    std::lock_guard lock(mutex_);
    if (!RootFolderExists()) return false;
    return OpenOperationDatabase() && operationDatabase_->SetLastTime(lastTime);
}

std::optional<int64_t> Drive::FreeAboveMinimum() const {
    platform::VolumeSpace space;
    if (QuerySpace(space) != 0) {
        OLOG(kLogError) << "Drive[" << name_
                        << "], Failed to get a free size. drive = " << Quoted(volumeRoot_);
        return std::nullopt;
    }
    const uint64_t keep = GetMinFreeSize();
    if (space.available <= keep) return 0;
    return static_cast<int64_t>(
        std::min<uint64_t>(space.available - keep, std::numeric_limits<int64_t>::max()));
}

int64_t Drive::GetFreeSize() const {
    return FreeAboveMinimum().value_or(0);
}

int64_t Drive::GetFreeSizeForChannel(const std::string& channelId) const {
    const int64_t free = GetFreeSize() + reservations_.Get(channelId) - reservations_.Total();
    return std::max<int64_t>(0, free);
}

bool Drive::CheckChannelId(const std::string& channelId) const {
    if (IsValidChannelId(channelId)) return true;
    OLOG(kLogError) << "Drive[" << name_
                    << "], Refused a channel id that leaves the recording folder. id = "
                    << Quoted(channelId);
    return false;
}

WriterRefusal Drive::MakeWriter(const record_file_info_s& location, int64_t requiredSize,
                                const char* fileKind,
                                const std::function<bool(const fs::path&)>& open) {
    const std::string& channel = location.channelId;
    if (!CheckChannelId(channel)) return WriterRefusal::kFailed;
    std::lock_guard lock(mutex_);
    const auto above = FreeAboveMinimum();
    const int64_t free = std::max<int64_t>(
        0, above.value_or(0) + reservations_.Get(channel) - reservations_.Total());
    // An unreadable volume may be an unmounted one: never create files there.
    if (!above || requiredSize < 0 || free < requiredSize) {
        OLOG(kLogDebug) << "CH[" << channel << "] Not Enough Free size of " << fileKind
                        << " File. free size = " << free << ", Required Size = " << requiredSize;
        return above ? WriterRefusal::kNoRoom : WriterRefusal::kFailed;
    }
    if (!open(GetTrackPath(channel, location.startTime, location.trackId))) {
        return WriterRefusal::kFailed;
    }

    // What the other channels leave after this file, up to the cap, is kept
    // for this channel's next files.
    reservations_.Set(channel, 0);
    const int64_t left = std::max<int64_t>(0, GetFreeSize() - reservations_.Total());
    const int64_t reserve = std::min(left, kMaxReservation);
    reservations_.Set(channel, reserve);
    OLOG(kLogDebug) << "CH[" << channel << "] Reserved Free size = " << reserve;
    return WriterRefusal::kNone;
}

std::shared_ptr<MetaDataWriter> Drive::CreateMetaDataWriter(
    const record_file_info_s& location, int64_t requiredSize,
    std::shared_ptr<FolderInUseContainer> folders, WriterRefusal* refusal) {
    std::shared_ptr<MetaDataWriter> writer;
    const WriterRefusal why =
        MakeWriter(location, requiredSize, "Meta", [&](const fs::path& trackFolder) {
            writer =
                std::make_shared<MetaDataWriter>(location.trackId, trackFolder, folders, name_);
            if (writer->Open(location, requiredSize)) return true;
            writer->Close();
            writer.reset();
            return false;
        });
    if (refusal) *refusal = why;
    return writer;
}

std::shared_ptr<FileWriter> Drive::CreateFileWriter(const record_file_info_s& location,
                                                    int64_t requiredSize,
                                                    boost::asio::io_context& io,
                                                    std::shared_ptr<FolderInUseContainer> folders,
                                                    WriterRefusal* refusal) {
    std::shared_ptr<FileWriter> writer;
    const WriterRefusal why =
        MakeWriter(location, requiredSize, "Data", [&](const fs::path& trackFolder) {
            writer = FileWriter::Create(location.trackId, trackFolder, name_, io, writeCommands_,
                                        folders);
            if (writer->CreateDataFile(location, requiredSize)) return true;
            writer->Close();
            writer.reset();
            return false;
        });
    if (refusal) *refusal = why;
    return writer;
}

}  // namespace orvale::recorder
