#include "watchdata/session_records.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace stridelog::watchdata {
namespace {

// Header sector.
constexpr std::size_t kStartTimeOffset = 3;
constexpr std::size_t kFirstLapOffset = 64;
constexpr std::size_t kStampAOffset = 1648;
constexpr std::size_t kStampBOffset = 1654;
constexpr std::uint8_t kErased = 0xFF;

// Track point.
constexpr std::size_t kPointByte1 = 1;
constexpr std::size_t kPointTime = 2;
constexpr std::size_t kPointLongitude = 8;
constexpr std::size_t kPointLatitude = 12;
constexpr std::size_t kPointAltitude = 16;
constexpr std::size_t kPointM1 = 18;
constexpr std::size_t kPointM2 = 20;
[[maybe_unused]] constexpr std::size_t kPointM3 = 22;  // copied with M1 and M2
constexpr std::size_t kPointM4 = 24;

// Records.
constexpr std::size_t kFullLength = 25;
constexpr std::size_t kDeltaLength = 21;
constexpr std::size_t kTimeOnlyLength = 3;
constexpr std::size_t kMarkerLength = 8;
constexpr std::size_t kDeltaMinute = 2, kDeltaSecond = 3, kDeltaLongitude = 4, kDeltaLatitude = 8,
                      kDeltaAltitude = 12, kDeltaM1 = 14, kDeltaM4 = 20;
constexpr std::size_t kTimeOnlyMinute = 1, kTimeOnlySecond = 2;
constexpr std::size_t kMarkerTime = 1, kMarkerM4 = 7;
// A record is read only with this much room left; less is carried to the next sector.
constexpr std::size_t kLongestRecordRoom = 26;

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int32_t point_longitude(const TrackPoint& point) {
    return static_cast<std::int32_t>(get32(point.data() + kPointLongitude));
}

WatchTime point_time(const TrackPoint& point) {
    return from_point_order(std::span<const std::uint8_t, 6>(point.data() + kPointTime, 6));
}

void set_point_time(TrackPoint& point, const WatchTime& time) {
    const TimeBytes bytes = to_point_order(time);
    std::copy(bytes.begin(), bytes.end(), point.begin() + kPointTime);
}

TimeBytes take_stamp(std::span<const std::uint8_t> sector, std::size_t offset) {
    TimeBytes stamp;
    for (std::size_t i = 0; i < stamp.size(); ++i)
        stamp[i] = offset + i < sector.size() ? sector[offset + i] : kErased;
    return stamp;
}

}  // namespace

// ---- the header sector ----------------------------------------------------------

std::uint16_t SessionRecord::recorded_points() const {
    return get16(header.data());
}

TimeBytes SessionRecord::start_stamp() const {
    TimeBytes stamp;
    std::copy_n(header.begin() + kStartTimeOffset, stamp.size(), stamp.begin());
    return stamp;
}

SessionRecord read_session_header(std::span<const std::uint8_t> sector, bool with_laps) {
    SessionRecord session;
    session.header.fill(kErased);
    std::copy_n(sector.begin(), std::min(sector.size(), kSessionHeaderSize),
                session.header.begin());
    session.stamp_a = take_stamp(sector, kStampAOffset);
    session.stamp_b = take_stamp(sector, kStampBOffset);

    const WatchTime a = from_stamp_order(session.stamp_a);
    const WatchTime b = from_stamp_order(session.stamp_b);
    const WatchTime start = from_stamp_order(session.start_stamp());
    // A start that is no date-time has nothing to shift; it is passed on as stored.
    if (is_valid_date_time(a) && is_valid_date_time(b) && is_valid_date_time(start)) {
        const WatchTime corrected = from_seconds(to_seconds(start) + to_seconds(b) - to_seconds(a));
        const TimeBytes bytes = to_stamp_order(corrected);
        std::copy(bytes.begin(), bytes.end(), session.header.begin() + kStartTimeOffset);
        session.start_corrected = true;
    }

    if (with_laps) {
        // As many laps as the header counts; one lying past the sector's end (a
        // count no watch writes) reads as erased rather than beyond the sector.
        session.laps.resize(session.lap_count());
        for (std::size_t i = 0; i < session.laps.size(); ++i) {
            const std::size_t offset = kFirstLapOffset + i * kLapRecordSize;
            auto& lap = session.laps[i];
            lap.fill(kErased);
            if (offset + kLapRecordSize <= sector.size())
                std::copy_n(sector.begin() + static_cast<std::ptrdiff_t>(offset), kLapRecordSize,
                            lap.begin());
        }
    }
    return session;
}

// ---- the track record stream ------------------------------------------------------

