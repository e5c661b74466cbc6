#include "sim/workout_encoder.hpp"

#include <algorithm>
#include <set>

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kSector = Flash::kSectorSize;

// Sector 0.
constexpr std::size_t kLongVersionOffset = 96;
constexpr std::size_t kLongVersionSize = 16;
constexpr std::size_t kBitmapOffset = 224;
constexpr std::size_t kBitmapSize = 32;
constexpr std::size_t kDirectoryOffset = 256;
constexpr std::size_t kDirectorySize = 1024;  // up to the path waypoint counts
constexpr std::uint8_t kRunEnd = 0xFF;

// Header sector.
constexpr std::size_t kCountOffset = 0;
constexpr std::size_t kLapCountOffset = 2;
constexpr std::size_t kStartOffset = 3;
constexpr std::size_t kValuesOffset = 9;
constexpr std::size_t kFirstLapOffset = 64;
constexpr std::size_t kStampAOffset = 1648;
constexpr std::size_t kStampBOffset = 1654;

// Record lengths by type.
constexpr std::size_t kFullLength = 25;
constexpr std::size_t kDeltaLength = 21;
constexpr std::size_t kTimeOnlyLength = 3;
constexpr std::size_t kMarkerLength = 8;

// The reader keeps decoding a sector while at least this many of its bytes are
// unread; fewer are carried in front of the next sector. So a record may start
// no later than this many bytes before the end of the last sector.
constexpr std::size_t kReadableTail = 26;

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint8_t year_byte(const WatchTime& t) {
    return static_cast<std::uint8_t>(t.year - 2000);
}

void put_point_order(std::uint8_t* p, const WatchTime& t) {
    p[0] = year_byte(t);
    p[1] = static_cast<std::uint8_t>(t.month);
    p[2] = static_cast<std::uint8_t>(t.day);
    p[3] = static_cast<std::uint8_t>(t.hour);
    p[4] = static_cast<std::uint8_t>(t.minute);
    p[5] = static_cast<std::uint8_t>(t.second);
}
void put_stamp_order(std::uint8_t* p, const WatchTime& t) {
    p[0] = static_cast<std::uint8_t>(t.second);
    p[1] = static_cast<std::uint8_t>(t.minute);
    p[2] = static_cast<std::uint8_t>(t.hour);
    p[3] = static_cast<std::uint8_t>(t.day);
    p[4] = static_cast<std::uint8_t>(t.month);
    p[5] = year_byte(t);
}

