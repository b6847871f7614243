// The calendar search over a set of channels: on which days of a month any
// of them recorded anything, in either profile. Days are the local calendar
// days of the process's time zone, so a day may last 23 or 25 hours.
//
// The searcher is held by shared pointers (the engine's registry, a running
// search); a queued search holds only a weak reference and is dropped once
// the searcher is gone, so deleting it before the search runs means no
// answer. The channels are fixed at construction; searches keep no state and
// may run at the same time. The I/O service must outlive the searcher.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "recorder/api/Interfaces.h"
#include "recorder/storage/Channel.h"

namespace orvale::recorder {

class CalendarSearcher : public ICalendarSearcher,
                         public std::enable_shared_from_this<CalendarSearcher> {
  public:
    using Channels = std::vector<std::shared_ptr<Channel>>;
    static constexpr int kDays = 31;
    using DayFlags = std::array<unsigned char, kDays>;
    // The years the calendar arithmetic serves.
    static constexpr int kFirstYear = 1400;
    static constexpr int kLastYear = 10000;

    CalendarSearcher(uint32_t seqID, Channels channels, boost::asio::io_context& io);
    ~CalendarSearcher() override;

    CalendarSearcher(const CalendarSearcher&) = delete;
    CalendarSearcher& operator=(const CalendarSearcher&) = delete;

    // True once the search is queued; it answers on a thread of `io`.
    bool Search(int year, int month, CalendarCallback callback) override;
    // The search on the calling thread: index 0 is day 1; days the month
    // lacks stay 0. A month or year out of range logs and gives all zeros.
    DayFlags FindDays(int year, int month) const;

    uint32_t GetSeqId() const { return seqID_; }

  private:
    boost::asio::io_context& io_;
    const uint32_t seqID_;
    const Channels channels_;
};

}  // namespace orvale::recorder
