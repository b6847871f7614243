// The body of one conversion run: every ticked date folder's old files are
// pushed, frame by frame, through a recorder of the engine, which stores
// them as its own recordings.
//
// The worker owns nothing of the engine: it borrows a ConversionEngine for
// its lifetime, and each folder's recorder lives from CreateRecorder to
// DeleteChannel within that folder. A run works on a plan taken before it
// starts (the worker never reads the dialog's widgets); its progress figures
// are atomics that another thread may read at any time. Cancel may be
// called from any thread; the run notices it between files.
//
// A conversion never makes room by deleting recordings: the engine's
// overwrite is off for the time of a run and restored afterwards, so a drive
// that runs short fails the folder's writes instead.
//
// Old files are deleted (when the plan says so) only after their folder's
// recorder has stopped and its stop has returned, by which time the recorder
// has reported every status of the folder, the results of the writes made
// inside the stop included; a file that did not convert or had a frame
// refused, and every file of a folder whose recorder reported an error or
// could not be created, is kept. Metadata waits for the recorder as video
// does, since the recorder drops what finds its queue full.
// Folders are removed only when empty and never through a symbolic link.
// Nothing but a converted old file is ever deleted: other entries of a date
// folder are counted as left alone. A date folder that is missing or cannot
// be listed at its turn is logged and failed, and the run goes on.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "converter/FramePush.h"
#include "converter/OldFolders.h"
#include "recorder/api/MediaRecorder.h"

namespace orvale::converter {

// What the worker needs of the engine; MediaRecorderEngine forwards to the
// real one, tests give a fake.
class ConversionEngine {
  public:
    virtual ~ConversionEngine() = default;
    virtual bool GetMediaDrive(std::vector<recorder::media_drive_s>& drives) = 0;
    virtual bool SetMediaDrive(std::string& name, recorder::media_drive_status_e status) = 0;
    virtual recorder::IRecorder* CreateRecorder(std::string& channelId, std::string& scheduleId,
                                                int protocol, bool failover) = 0;
    virtual void ChangeTrackId(int trackId) = 0;
    virtual unsigned GetTrackId() = 0;
    virtual bool GetUseOverwrite() = 0;
    virtual void SetUseOverwrite(bool use) = 0;
    virtual bool DeleteChannel(std::string& channelId, bool removeData) = 0;
};

class MediaRecorderEngine : public ConversionEngine {
  public:
    explicit MediaRecorderEngine(recorder::MediaRecorder& engine) : engine_(engine) {}
    bool GetMediaDrive(std::vector<recorder::media_drive_s>& drives) override;
    bool SetMediaDrive(std::string& name, recorder::media_drive_status_e status) override;
    recorder::IRecorder* CreateRecorder(std::string& channelId, std::string& scheduleId,
                                        int protocol, bool failover) override;
    void ChangeTrackId(int trackId) override;
    unsigned GetTrackId() override;
    bool GetUseOverwrite() override;
    void SetUseOverwrite(bool use) override;
    bool DeleteChannel(std::string& channelId, bool removeData) override;

  private:
    recorder::MediaRecorder& engine_;
};

// A run's input, snapshotted by whoever starts it.
struct conversion_plan_s {
    std::vector<date_folder_s> folders;  // the ticked dates' folders, in list-row order
    bool deleteFiles = false;            // "Delete file"
    int delayTimeMs = 0;                 // pause after every 1 MiB of video, 0..100
};

// What a run did, for the summary of a command-line run.
struct conversion_result_s {
    uint32_t files = 0;          // files handled (converted or not)
    uint32_t failedFiles = 0;    // files that yielded no reader, failed or could not be opened
    uint32_t failedFolders = 0;  // no recorder, or the recorder reported an error
    // Files read whole but kept: a frame of theirs was refused, or their
    // folder's recorder reported an error.
    uint32_t keptFiles = 0;
    uint64_t videoFrames = 0;
    uint64_t audioFrames = 0;
    uint64_t metaFrames = 0;
    uint64_t videoBytes = 0;     // payload bytes pushed, all kinds
    uint64_t refusedFrames = 0;  // frames the recorder answered false to
    bool cancelled = false;
};

class ConversionWorker {
  public:
    // Each line without the "- " the log box puts in front.
    using LogLine = std::function<void(const std::string&)>;

    ConversionWorker(ConversionEngine& engine, LogLine log);

    ConversionWorker(const ConversionWorker&) = delete;
    ConversionWorker& operator=(const ConversionWorker&) = delete;

    // Blocks until the plan is done or cancelled; runs on the caller's thread.
    conversion_result_s Run(const conversion_plan_s& plan);
    void Cancel() { running_ = false; }
    bool IsRunning() const { return running_; }

    // Progress of the current (or last) run.
    int Percent() const { return percent_; }
    int Total() const { return total_; }
    int Remaining() const { return remaining_; }
    double TimeRemaining() const { return timeRemaining_; }

    // How the worker pauses (back-pressure and the delay after every MiB of
    // video); the thread sleeps unless another is given.
    void SetSleeper(Sleeper sleep) { sleep_ = std::move(sleep); }
    // How long, after stopping a recorder that was writing, the worker waits
    // for it to report the end of writing before deciding on deletion.
    void SetStatusWait(std::chrono::milliseconds wait) { statusWait_ = wait; }

  private:
    enum class FolderEnd { kDone, kCancelled };

    uint32_t CountFiles(const conversion_plan_s& plan);
    bool FolderReadable(const date_folder_s& folder, std::vector<std::filesystem::path>& files,
                        conversion_result_s& result);
    // Counts every file counted up to the end of folder `index` as done.
    void CatchUpTo(size_t index);
    FolderEnd ConvertFolder(const date_folder_s& folder, const conversion_plan_s& plan,
                            conversion_result_s& result);
    void SkipFolder(const date_folder_s& folder, const std::vector<std::filesystem::path>& files,
                    conversion_result_s& result);
    void PointEngineAt(char drive);
    void ChangeTrack(const std::string& fileName);
    void LogFailure(const std::filesystem::path& file, const std::string& why);
    bool ConvertFile(const std::filesystem::path& file, recorder::IRecorder& recorder,
                     const conversion_plan_s& plan, conversion_result_s& result);
    void FileDone();

    ConversionEngine& engine_;
    LogLine log_;
    Sleeper sleep_;
    std::chrono::milliseconds statusWait_{10000};
    std::unique_ptr<recorder::media_schedule_s> schedule_;  // every slot of every minute
    int done_ = 0;
    std::vector<int> countedUpTo_;  // files counted in the plan's folders up to each one
    double lastFileMs_ = 0.0;
    std::atomic<bool> running_{false};
    std::atomic<int> percent_{0};
    std::atomic<int> total_{0};
    std::atomic<int> remaining_{0};
    std::atomic<double> timeRemaining_{0.0};
    // The track the current recorder records on: the engine's at its start,
    // then the last one asked for.
    int lastTrackId_ = 1;
};

}  // namespace orvale::converter
