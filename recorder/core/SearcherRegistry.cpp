// The engine's searcher registries: creating and deleting the track,
// calendar, timeline and forensic searchers, and the channel look-up that playback and
// searches share.
//
// A registry holds the only long-lived reference to its searchers; a search
// queued on the service pool holds a weak one, so a searcher deleted before
// its search runs never answers. A sequence id names one searcher per kind:
// a second create under a taken id is refused, and the first stays.
#include <exception>
#include <memory>
#include <unordered_set>

#include "common/Log.h"
#include "recorder/core/MediaRecorderImpl.h"

namespace orvale::recorder {

using common::kLogError;
using common::kLogInfo;
using common::kLogTrace;

namespace {

// Registers `searcher` unless the id is taken; true when it is the one
// registered now. A searcher deleted by another thread in between counts as
// not registered, so no released object is ever handed out.
template <class Registry, class Searcher>
bool Register(Registry& registry, unsigned seqId, const std::shared_ptr<Searcher>& searcher) {
    return registry.Insert(seqId, searcher) && registry.Find(seqId) == searcher;
}

}  // namespace

std::shared_ptr<Channel> MediaRecorderImpl::FindRecordedChannel(
    const std::string& channelId) const {
    if (auto channel = channels_->Find(channelId)) return channel;
    return unlistedChannels_->Find(channelId);
}

std::vector<std::shared_ptr<Channel>> MediaRecorderImpl::AllRecordedChannels() const {
    std::vector<std::shared_ptr<Channel>> all;
    channels_->Values(all);
    std::unordered_set<std::string> listed;
    for (const auto& channel : all) listed.insert(channel->GetId());
    std::vector<std::shared_ptr<Channel>> unlisted;
    unlistedChannels_->Values(unlisted);
    for (auto& channel : unlisted) {
        if (listed.count(channel->GetId()) == 0) all.push_back(std::move(channel));
    }
    return all;
}

ITrackSearcher* MediaRecorderImpl::CreateTrackSearcher(unsigned seqId) {
    try {
        auto channels = AllRecordedChannels();
        if (channels.empty()) {
            OLOG(kLogError) << "Channel is empty. seqID = " << seqId;
            return nullptr;
        }
        const auto searcher =
            std::make_shared<TrackSearcher>(seqId, std::move(channels), servicePool_->IoService());
        if (!Register(*trackSearchers_, seqId, searcher)) {
            OLOG(kLogError) << "Failed to create a SearchOverlapTrackImpl. seqID = " << seqId
                            << ", the seqID is in use";
            return nullptr;
        }
        OLOG(kLogInfo) << "Added a SearchOverlapTrackImpl. seqID = " << seqId;
        return searcher.get();
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Failed to create a SearchOverlapTrackImpl. seqID = " << seqId
                        << ", Exception: " << e.what();
        return nullptr;
    }
}

void MediaRecorderImpl::DeleteTrackSearcher(unsigned seqId) {
    OLOG(kLogInfo) << "Deleted a SearchMedia. seqID = " << seqId;
    trackSearchers_->Erase(seqId);
}

ICalendarSearcher* MediaRecorderImpl::CreateCalendarSearcher(
    unsigned seqId, const std::vector<std::string>& channelIds) {
    try {
        CalendarSearcher::Channels channels;
        for (const auto& id : channelIds) {
            if (auto channel = FindRecordedChannel(id)) channels.push_back(std::move(channel));
        }
        if (channels.empty()) {
            OLOG(kLogError) << "Channel is empty. seqID = " << seqId;
            return nullptr;
        }
        const auto searcher = std::make_shared<CalendarSearcher>(seqId, std::move(channels),
                                                                 servicePool_->IoService());
        if (!Register(*calendarSearchers_, seqId, searcher)) {
            OLOG(kLogError) << "Failed to create a CalendarSearcher. seqID = " << seqId
                            << ", the seqID is in use";
            return nullptr;
        }
        OLOG(kLogInfo) << "Added a CalendarSearcher. seqID = " << seqId;
        return searcher.get();
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Failed to create a CalendarSearcher. seqID = " << seqId
                        << ", Exception: " << e.what();
        return nullptr;
    }
}

void MediaRecorderImpl::DeleteCalendarSearcher(unsigned seqId) {
    OLOG(kLogInfo) << "Deleted a CalendarSearcher. seqID = " << seqId;
    calendarSearchers_->Erase(seqId);
}

// Names of no known channel are skipped; a searcher over none answers with
// nothing found.
ITimelineSearcher* MediaRecorderImpl::CreateTimelineSearcher(
    unsigned seqId, const std::vector<std::string>& channelIds) {
    try {
        TimelineSearcher::Channels channels;
        for (const auto& id : channelIds) {
            if (auto channel = FindRecordedChannel(id)) channels.push_back(std::move(channel));
        }
        const auto searcher =
            std::make_shared<TimelineSearcher>(seqId, std::move(channels), servicePool_.get());
        if (!Register(*timelineSearchers_, seqId, searcher)) {
            OLOG(kLogError) << "Failed to create a ITimelineSearcher, seqID = " << seqId
                            << ", the seqID is in use";
            return nullptr;
        }
        OLOG(kLogTrace) << "Added a ITimelineSearcher, seqID = " << seqId;
        return searcher.get();
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Failed to create a ITimelineSearcher, seqID = " << seqId
                        << ", Exception: " << e.what();
        return nullptr;
    }
}

void MediaRecorderImpl::DeleteTimelineSearcher(unsigned seqId) {
    OLOG(kLogTrace) << "Deleted a ITimelineSearcher. seqID = " << seqId;
    timelineSearchers_->Erase(seqId);
}

IForensicSearcher* MediaRecorderImpl::CreateForensicSearcher(unsigned seqId,
                                                             const std::string& channelId) {
    try {
        auto channel = FindRecordedChannel(channelId);
        if (!channel) {
            OLOG(kLogError) << "Failed to find a record channel. channel = " << channelId
                            << ", seqID = " << seqId;
            return nullptr;
        }
        const auto searcher =
            std::make_shared<ForensicSearcher>(seqId, std::move(channel), servicePool_.get());
        if (!Register(*forensicSearchers_, seqId, searcher)) {
            OLOG(kLogError) << "Failed to create a ForensicSearcher. channel = " << channelId
                            << ", seqID = " << seqId << ", the seqID is in use";
            return nullptr;
        }
        OLOG(kLogInfo) << "Added a ForensicSearcher. channel = " << channelId
                       << ", seqID = " << seqId;
        return searcher.get();
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Failed to create a ForensicSearcher. channel = " << channelId
                        << ", seqID = " << seqId << ", Exception: " << e.what();
        return nullptr;
    }
}

void MediaRecorderImpl::DeleteForensicSearcher(unsigned seqId) {
    forensicSearchers_->Erase(seqId);
}

void MediaRecorderImpl::ClearSearchers() {
    trackSearchers_->Clear();
    calendarSearchers_->Clear();
    timelineSearchers_->Clear();
    forensicSearchers_->Clear();
}

}  // namespace orvale::recorder
