// The track search over a set of channels: the track ids whose folders hold
// recordings in the hours of a time range.
//
// Ownership and queued searches as for CalendarSearcher: the registry and a
// running search hold the searcher, a queued search only a weak reference,
// so deleting it before the search runs means no answer. The channels are
// fixed at construction. The I/O service must outlive the searcher.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "recorder/api/Interfaces.h"
#include "recorder/storage/Channel.h"

namespace orvale::recorder {

class TrackSearcher : public ITrackSearcher, public std::enable_shared_from_this<TrackSearcher> {
  public:
    using Channels = std::vector<std::shared_ptr<Channel>>;

    TrackSearcher(uint32_t seqID, Channels channels, boost::asio::io_context& io);
    ~TrackSearcher() override;

    TrackSearcher(const TrackSearcher&) = delete;
    TrackSearcher& operator=(const TrackSearcher&) = delete;

    // True once the search is queued; it answers on a thread of `io`.
    bool Search(int64_t start, int64_t end, TrackCallback callback) override;
    // The search on the calling thread: ascending, each id once; empty when
    // start is after end.
    std::list<int> FindTracks(int64_t start, int64_t end) const;

    uint32_t GetSeqId() const { return seqID_; }

  private:
    boost::asio::io_context& io_;
    const uint32_t seqID_;
    const Channels channels_;
};

}  // namespace orvale::recorder
