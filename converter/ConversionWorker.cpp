#include "converter/ConversionWorker.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <system_error>
#include <thread>

#include "converter/DataFileConverter.h"
#include "converter/MetaFileConverter.h"
#include "converter/RecorderStatusWatch.h"

namespace orvale::converter {
namespace fs = std::filesystem;
namespace {

constexpr char kScheduleId[] = "1";

// The number in the first four characters of a file name ("0003_..." -> 3),
// 0 when it does not start with a digit.
int LeadingTrackNumber(const std::string& name) {
    int number = 0;
    for (size_t i = 0; i < name.size() && i < 4; ++i) {
        if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) break;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// Removes `folder` when it is an empty real folder (a link is left alone).
void RemoveEmptyFolder(const fs::path& folder) {
    std::error_code error;
    if (fs::symlink_status(folder, error).type() != fs::file_type::directory) return;
    fs::remove(folder, error);  // fails, harmlessly, while anything is in it
}

// Switches the engine's overwrite off for its own life and back on after,
// when it was on.
class OverwriteOff {
  public:
    explicit OverwriteOff(ConversionEngine& engine)
        : engine_(engine), wasOn_(engine.GetUseOverwrite()) {
        if (wasOn_) engine_.SetUseOverwrite(false);
    }
    ~OverwriteOff() {
        if (wasOn_) engine_.SetUseOverwrite(true);
    }
    OverwriteOff(const OverwriteOff&) = delete;
    OverwriteOff& operator=(const OverwriteOff&) = delete;

  private:
    ConversionEngine& engine_;
    bool wasOn_;
};

void AddPushed(const pushed_frames_s& pushed, conversion_result_s& result) {
    result.videoFrames += pushed.videoFrames;
    result.audioFrames += pushed.audioFrames;
    result.metaFrames += pushed.metaFrames;
    result.videoBytes += pushed.bytes;
    result.refusedFrames += pushed.refusedFrames;
}

}  // namespace

ConversionWorker::ConversionWorker(ConversionEngine& engine, LogLine log)
    : engine_(engine),
      log_(std::move(log)),
      sleep_([](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }),
      schedule_(std::make_unique<recorder::media_schedule_s>()) {
    std::memset(schedule_->table, 1, sizeof(schedule_->table));
    schedule_->useHoliday = false;
}

conversion_result_s ConversionWorker::Run(const conversion_plan_s& plan) {
    running_ = true;
    conversion_result_s result;
    done_ = 0;
    lastFileMs_ = 0.0;
    percent_ = 0;
    timeRemaining_ = 0.0;
    const auto total = static_cast<int>(CountFiles(plan));
    total_ = total;
    remaining_ = total;
    const OverwriteOff overwriteOff(engine_);
    for (size_t i = 0; i < plan.folders.size(); ++i) {
        if (ConvertFolder(plan.folders[i], plan, result) == FolderEnd::kCancelled) {
            result.cancelled = true;
            break;
        }
        CatchUpTo(i);
    }
    running_ = false;
    return result;
}

// Counts the old files of the plan's folders. Whatever else is in them was
// never a recording of the old recorder, so it is no business of the
// conversion's: it stays, and only how many is logged.
uint32_t ConversionWorker::CountFiles(const conversion_plan_s& plan) {
    uint32_t count = 0;
    uint32_t others = 0;
    countedUpTo_.clear();
    for (const date_folder_s& folder : plan.folders) {
        std::error_code error;
        for (const fs::path& file : ListDateFiles(folder.path, error)) {
            if (ClassifyOldFile(file.filename().string()) == OldFileKind::kOther) {
                ++others;
            } else {
                ++count;
            }
        }
        countedUpTo_.push_back(static_cast<int>(count));
    }
    log_("File Count = " + std::to_string(count));
    if (others > 0) log_("Other files left alone = " + std::to_string(others));
    return count;
}

// The progress reaches its end even when a folder held fewer files at its
// turn than it was counted with (it vanished, or files went).
void ConversionWorker::CatchUpTo(size_t index) {
    if (index >= countedUpTo_.size()) return;
    while (done_ < countedUpTo_[index]) FileDone();
}

// A folder gone or unreadable at its turn fails on its own; the engine is
// not asked for a recorder of it.
bool ConversionWorker::FolderReadable(const date_folder_s& folder, std::vector<fs::path>& files,
                                      conversion_result_s& result) {
    std::error_code error;
    if (fs::symlink_status(folder.path, error).type() == fs::file_type::directory) {
        files = ListDateFiles(folder.path, error);
        if (!error) return true;
    } else if (!error) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    ++result.failedFolders;
    log_("Folder missing: " + folder.path.string() + " (" + error.message() + ")");
    return false;
}

ConversionWorker::FolderEnd ConversionWorker::ConvertFolder(const date_folder_s& folder,
                                                            const conversion_plan_s& plan,
                                                            conversion_result_s& result) {
    std::vector<fs::path> files;
    if (!FolderReadable(folder, files, result)) return FolderEnd::kDone;
    std::erase_if(files, [](const fs::path& file) {
        return ClassifyOldFile(file.filename().string()) == OldFileKind::kOther;
    });
    PointEngineAt(folder.drive);
    std::string channel = folder.channel;
    std::string scheduleId = kScheduleId;
    recorder::IRecorder* recorder = engine_.CreateRecorder(channel, scheduleId, 0, false);
    if (recorder == nullptr) {
        SkipFolder(folder, files, result);
        return FolderEnd::kDone;
    }
    const std::shared_ptr<RecorderStatusWatch> watch = RecorderStatusWatch::Attach(*recorder);
    recorder->SetUseFrameTime(true);
    recorder->SetSchedule(scheduleId, *schedule_, {});
    recorder->StartRecording();
    // The recorder starts on the engine's track, which need not be the one
    // the previous folder's files left behind.
    lastTrackId_ = static_cast<int>(engine_.GetTrackId());

    bool cancelled = false;
    std::vector<fs::path> converted;
    for (const fs::path& file : files) {
        if (!running_) {
            cancelled = true;
            break;
        }
        ChangeTrack(file.filename().string());
        if (ConvertFile(file, *recorder, plan, result)) converted.push_back(file);
        FileDone();
    }

    recorder->StopRecording();
    const bool settled = watch->WaitUntilIdle(statusWait_);
    const bool keep = watch->HadError() || !settled;
    if (keep) {
        ++result.failedFolders;
        result.keptFiles += static_cast<uint32_t>(converted.size());
        log_("Recording error, files kept. channel = " + folder.channel +
             ", date = " + folder.date);
    }
    if (plan.deleteFiles && !keep) {
        for (const fs::path& file : converted) {
            std::error_code ignored;
            fs::remove(file, ignored);
        }
        if (!cancelled) RemoveEmptyFolder(folder.path);
    }
    engine_.DeleteChannel(channel, false);
    if (plan.deleteFiles && !keep && !cancelled) RemoveEmptyFolder(folder.ChannelPath());
    return cancelled ? FolderEnd::kCancelled : FolderEnd::kDone;
}

// A folder without a recorder keeps all its files; they still count as done,
// so that the progress reaches its end.
void ConversionWorker::SkipFolder(const date_folder_s& folder, const std::vector<fs::path>& files,
                                  conversion_result_s& result) {
    ++result.failedFolders;
    log_("Failed to create a recorder. channel = " + folder.channel + ", date = " + folder.date);
    result.files += static_cast<uint32_t>(files.size());
    for (size_t i = 0; i < files.size(); ++i) FileDone();
}

// Only the folder's own drive records; every other drive the engine may use
// is released for the time of the folder.
void ConversionWorker::PointEngineAt(char drive) {
    std::vector<recorder::media_drive_s> drives;
    engine_.GetMediaDrive(drives);
    for (recorder::media_drive_s& entry : drives) {
        if (entry.status == recorder::MEDIA_DRIVE_STATUS_SYSTEM_DISK) continue;
        const bool source = entry.name.size() == 1 && entry.name[0] == drive;
        engine_.SetMediaDrive(entry.name, source ? recorder::MEDIA_DRIVE_STATUS_ALLOCATE
                                                 : recorder::MEDIA_DRIVE_STATUS_RELEASE);
    }
}

// Track ids are positive; a name without a number keeps the current track.
void ConversionWorker::ChangeTrack(const std::string& fileName) {
    const int track = LeadingTrackNumber(fileName);
    if (track == 0 || track == lastTrackId_) return;
    engine_.ChangeTrackId(track);
    lastTrackId_ = track;
}

bool ConversionWorker::ConvertFile(const fs::path& file, recorder::IRecorder& recorder,
                                   const conversion_plan_s& plan, conversion_result_s& result) {
    ++result.files;
    pushed_frames_s pushed;
    bool converted = false;
    file_failure_s failure;
    const push_target_s target{recorder, sleep_, plan.delayTimeMs, running_};
    if (ClassifyOldFile(file.filename().string()) == OldFileKind::kMetadata) {
        converted = ConvertTextFile(file, target, pushed, failure);
        if (failure.why == kNmtCannotOpen) log_("File open error!(nmt)");
    } else {
        const auto start = std::chrono::steady_clock::now();
        converted = ConvertDataFile(file, target, pushed, failure);
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        if (converted) lastFileMs_ = elapsed.count();
    }
    if (!converted) ++result.failedFiles;
    if (!failure.why.empty()) LogFailure(file, failure.why);
    AddPushed(pushed, result);
    // A frame the recorder refused is not stored: the file is kept.
    if (converted && pushed.refusedFrames > 0) {
        ++result.keptFiles;
        return false;
    }
    return converted;
}

void ConversionWorker::LogFailure(const fs::path& file, const std::string& why) {
    log_("File failed, kept: " + file.string() + " (" + why + ")");
}

void ConversionWorker::FileDone() {
    ++done_;
    const int total = total_;
    const int remaining = std::max(0, total - done_);
    remaining_ = remaining;
    timeRemaining_ = (lastFileMs_ / 1000.0 + 0.5) * remaining;
    percent_ = total > 0 ? std::clamp(done_ * 100 / total, 0, 100) : 100;
}

}  // namespace orvale::converter
