#include "recorder/playback/ForensicSearcher.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include <boost/asio/post.hpp>

#include "common/AsioThreadPool.h"
#include "common/Log.h"
#include "recorder/playback/ForensicRule.h"
#include "recorder/playback/SearchRange.h"

namespace orvale::recorder {
using common::kLogError;
using common::kLogFatal;
using common::kLogWarning;

namespace {

constexpr size_t kFrameHead = offsetof(rule_frame_s, objects);
// Event types 0..6 have a code; every other type shares the last entry.
constexpr int kKnownTypes = 7;

// One job of one engine's pool at a time uses the library; this covers the
// jobs of engines on other pools.
std::mutex& RuleLibraryMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

struct ForensicSearcher::Job {
    int64_t start = 0;
    int64_t end = 0;
    int32_t trackId = 0;
    forensic_rule_s rule{};
    ForensicCallback callback;
};

ForensicSearcher::ForensicSearcher(uint32_t seqID, std::shared_ptr<Channel> channel,
                                   common::AsioThreadPool* pool)
    : pool_(pool), seqID_(seqID), channel_(std::move(channel)) {}

ForensicSearcher::~ForensicSearcher() = default;

bool ForensicSearcher::Search(int64_t start, int64_t end, int trackId,
                              const std::list<forensic_search_area_s>& areas,
                              const std::list<forensic_search_line_s>& lines,
                              ForensicCallback callback) {
    try {
        auto job = std::make_shared<Job>();
        job->rule = MakeForensicRule(areas, lines);
        if (IsEmptyRule(job->rule)) {
            OLOG(kLogWarning) << "Rule is empty.";
            return false;
        }
        job->start = ClampToStorable(start);
        job->end = ClampToStorable(end);
        job->trackId = trackId;
        job->callback = std::move(callback);
        boost::asio::post(pool_->Strand(), [weak = weak_from_this(), job] {
            if (const auto self = weak.lock()) self->Run(*job);
        });
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "ForensicSearcher seqID = " << seqID_
                        << ", Failed to queue a search. Exception: " << e.what();
        return false;
    }
}

void ForensicSearcher::Run(Job& job) {
    std::vector<forensic_event_s> hits;
    try {
        std::list<std::shared_ptr<MetaDataFile>> files;
        if (channel_->ListMetaDataFiles(job.trackId, job.start, job.end, files)) {
            const std::lock_guard library(RuleLibraryMutex());
            QDX_setRule(nullptr, &job.rule);
            for (const auto& file : files) SearchHour(*file, job, hits);
        }
    } catch (const std::exception& e) {
        OLOG(kLogFatal) << "Exception : " << e.what();
        return;
    } catch (...) {
        OLOG(kLogFatal) << "Exception : unknown";
        return;
    }
    boost::asio::post(pool_->IoService(), [seqID = seqID_, callback = std::move(job.callback),
                                           hits = std::move(hits)]() mutable {
        if (!callback) return;
        try {
            callback(seqID, std::move(hits));
        } catch (const std::exception& e) {
            OLOG(kLogError) << "seqID = " << seqID << ", the callback threw: " << e.what();
        } catch (...) {
            OLOG(kLogError) << "seqID = " << seqID << ", the callback threw";
        }
    });
}

void ForensicSearcher::SearchHour(MetaDataFile& file, const Job& job,
                                  std::vector<forensic_event_s>& hits) const {
    if (!file.OpenForReading()) return;
    std::array<rule_event_s, kMaxFrameEvents> events{};
    RuleFrameRoom room{};
    size_t incomplete = 0;
    file.ReadExtensions(job.start, job.end, [&](int64_t, const uint8_t* bytes, size_t size) {
        if (size == 0) return;
        if (!ReadRuleFrame(bytes, size, room)) {
            ++incomplete;
            return;
        }
        int count = 0;
        QDX_processFrameSingle(nullptr, &room.frame, kMaxFrameEvents, events.data(), &count);
        KeepFirstOfEachType(events.data(), count, hits);
    });
    if (incomplete > 0) {
        OLOG(kLogError) << "CH[" << channel_->GetId() << "] " << incomplete
                        << " stored rule frames are incomplete and were skipped: " << file.Path();
    }
}

bool ForensicSearcher::ReadRuleFrame(const uint8_t* bytes, size_t size, RuleFrameRoom& room) {
    static_assert(sizeof(RuleFrameRoom) ==
                  kFrameHead + RULE_FRAME_MAX_TRACKED * sizeof(rule_object_s));
    if (bytes == nullptr || size < kFrameHead) return false;
    auto* out = reinterpret_cast<uint8_t*>(&room);
    std::memcpy(out, bytes, kFrameHead);
    const int32_t count = room.frame.objectCount;
    if (count < 0) return false;
    const size_t objects =
        sizeof(rule_object_s) * static_cast<size_t>(std::min(count, RULE_FRAME_MAX_TRACKED));
    if (objects > size - kFrameHead) return false;
    std::memcpy(out + kFrameHead, bytes + kFrameHead, objects);
    return true;
}

forensic_event_s ForensicSearcher::ToForensicEvent(const rule_event_s& event) {
    forensic_event_s hit;
    hit.time = event.time;
    switch (event.eventType) {
        case RULE_EVENT_ENTERED:
            hit.code = 41;
            hit.subCode = 2;
            break;
        case RULE_EVENT_EXITED:
            hit.code = 41;
            hit.subCode = 4;
            break;
        case RULE_EVENT_LINE_A:
        case RULE_EVENT_LINE_B:
        case 5:
            hit.code = 41;
            hit.subCode = 1;
            break;
        case RULE_EVENT_MOTION:
            hit.code = 38;
            hit.subCode = 0;
            break;
        default:
            break;
    }
    return hit;
}

// Every event of a frame carries the frame's time, so one of each type is
// all a frame can tell.
void ForensicSearcher::KeepFirstOfEachType(const rule_event_s* events, int count,
                                           std::vector<forensic_event_s>& hits) {
    std::array<bool, kKnownTypes + 1> seen{};
    for (int i = 0; i < count; ++i) {
        const int32_t type = events[i].eventType;
        const size_t slot = type >= 0 && type < kKnownTypes ? static_cast<size_t>(type)
                                                            : static_cast<size_t>(kKnownTypes);
        if (seen[slot]) continue;
        seen[slot] = true;
        hits.push_back(ToForensicEvent(events[i]));
    }
}

}  // namespace orvale::recorder
