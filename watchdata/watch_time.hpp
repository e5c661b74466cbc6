// The watch's six-byte times. Two byte orders occur: stamp order (second,
// minute, hour, day, month, year - 2000) in session headers, reference stamps
// and host blocks; point order (year - 2000, month, day, hour, minute, second)
// in track records and points. Pure functions, no clock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace stridelog::watchdata {

using TimeBytes = std::array<std::uint8_t, 6>;

struct WatchTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    bool operator==(const WatchTime&) const = default;
};

WatchTime from_stamp_order(std::span<const std::uint8_t, 6> bytes);
WatchTime from_point_order(std::span<const std::uint8_t, 6> bytes);
TimeBytes to_stamp_order(const WatchTime& time);
TimeBytes to_point_order(const WatchTime& time);

// A calendar date-time: month 1..12, a day of that month, hour <= 23, minute
// and second <= 59.
bool is_valid_date_time(const WatchTime& time);
// The check a track record's time must pass: as above, but minute and second
// may be 60 (the watch writes a leap value now and then).
bool passes_record_check(const WatchTime& time);

// Seconds since 2000-01-01 00:00:00 of a time that passes the record check
// (a minute or second of 60 counts into the next unit).
std::int64_t to_seconds(const WatchTime& time);
WatchTime from_seconds(std::int64_t seconds);

}  // namespace stridelog::watchdata