Stamp stamp_bytes(const std::optional<WatchTime>& t) {
    Stamp s;
    s.fill(Flash::kErased);
    if (t) put_stamp_order(s.data(), *t);
    return s;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

const std::int64_t kEpochDays = days_from_civil(2000, 1, 1);

// The watch's own state while it records one download's worth of sessions:
// what a reader carries from record to record, kept here so that a marker's
// position and a delta's hour come out as the reader will reconstruct them.
struct DownloadState {
    std::optional<RecordType> last_type;
    std::int32_t lon = 0, lat = 0;
    std::int16_t alt = 0;
    std::uint16_t m1 = 0, m2 = 0;
};

struct SessionState {
    std::int32_t lon = 0, lat = 0;  // the position a delta is taken against
    std::int16_t alt = 0;
    std::optional<WatchTime> last_timed;  // last full, delta or time-only point
};

TrackPoint point_bytes(std::uint8_t header, std::uint8_t byte1, const WatchTime& time,
                       std::int32_t lon, std::int32_t lat, std::int16_t alt, std::uint16_t m1,
                       std::uint16_t m2, std::uint16_t m3, std::uint8_t m4) {
    TrackPoint p{};
    p[0] = header;
    p[1] = byte1;
    put_point_order(&p[2], time);
    put32(&p[8], static_cast<std::uint32_t>(lon));
    put32(&p[12], static_cast<std::uint32_t>(lat));
    put16(&p[16], static_cast<std::uint16_t>(alt));
    put16(&p[18], m1);
    put16(&p[20], m2);
    put16(&p[22], m3);
    p[24] = m4;
    return p;
}

std::int32_t longitude_of(const TrackPoint& p) {
    return static_cast<std::int32_t>(p[8] | p[9] << 8 | p[10] << 16 |
                                     static_cast<std::uint32_t>(p[11]) << 24);
}

WatchTime time_of(const TrackPoint& p) {
    return {p[2] + 2000, p[3], p[4], p[5], p[6], p[7]};
}

// A delta or time-only record stores minute and second only: the reader takes
// date and hour from the point before, one hour on when the minute went down.
void check_short_time(const SessionState& s, const WatchTime& t, std::size_t index) {
    const WatchTime& before = *s.last_timed;
    WatchTime hour = before;
    hour.minute = hour.second = 0;
    if (t.minute < before.minute) hour = add_seconds(hour, 3600);
    if (t.year != hour.year || t.month != hour.month || t.day != hour.day || t.hour != hour.hour)
        throw PlanError("point " + std::to_string(index) +
                        " needs a full record: its hour cannot follow from the point before");
}

std::int32_t wrap_sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// Appends the session's records to `stream` and returns the points a reader
// must produce, before the start-time fix-up.
std::vector<TrackPoint> encode_points(const SessionPlan& plan, DownloadState& download,
                                      Bytes& stream, std::vector<std::size_t>& starts) {
    SessionState s;
    std::vector<TrackPoint> expected;
    for (std::size_t i = 0; i < plan.points.size(); ++i) {
        const PlannedPoint& p = plan.points[i];
        if (!is_valid_time(p.time))
            throw PlanError("point " + std::to_string(i) + " has no valid time");
        const auto header =
            static_cast<std::uint8_t>((p.header_flags & 0xF0) | static_cast<std::uint8_t>(p.type));
        starts.push_back(stream.size());
        switch (p.type) {
            case RecordType::full: {
                const TrackPoint point =
                    point_bytes(header, p.byte1, p.time, p.longitude, p.latitude, p.altitude, p.m1,
                                p.m2, p.m3, p.m4);
                stream.insert(stream.end(), point.begin(), point.end());
                expected.push_back(point);
                s.lon = p.longitude;
                s.lat = p.latitude;
                s.alt = p.altitude;
                s.last_timed = p.time;
                download = {RecordType::full, p.longitude, p.latitude, p.altitude, p.m1, p.m2};
                break;
            }
            case RecordType::delta: {
                if (!s.last_timed)
                    throw PlanError("point " + std::to_string(i) +
                                    ": a delta needs a full record before it in the session");
                check_short_time(s, p.time, i);
                Bytes r(kDeltaLength);
                r[0] = header;
                r[1] = p.byte1;
                r[2] = static_cast<std::uint8_t>(p.time.minute);
                r[3] = static_cast<std::uint8_t>(p.time.second);
                put32(&r[4], static_cast<std::uint32_t>(wrap_sub(p.longitude, s.lon)));
                put32(&r[8], static_cast<std::uint32_t>(wrap_sub(p.latitude, s.lat)));
                put16(&r[12], static_cast<std::uint16_t>(p.altitude - s.alt));
                put16(&r[14], p.m1);
                put16(&r[16], p.m2);
                put16(&r[18], p.m3);
                r[20] = p.m4;
                stream.insert(stream.end(), r.begin(), r.end());
                expected.push_back(point_bytes(header, p.byte1, p.time, p.longitude, p.latitude,
                                               p.altitude, p.m1, p.m2, p.m3, p.m4));
                s.lon = p.longitude;
                s.lat = p.latitude;
                s.alt = p.altitude;
                s.last_timed = p.time;
                download = {RecordType::delta, p.longitude, p.latitude, p.altitude, p.m1, p.m2};
                break;
            }
            case RecordType::time_only: {
                if (!s.last_timed)
                    throw PlanError("point " + std::to_string(i) +
                                    ": a time-only record needs a full record before it");
                check_short_time(s, p.time, i);
                stream.push_back(header);
                stream.push_back(static_cast<std::uint8_t>(p.time.minute));
                stream.push_back(static_cast<std::uint8_t>(p.time.second));
                // Stands where the runner last was; the measured values are not kept.
                expected.push_back(point_bytes(header, 0, p.time, s.lon, s.lat, s.alt, 0, 0, 0, 0));
                s.last_timed = p.time;
                download.last_type = RecordType::time_only;
                break;
            }
            case RecordType::marker: {
                Bytes r(kMarkerLength);
                r[0] = header;
                put_point_order(&r[1], p.time);
                r[7] = p.m4;
                stream.insert(stream.end(), r.begin(), r.end());
                TrackPoint point;
                const auto last = download.last_type;
                if (last == RecordType::full)
                    point = point_bytes(header, 0, p.time, kNoPosition, 0, 0, 0, 0, 0, p.m4);
                else if (last == RecordType::delta || last == RecordType::marker)
                    point = point_bytes(header, 0, p.time, download.lon, download.lat, download.alt,
                                        download.m1, download.m2, 0, p.m4);
                else
                    point = point_bytes(header, 0, p.time, 0, 0, 0, 0, 0, 0, p.m4);
                expected.push_back(point);
                download.lon = longitude_of(point);
                download.last_type = RecordType::marker;
                break;
            }
        }
    }
    return expected;
}

// The watch starts recording before it has a fix and stamps the first points
// with its unsynchronised clock; the host gets them relative to the corrected
// start instead, up to the first point with a position.
void fix_leading_times(std::vector<TrackPoint>& points, const WatchTime& start) {
    if (points.empty()) return;
    const std::int64_t first = to_seconds(time_of(points[0]));
    const std::int64_t base = to_seconds(start);
    put_point_order(&points[0][2], start);
    if (longitude_of(points[0]) != kNoPosition) return;
    for (std::size_t i = 1; i < points.size() && longitude_of(points[i]) == kNoPosition; ++i)
        put_point_order(&points[i][2], from_seconds(base + to_seconds(time_of(points[i])) - first));
}

std::vector<std::uint8_t> allocation_order(const WorkoutLayout& layout) {
    const std::uint8_t last = last_workout_sector(layout.large_reserve);
    std::vector<std::uint8_t> order;
    std::set<std::uint8_t> seen;
    if (layout.sector_order.empty())
        for (unsigned s = 1; s <= last; ++s) order.push_back(static_cast<std::uint8_t>(s));
    for (const std::uint8_t s : layout.sector_order) {
        if (s == 0 || s > last || !seen.insert(s).second)
            throw PlanError("sector " + std::to_string(s) + " cannot hold a workout");
        order.push_back(s);
    }
    return order;
}

}  // namespace

