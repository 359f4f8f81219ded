#include "platform/posix/file_time.h"

#include <cstdio>
#include <limits>

namespace vost {

namespace {
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kTicksPerDay = kTicksPerSecond * 86400ULL;
}  // namespace

bool fileTimeFromTimespec(const timespec& time, FileTime& out) {
    const std::int64_t seconds = std::int64_t(time.tv_sec);
    if (seconds < -kEpochDifferenceSeconds || time.tv_nsec < 0 || time.tv_nsec >= 1000000000L) return false;
    const std::uint64_t since1601 = std::uint64_t(seconds + kEpochDifferenceSeconds);
    const std::uint64_t subTicks = std::uint64_t(time.tv_nsec) / 100;
    if (since1601 > (std::numeric_limits<std::uint64_t>::max() - subTicks) / kTicksPerSecond) return false;
    out = FileTime::fromValue(since1601 * kTicksPerSecond + subTicks);
    return true;
}

std::string formatUtcShortDate(FileTime time) {
    const std::uint64_t ticks = time.value();
    if (ticks > 0x7FFFFFFFFFFFFFFFULL) return std::string();
    // Days since 1601-01-01 to a civil date: shift the day count to
    // 0000-03-01, so that leap days fall at the end of each year.
    const std::int64_t days = std::int64_t(ticks / kTicksPerDay) + 584694;  // 0000-03-01 .. 1601-01-01
    const std::int64_t era = days / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 = March
    const unsigned day = unsigned(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const unsigned month = unsigned(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const long long year = (long long)(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    char text[32];
    std::snprintf(text, sizeof text, "%u/%u/%04lld", month, day, year);
    return text;
}

}  // namespace vost
