#include "recorder/playback/TimelineSpans.h"

#include <utility>

namespace orvale::recorder {
namespace {

constexpr uint32_t kAnalyticsKept = 0x20;
constexpr uint32_t kAudioKept = 0x10000;

bool SameFlags(const timeline_record_s& span, const timeline_flags_s& row) {
    return span.flags0 == row.eventBits && span.flags1 == row.analyticsBits &&
           span.flags2 == row.audioBits;
}

}  // namespace

TimelineSpans::TimelineSpans(int32_t trackId, std::string channelId)
    : trackId_(trackId), channelId_(std::move(channelId)) {}

void TimelineSpans::Open(const timeline_flags_s& row) {
    timeline_record_s span;
    span.flags0 = row.eventBits;
    span.flags1 = row.analyticsBits;
    span.flags2 = row.audioBits;
    span.start = row.time;
    span.trackId = trackId_;
    span.channelId = channelId_;
    spans_.push_back(std::move(span));
}

void TimelineSpans::Add(const timeline_flags_s& row) {
    const bool zero = !row.AnyBit();
    const int64_t u = row.time;
    if (spans_.empty()) {
        if (!zero) Open(row);
        return;
    }
    timeline_record_s& last = spans_.back();
    if (last.end == 0) {
        if (zero) {
            // An End row names the first second without recording.
            last.end = row.end ? u - 1 : u;
            last.closedByEnd = row.end;
        } else if (!SameFlags(last, row)) {
            last.end = u;
            Open(row);
        }
        return;
    }
    const bool adjacent = last.closedByEnd ? u == last.end + 1 : u == last.end;
    if (!adjacent) {
        if (!zero) Open(row);
        return;
    }
    if (SameFlags(last, row)) {
        // The next hour file goes on where the last one stopped.
        last.end = 0;
        last.closedByEnd = false;
    } else if (!zero) {
        if (last.closedByEnd) last.end = u;
        Open(row);
    }
}

void TimelineSpans::CloseOpenSpan(int64_t second, bool byEnd) {
    if (!HasOpenSpan()) return;
    spans_.back().end = second;
    spans_.back().closedByEnd = byEnd;
}

void TimelineSpans::ApplyMasks(const timeline_filter_s& filter) {
    for (timeline_record_s& span : spans_) {
        span.flags0 &= filter.mask0;
        span.flags1 &= filter.mask1;
        if (span.flags1 != 0) span.flags0 |= kAnalyticsKept;
        span.flags2 &= filter.mask2;
        if (span.flags2 != 0) span.flags0 |= kAudioKept;
    }
}

}  // namespace orvale::recorder
