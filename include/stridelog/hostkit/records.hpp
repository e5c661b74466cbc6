// The blocks the SDK posts with its result notifications, read into typed
// records, and the records a host hands to the entry points, written as the
// bytes they take. Pure functions over bytes: every length is checked against
// the block before it is used, so a short, long or inconsistent block is an
// Error naming what is wrong, never a read past its end.
//
// Threads: no shared state; any thread may call anything here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "stridelog/hostkit/result.hpp"

namespace stridelog::hostkit {

using Bytes = std::span<const std::uint8_t>;

// A notification block as the bytes it holds (lParam and Stridelog_BlockSize).
inline Bytes block_bytes(const void* block, std::size_t size) {
    if (block == nullptr) return {};
    return {static_cast<const std::uint8_t*>(block), size};
}

// ---- Dates and times -------------------------------------------------------

// A calendar date-time as the watch keeps it: local time, no zone.
struct DateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Six bytes of a time as they stand in a block.
using Stamp = std::array<std::uint8_t, 6>;

// The watch's own calendar check: minute and second may read 60.
bool is_valid_date_time(const DateTime& time);
// Stamp order: second, minute, hour, day, month, year - 2000 (session blocks,
// headers); nothing when not a valid date-time (an erased stamp reads 0xFF
// throughout).
std::optional<DateTime> from_stamp_order(const Stamp& bytes);
// Point order: year - 2000, month, day, hour, minute, second (track points).
std::optional<DateTime> from_point_order(const Stamp& bytes);

// ---- Workout sessions (0x2007, 0x2008) and the summary (0x2009) ------------

// Longitude of a point recorded without a fix.
constexpr std::int32_t kNoPosition = 2000000000;

constexpr std::size_t kSessionHeaderSize = 48;
constexpr std::size_t kLapRecordSize = 16;
constexpr std::size_t kTrackPointSize = 25;

struct TrackPoint {
    std::uint8_t record_header = 0;  // low 4 bits: the record type that produced it
    std::uint8_t record_byte1 = 0;
    Stamp time_bytes{};
    std::optional<DateTime> time;
    std::int32_t longitude = 0;  // degrees x 10^7
    std::int32_t latitude = 0;
    std::int16_t altitude = 0;
    std::uint16_t m1 = 0;
    std::uint16_t m2 = 0;
    std::uint16_t m3 = 0;
    std::uint8_t m4 = 0;

    int record_type() const { return record_header & 0x0F; }
    // A marker recorded before any position carries 0/0: no place either, and
    // drawing it would send the track to the Gulf of Guinea.
    bool has_position() const {
        return longitude != kNoPosition && !(longitude == 0 && latitude == 0);
    }
};

// The 48 bytes the watch keeps about a session, passed on whole.
struct SessionHeader {
    std::array<std::uint8_t, kSessionHeaderSize> bytes{};

    std::uint16_t recorded_points() const;
    std::uint8_t lap_count() const { return bytes[2]; }
    Stamp start_bytes() const;
    std::optional<DateTime> start() const { return from_stamp_order(start_bytes()); }
};

using LapRecord = std::array<std::uint8_t, kLapRecordSize>;

struct Session {
    Stamp stamp_a_bytes{};
    Stamp stamp_b_bytes{};
    std::optional<DateTime> stamp_a;  // absent when the watch holds no valid stamp
    std::optional<DateTime> stamp_b;
    SessionHeader header;
    std::vector<LapRecord> laps;
    bool has_track = false;  // delivered as 0x2008
    std::vector<TrackPoint> points;
};

enum class SessionBlockKind { kWithoutTrack, kWithTrack, kEither };

// A 0x2007 (kWithoutTrack) or 0x2008 (kWithTrack) block; kEither tells them
// apart by their sizes, which never coincide for the same lap count.
Result<Session> parse_session_block(Bytes block, SessionBlockKind kind = SessionBlockKind::kEither);

// The 0x2009 block: the session headers in delivery order.
struct Summary {
    std::vector<SessionHeader> headers;
};
Result<Summary> parse_summary_block(Bytes block);

// Who a session is, whatever the host's time zone: the SHA-256 of the two
// reference stamps and the header as the watch delivers them (block bytes
// 0 .. 59), as 64 lowercase hex digits.
std::string session_identity(const Session& session);
std::string sha256_hex(Bytes bytes);

// ---- Paths (0x2002) ---------------------------------------------------------

constexpr std::size_t kPathCount = 10;
constexpr std::size_t kMaxWaypoints = 99;
constexpr std::size_t kMaxPathName = 32;      // characters: the wider of the watch's two widths
constexpr std::size_t kMaxWaypointName = 10;  // characters
constexpr std::size_t kHostWaypointSize = 34;

struct PathWaypoint {
    std::uint32_t word1 = 0;  // the two coordinate words, as the watch keeps them
    std::uint32_t word2 = 0;
    std::array<std::uint8_t, 6> attributes{};
    std::string name;  // UTF-8
    friend bool operator==(const PathWaypoint&, const PathWaypoint&) = default;
};

struct WatchPath {
    unsigned index = 0;  // 0 .. 9
    std::string name;    // UTF-8
    std::vector<PathWaypoint> waypoints;
    friend bool operator==(const WatchPath&, const WatchPath&) = default;
};

Result<WatchPath> parse_path_block(Bytes block);

// The 34-byte host waypoint SetPaths and SetPaths_Ex take (the name as
// UTF-16LE, zero-padded, no terminator at 10 characters; a longer name is cut).
using HostWaypointBlock = std::array<std::uint8_t, kHostWaypointSize>;
HostWaypointBlock make_host_waypoint(const PathWaypoint& waypoint);

}  // namespace stridelog::hostkit
