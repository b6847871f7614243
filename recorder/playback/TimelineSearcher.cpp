#include "recorder/playback/TimelineSearcher.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <set>
#include <utility>

#include "common/AsioThreadPool.h"
#include "common/Log.h"
#include "recorder/playback/SearchRange.h"
#include "recorder/playback/TimelineSpans.h"
#include "recorder/store/DataFile.h"
#include "recorder/store/HourFileName.h"

namespace orvale::recorder {
using common::kLogDebug;

namespace {

constexpr int64_t kHourSeconds = 3600;

// The hour an index file holds, from its name; 0 when the name is not one.
int64_t HourOfIndexFile(const IndexFile& file) {
    int64_t hour = 0;
    return DataFile::StartTimeFromName(file.GetPath().stem().string(), hour) ? hour : 0;
}

}  // namespace

// The change points of one hour file, streamed in as the query finds them.
struct TimelineSearcher::HourRows {
    int64_t hour = 0;   // from the file's name, 0 when the name is not one
    bool read = false;  // the file could be connected to
    std::vector<timeline_flags_s> rows;
};

// The state of one search, shared by the waiting thread and the helpers.
struct TimelineSearcher::Run {
    int64_t start = 0;
    int64_t end = 0;
    timeline_filter_s filter;
    std::vector<Group> groups;
    std::vector<Task> tasks;
    std::atomic<size_t> next{0};

    std::mutex mutex;  // guards the two below
    std::condition_variable finished;
    std::vector<std::vector<HourRows>> hours;  // per task, in its files' order
    size_t done = 0;
};

TimelineSearcher::TimelineSearcher(uint32_t seqID, Channels channels, common::AsioThreadPool* pool)
    : pool_(pool), seqID_(seqID), channels_(std::move(channels)) {}

TimelineSearcher::~TimelineSearcher() = default;

bool TimelineSearcher::Search(int64_t start, int64_t end, const timeline_filter_s& filter,
                              TimelineCallback callback) {
    auto job = [weak = weak_from_this(), start, end, filter, callback = std::move(callback)] {
        const auto self = weak.lock();
        if (!self) return;
        Result result;
        self->GetTimeline(start, end, filter, result);
        if (callback) callback(self->seqID_, result);
    };
    if (pool_ != nullptr) {
        pool_->Post(std::move(job));
    } else {
        job();
    }
    return true;
}

void TimelineSearcher::Plan(Run& run, const std::set<int>& trackIds) const {
    for (const int trackId : trackIds) {
        for (const auto& channel : channels_) {
            Group group{trackId, channel, run.tasks.size(), 0};
            std::list<std::shared_ptr<IndexFile>> files;
            channel->ListIndexFiles(trackId, run.start, run.end, files);
            while (!files.empty()) {
                Task task;
                while (!files.empty() && task.files.size() < kHoursPerTask) {
                    task.files.push_back(std::move(files.front()));
                    files.pop_front();
                }
                run.tasks.push_back(std::move(task));
            }
            group.taskEnd = run.tasks.size();
            run.groups.push_back(std::move(group));
        }
    }
    run.hours.resize(run.tasks.size());
}

bool TimelineSearcher::GetTimeline(int64_t start, int64_t end, const timeline_filter_s& filter,
                                   Result& out) {
    OLOG(kLogDebug) << "GetTimeline - Start ";
    std::set<int> trackIds;
    start = ClampToStorable(start);
    end = ClampToStorable(end);
    for (const auto& channel : channels_) channel->GetTrackIds(start, end, trackIds);
    OLOG(kLogDebug) << "GetTimeline - TrackID End ";

    auto run = std::make_shared<Run>();
    run->start = start;
    run->end = end;
    run->filter = filter;
    Plan(*run, trackIds);
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;

    // Helpers only speed the search up: whatever they leave, this thread does.
    // At most one task per pool thread and this one is in flight, each with
    // one hour file open at a time.
    if (pool_ != nullptr && run->tasks.size() > 1) {
        const size_t helpers = std::min<size_t>(run->tasks.size() - 1, pool_->ThreadCount());
        for (size_t i = 0; i < helpers; ++i) {
            pool_->Post([weak = weak_from_this(), run] {
                if (const auto self = weak.lock()) self->Work(*run);
            });
        }
    }
    Work(*run);

    std::unique_lock lock(run->mutex);
    if (!run->finished.wait_until(lock, deadline,
                                  [&run] { return run->done == run->tasks.size(); })) {
        OLOG(kLogDebug) << "GetTimeline - End ";
        return true;
    }
    // Per track, the spans of its channels in the channels' order.
    std::vector<timeline_record_s>* current = nullptr;
    int32_t currentTrack = 0;
    for (const Group& group : run->groups) {
        std::vector<timeline_record_s> spans = Fold(group, *run);
        if (spans.empty()) continue;
        if (current == nullptr || currentTrack != group.trackId) {
            out.emplace_back();
            current = &out.back();
            currentTrack = group.trackId;
        }
        current->insert(current->end(), std::make_move_iterator(spans.begin()),
                        std::make_move_iterator(spans.end()));
    }
    return true;
}

void TimelineSearcher::Work(Run& run) const {
    for (size_t i = run.next++; i < run.tasks.size(); i = run.next++) {
        std::vector<HourRows> hours = ReadHours(run.tasks[i], run);
        std::lock_guard lock(run.mutex);
        run.hours[i] = std::move(hours);
        if (++run.done == run.tasks.size()) run.finished.notify_all();
    }
}

std::vector<TimelineSearcher::HourRows> TimelineSearcher::ReadHours(Task& task,
                                                                    const Run& run) const {
    std::vector<HourRows> hours;
    for (auto& file : task.files) {
        HourRows& hour = hours.emplace_back();
        hour.hour = HourOfIndexFile(*file);
        hour.read = file->EnsureOpen();
        if (hour.read) {
            file->ReadTimeline(run.start, run.end, run.filter,
                               [&hour](const timeline_flags_s& row) { hour.rows.push_back(row); });
        }
        file.reset();  // its connection and page cache go with it
    }
    return hours;
}

std::vector<timeline_record_s> TimelineSearcher::Fold(const Group& group, const Run& run) const {
    TimelineSpans spans(group.trackId, group.channel->GetId());
    int64_t lastHour = 0;  // hour of the last file read, 0 before the first
    for (size_t i = group.taskBegin; i < group.taskEnd; ++i) {
        for (const HourRows& hour : run.hours[i]) {
            // A span open at the end of an hour that no file follows ended
            // with that hour: later seconds were never recorded.
            if (lastHour != 0 && hour.hour != 0 && hour.hour > lastHour + kHourSeconds) {
                spans.CloseOpenSpan(lastHour + kHourSeconds - 1, true);
            }
            if (!hour.read) continue;
            for (const timeline_flags_s& row : hour.rows) spans.Add(row);
            if (hour.hour != 0) lastHour = hour.hour;
        }
    }
    if (lastHour != 0 && lastHour + kHourSeconds - 1 < run.end) {
        spans.CloseOpenSpan(lastHour + kHourSeconds - 1, true);
    }
    spans.CloseOpenSpan(run.end, false);
    spans.ApplyMasks(run.filter);
    return std::move(spans.Spans());
}

}  // namespace orvale::recorder
