#include "recorder/playback/TrackSearcher.h"

#include <set>
#include <utility>

#include <boost/asio/post.hpp>

#include "common/Log.h"
#include "recorder/playback/SearchRange.h"
#include "recorder/playback/SearchTask.h"

namespace orvale::recorder {
using common::kLogError;

TrackSearcher::TrackSearcher(uint32_t seqID, Channels channels, boost::asio::io_context& io)
    : io_(io), seqID_(seqID), channels_(std::move(channels)) {}

TrackSearcher::~TrackSearcher() = default;

bool TrackSearcher::Search(int64_t start, int64_t end, TrackCallback callback) {
    try {
        boost::asio::post(
            io_, [weak = weak_from_this(), start, end, callback = std::move(callback)] {
                const auto self = weak.lock();
                if (!self) return;
                RunSearchTask(
                    "TrackSearcher", self->seqID_, [&] { return self->FindTracks(start, end); },
                    [&](std::list<int> tracks) {
                        if (callback) callback(self->seqID_, start, end, std::move(tracks));
                    });
            });
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "TrackSearcher seqID = " << seqID_
                        << ", Failed to queue a search. Exception: " << e.what();
        return false;
    }
}

std::list<int> TrackSearcher::FindTracks(int64_t start, int64_t end) const {
    std::set<int> tracks;
    start = ClampToStorable(start);
    end = ClampToStorable(end);
    for (const auto& channel : channels_) channel->GetTrackIds(start, end, tracks);
    return {tracks.begin(), tracks.end()};
}

}  // namespace orvale::recorder
