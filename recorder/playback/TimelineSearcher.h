// The timeline search over a set of channels: per track, the spans of equal
// event flags that the hourly index databases hold for a time range.
//
// A search is split into tasks of up to kHoursPerTask hour files of one
// (track, channel); the change points each task reads are folded into spans
// per (track, channel) once all are in. The thread that
// waits for the answer runs tasks itself and the pool's threads only help,
// so a search never waits on work queued behind it on its own pool: any
// number of concurrent searches finish on a pool of any size. Each search
// keeps its tasks and results in a state of its own, so nothing of one
// search reaches the next, not even from tasks of a search that timed out.
//
// The searcher is held by shared pointers (the engine's registry, a running
// search); queued work holds only weak references and is dropped once the
// searcher is gone. The channels are fixed at construction. The pool, when
// given, must outlive the searcher.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "recorder/api/Interfaces.h"
#include "recorder/storage/Channel.h"

namespace orvale::common {
class AsioThreadPool;
}

namespace orvale::recorder {

class TimelineSearcher : public ITimelineSearcher,
                         public std::enable_shared_from_this<TimelineSearcher> {
  public:
    using Channels = std::vector<std::shared_ptr<Channel>>;
    using Result = std::vector<std::vector<timeline_record_s>>;

    // How long a search waits for tasks that other threads run.
    static constexpr std::chrono::seconds kWaitLimit{60};
    // Hour files one task reads: small enough that a channel's month spreads
    // over the pool, large enough that tasks are not mostly overhead.
    static constexpr size_t kHoursPerTask = 24;

    // Without a pool every search runs on the calling thread alone.
    TimelineSearcher(uint32_t seqID, Channels channels, common::AsioThreadPool* pool);
    ~TimelineSearcher() override;

    TimelineSearcher(const TimelineSearcher&) = delete;
    TimelineSearcher& operator=(const TimelineSearcher&) = delete;

    bool Search(int64_t start, int64_t end, const timeline_filter_s& filter,
                TimelineCallback callback) override;
    // The search on the calling thread: appends one vector per track that has
    // spans, in ascending track id; nothing when the tasks other threads took
    // did not finish in time. Always true.
    bool GetTimeline(int64_t start, int64_t end, const timeline_filter_s& filter, Result& out);

    uint32_t GetSeqId() const { return seqID_; }

  private:
    struct Task {
        std::vector<std::shared_ptr<IndexFile>> files;  // in time order; dropped once read
    };
    // The tasks [taskBegin, taskEnd) of one (track, channel).
    struct Group {
        int32_t trackId;
        std::shared_ptr<Channel> channel;
        size_t taskBegin;
        size_t taskEnd;
    };
    struct HourRows;
    struct Run;

    void Plan(Run& run, const std::set<int>& trackIds) const;
    // Takes tasks of `run` until none is left.
    void Work(Run& run) const;
    std::vector<HourRows> ReadHours(Task& task, const Run& run) const;
    std::vector<timeline_record_s> Fold(const Group& group, const Run& run) const;

    common::AsioThreadPool* const pool_;
    const uint32_t seqID_;
    const Channels channels_;
};

}  // namespace orvale::recorder