bool is_valid_time(const WatchTime& t) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 2000 || t.year > 2255 || t.month < 1 || t.month > 12) return false;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    return t.day >= 1 && t.day <= days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

std::int64_t to_seconds(const WatchTime& t) {
    const std::int64_t days =
        days_from_civil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) -
        kEpochDays;
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

WatchTime from_seconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Inverse of days_from_civil.
    const std::int64_t z = days + kEpochDays + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    return {static_cast<int>(y),
            static_cast<int>(m),
            static_cast<int>(d),
            static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60),
            static_cast<int>(rest % 60)};
}

WatchTime add_seconds(const WatchTime& t, std::int64_t seconds) {
    return from_seconds(to_seconds(t) + seconds);
}

std::uint8_t last_workout_sector(bool large_reserve) {
    return large_reserve ? 229 : 243;
}

bool uses_large_reserve(const std::vector<std::uint8_t>& status_bytes) {
    if (status_bytes.size() >= 4) return status_bytes[3] != 0;
    // Two bytes: the watch reports the flag as set. Three leave the fourth
    // unread; the smaller workout area is the safe reading.
    return true;
}

std::vector<ExpectedSession> write_workouts(Flash& flash, const std::vector<SessionPlan>& plans,
                                            const WorkoutLayout& layout) {
    const std::vector<std::uint8_t> order = allocation_order(layout);
    std::size_t next_free = 0;
    auto take_sector = [&] {
        if (next_free == order.size()) throw PlanError("the workout sectors are full");
        return order[next_free++];
    };

    DownloadState download;
    std::vector<ExpectedSession> out;
    for (std::size_t k = 0; k < plans.size(); ++k) {
        const SessionPlan& plan = plans[k];
        if (plan.laps.size() > kMaxLaps) throw PlanError("more laps than the header sector holds");
        if (!is_valid_time(plan.start)) throw PlanError("a session start must be a valid time");
        const std::uint16_t count =
            plan.recorded_count.value_or(static_cast<std::uint16_t>(plan.points.size()));
        if (count == 0 && !plan.points.empty())
            throw PlanError("points need a non-zero recorded count");
        if ((plan.end_marker & 0x0F) < 4) throw PlanError("the end marker must be of type 4..15");

        ExpectedSession e;
        e.stamp_a = stamp_bytes(plan.stamp_a);
        e.stamp_b = stamp_bytes(plan.stamp_b);
        e.laps = plan.laps;
        e.has_track_points = count != 0;

        // The watch corrects a start taken before its clock was set by how far
        // the clock moved between the two stamps.
        WatchTime start = plan.start;
        if (plan.stamp_a && plan.stamp_b && is_valid_time(*plan.stamp_a) &&
            is_valid_time(*plan.stamp_b))
            start = add_seconds(start, to_seconds(*plan.stamp_b) - to_seconds(*plan.stamp_a));

        Bytes header_sector(kSector, Flash::kErased);
        put16(&header_sector[kCountOffset], count);
        header_sector[kLapCountOffset] = static_cast<std::uint8_t>(plan.laps.size());
        put_stamp_order(&header_sector[kStartOffset], plan.start);
        std::copy(plan.header_values.begin(), plan.header_values.end(),
                  header_sector.begin() + kValuesOffset);
        for (std::size_t i = 0; i < plan.laps.size(); ++i)
            std::copy(plan.laps[i].begin(), plan.laps[i].end(),
                      header_sector.begin() +
                          static_cast<std::ptrdiff_t>(kFirstLapOffset + kLapSize * i));
        std::copy(e.stamp_a.begin(), e.stamp_a.end(), header_sector.begin() + kStampAOffset);
        std::copy(e.stamp_b.begin(), e.stamp_b.end(), header_sector.begin() + kStampBOffset);
        std::copy_n(header_sector.begin(), kSessionHeaderSize, e.header.begin());
        put_stamp_order(&e.header[kStartOffset], start);

        e.sectors.push_back(take_sector());
        flash.store(e.sectors[0] * kSector, header_sector);

        if (count != 0) {
            Bytes stream;
            std::vector<std::size_t> starts;
            e.points = encode_points(plan, download, stream, starts);
            fix_leading_times(e.points, start);
            e.stream_bytes = stream.size();
            // Enough sectors that the last record starts where the reader still
            // decodes; the marker ends the stream when the reader would go on.
            const std::size_t last_start = starts.empty() ? 0 : starts.back();
            const std::size_t track_sectors = (last_start + kReadableTail + kSector - 1) / kSector;
            stream.resize(track_sectors * kSector, Flash::kErased);
            if (e.stream_bytes < stream.size()) stream[e.stream_bytes] = plan.end_marker;
            for (std::size_t i = 0; i < track_sectors; ++i) {
                const std::uint8_t sector = take_sector();
                e.sectors.push_back(sector);
                flash.store(sector * kSector,
                            std::span<const std::uint8_t>(stream).subspan(i * kSector, kSector));
            }
        }
        out.push_back(std::move(e));
    }

    // Directory: each session's sectors closed by 0xFF, one more 0xFF ends it.
    Bytes directory(kDirectorySize, Flash::kErased);
    std::size_t at = 0;
    for (const auto& e : out) {
        if (at + e.sectors.size() + 2 > kDirectorySize)
            throw PlanError("the sessions do not fit the workout directory");
        for (const std::uint8_t s : e.sectors) directory[at++] = s;
        directory[at++] = kRunEnd;
    }
    // A clear bit marks a sector in use: sector 0, the reserved tail and every
    // sector a session holds.
    Bytes bitmap(kBitmapSize, 0xFF);
    auto mark_used = [&](unsigned s) {
        bitmap[s / 8] &= static_cast<std::uint8_t>(~(1u << (s % 8)));
    };
    mark_used(0);
    for (unsigned s = last_workout_sector(layout.large_reserve) + 1u; s < Flash::kSectorCount; ++s)
        mark_used(s);
    for (const auto& e : out)
        for (const std::uint8_t s : e.sectors) mark_used(s);
    flash.store(kBitmapOffset, bitmap);
    flash.store(kDirectoryOffset, directory);
    return out;
}

void write_long_version(Flash& flash, const std::string& text) {
    Bytes field(kLongVersionSize, 0);
    std::copy_n(text.begin(), std::min(text.size(), kLongVersionSize - 1), field.begin());
    flash.store(kLongVersionOffset, field);
}

}  // namespace stridelog::sim
