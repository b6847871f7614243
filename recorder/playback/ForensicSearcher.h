// The forensic search over one channel (IForensicSearcher): each Search
// builds the rule record from the caller's shapes and posts one job, which
// replays the rule frames stored with the track's metadata, hour by hour,
// through the motion rule library and answers the hits.
//
// The rule library has one rule set and one tracking state per process, so a
// job needs it to itself from its rule set to its last frame. Jobs therefore
// run on the pool's strand, one at a time per pool, and waiting jobs take no
// thread; around its use of the library a job also holds a process-wide lock,
// for engines on other pools. The answer is posted to the pool apart from
// the strand, so a slow callback holds up no other search.
//
// A job owns a copy of its arguments (rule record, range, track, callback)
// and holds only a weak reference to the searcher until it starts: a
// searcher released by then answers nothing, and a started job keeps it
// alive to its end. A search creates and changes nothing in the recording
// tree: an hour without a metadata database is skipped, and one is read
// without a copy of its XML or more than one row of it at a time.
//
// The pool must outlive the searcher and its jobs.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "recorder/api/Interfaces.h"
#include "recorder/storage/Channel.h"
#include "rules/Pimbrel.h"

namespace orvale::common {
class AsioThreadPool;
}

namespace orvale::recorder {

class ForensicSearcher : public IForensicSearcher,
                         public std::enable_shared_from_this<ForensicSearcher> {
  public:
    // Events the library may write for one frame.
    static constexpr int kMaxFrameEvents = 100;

    ForensicSearcher(uint32_t seqID, std::shared_ptr<Channel> channel,
                     common::AsioThreadPool* pool);
    ~ForensicSearcher() override;

    ForensicSearcher(const ForensicSearcher&) = delete;
    ForensicSearcher& operator=(const ForensicSearcher&) = delete;

    bool Search(int64_t start, int64_t end, int trackId,
                const std::list<forensic_search_area_s>& areas,
                const std::list<forensic_search_line_s>& lines, ForensicCallback callback) override;

    uint32_t GetSeqId() const { return seqID_; }

    // The answer to one event of the library: its time, and the code and
    // sub-code of its type (0 and 0 for a type the library does not make).
    static forensic_event_s ToForensicEvent(const rule_event_s& event);
    // Appends the first event of each type among `count` events of one frame.
    static void KeepFirstOfEachType(const rule_event_s* events, int count,
                                    std::vector<forensic_event_s>& hits);
    // A rule frame as the library reads it: the record and room for the
    // objects a frame may carry beyond the record's 30.
#pragma pack(push, 1)
    struct RuleFrameRoom {
        rule_frame_s frame;
        rule_object_s beyond[RULE_FRAME_MAX_TRACKED - RULE_FRAME_MAX_OBJECTS];
    };
#pragma pack(pop)

    // Copies a stored extension into `room` when it is a complete rule frame:
    // the head, a count that is not negative and the objects the library
    // reads for it (at most 32; a larger count is read as 32).
    static bool ReadRuleFrame(const uint8_t* bytes, size_t size, RuleFrameRoom& room);

  private:
    struct Job;

    void Run(Job& job);
    // Feeds the hour's rule frames of the job's range to the library.
    void SearchHour(MetaDataFile& file, const Job& job, std::vector<forensic_event_s>& hits) const;

    common::AsioThreadPool* const pool_;
    const uint32_t seqID_;
    const std::shared_ptr<Channel> channel_;
};

}  // namespace orvale::recorder
