#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <utility>

#include "stridelog/hostkit/fit.hpp"
#include "timed_track.hpp"

namespace stridelog::hostkit {
namespace {

// ---- The encoding: header, definition and data messages, CRC --------------

constexpr std::uint8_t kHeaderSize = 14;
constexpr std::uint8_t kProtocolVersion = 0x10;  // 1.0: nothing here needs 2.0
constexpr std::uint16_t kProfileVersion = 2100;  // 21.00
constexpr std::uint8_t kDefinitionFlag = 0x40;

// Base types, as the byte a field definition names them.
enum class BaseType : std::uint8_t {
    enumeration = 0x00,
    uint16 = 0x84,
    sint32 = 0x85,
    uint32 = 0x86,
};

std::uint8_t size_of(BaseType type) {
    switch (type) {
        case BaseType::enumeration:
            return 1;
        case BaseType::uint16:
            return 2;
        case BaseType::sint32:
        case BaseType::uint32:
            return 4;
    }
    return 0;
}

// What each type holds for "no value".
constexpr std::uint32_t kInvalidUint16 = 0xFFFF;
constexpr std::uint32_t kInvalidUint32 = 0xFFFFFFFF;
constexpr std::int32_t kInvalidSint32 = 0x7FFFFFFF;

// CRC-16 of the FIT protocol, a nibble at a time.
std::uint16_t crc16(std::uint16_t crc, std::uint8_t byte) {
    static constexpr std::array<std::uint16_t, 16> kTable = {
        0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00, 0x2800, 0xE401,
        0xA001, 0x6C00, 0x7800, 0xB401, 0x5000, 0x9C01, 0x8801, 0x4400};
    for (const int shift : {0, 4}) {
        const std::uint16_t low = kTable[crc & 0xF];
        crc = static_cast<std::uint16_t>((crc >> 4) & 0x0FFF);
        crc = static_cast<std::uint16_t>(crc ^ low ^ kTable[(byte >> shift) & 0xF]);
    }
    return crc;
}

std::uint16_t crc16(const std::uint8_t* begin, const std::uint8_t* end) {
    std::uint16_t crc = 0;
    for (const std::uint8_t* p = begin; p != end; ++p) crc = crc16(crc, *p);
    return crc;
}

struct FieldDef {
    std::uint8_t number;
    BaseType type;
};

// One message kind: its global number and field layout, under a local
// message type of its own, so each definition is written once.
struct MessageDef {
    std::uint8_t local;
    std::uint16_t global;
    std::vector<FieldDef> fields;
};

class FitFile {
  public:
    FitFile() : bytes_(kHeaderSize, 0) {}

    // The values in the order of the definition's fields; signed values as
    // their two's complement.
    void add(const MessageDef& def, std::initializer_list<std::uint32_t> values) {
        if (!defined_[def.local]) {
            bytes_.push_back(static_cast<std::uint8_t>(kDefinitionFlag | def.local));
            bytes_.push_back(0);  // reserved
            bytes_.push_back(0);  // little-endian
            put(def.global, 2);
            bytes_.push_back(static_cast<std::uint8_t>(def.fields.size()));
            for (const FieldDef& f : def.fields) {
                bytes_.push_back(f.number);
                bytes_.push_back(size_of(f.type));
                bytes_.push_back(static_cast<std::uint8_t>(f.type));
            }
            defined_[def.local] = true;
        }
        bytes_.push_back(def.local);
        auto value = values.begin();
        for (auto f = def.fields.begin(); f != def.fields.end() && value != values.end(); ++f)
            put(*value++, size_of(f->type));
    }

    std::vector<std::uint8_t> finish() && {
        const auto data_size = static_cast<std::uint32_t>(bytes_.size() - kHeaderSize);
        std::uint8_t* h = bytes_.data();
        h[0] = kHeaderSize;
        h[1] = kProtocolVersion;
        h[2] = static_cast<std::uint8_t>(kProfileVersion);
        h[3] = static_cast<std::uint8_t>(kProfileVersion >> 8);
        for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<std::uint8_t>(data_size >> (8 * i));
        h[8] = '.';
        h[9] = 'F';
        h[10] = 'I';
        h[11] = 'T';
        const std::uint16_t header_crc = crc16(h, h + 12);
        h[12] = static_cast<std::uint8_t>(header_crc);
        h[13] = static_cast<std::uint8_t>(header_crc >> 8);
        put(crc16(bytes_.data(), bytes_.data() + bytes_.size()), 2);
        return std::move(bytes_);
    }

