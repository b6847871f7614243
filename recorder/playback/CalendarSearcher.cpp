#include "recorder/playback/CalendarSearcher.h"

#include <ctime>
#include <list>
#include <utility>

#include <boost/asio/post.hpp>

#include "common/Log.h"
#include "platform/Time.h"
#include "recorder/playback/SearchTask.h"

namespace orvale::recorder {
using common::kLogError;
using common::kLogWarning;

namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The first second of a local calendar day; day may run one past the month.
int64_t LocalMidnight(int year, int month, int day) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    return platform::FromLocalTime(local);
}

}  // namespace

CalendarSearcher::CalendarSearcher(uint32_t seqID, Channels channels, boost::asio::io_context& io)
    : io_(io), seqID_(seqID), channels_(std::move(channels)) {}

CalendarSearcher::~CalendarSearcher() = default;

bool CalendarSearcher::Search(int year, int month, CalendarCallback callback) {
    try {
        boost::asio::post(
            io_, [weak = weak_from_this(), year, month, callback = std::move(callback)] {
                const auto self = weak.lock();
                if (!self) return;
                RunSearchTask(
                    "CalendarSearcher", self->seqID_, [&] { return self->FindDays(year, month); },
                    [&](const DayFlags& flags) {
                        if (callback) {
                            callback(self->seqID_, year, month,
                                     std::list<unsigned char>(flags.begin(), flags.end()));
                        }
                    });
            });
        return true;
    } catch (const std::exception& e) {
        OLOG(kLogError) << "CalendarSearcher seqID = " << seqID_
                        << ", Failed to queue a search. Exception: " << e.what();
        return false;
    }
}

// Days are walked by local date: every day runs from its midnight to the
// next one, whatever daylight saving makes of its length.
CalendarSearcher::DayFlags CalendarSearcher::FindDays(int year, int month) const {
    DayFlags flags{};
    if (month < 1 || month > 12 || year < kFirstYear || year > kLastYear) {
        OLOG(kLogWarning) << "Out of Range. year = " << year << " , month = " << month;
        return flags;
    }
    const int days = DaysInMonth(year, month);
    std::array<int64_t, kDays + 1> midnights{};
    for (int day = 1; day <= days + 1; ++day) midnights[day - 1] = LocalMidnight(year, month, day);
    for (const auto& channel : channels_) {
        for (int day = 1; day <= days; ++day) {
            if (flags[day - 1] != 0) continue;
            if (channel->HasRecord(midnights[day - 1], midnights[day] - 1)) flags[day - 1] = 1;
        }
    }
    return flags;
}

}  // namespace orvale::recorder
