#include "recorder/core/MediaRecorderImpl.h"
#include "recorder/core/RegistryWalk.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "common/GlobalNames.h"
#include "common/Log.h"
#include "common/LogSetting.h"
#include "common/Utility.h"
#include "recorder/database/CommonTable.h"
#include "recorder/database/DatabaseFile.h"
#include "recorder/database/SqliteSettings.h"
#include "recorder/store/AlignedBytes.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/MetaDataFile.h"

namespace orvale::recorder {
namespace fs = std::filesystem;
using common::kLogError;
using common::kLogFatal;
using common::kLogInfo;
using common::kLogTrace;
using common::kLogWarning;

namespace {

int64_t NowUtc() {
    return static_cast<int64_t>(std::time(nullptr));
}

bool InUse(const Drive& drive) {
    const uint32_t status = drive.GetStatus();
    return status == MEDIA_DRIVE_STATUS_ALLOCATE || status == MEDIA_DRIVE_STATUS_RELEASE;
}

std::wstring Wide(const fs::path& path) {
    return path.wstring();
}

}  // namespace

MediaRecorderImpl::MediaRecorderImpl()
    : drivePool_(std::make_shared<common::AsioThreadPool>(8)),
      recorderPool_(std::make_shared<common::AsioThreadPool>(8)),
      servicePool_(std::make_shared<common::AsioThreadPool>(16)),
      openPool_(std::make_shared<common::AsioThreadPool>(2)),
      drives_(std::make_shared<ConcurrentMap<std::string, std::shared_ptr<Drive>>>()),
      channels_(std::make_shared<ChannelRegistry>()),
      unlistedChannels_(std::make_shared<ChannelRegistry>()),
      recorders_(std::make_shared<RecorderRegistry>()),
      arbRecorders_(std::make_shared<ArbRecorderRegistry>()),
      trackSearchers_(std::make_shared<SearcherRegistry<TrackSearcher>>()),
      calendarSearchers_(std::make_shared<SearcherRegistry<CalendarSearcher>>()),
      timelineSearchers_(std::make_shared<SearcherRegistry<TimelineSearcher>>()),
      forensicSearchers_(std::make_shared<SearcherRegistry<ForensicSearcher>>()),
      playbackMedia_(PlaybackMediaContainer::Create()),
      playbackTimer_(std::make_unique<PlaybackTimer>([media = playbackMedia_] { media->Tick(); })),
      maintenanceTimer_(std::make_shared<common::DeadlineTimer>(&servicePool_->IoService(),
                                                                kMaintenancePeriodMs)),
      catalogue_(std::make_shared<QzDatabase>()),
      catalogueFiles_(common::GetModuleFolder()) {
    ApplySqliteSettings();
}

// Jobs posted to the pools use the members: the timer goes first, then the
// pools are stopped and joined while every member is still whole.
MediaRecorderImpl::~MediaRecorderImpl() {
    try {
        {
            std::lock_guard lock(mutex_);
            maintenanceEnabled_ = false;
        }
        maintenanceTimer_->Stop();
        maintenanceTimer_.reset();
        // A recorder still running holds buffered seconds and writes on the
        // pools: it stops (and its files close) while both are whole.
        StopAllRecorders();
        StopStartedArbRecorders();
        recorders_->Clear();
        arbRecorders_->Clear();
        // The timer thread goes first, then every medium stops (a backup
        // would go on reading on the pools).
        EndPlayback();
        ClearSearchers();
        channels_->Clear();
        unlistedChannels_->Clear();
        openPool_.reset();
        servicePool_.reset();
        recorderPool_.reset();
        drivePool_.reset();
        // A transfer the pools dropped unfinished left its command queued on
        // its drive, holding what holds the drive.
        std::vector<std::shared_ptr<Drive>> drives;
        drives_->ForEach([&drives](std::shared_ptr<Drive> drive) { drives.push_back(drive); });
        for (const auto& drive : drives) {
            drive->GetReadCommandHandler()->DropCommands();
            drive->GetWriteCommandHandler()->DropCommands();
        }
        drives.clear();
        drives_->Clear();
    } catch (...) {
        // Only a broken lock can throw here; the members go in their order.
    }
}

void MediaRecorderImpl::Initialize() {
    OLOG(kLogTrace) << "Initialize!";
    std::lock_guard lock(mutex_);
    try {
        IndexFile::CreateTemplate();
        MetaDataFile::CreateTemplate();
        catalogueFiles_.CreateFolders();
        OpenCatalogue();
        // The buffer size set since the last start reaches the pool made now;
        // media made before keep the pool they were made with.
        bufferPool_ = std::make_shared<BufferPool>(bufferSize_.load());
        RefreshDrives();
        LoadTrackId();
        maintenanceEnabled_ = true;
        ArmMaintenance();
    } catch (const std::exception& e) {
        OLOG(kLogFatal) << "Failed to initialize, Exception: " << e.what();
    }
    OLOG(kLogInfo) << "Initialized RadirAdozarod.";
}

void MediaRecorderImpl::Finalize(bool removeFiles) {
    // Before the engine lock: a callback on the timer thread holds the
    // container's lock and may wait for the engine's.
    playbackMedia_->StopAll();
    std::lock_guard lock(mutex_);
    try {
        maintenanceEnabled_ = false;
        maintenanceTimer_->Stop();
        StopAllRecorders();
        // A running ARB recorder's hour index is merged only when it stops.
        StopStartedArbRecorders();
        // The write buffers kept for the next recorders have no taker now.
        AlignedBytes::ReleaseSpares();
        ClearSearchers();
        // Another process's catalogue stays: only a sole holder removes it.
        const bool sole = removeFiles && catalogue_->HeldByNoOther();
        catalogue_->Close();
        if (removeFiles && !sole) {
            OLOG(kLogWarning) << "Kept the QzDatabase files: another process holds them.";
        }
        if (sole) {
            catalogueFiles_.Remove(catalogueFiles_.Base());
            catalogueFiles_.Remove(catalogueFiles_.Import());
            catalogueFiles_.Remove(catalogueFiles_.Backup());
        }
        const int64_t now = NowUtc();
        for (const auto& drive : DrivesInUse()) drive->SetLastTime(static_cast<uint64_t>(now));
    } catch (const std::exception& e) {
        OLOG(kLogFatal) << "Failed to finalize, Exception: " << e.what();
    }
    OLOG(kLogInfo) << "Finalized RadirAdozarod.";
    common::ReleaseLogSetting();
}

// --- catalogue ---

// Only a catalogue SQLite finds damaged is replaced, and it is moved aside
// rather than removed; one another process holds busy past the wait leaves
// the engine without a catalogue and every file as it is.
void MediaRecorderImpl::OpenCatalogue() {
    const fs::path path = catalogueFiles_.MainFile(catalogueFiles_.Base());
    try {
        TakeImportCopy();
        if (OpenCatalogueFile(path)) {
            ReadSettings();
            return;
        }
        if (!catalogue_->LastOpenFoundDamage()) {
            OLOG(kLogFatal) << "Failed to open QzDatabase, busy or locked : " << path;
            catalogue_->Close();
            return;
        }
        catalogue_->Close();
        catalogue_ = std::make_shared<QzDatabase>();
        if (!MoveDamagedAside(path)) {
            OLOG(kLogFatal) << "Failed to move the damaged QzDatabase aside : " << path;
            return;
        }
        if (catalogueFiles_.Exists(catalogueFiles_.Backup()) &&
            catalogueFiles_.CopyInto(catalogueFiles_.Backup(), catalogueFiles_.Base())) {
            OLOG(kLogInfo) << "Success to copy Backup File of QzDatabase.";
        }
        if (!OpenCatalogueFile(path)) {
            OLOG(kLogWarning) << "Failed to open QzDatabase : " << path;
            catalogue_->Close();
            catalogue_ = std::make_shared<QzDatabase>();
            if (!catalogue_->LastOpenFoundDamage() || !MoveDamagedAside(path) ||
                !OpenCatalogueFile(path)) {
                OLOG(kLogFatal) << "Failed to open QzDatabase : " << path;
                catalogue_->Close();
                return;
            }
        }
        ReadSettings();
        OLOG(kLogInfo) << "Success to open QzDatabase.";
    } catch (const std::exception& e) {
        OLOG(kLogFatal) << "Failed to open QzDatabase : " << e.what();
    }
}

// The damaged file and its log keep their data for a later look, under a
// name no start opens.
bool MediaRecorderImpl::MoveDamagedAside(const fs::path& path) {
    const std::string suffix = ".damaged-" + std::to_string(NowUtc());
    for (const char* part : {"", "-wal", "-shm"}) {
        const fs::path from = path.string() + part;
        std::error_code error;
        if (!fs::exists(from, error)) continue;
        fs::rename(from, path.string() + part + suffix, error);
        if (error) return false;
        OLOG(kLogWarning) << "Moved damaged QzDatabase aside : " << from << suffix;
    }
    return true;
}

// An import copy replaces the working catalogue only once it has proved
// sound and its copy is complete; the old backup goes only then. A broken
// one, or one that could not be copied, stays where it is, and the working
// copy is opened as it was.
void MediaRecorderImpl::TakeImportCopy() {
    if (!catalogueFiles_.Exists(catalogueFiles_.Import())) return;
    if (!catalogueFiles_.IsSound(catalogueFiles_.Import())) {
        OLOG(kLogError) << "Failed to open the import copy of QzDatabase : "
                        << catalogueFiles_.MainFile(catalogueFiles_.Import());
        return;
    }
    if (!catalogueFiles_.CopyInto(catalogueFiles_.Import(), catalogueFiles_.Base())) {
        OLOG(kLogError) << "Failed to copy the import copy of QzDatabase : "
                        << catalogueFiles_.MainFile(catalogueFiles_.Import());
        return;
    }
    catalogueFiles_.Remove(catalogueFiles_.Import());
    catalogueFiles_.Remove(catalogueFiles_.Backup());
    OLOG(kLogInfo) << "Success to copy Import File of QzDatabase.";
}

bool MediaRecorderImpl::OpenCatalogueFile(const fs::path& path) {
    return catalogue_->Open(Wide(path)) && catalogue_->GetCommonTable() != nullptr;
}

void MediaRecorderImpl::ReadSettings() {
    if (auto common = catalogue_->GetCommonTable()) {
        bool value = useOverwrite_;
        if (common->GetValue(common::kOverwriteSetting, value)) useOverwrite_ = value;
        value = useDualRecord_;
        if (common->GetValue(common::kDualRecordSetting, value)) useDualRecord_ = value;
    }
    OLOG(kLogInfo) << "Setting Value: Overwrite = " << (useOverwrite_ ? 1 : 0)
                   << "Dual Record = " << (useDualRecord_ ? 1 : 0);
}

// The mark is cleared before the copy, so a write during the copy marks the
// catalogue again; a failed copy sets it again for the next run. The new copy
// is built beside the previous one, which it replaces only when complete.
void MediaRecorderImpl::BackupCatalogue() {
    std::lock_guard lock(mutex_);
    if (!catalogue_->Modified().exchange(false)) return;
    const fs::path building = catalogueFiles_.BuildingFile(catalogueFiles_.Backup());
    RemoveDatabaseFiles(building);
    if (catalogue_->BackupTo(building.string()) &&
        catalogueFiles_.MoveIntoPlace(building, catalogueFiles_.Backup())) {
        return;
    }
    RemoveDatabaseFiles(building);
    catalogue_->Modified() = true;
}

// --- track id ---

// A drive whose operation database fails leaves the start-up going: the
// track and last time stay as far as they were taken.
void MediaRecorderImpl::LoadTrackId() {
    try {
        LoadTrackIdOfDrives();
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Failed to open OperationDatabae. Exception: " << e.what();
    }
}

void MediaRecorderImpl::LoadTrackIdOfDrives() {
    const auto drives = DrivesInUse();
    int track = 1;
    int64_t last = 0;
    for (const auto& drive : drives) {
        int driveTrack = 1;
        if (drive->GetTrackId(driveTrack)) track = std::max(track, driveTrack);
        int64_t driveLast = 0;
        if (drive->GetLastTime(driveLast)) last = std::max(last, driveLast);
    }
    trackId_ = static_cast<unsigned>(track);
    lastTime_ = last;
    const int64_t now = NowUtc();
    if (now < lastTime_) {
        ++trackId_;
        lastTime_ = now;
        OLOG(kLogInfo) << "Changed trackID = " << trackId_.load()
                       << " , lastTime = " << common::TimeText(now);
    } else {
        OLOG(kLogInfo) << "Stting Value trackID = " << trackId_.load()
                       << " , lastTime = " << lastTime_;
        lastTime_ = now;
    }
    for (const auto& drive : drives) {
        drive->SetTrackId(static_cast<int>(trackId_.load()));
        drive->SetLastTime(static_cast<uint64_t>(lastTime_));
    }
}

// --- maintenance ---

void MediaRecorderImpl::ArmMaintenance() {
    maintenanceTimer_->Restart(
        [this](const boost::system::error_code& error) { OnMaintenanceTimer(error); });
}

void MediaRecorderImpl::OnMaintenanceTimer(const boost::system::error_code& error) {
    if (error) return;
    RunMaintenance();
    std::lock_guard lock(mutex_);
    if (maintenanceEnabled_) ArmMaintenance();
}

void MediaRecorderImpl::RunMaintenance() {
    {
        std::lock_guard lock(mutex_);
        if (!maintenanceEnabled_) return;
    }
    RunGuarded("Maintenance: catalogue backup", [this] { BackupCatalogue(); });
    RunGuarded("Maintenance: drive refresh", [this] { RefreshDrives(); });
    WalkRegistry(*recorders_, "Maintenance: recorder status",
                 [](const std::shared_ptr<Recorder>& recorder) {
                     recorder->LogRecordStatus();
                     std::this_thread::sleep_for(std::chrono::milliseconds(1));
                 });
    WalkRegistry(*arbRecorders_, "Maintenance: ARB recorder status",
                 [](const std::shared_ptr<ArbRecorder>& recorder) {
                     if (recorder->IsStarted()) recorder->LogFrameStatus();
                     std::this_thread::sleep_for(std::chrono::milliseconds(1));
                 });
}

std::shared_ptr<QzDatabase> MediaRecorderImpl::Catalogue() const {
    std::lock_guard lock(mutex_);
    return catalogue_;
}

std::vector<std::shared_ptr<Drive>> MediaRecorderImpl::DrivesInUse() const {
    std::vector<std::shared_ptr<Drive>> all;
    drives_->Values(all);
    std::vector<std::shared_ptr<Drive>> used;
    for (auto& drive : all) {
        if (drive && InUse(*drive)) used.push_back(std::move(drive));
    }
    return used;
}

}  // namespace orvale::recorder
