// The spans of one channel and track, folded from the timeline's change
// points read hour file by hour file in time order.
//
// Invariants: only the last span may be open (end 0); spans are in time
// order and never overlap but for the one second where a span closed by
// other flags meets the next. The object belongs to one search task.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/api/MediaTypes.h"
#include "recorder/store/IndexRecords.h"

namespace orvale::recorder {

class TimelineSpans {
  public:
    TimelineSpans(int32_t trackId, std::string channelId);

    // Folds one change point (its words already masked by the filter).
    void Add(const timeline_flags_s& row);
    // Closes a span still open at `second`; `byEnd` when no recording
    // follows it.
    void CloseOpenSpan(int64_t second, bool byEnd);
    bool HasOpenSpan() const { return !spans_.empty() && spans_.back().end == 0; }
    // Masks the words and marks kept analytics (0x20) and audio (0x10000)
    // bits in the event word.
    void ApplyMasks(const timeline_filter_s& filter);

    std::vector<timeline_record_s>& Spans() { return spans_; }

  private:
    void Open(const timeline_flags_s& row);

    const int32_t trackId_;
    const std::string channelId_;
    std::vector<timeline_record_s> spans_;
};

}  // namespace orvale::recorder
