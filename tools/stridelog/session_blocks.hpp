// The workout blocks the SDK posts (0x2007, 0x2008, 0x2009) read into plain
// structs. Pure functions over bytes: every length is checked against the
// block before it is used, so a short or inconsistent block is an error and
// never a read past its end.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stridelog_tool {

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

using Stamp = std::array<std::uint8_t, 6>;

// The watch's own calendar check: minute and second may read 60.
bool IsValidDateTime(const DateTime& time);
// second, minute, hour, day, month, year - 2000; nothing when not a valid date-time
// (an erased stamp reads 0xFF throughout).
std::optional<DateTime> FromStampOrder(const Stamp& bytes);
// year - 2000, month, day, hour, minute, second.
std::optional<DateTime> FromPointOrder(const Stamp& bytes);

// Longitude of a point recorded without a fix.
constexpr std::int32_t kNoPosition = 2000000000;

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

constexpr std::size_t kSessionHeaderSize = 48;
constexpr std::size_t kLapRecordSize = 16;
constexpr std::size_t kTrackPointSize = 25;

struct SessionHeader {
    std::array<std::uint8_t, kSessionHeaderSize> bytes{};

    std::uint16_t recorded_points() const;
    std::uint8_t lap_count() const { return bytes[2]; }
    Stamp start_bytes() const;
    std::optional<DateTime> start() const { return FromStampOrder(start_bytes()); }
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

// A 0x2007 or 0x2008 block; kEither tells them apart by their sizes, which
// never coincide for the same lap count. Empty error on success.
std::optional<Session> ParseSessionBlock(std::span<const std::uint8_t> block, SessionBlockKind kind,
                                         std::string& error);
// The 0x2009 block: the session headers in delivery order.
std::optional<std::vector<SessionHeader>> ParseSummaryBlock(std::span<const std::uint8_t> block,
                                                            std::string& error);

// Who a session is, whatever the host's time zone: the SHA-256 of the two
// reference stamps and the header as the watch delivers them (block bytes
// 0 .. 59), as 64 lowercase hex digits.
std::string SessionIdentity(const Session& session);

std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace stridelog_tool
