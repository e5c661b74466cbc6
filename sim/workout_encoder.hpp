// Writes workout sessions into the watch's flash the way the watch records
// them: a header sector (header, laps, two reference stamps), track point
// sectors holding the compressed record stream, the workout directory and the
// sector usage bitmap. It also says what a host must get back for each
// session, derived from what the watch meant to record rather than from
// reading the bytes back, so a reader that misreads the layout cannot agree
// with it by accident.
//
// Threads: pure functions over a Flash the caller owns; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/flash.hpp"
#include "sim/watch.hpp"

namespace stridelog::sim {

// Longitude the watch stores for a point recorded without a position fix.
inline constexpr std::int32_t kNoPosition = 2000000000;

// Bytes per header and track point as delivered to a host.
inline constexpr std::size_t kSessionHeaderSize = 48;
inline constexpr std::size_t kLapSize = 16;
inline constexpr std::size_t kTrackPointSize = 25;
inline constexpr std::size_t kStampSize = 6;
// Room between the first lap and reference stamp A.
inline constexpr std::size_t kMaxLaps = 99;

// The four stored record kinds; the low nibble of a record's first byte.
enum class RecordType : std::uint8_t { full = 0, delta = 1, time_only = 2, marker = 3 };

// One point as the watch meant it. How much of it reaches the flash depends on
// the record type: a delta keeps everything (as differences), a time-only
// record keeps only minute and second and stands at the previous position, a
// marker keeps its time and M4 and takes its position from what preceded it.
struct PlannedPoint {
    WatchTime time;
    RecordType type = RecordType::full;
    std::uint8_t header_flags = 0;  // high nibble of the record's first byte
    std::uint8_t byte1 = 0;         // stored by full and delta records
    std::int32_t longitude = kNoPosition;
    std::int32_t latitude = 0;
    std::int16_t altitude = 0;
    std::uint16_t m1 = 0;
    std::uint16_t m2 = 0;
    std::uint16_t m3 = 0;
    std::uint8_t m4 = 0;
};

using LapRecord = std::array<std::uint8_t, kLapSize>;
using Stamp = std::array<std::uint8_t, kStampSize>;
using TrackPoint = std::array<std::uint8_t, kTrackPointSize>;

struct SessionPlan {
    WatchTime start;                   // as the watch wrote it into the header
    std::optional<WatchTime> stamp_a;  // unset: left erased (0xFF)
    std::optional<WatchTime> stamp_b;
    std::array<std::uint8_t, 39> header_values{};  // header bytes 9..47
    std::vector<LapRecord> laps;
    std::vector<PlannedPoint> points;
    // Header point count; unset: the number of points. Zero means no track
    // sectors at all (the session is a header with laps).
    std::optional<std::uint16_t> recorded_count;
    // First byte after the last record (a type 4..15 byte).
    std::uint8_t end_marker = 0xFF;
};

// What a host must receive for one session when every session is downloaded
// in directory order (a marker opening a session takes its position from the
// session before, so another order can change such a point).
struct ExpectedSession {
    Stamp stamp_a{};  // as stored: an erased stamp stays 0xFF
    Stamp stamp_b{};
    std::array<std::uint8_t, kSessionHeaderSize> header{};  // start time corrected
    std::vector<LapRecord> laps;
    bool has_track_points = false;  // header count non-zero: a block with points
    std::vector<TrackPoint> points;
    std::vector<std::uint8_t> sectors;  // header sector first, then track sectors
    std::size_t stream_bytes = 0;       // record bytes, end marker not counted
    bool operator==(const ExpectedSession&) const = default;
};

struct WorkoutLayout {
    // Reserved tail 230..255 (else 244..255), as the watch's status flag says.
    bool large_reserve = true;
    // Sectors in the order they are handed out; empty: 1 upwards to the last
    // workout sector of the layout.
    std::vector<std::uint8_t> sector_order;
};

// A plan the watch could not have recorded (a delta without a full record
// before it, a time the reader would place in another hour, too many laps, no
// sectors left, a directory that does not fit).
class PlanError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// Last sector that may hold workouts in the layout.
std::uint8_t last_workout_sector(bool large_reserve);

// The reserved-tail choice the watch's status reply implies: the fourth status
// byte when there are four or more, non-zero for a two-byte reply.
bool uses_large_reserve(const std::vector<std::uint8_t>& status_bytes);

// Erases and writes the sessions' sectors, then the directory (bytes 256..1279
// of sector 0) and the usage bitmap (224..255); the rest of sector 0 is kept.
// Returns the expected result per session, in directory order. Throws
// PlanError and leaves the flash partly written when a plan cannot be stored.
std::vector<ExpectedSession> write_workouts(Flash& flash, const std::vector<SessionPlan>& plans,
                                            const WorkoutLayout& layout);

// Writes the long version text (zero-terminated, at most 15 characters) at
// bytes 96..111 of sector 0.
void write_long_version(Flash& flash, const std::string& text);

// Calendar helpers shared with the content generator.
bool is_valid_time(const WatchTime& t);
std::int64_t to_seconds(const WatchTime& t);  // seconds since 2000-01-01 00:00:00
WatchTime from_seconds(std::int64_t seconds);
WatchTime add_seconds(const WatchTime& t, std::int64_t seconds);

}  // namespace stridelog::sim