void TrackDecoder::begin_session() {
    position_ = kCarryAreaSize;
    longitude_ = latitude_ = 0;
    altitude_ = 0;
    running_time_ = 0;
    last_minute_ = 0;
    have_base_ = false;
    points_.clear();
}

TrackDecoder::Outcome TrackDecoder::decode_sector(std::span<std::uint8_t, kDecodeBufferSize> buffer,
                                                  std::uint8_t sector,
                                                  std::vector<std::string>& log) {
    for (;;) {
        const std::uint8_t* record = buffer.data() + position_;
        std::size_t length = 0;
        switch (record[0] & 0x0F) {
            case 0:
                length = full_record(record);
                break;
            case 1:
                length = delta_record(record);
                break;
            case 2:
                length = time_only_record(record);
                break;
            case 3:
                length = marker_record(record);
                break;
            default: {
                char line[48];
                std::snprintf(line, sizeof line, "Sector:Offset (Hex)= %02X:%04X break",
                              static_cast<unsigned>(sector),
                              static_cast<unsigned>(static_cast<std::uint16_t>(position_ - 32)));
                log.emplace_back(line);
                return Outcome::stream_ended;
            }
        }
        position_ += length;
        const std::size_t remaining = kDecodeBufferSize - position_;
        if (remaining < kLongestRecordRoom) {
            // The unfinished record goes in front of where the next sector lands.
            std::memmove(buffer.data() + kCarryAreaSize - remaining, buffer.data() + position_,
                         remaining);
            position_ = kCarryAreaSize - remaining;
            return Outcome::sector_used;
        }
    }
}

WatchTime TrackDecoder::timed_by_running_hour(int minute, int second) {
    constexpr std::int64_t kHour = 3600;
    if (minute < last_minute_) running_time_ = running_time_ / kHour * kHour + kHour;
    WatchTime time = from_seconds(running_time_);
    time.minute = minute;
    time.second = second;
    return time;
}

std::size_t TrackDecoder::full_record(const std::uint8_t* record) {
    TrackPoint point;
    std::copy_n(record, kTrackPointSize, point.begin());
    // The position counts even when the time does not.
    longitude_ = static_cast<std::int32_t>(get32(point.data() + kPointLongitude));
    latitude_ = static_cast<std::int32_t>(get32(point.data() + kPointLatitude));
    altitude_ = static_cast<std::int16_t>(get16(point.data() + kPointAltitude));
    const WatchTime time = point_time(point);
    if (!passes_record_check(time)) return kFullLength;
    running_time_ = to_seconds(time);
    last_minute_ = time.minute;
    have_base_ = true;
    last_type_ = RecordType::full;
    last_position_ = {longitude_, latitude_, altitude_, get16(point.data() + kPointM2),
                      get16(point.data() + kPointM1)};
    points_.push_back(point);
    return kFullLength;
}

std::size_t TrackDecoder::delta_record(const std::uint8_t* record) {
    if (!have_base_) {
        last_type_ = RecordType::delta;
        return kDeltaLength;
    }
    const int minute = record[kDeltaMinute];
    const int second = record[kDeltaSecond];
    if (minute > 60 || second > 60) return kDeltaLength;
    const WatchTime time = timed_by_running_hour(minute, second);
    // Wrapping sums, as the watch's own arithmetic wraps.
    longitude_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(longitude_) +
                                           get32(record + kDeltaLongitude));
    latitude_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(latitude_) +
                                          get32(record + kDeltaLatitude));
    altitude_ = static_cast<std::int16_t>(static_cast<std::uint16_t>(altitude_) +
                                          get16(record + kDeltaAltitude));
    TrackPoint point{};
    point[0] = record[0];
    point[kPointByte1] = record[1];
    set_point_time(point, time);
    put32(point.data() + kPointLongitude, static_cast<std::uint32_t>(longitude_));
    put32(point.data() + kPointLatitude, static_cast<std::uint32_t>(latitude_));
    put16(point.data() + kPointAltitude, static_cast<std::uint16_t>(altitude_));
    std::copy_n(record + kDeltaM1, 6, point.begin() + kPointM1);  // M1, M2, M3
    point[kPointM4] = record[kDeltaM4];
    last_minute_ = minute;
    last_type_ = RecordType::delta;
    last_position_ = {longitude_, latitude_, altitude_, get16(point.data() + kPointM2),
                      get16(point.data() + kPointM1)};
    points_.push_back(point);
    return kDeltaLength;
}

