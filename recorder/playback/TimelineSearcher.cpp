#include "recorder/playback/TimelineSearcher.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <set>
#include <thread>
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

// The state of one search, shared by the waiting thread and the helpers.
struct TimelineSearcher::Run {
    int64_t start = 0;
    int64_t end = 0;
    timeline_filter_s filter;
    std::vector<Task> tasks;
    std::atomic<size_t> next{0};

    std::mutex mutex;  // guards the two below
    std::condition_variable finished;
    std::vector<std::vector<timeline_record_s>> spans;  // per task
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
    for (const int trackId : trackIds) {
        for (const auto& channel : channels_) run->tasks.push_back({trackId, channel});
    }
    run->spans.resize(run->tasks.size());
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;

    // Helpers only speed the search up: whatever they leave, this thread does.
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
    for (size_t i = 0; i < run->tasks.size(); ++i) {
        auto& spans = run->spans[i];
        if (spans.empty()) continue;
        if (current == nullptr || currentTrack != run->tasks[i].trackId) {
            out.emplace_back();
            current = &out.back();
            currentTrack = run->tasks[i].trackId;
        }
        current->insert(current->end(), std::make_move_iterator(spans.begin()),
                        std::make_move_iterator(spans.end()));
    }
    return true;
}

void TimelineSearcher::Work(Run& run) const {
    for (size_t i = run.next++; i < run.tasks.size(); i = run.next++) {
        std::vector<timeline_record_s> spans = SearchTrack(run.tasks[i], run);
        std::lock_guard lock(run.mutex);
        run.spans[i] = std::move(spans);
        if (++run.done == run.tasks.size()) run.finished.notify_all();
    }
}

std::vector<timeline_record_s> TimelineSearcher::SearchTrack(const Task& task,
                                                             const Run& run) const {
    std::list<std::shared_ptr<IndexFile>> files;
    task.channel->ListIndexFiles(task.trackId, run.start, run.end, files);
    TimelineSpans spans(task.trackId, task.channel->GetId());
    int64_t lastHour = 0;  // hour of the last file read, 0 before the first
    std::vector<timeline_flags_s> rows;
    for (const auto& file : files) {
        const int64_t hour = HourOfIndexFile(*file);
        // A span open at the end of an hour that no file follows ended with
        // that hour: later seconds were never recorded.
        if (lastHour != 0 && hour != 0 && hour > lastHour + kHourSeconds) {
            spans.CloseOpenSpan(lastHour + kHourSeconds - 1, true);
        }
        if (!file->EnsureOpen()) continue;
        rows.clear();
        file->ReadTimeline(run.start, run.end, run.filter, rows);
        for (const timeline_flags_s& row : rows) spans.Add(row);
        if (hour != 0) lastHour = hour;
        std::this_thread::yield();
    }
    if (lastHour != 0 && lastHour + kHourSeconds - 1 < run.end) {
        spans.CloseOpenSpan(lastHour + kHourSeconds - 1, true);
    }
    spans.CloseOpenSpan(run.end, false);
    spans.ApplyMasks(run.filter);
    return std::move(spans.Spans());
}

}  // namespace orvale::recorder
