// The recording folder tree of a drive: paths, listings, the oldest and newest
// hour of a channel, and removals.
//
// Only folders whose names are all digits count as tree levels (year four
// digits, month, day and hour two, tracks four or more), and they are ordered
// by number. Anything else (a stray file, "lost+found", an out-of-range date)
// is passed over, and so is a level folder left empty, so that debris never
// stops the overwrite of old hours for good.
#include "recorder/storage/Drive.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <ctime>
#include <exception>
#include <system_error>

#include "common/Log.h"
#include "platform/Time.h"

namespace orvale::recorder {
namespace fs = std::filesystem;
using common::kLogError;
using common::kLogInfo;

namespace {

struct NumberedFolder {
    int64_t number;
    fs::path path;
};

struct Digits {
    size_t minLength;
    size_t maxLength;
    int64_t minValue;
    int64_t maxValue;
};

constexpr Digits kYear{4, 4, 1970, 9999};
constexpr Digits kMonth{2, 2, 1, 12};
constexpr Digits kDay{2, 2, 1, 31};
constexpr Digits kHour{2, 2, 0, 23};
constexpr Digits kTrack{4, SIZE_MAX, 0, INT_MAX};

bool Missing(const std::error_code& error) {
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

std::optional<int64_t> FolderNumber(const std::string& name, const Digits& digits) {
    if (name.size() < digits.minLength || name.size() > digits.maxLength) return std::nullopt;
    int64_t value = 0;
    const char* end = name.data() + name.size();
    const auto [stop, error] = std::from_chars(name.data(), end, value);
    if (error != std::errc() || stop != end || name.front() == '-' || name.front() == '+') {
        return std::nullopt;
    }
    if (value < digits.minValue || value > digits.maxValue) return std::nullopt;
    return value;
}

// The folders in `folder` named as `digits` say, in ascending order of their
// numbers. A missing folder holds none; any other error throws.
std::vector<NumberedFolder> NumberedFolders(const fs::path& folder, const Digits& digits) {
    std::vector<NumberedFolder> found;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code typeError;
        if (!it->is_directory(typeError)) continue;
        const std::string name = it->path().filename().string();
        if (const auto number = FolderNumber(name, digits)) found.push_back({*number, it->path()});
    }
    if (error && !Missing(error)) throw fs::filesystem_error("Failed to list", folder, error);
    std::sort(found.begin(), found.end(), [](const NumberedFolder& a, const NumberedFolder& b) {
        return a.number != b.number ? a.number < b.number : a.path < b.path;
    });
    return found;
}

// Whether `folder` holds a folder; a missing folder holds none, other errors throw.
bool HoldsFolder(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) return true;
    }
    if (error && !Missing(error)) throw fs::filesystem_error("Failed to list", folder, error);
    return false;
}

int DaysInMonth(int64_t year, int64_t month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

void InOrder(std::vector<NumberedFolder>& folders, bool newest) {
    if (newest) std::reverse(folders.begin(), folders.end());
}

}  // namespace

fs::path Drive::GetChannelPath(const std::string& channelId) const {
    if (rootPath_.empty() || !IsValidChannelId(channelId)) return {};
    return rootPath_ / channelId;
}

fs::path Drive::GetYearPath(const std::string& channelId, int64_t time) const {
    const fs::path channel = GetChannelPath(channelId);
    if (channel.empty()) return {};
    return channel / std::to_string(platform::UtcTime(time).tm_year + 1900);
}

fs::path Drive::GetMonthPath(const std::string& channelId, int64_t time) const {
    const fs::path year = GetYearPath(channelId, time);
    if (year.empty()) return {};
    return year / TwoDigits(platform::UtcTime(time).tm_mon + 1);
}

fs::path Drive::GetDayPath(const std::string& channelId, int64_t time) const {
    const fs::path month = GetMonthPath(channelId, time);
    if (month.empty()) return {};
    return month / TwoDigits(platform::UtcTime(time).tm_mday);
}

fs::path Drive::GetHourPath(const std::string& channelId, int64_t time) const {
    const fs::path day = GetDayPath(channelId, time);
    if (day.empty()) return {};
    return day / TwoDigits(platform::UtcTime(time).tm_hour);
}

fs::path Drive::GetTrackPath(const std::string& channelId, int64_t time, int trackId) const {
    const fs::path hour = GetHourPath(channelId, time);
    if (hour.empty()) return {};
    char track[16];
    std::snprintf(track, sizeof track, "%04d", trackId);
    return hour / track;
}

std::string Drive::GetHourKey(const std::string& channelId, int64_t time) const {
    const fs::path hour = GetHourPath(channelId, time);
    return hour.empty() ? std::string() : HourFolderKey(hour);
}