std::size_t TrackDecoder::time_only_record(const std::uint8_t* record) {
    if (!have_base_) {
        last_type_ = RecordType::time_only;
        return kTimeOnlyLength;
    }
    const int minute = record[kTimeOnlyMinute];
    const int second = record[kTimeOnlySecond];
    if (minute > 60 || second > 60) return kTimeOnlyLength;
    const WatchTime time = timed_by_running_hour(minute, second);
    TrackPoint point{};
    point[0] = record[0];
    set_point_time(point, time);
    put32(point.data() + kPointLongitude, static_cast<std::uint32_t>(longitude_));
    put32(point.data() + kPointLatitude, static_cast<std::uint32_t>(latitude_));
    put16(point.data() + kPointAltitude, static_cast<std::uint16_t>(altitude_));
    last_minute_ = minute;
    last_type_ = RecordType::time_only;
    points_.push_back(point);
    return kTimeOnlyLength;
}

std::size_t TrackDecoder::marker_record(const std::uint8_t* record) {
    const WatchTime time =
        from_point_order(std::span<const std::uint8_t, 6>(record + kMarkerTime, 6));
    if (!passes_record_check(time)) return kMarkerLength;
    TrackPoint point{};
    point[0] = record[0];
    std::copy_n(record + kMarkerTime, 6, point.begin() + kPointTime);
    point[kPointM4] = record[kMarkerM4];
    PositionSet position;  // after a time-only record, or first in the download: all zero
    if (last_type_ == RecordType::full) {
        position.longitude = kNoPosition;
    } else if (last_type_ == RecordType::delta || last_type_ == RecordType::marker) {
        position = last_position_;
    }
    put32(point.data() + kPointLongitude, static_cast<std::uint32_t>(position.longitude));
    put32(point.data() + kPointLatitude, static_cast<std::uint32_t>(position.latitude));
    put16(point.data() + kPointAltitude, static_cast<std::uint16_t>(position.altitude));
    put16(point.data() + kPointM1, position.m1);
    put16(point.data() + kPointM2, position.m2);
    last_position_.longitude = position.longitude;
    last_type_ = RecordType::marker;
    points_.push_back(point);
    return kMarkerLength;
}

// ---- the end of a session -----------------------------------------------------------

void fix_up_leading_points(std::vector<TrackPoint>& points, const TimeBytes& start_stamp) {
    const WatchTime start = from_stamp_order(start_stamp);
    if (points.empty() || !is_valid_date_time(start)) return;
    const std::int64_t start_seconds = to_seconds(start);
    const std::int64_t first_seconds = to_seconds(point_time(points.front()));
    const bool first_without_position = point_longitude(points.front()) == kNoPosition;
    set_point_time(points.front(), start);
    if (!first_without_position) return;
    for (std::size_t i = 1; i < points.size() && point_longitude(points[i]) == kNoPosition; ++i) {
        const std::int64_t offset = to_seconds(point_time(points[i])) - first_seconds;
        set_point_time(points[i], from_seconds(start_seconds + offset));
    }
}

// ---- the host's blocks -----------------------------------------------------------------

namespace {

constexpr std::size_t kSessionBlockHead = 12 + kSessionHeaderSize;  // two stamps, the header

std::vector<std::uint8_t> session_block_head(const SessionRecord& session, std::size_t extra) {
    std::vector<std::uint8_t> block;
    block.reserve(kSessionBlockHead + session.laps.size() * kLapRecordSize + extra);
    block.insert(block.end(), session.stamp_a.begin(), session.stamp_a.end());
    block.insert(block.end(), session.stamp_b.begin(), session.stamp_b.end());
    block.insert(block.end(), session.header.begin(), session.header.end());
    for (const auto& lap : session.laps) block.insert(block.end(), lap.begin(), lap.end());
    return block;
}

}  // namespace

std::vector<std::uint8_t> build_session_block(const SessionRecord& session) {
    return session_block_head(session, 0);
}

std::vector<std::uint8_t> build_session_block(const SessionRecord& session,
                                              std::span<const TrackPoint> points) {
    std::vector<std::uint8_t> block =
        session_block_head(session, 4 + points.size() * kTrackPointSize);
    std::uint8_t count[4];
    put32(count, static_cast<std::uint32_t>(points.size()));
    block.insert(block.end(), count, count + 4);
    for (const auto& point : points) block.insert(block.end(), point.begin(), point.end());
    return block;
}

std::vector<std::uint8_t> build_summary_block(std::span<const SessionHeader> headers) {
    std::vector<std::uint8_t> block(4);
    put32(block.data(), static_cast<std::uint32_t>(headers.size()));
    block.reserve(4 + headers.size() * kSessionHeaderSize);
    for (const auto& header : headers) block.insert(block.end(), header.begin(), header.end());
    return block;
}

}  // namespace stridelog::watchdata