  private:
    void put(std::uint32_t value, std::uint8_t size) {
        for (std::uint8_t i = 0; i < size; ++i)
            bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }

    std::vector<std::uint8_t> bytes_;
    std::array<bool, 16> defined_{};
};

// ---- The activity profile: the messages, their fields and values ----------

using enum BaseType;

constexpr std::uint8_t kTimestamp = 253;
constexpr std::uint8_t kMessageIndex = 254;

const MessageDef kFileId{0, 0, {{0, enumeration}, {1, uint16}, {4, uint32}}};
constexpr std::uint32_t kFileActivity = 4;
constexpr std::uint32_t kManufacturerDevelopment = 255;

const MessageDef kEvent{1, 21, {{kTimestamp, uint32}, {0, enumeration}, {1, enumeration}}};
const MessageDef kRecord{
    2, 20, {{kTimestamp, uint32}, {0, sint32}, {1, sint32}, {2, uint16}, {5, uint32}}};
const MessageDef kLap{3,
                      19,
                      {{kMessageIndex, uint16},
                       {kTimestamp, uint32},
                       {0, enumeration},     // event
                       {1, enumeration},     // event_type
                       {2, uint32},          // start_time
                       {3, sint32},          // start_position_lat
                       {4, sint32},          // start_position_long
                       {5, sint32},          // end_position_lat
                       {6, sint32},          // end_position_long
                       {7, uint32},          // total_elapsed_time
                       {8, uint32},          // total_timer_time
                       {9, uint32},          // total_distance
                       {24, enumeration},    // lap_trigger
                       {25, enumeration}}};  // sport
const MessageDef kSession{4,
                          18,
                          {{kMessageIndex, uint16},
                           {kTimestamp, uint32},
                           {0, enumeration},     // event
                           {1, enumeration},     // event_type
                           {2, uint32},          // start_time
                           {3, sint32},          // start_position_lat
                           {4, sint32},          // start_position_long
                           {5, enumeration},     // sport
                           {6, enumeration},     // sub_sport
                           {7, uint32},          // total_elapsed_time
                           {8, uint32},          // total_timer_time
                           {9, uint32},          // total_distance
                           {25, uint16},         // first_lap_index
                           {26, uint16},         // num_laps
                           {28, enumeration}}};  // trigger
const MessageDef kActivity{5,
                           34,
                           {{kTimestamp, uint32},
                            {0, uint32},       // total_timer_time
                            {1, uint16},       // num_sessions
                            {2, enumeration},  // type
                            {3, enumeration},  // event
                            {4, enumeration},  // event_type
                            {5, uint32}}};     // local_timestamp

constexpr std::uint32_t kEventTimer = 0;
constexpr std::uint32_t kEventSession = 8;
constexpr std::uint32_t kEventLap = 9;
constexpr std::uint32_t kEventActivity = 26;
constexpr std::uint32_t kEventTypeStart = 0;
constexpr std::uint32_t kEventTypeStop = 1;
constexpr std::uint32_t kEventTypeStopAll = 4;
constexpr std::uint32_t kSportGeneric = 0;
constexpr std::uint32_t kSubSportGeneric = 0;
constexpr std::uint32_t kLapTriggerSessionEnd = 7;
constexpr std::uint32_t kSessionTriggerActivityEnd = 0;
constexpr std::uint32_t kActivityManual = 0;

// 2000-01-01T00:00:00Z, the watch's first year: a session with no valid time
// still needs one.
constexpr std::int64_t kNoTimeFallback = 946684800;
constexpr double kSemicirclesPerE7 = 2147483648.0 / 1800000000.0;  // 2^31 per 180 degrees

std::uint32_t fit_time(std::int64_t unix_seconds) {
    return static_cast<std::uint32_t>(unix_seconds - kFitEpoch);
}

struct Position {
    std::uint32_t latitude;
    std::uint32_t longitude;
};

// Degrees x 10^7 as semicircles (2^31 per 180 degrees); a place off the
// globe is no position at all.
Position position(std::int32_t lat_e7, std::int32_t lon_e7) {
    constexpr auto kNone = static_cast<std::uint32_t>(kInvalidSint32);
    if (lat_e7 < -900000000 || lat_e7 > 900000000 || lon_e7 < -1800000000 || lon_e7 > 1800000000)
        return {kNone, kNone};
    // +180 degrees is 2^31 semicircles, one past the type: as uint32 it wraps to -180.
    const auto semicircles = [](std::int32_t e7) {
        return static_cast<std::uint32_t>(std::llround(e7 * kSemicirclesPerE7));
    };
    return {semicircles(lat_e7), semicircles(lon_e7)};
}
Position position(const TrackPoint& p) {
    return position(p.latitude, p.longitude);
}
constexpr Position kNoPlace{static_cast<std::uint32_t>(kInvalidSint32),
                            static_cast<std::uint32_t>(kInvalidSint32)};

// Metres as FIT's altitude: (m + 500) x 5, -500 m up to 12606 m.
std::uint32_t altitude(std::int16_t meters) {
    const int scaled = (meters + 500) * 5;
    return scaled < 0 || scaled >= static_cast<int>(kInvalidUint16)
               ? kInvalidUint16
               : static_cast<std::uint32_t>(scaled);
}

std::uint32_t scaled(double value, double scale) {
    const double v = std::round(value * scale);
    return v < 0 || v >= kInvalidUint32 ? kInvalidUint32 : static_cast<std::uint32_t>(v);
}

}  // namespace

std::vector<std::uint8_t> write_fit(const Session& session, const LocalTime& zone) {
    // A record needs a time and a position: the points TCX draws.
    const std::vector<TimedPoint> track = timed_track(session, zone);
    const double distance = track.empty() ? 0.0 : track.back().distance;

    // The header's start, when it is a time: the file's creation, and the
    // lap's start when there is no track.
    const auto header_start = session.header.start();
    std::int64_t header_utc = kNoTimeFallback;
    bool has_header_utc = false;
    if (header_start) {
        if (const auto utc = zone.to_utc(*header_start)) {
            header_utc = *utc;
            has_header_utc = true;
        }
    }
    const std::int64_t start = !track.empty() ? track.front().utc : header_utc;
    const std::int64_t end = !track.empty() ? track.back().utc : start;
    const std::int64_t elapsed_s = std::max<std::int64_t>(0, end - start);
    const std::uint32_t elapsed = scaled(static_cast<double>(elapsed_s), 1000);
    const std::uint32_t total_distance = scaled(distance, 100);
    // The watch's clock at the end, counted from the same epoch as if it were UTC.
    std::optional<DateTime> end_local;
    if (!track.empty()) {
        end_local = track.back().point->time;
    } else if (has_header_utc) {
        end_local = header_start;
    }
    const std::optional<std::int64_t> end_local_seconds =
        end_local ? LocalTime::fixed_offset(0).to_utc(*end_local) : std::nullopt;
    const std::uint32_t local_timestamp =
        end_local_seconds ? fit_time(*end_local_seconds) : kInvalidUint32;

    const Position first_place = track.empty() ? kNoPlace : position(*track.front().point);
    const Position last_place = track.empty() ? kNoPlace : position(*track.back().point);

    FitFile fit;
    fit.add(kFileId, {kFileActivity, kManufacturerDevelopment,
                      fit_time(has_header_utc ? header_utc : start)});
    fit.add(kEvent, {fit_time(start), kEventTimer, kEventTypeStart});
    for (const auto& w : track) {
        const Position place = position(*w.point);
        fit.add(kRecord, {fit_time(w.utc), place.latitude, place.longitude,
                          altitude(w.point->altitude), scaled(w.distance, 100)});
    }
    fit.add(kEvent, {fit_time(end), kEventTimer, kEventTypeStopAll});
    fit.add(kLap,
            {0, fit_time(end), kEventLap, kEventTypeStop, fit_time(start), first_place.latitude,
             first_place.longitude, last_place.latitude, last_place.longitude, elapsed, elapsed,
             total_distance, kLapTriggerSessionEnd, kSportGeneric});
    fit.add(kSession, {0, fit_time(end), kEventSession, kEventTypeStop, fit_time(start),
                       first_place.latitude, first_place.longitude, kSportGeneric, kSubSportGeneric,
                       elapsed, elapsed, total_distance, 0, 1, kSessionTriggerActivityEnd});
    fit.add(kActivity, {fit_time(end), elapsed, 1, kActivityManual, kEventActivity, kEventTypeStop,
                        local_timestamp});
    return std::move(fit).finish();
}

}  // namespace stridelog::hostkit