void Drive::ListChannels(std::vector<std::string>& channelIds) const {
    std::vector<std::string> found;
    try {
        std::error_code error;
        fs::directory_iterator it(rootPath_, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            std::error_code typeError;
            if (!it->is_directory(typeError)) continue;
            std::string name = it->path().filename().string();
            if (IsValidChannelId(name)) found.push_back(std::move(name));
        }
        if (error && !Missing(error))
            throw fs::filesystem_error("Failed to list", rootPath_, error);
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Drive[" << name_ << "], Error: " << e.what();
    }
    std::sort(found.begin(), found.end());
    channelIds.insert(channelIds.end(), found.begin(), found.end());
}

void Drive::ListTrackIds(const fs::path& hourFolder, std::set<int>& trackIds) const {
    try {
        for (const auto& track : NumberedFolders(hourFolder, kTrack)) {
            trackIds.insert(static_cast<int>(track.number));
        }
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Drive[" << name_ << "], Error: " << e.what();
    }
}

bool Drive::HasChannelFolder(const std::string& channelId) const {
    const fs::path channel = GetChannelPath(channelId);
    std::error_code error;
    return !channel.empty() && fs::exists(channel, error);
}

bool Drive::FolderHasFolders(const fs::path& folder) const {
    if (folder.empty()) return false;
    try {
        return HoldsFolder(folder);
    } catch (const std::exception& e) {
        OLOG(kLogError) << "Drive[" << name_ << "], Error: " << e.what();
        return false;
    }
}

bool Drive::ChannelHasFolders(const std::string& channelId) const {
    return FolderHasFolders(GetChannelPath(channelId));
}

bool Drive::YearHasFolders(const std::string& channelId, int64_t time) const {
    return FolderHasFolders(GetYearPath(channelId, time));
}

bool Drive::MonthHasFolders(const std::string& channelId, int64_t time) const {
    return FolderHasFolders(GetMonthPath(channelId, time));
}

bool Drive::DayHasFolders(const std::string& channelId, int64_t time) const {
    return FolderHasFolders(GetDayPath(channelId, time));
}

int64_t Drive::FindHour(const std::string& channelId, bool newest) const {
    const fs::path channel = GetChannelPath(channelId);
    if (channel.empty()) return 0;
    auto years = NumberedFolders(channel, kYear);
    InOrder(years, newest);
    for (const auto& year : years) {
        auto months = NumberedFolders(year.path, kMonth);
        InOrder(months, newest);
        for (const auto& month : months) {
            auto days = NumberedFolders(month.path, kDay);
            InOrder(days, newest);
            for (const auto& day : days) {
                if (day.number > DaysInMonth(year.number, month.number)) continue;
                const auto hours = NumberedFolders(day.path, kHour);
                if (hours.empty()) continue;
                std::tm utc{};
                utc.tm_year = static_cast<int>(year.number) - 1900;
                utc.tm_mon = static_cast<int>(month.number) - 1;
                utc.tm_mday = static_cast<int>(day.number);
                utc.tm_hour = static_cast<int>(newest ? hours.back().number : hours.front().number);
                return platform::FromUtcTime(utc);
            }
        }
    }
    return 0;
}

int64_t Drive::GetOldestTime(const std::string& channelId) const {
    return FindHour(channelId, false);
}

int64_t Drive::GetNewestTime(const std::string& channelId) const {
    return FindHour(channelId, true);
}

void Drive::RemoveFolder(const fs::path& folder, const char* what) const {
    if (folder.empty() || !fs::exists(folder)) return;
    OLOG(kLogInfo) << "Drive[" << name_ << "], " << what << " Path = " << Quoted(folder);
    fs::remove_all(folder);
}

void Drive::RemoveChannel(const std::string& channelId) {
    if (CheckChannelId(channelId)) RemoveFolder(GetChannelPath(channelId), "RemvoeChannel");
}

void Drive::RemoveHour(const std::string& channelId, int64_t time) {
    if (CheckChannelId(channelId)) RemoveFolder(GetHourPath(channelId, time), "RemoveHour");
}

bool Drive::RemoveEmptyFolder(const std::string& channelId, int64_t time) {
    if (!CheckChannelId(channelId)) return true;
    for (const fs::path& folder : {GetDayPath(channelId, time), GetMonthPath(channelId, time),
                                   GetYearPath(channelId, time)}) {
        if (!folder.empty() && fs::exists(folder) && !HoldsFolder(folder)) {
            RemoveFolder(folder, "RemoveEmptyFolder");
        }
    }
    return true;
}

}  // namespace orvale::recorder
