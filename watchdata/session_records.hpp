// How one session is decoded: its header sector, its stream of track records
// across sectors, and the blocks the host receives. Pure code over bytes: no
// window, link or clock.
//
// A session's header sector holds the 48-byte header (recorded point count,
// lap count, start time in stamp order, further values passed through), its
// lap records (16 bytes each from byte 64) and reference stamps A and B. Its
// other sectors hold a stream of variable-length track records, each expanded
// into a fixed 25-byte track point:
//   type 0, 25 bytes: a whole point (and the base of what follows);
//   type 1, 21 bytes: minute, second and deltas of position and altitude;
//   type 2,  3 bytes: minute and second only, at the running position;
//   type 3,  8 bytes: a marker with its own time and one measured value;
//   4..15:           the end of the session's stream.
// Records run across sector boundaries: the reader keeps the last, unfinished
// bytes of a sector (at most 25) in a carry area and reads the next sector in
// right behind them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "watchdata/watch_time.hpp"

namespace stridelog::watchdata {

inline constexpr std::size_t kSessionHeaderSize = 48;
inline constexpr std::size_t kLapRecordSize = 16;
inline constexpr std::size_t kTrackPointSize = 25;
// Longitude of a point recorded without a position fix.
inline constexpr std::int32_t kNoPosition = 2000000000;
// The decode buffer: a carry area, then one track point sector.
inline constexpr std::size_t kCarryAreaSize = 32;
inline constexpr std::size_t kDecodeBufferSize = kCarryAreaSize + 4096;

using SessionHeader = std::array<std::uint8_t, kSessionHeaderSize>;
using LapRecord = std::array<std::uint8_t, kLapRecordSize>;
using TrackPoint = std::array<std::uint8_t, kTrackPointSize>;

struct SessionRecord {
    SessionHeader header{};  // start time corrected when the stamps allow it
    std::vector<LapRecord> laps;
    TimeBytes stamp_a{}, stamp_b{};  // as stored, stamp order
    bool start_corrected = false;

    std::uint16_t recorded_points() const;
    std::uint8_t lap_count() const { return header[2]; }
    TimeBytes start_stamp() const;
};

// The session object of a header sector (4096 bytes; a shorter span reads as
// erased beyond its end). With both reference stamps valid, the start moves by
// B - A. Laps are taken as the header counts them, at most the 99 the sector holds.
SessionRecord read_session_header(std::span<const std::uint8_t> sector, bool with_laps = true);

// Expands track records into points. One decoder serves a whole download: the
// type of the last record and the last kept position carry over from one
// session to the next (a marker opening a session takes them).
class TrackDecoder {
  public:
    enum class Outcome {
        sector_used,  // fewer than 26 bytes remain: the carry is in place, the next sector is due
        stream_ended  // a record of type 4..15
    };

    // Before a session's first track sector.
    void begin_session();
    // Decodes the sector in buffer[32..4127] (kDecodeBufferSize bytes, carry
    // area in front). `sector` is for the break line appended to `log`.
    Outcome decode_sector(std::span<std::uint8_t, kDecodeBufferSize> buffer, std::uint8_t sector,
                          std::vector<std::string>& log);

    std::vector<TrackPoint>& points() { return points_; }

  private:
    struct PositionSet {
        std::int32_t longitude = 0, latitude = 0;
        std::int16_t altitude = 0;
        std::uint16_t m2 = 0, m1 = 0;
    };
    enum class RecordType : int { none = -1, full = 0, delta = 1, time_only = 2, marker = 3 };

    // Each returns the record's length.
    std::size_t full_record(const std::uint8_t* record);
    std::size_t delta_record(const std::uint8_t* record);
    std::size_t time_only_record(const std::uint8_t* record);
    std::size_t marker_record(const std::uint8_t* record);
    // Minute and second of a delta or time-only record on the running date and
    // hour, rolling into the next hour when the minute went back.
    WatchTime timed_by_running_hour(int minute, int second);

    // Per session.
    std::size_t position_ = kCarryAreaSize;
    std::int32_t longitude_ = 0, latitude_ = 0;
    std::int16_t altitude_ = 0;
    std::int64_t running_time_ = 0;
    int last_minute_ = 0;
    bool have_base_ = false;
    std::vector<TrackPoint> points_;
    // Whole download.
    RecordType last_type_ = RecordType::none;
    PositionSet last_position_;
};

// The leading points recorded without a position take the session's start:
// the first point gets the start time, and every following point up to the
// first with a position keeps its distance from the first. A start that is not
// a valid date-time leaves the points as recorded.
void fix_up_leading_points(std::vector<TrackPoint>& points, const TimeBytes& start_stamp);

// The host's blocks: a session without track points (0x2007: stamps, header,
// laps), with them (0x2008: the same, the point count, the points), and the
// summary (0x2009: the count, then each 48-byte header).
std::vector<std::uint8_t> build_session_block(const SessionRecord& session);
std::vector<std::uint8_t> build_session_block(const SessionRecord& session,
                                              std::span<const TrackPoint> points);
std::vector<std::uint8_t> build_summary_block(std::span<const SessionHeader> headers);

}  // namespace stridelog::watchdata
