// Session blocks (0x2007, 0x2008), the summary (0x2009) and the two time
// orders they use.
#include <algorithm>

#include "byte_order.hpp"
#include "stridelog/hostkit/records.hpp"

namespace stridelog::hostkit {
namespace {

using detail::array_at;
using detail::le16;
using detail::le32;

// Offsets inside a session block: the stamps, the header, then the laps.
constexpr std::size_t kStampAOffset = 0;
constexpr std::size_t kStampBOffset = 6;
constexpr std::size_t kHeaderOffset = 12;
constexpr std::size_t kLapsOffset = 60;
// Inside the header.
constexpr std::size_t kStartOffset = 3;
// Inside a track point.
constexpr std::size_t kPointTime = 2;
constexpr std::size_t kPointLongitude = 8;
constexpr std::size_t kPointLatitude = 12;
constexpr std::size_t kPointAltitude = 16;
constexpr std::size_t kPointM1 = 18;
constexpr std::size_t kPointM2 = 20;
constexpr std::size_t kPointM3 = 22;
constexpr std::size_t kPointM4 = 24;
// The point count of a track block, and of a summary.
constexpr std::size_t kCountSize = 4;

int days_in_month(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

TrackPoint read_point(Bytes p) {
    TrackPoint point;
    point.record_header = p[0];
    point.record_byte1 = p[1];
    point.time_bytes = array_at<6>(p, kPointTime);
    point.time = from_point_order(point.time_bytes);
    point.longitude = static_cast<std::int32_t>(le32(p, kPointLongitude));
    point.latitude = static_cast<std::int32_t>(le32(p, kPointLatitude));
    point.altitude = static_cast<std::int16_t>(le16(p, kPointAltitude));
    point.m1 = le16(p, kPointM1);
    point.m2 = le16(p, kPointM2);
    point.m3 = le16(p, kPointM3);
    point.m4 = p[kPointM4];
    return point;
}

// The part both session blocks share: stamps, header, laps. Fails when the
// block is shorter than its lap count asks for.
Result<Session> read_session_start(Bytes block) {
    if (block.size() < kLapsOffset)
        return Error{"session block of " + std::to_string(block.size()) + " bytes, shorter than " +
                     std::to_string(kLapsOffset)};
    Session session;
    session.stamp_a_bytes = array_at<6>(block, kStampAOffset);
    session.stamp_b_bytes = array_at<6>(block, kStampBOffset);
    session.stamp_a = from_stamp_order(session.stamp_a_bytes);
    session.stamp_b = from_stamp_order(session.stamp_b_bytes);
    session.header.bytes = array_at<kSessionHeaderSize>(block, kHeaderOffset);
    const std::size_t laps = session.header.lap_count();
    if (block.size() < kLapsOffset + kLapRecordSize * laps)
        return Error{"session block of " + std::to_string(block.size()) +
                     " bytes cannot hold its " + std::to_string(laps) + " laps"};
    for (std::size_t i = 0; i < laps; ++i)
        session.laps.push_back(array_at<kLapRecordSize>(block, kLapsOffset + kLapRecordSize * i));
    return session;
}

}  // namespace

bool is_valid_date_time(const DateTime& t) {
    if (t.month < 1 || t.month > 12) return false;
    if (t.day < 1 || t.day > days_in_month(t.year, t.month)) return false;
    return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 60 && t.second >= 0 &&
           t.second <= 60;
}

std::optional<DateTime> from_stamp_order(const Stamp& b) {
    const DateTime t{2000 + b[5], b[4], b[3], b[2], b[1], b[0]};
    if (!is_valid_date_time(t)) return std::nullopt;
    return t;
}

std::optional<DateTime> from_point_order(const Stamp& b) {
    const DateTime t{2000 + b[0], b[1], b[2], b[3], b[4], b[5]};
    if (!is_valid_date_time(t)) return std::nullopt;
    return t;
}

std::uint16_t SessionHeader::recorded_points() const {
    return le16(bytes, 0);
}

Stamp SessionHeader::start_bytes() const {
    return array_at<6>(bytes, kStartOffset);
}

Result<Session> parse_session_block(Bytes block, SessionBlockKind kind) {
    Result<Session> start = read_session_start(block);
    if (!start) return start;
    Session& session = *start;
    const std::size_t after_laps = kLapsOffset + kLapRecordSize * session.laps.size();
    if (kind == SessionBlockKind::either) {
        kind = block.size() == after_laps ? SessionBlockKind::without_track
                                          : SessionBlockKind::with_track;
    }
    if (kind == SessionBlockKind::without_track) {
        if (block.size() != after_laps)
            return Error{"session block of " + std::to_string(block.size()) + " bytes, not the " +
                         std::to_string(after_laps) + " its laps make"};
        return start;
    }
    session.has_track = true;
    if (block.size() < after_laps + kCountSize)
        return Error{"track block of " + std::to_string(block.size()) +
                     " bytes ends before its point count"};
    const std::uint64_t count = le32(block, after_laps);
    const std::uint64_t expected = after_laps + kCountSize + count * kTrackPointSize;
    if (block.size() != expected)
        return Error{"track block of " + std::to_string(block.size()) + " bytes, not the " +
                     std::to_string(expected) + " its " + std::to_string(count) + " points make"};
    session.points.reserve(count);
    for (std::size_t j = 0; j < count; ++j)
        session.points.push_back(read_point(
            block.subspan(after_laps + kCountSize + kTrackPointSize * j, kTrackPointSize)));
    return start;
}

Result<Summary> parse_summary_block(Bytes block) {
    if (block.size() < kCountSize)
        return Error{"summary block of " + std::to_string(block.size()) + " bytes has no count"};
    const std::uint64_t count = le32(block, 0);
    const std::uint64_t expected = kCountSize + count * kSessionHeaderSize;
    if (block.size() != expected)
        return Error{"summary block of " + std::to_string(block.size()) + " bytes, not the " +
                     std::to_string(expected) + " its " + std::to_string(count) + " headers make"};
    Summary summary;
    summary.headers.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        summary.headers[i].bytes =
            array_at<kSessionHeaderSize>(block, kCountSize + kSessionHeaderSize * i);
    return summary;
}

std::string session_identity(const Session& session) {
    std::vector<std::uint8_t> key;
    key.insert(key.end(), session.stamp_a_bytes.begin(), session.stamp_a_bytes.end());
    key.insert(key.end(), session.stamp_b_bytes.begin(), session.stamp_b_bytes.end());
    key.insert(key.end(), session.header.bytes.begin(), session.header.bytes.end());
    return sha256_hex(key);
}

}  // namespace stridelog::hostkit
