#include "watchdata/watch_time.hpp"

namespace stridelog::watchdata {
namespace {

constexpr int kYearBase = 2000;
constexpr std::int64_t kSecondsPerDay = 86400;

bool is_leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

WatchTime civil_from_days(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    WatchTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (t.month <= 2));
    return t;
}

const std::int64_t kEpochDays = days_from_civil(kYearBase, 1, 1);

bool date_is_valid(const WatchTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= days_in_month(t.year, t.month);
}

}  // namespace

WatchTime from_stamp_order(std::span<const std::uint8_t, 6> b) {
    return {kYearBase + b[5], b[4], b[3], b[2], b[1], b[0]};
}

WatchTime from_point_order(std::span<const std::uint8_t, 6> b) {
    return {kYearBase + b[0], b[1], b[2], b[3], b[4], b[5]};
}

TimeBytes to_stamp_order(const WatchTime& t) {
    return {static_cast<std::uint8_t>(t.second), static_cast<std::uint8_t>(t.minute),
            static_cast<std::uint8_t>(t.hour),   static_cast<std::uint8_t>(t.day),
            static_cast<std::uint8_t>(t.month),  static_cast<std::uint8_t>(t.year - kYearBase)};
}

TimeBytes to_point_order(const WatchTime& t) {
    return {static_cast<std::uint8_t>(t.year - kYearBase),
            static_cast<std::uint8_t>(t.month),
            static_cast<std::uint8_t>(t.day),
            static_cast<std::uint8_t>(t.hour),
            static_cast<std::uint8_t>(t.minute),
            static_cast<std::uint8_t>(t.second)};
}

bool is_valid_date_time(const WatchTime& t) {
    return date_is_valid(t) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

bool passes_record_check(const WatchTime& t) {
    return date_is_valid(t) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 60 &&
           t.second >= 0 && t.second <= 60;
}

std::int64_t to_seconds(const WatchTime& t) {
    const std::int64_t days =
        days_from_civil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) -
        kEpochDays;
    return days * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
}

WatchTime from_seconds(std::int64_t seconds) {
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    WatchTime t = civil_from_days(days + kEpochDays);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

}  // namespace stridelog::watchdata
