// The files of the sessions the SDK delivers from the simulator's realistic
// watch read back by gpsbabel (GPX, TCX, FIT) and compared with the JSON export
// of the same session; the FIT files also by a decoder written here from the
// protocol's description, as are sessions built here for the edges of times
// and positions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "stridelog/hostkit.hpp"
#include "tests/hostkit/realistic_watch.hpp"

namespace stridelog::hostkit {
namespace {

using Buffer = std::vector<std::uint8_t>;

// ---- A FIT decoder of our own ---------------------------------------------

constexpr std::uint16_t kFileIdMessage = 0;
constexpr std::uint16_t kSessionMessage = 18;
constexpr std::uint16_t kLapMessage = 19;
constexpr std::uint16_t kRecordMessage = 20;
constexpr std::uint16_t kEventMessage = 21;
constexpr std::uint16_t kActivityMessage = 34;
constexpr std::uint8_t kTimestampField = 253;

// CRC-16 with the reflected polynomial 0xA001 from 0, a bit at a time.
std::uint16_t crc16(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

struct FitMessage {
    std::uint16_t global = 0;
    // Field number to value; nothing where the field holds its type's invalid value.
    std::map<std::uint8_t, std::optional<std::int64_t>> fields;

    bool has(std::uint8_t field) const { return fields.count(field) != 0; }
    std::optional<std::int64_t> operator[](std::uint8_t field) const {
        const auto it = fields.find(field);
        return it == fields.end() ? std::nullopt : it->second;
    }
};

struct FitFileRead {
    std::uint8_t protocol = 0;
    std::vector<FitMessage> messages;

    std::vector<const FitMessage*> all(std::uint16_t global) const {
        std::vector<const FitMessage*> out;
        for (const auto& m : messages)
            if (m.global == global) out.push_back(&m);
        return out;
    }
};

// Base type byte: size, signedness and the value that means "invalid".
struct BaseTypeInfo {
    std::uint8_t code, size;
    bool is_signed;
    std::uint64_t invalid;
};
constexpr BaseTypeInfo kBaseTypes[] = {
    {0x00, 1, false, 0xFF},       {0x01, 1, true, 0x7F},    {0x02, 1, false, 0xFF},
    {0x83, 2, true, 0x7FFF},      {0x84, 2, false, 0xFFFF}, {0x85, 4, true, 0x7FFFFFFF},
    {0x86, 4, false, 0xFFFFFFFF}, {0x0A, 1, false, 0},      {0x8B, 2, false, 0},
    {0x8C, 4, false, 0},          {0x0D, 1, false, 0xFF},
};
const BaseTypeInfo* info_of(std::uint8_t code) {
    for (const auto& t : kBaseTypes)
        if (t.code == code) return &t;
    return nullptr;
}

// Header (size, ".FIT", header CRC, data size), the records (normal headers
// only: definitions with their architecture and fields, data by local type),
// and the CRC over the whole file.
void decode_fit(const Buffer& file, FitFileRead& out) {
    ASSERT_GE(file.size(), 14u);
    const std::size_t header_size = file[0];
    ASSERT_TRUE(header_size == 12 || header_size == 14) << header_size;
    out.protocol = file[1];
    ASSERT_EQ(std::string(file.begin() + 8, file.begin() + 12), ".FIT");
    if (header_size == 14) {
        const std::uint16_t stored = static_cast<std::uint16_t>(file[12] | file[13] << 8);
        ASSERT_EQ(stored, crc16(file.data(), 12)) << "header CRC";
    }
    const std::size_t data_size =
        file[4] | file[5] << 8 | file[6] << 16 | static_cast<std::size_t>(file[7]) << 24;
    ASSERT_EQ(file.size(), header_size + data_size + 2) << "data size";
    ASSERT_EQ(crc16(file.data(), file.size()), 0) << "file CRC";

    struct Definition {
        bool big_endian = false;
        std::uint16_t global = 0;
        std::vector<std::array<std::uint8_t, 3>> fields;  // number, size, base type
    };
    std::map<std::uint8_t, Definition> definitions;
    std::size_t at = header_size;
    const std::size_t end = header_size + data_size;
    const auto need = [&](std::size_t n) { return at + n <= end; };
    while (at < end) {
        const std::uint8_t header = file[at++];
        ASSERT_EQ(header & 0x80, 0) << "compressed timestamp header at " << at - 1;
        const std::uint8_t local = header & 0x0F;
        if (header & 0x40) {
            ASSERT_EQ(header & 0x20, 0) << "developer fields";
            ASSERT_TRUE(need(5));
            Definition d;
            d.big_endian = file[at + 1] == 1;
            ASSERT_LE(file[at + 1], 1) << "architecture";
            d.global = d.big_endian ? static_cast<std::uint16_t>(file[at + 2] << 8 | file[at + 3])
                                    : static_cast<std::uint16_t>(file[at + 2] | file[at + 3] << 8);
            const std::size_t count = file[at + 4];
            at += 5;
            ASSERT_TRUE(need(3 * count));
            for (std::size_t i = 0; i < count; ++i, at += 3)
                d.fields.push_back({file[at], file[at + 1], file[at + 2]});
            definitions[local] = d;
            continue;
        }
        ASSERT_EQ(definitions.count(local), 1u) << "data before its definition, local " << +local;
        const Definition& d = definitions[local];
        FitMessage m;
        m.global = d.global;
        for (const auto& [number, size, base_type] : d.fields) {
            const auto info = info_of(base_type);
            ASSERT_TRUE(info) << "base type " << +base_type;
            ASSERT_EQ(size, info->size) << "field " << +number << " of message " << d.global;
            ASSERT_TRUE(need(size));
            std::uint64_t raw = 0;
            for (std::size_t i = 0; i < size; ++i) {
                const std::size_t shift = d.big_endian ? 8 * (size - 1 - i) : 8 * i;
                raw |= static_cast<std::uint64_t>(file[at + i]) << shift;
            }
            at += size;
            std::optional<std::int64_t> value;
            if (raw != info->invalid) {
                value = static_cast<std::int64_t>(raw);
                const std::uint64_t sign = std::uint64_t{1} << (8 * size - 1);
                if (info->is_signed && (raw & sign)) *value -= static_cast<std::int64_t>(sign << 1);
            }
            m.fields[number] = value;
        }
        out.messages.push_back(std::move(m));
    }
}

// ---- What every file holds ----------------------------------------------

constexpr std::int64_t kFitEpochUnix = 631065600;  // 1989-12-31T00:00:00Z
constexpr double kDegreesPerSemicircle = 180.0 / 2147483648.0;

// "2026-03-14T07:05:09Z" as FIT seconds.
std::int64_t fit_seconds(const std::string& utc) {
    std::tm tm{};
    EXPECT_EQ(std::sscanf(utc.c_str(), "%d-%d-%dT%d:%d:%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                          &tm.tm_hour, &tm.tm_min, &tm.tm_sec),
              6)
        << utc;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<std::int64_t>(::timegm(&tm)) - kFitEpochUnix;
}

double degrees(const std::optional<std::int64_t>& semicircles) {
    return semicircles ? static_cast<double>(*semicircles) * kDegreesPerSemicircle : NAN;
}

// The order of the messages, the file_id, the timer events, one lap and one
// session agreeing with the records, one activity.
void expect_activity_file(const FitFileRead& fit) {
    const auto records = fit.all(kRecordMessage);
    std::vector<std::uint16_t> order;
    for (const auto& m : fit.messages) order.push_back(m.global);
    std::vector<std::uint16_t> want_order = {kFileIdMessage, kEventMessage};
    want_order.insert(want_order.end(), records.size(), kRecordMessage);
    want_order.insert(want_order.end(),
                      {kEventMessage, kLapMessage, kSessionMessage, kActivityMessage});
    ASSERT_EQ(order, want_order);

    const FitMessage& file_id = fit.messages.front();
    EXPECT_EQ(file_id[0], 4) << "type: activity";
    EXPECT_TRUE(file_id[1].has_value()) << "manufacturer";
    EXPECT_TRUE(file_id[4].has_value()) << "time_created";
    for (std::size_t i = 1; i < records.size(); ++i)
        EXPECT_GE((*records[i])[5], (*records[i - 1])[5]) << "distance never shrinks, " << i;

    const auto events = fit.all(kEventMessage);
    const FitMessage& lap = *fit.all(kLapMessage)[0];
    const FitMessage& session = *fit.all(kSessionMessage)[0];
    const FitMessage& activity = *fit.all(kActivityMessage)[0];
    EXPECT_EQ((*events[0])[kTimestampField], lap[2]) << "timer start at the lap's start";
    EXPECT_EQ((*events[0])[0], 0);
    EXPECT_EQ((*events[0])[1], 0) << "timer start";
    EXPECT_EQ((*events[1])[0], 0);
    EXPECT_EQ((*events[1])[1], 4) << "timer stop_all";
    if (!records.empty()) {
        const FitMessage &first = *records.front(), &last = *records.back();
        EXPECT_EQ(lap[2], first[kTimestampField]) << "lap start_time";
        EXPECT_EQ(lap[kTimestampField], last[kTimestampField]);
        EXPECT_EQ(lap[7], (*last[kTimestampField] - *first[kTimestampField]) * 1000)
            << "lap total_elapsed_time";
        EXPECT_EQ(lap[3], first[0]) << "lap start_position_lat";
        EXPECT_EQ(lap[6], last[1]) << "lap end_position_long";
        EXPECT_EQ(lap[9], last[5]) << "lap total_distance is the last record's";
    } else {
        EXPECT_EQ(lap[kTimestampField], lap[2]);
        EXPECT_FALSE(lap[3]) << "no start position";
    }
    for (const std::uint8_t field :
         {kTimestampField, std::uint8_t{2}, std::uint8_t{7}, std::uint8_t{8}, std::uint8_t{9}})
        EXPECT_EQ(session[field], lap[field]) << "session field " << +field << " as the lap's";
    EXPECT_EQ(session[26], 1) << "num_laps";
    EXPECT_EQ(activity[1], 1) << "num_sessions";
    EXPECT_EQ(activity[kTimestampField], lap[kTimestampField]);
    EXPECT_EQ(activity[0], lap[8]) << "total_timer_time";
}

// ---- The realistic sessions, downloaded through the SDK -------------------

// The host's zone for a while.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* saved = std::getenv("TZ")) saved_ = saved;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        saved_ ? ::setenv("TZ", saved_->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> saved_;
};

// "time,lat,lon,alt" per positioned, timed point of the JSON export: what a map shows.
std::vector<std::string> positioned_points(const Session& session, const LocalTime& zone) {
    std::vector<std::string> out;
    const auto doc = nlohmann::json::parse(write_json(session, zone));
    for (const auto& p : doc["points"]) {
        if (!p["has_position"].get<bool>() || p["time_utc"].is_null()) continue;
        char line[96];
        std::snprintf(line, sizeof line, "%s,%.7f,%.7f,%d",
                      p["time_utc"].get<std::string>().c_str(),
                      p["latitude_e7"].get<double>() / 1e7, p["longitude_e7"].get<double>() / 1e7,
                      p["altitude"].get<int>());
        out.push_back(line);
    }
    return out;
}

// The lap's distance in the TCX export of the same session, in metres.
double tcx_distance(const Session& session, const LocalTime& zone) {
    const std::string tcx = write_tcx(session, zone);
    std::smatch m;
    EXPECT_TRUE(std::regex_search(
        tcx, m, std::regex("<TotalTimeSeconds>.*\\n\\s*<DistanceMeters>([0-9.]+)<")));
    return m.empty() ? NAN : std::stod(m[1]);
}

class FitExport : public test::RealisticWatch {};

// Daylight saving starts in the middle of the realistic sessions in Los Angeles.
TEST_F(FitExport, GpsbabelReadsEveryRealisticSessionAsTheJsonSays) {
    const auto sessions = download_sessions();
    ASSERT_EQ(sessions.size(), 6u);
    const ScopedTimeZone tz("America/Los_Angeles");
    const auto zone = LocalTime::host_zone();
    const auto style = env_.write_file("points.style",
                                       "FIELD_DELIMITER COMMA\nRECORD_DELIMITER NEWLINE\n"
                                       "BADCHARS COMMA\nIFIELD ISO_TIME, \"\", \"%s\"\n"
                                       "IFIELD LAT_DECIMAL, \"\", \"%.9f\"\n"
                                       "IFIELD LON_DECIMAL, \"\", \"%.9f\"\n"
                                       "IFIELD ALT_METERS, \"\", \"%.3f\"\n");
    const std::pair<FileFormat, const char*> readers[] = {
        {FileFormat::kGpx, "gpx"}, {FileFormat::kTcx, "gtrnctr"}, {FileFormat::kFit, "garmin_fit"}};
    std::size_t points = 0, without_track = 0;
    for (std::size_t k = 0; k < sessions.size(); ++k) {
        const auto want = positioned_points(sessions[k], zone);
        points += want.size();
        for (const auto& [format, reader] : readers) {
            SCOPED_TRACE("session " + std::to_string(k) + " as " + reader);
            // Through the same call the tool makes, so the text path keeps binary bytes.
            const std::string bytes = write_session(format, sessions[k], zone);
            const auto file = env_.write_file("session", bytes);
            const auto csv = env_.root() / "session.csv";
            const std::string command = std::string("gpsbabel -t -i ") + reader + " -f '" +
                                        file.string() +
                                        "' -x nuketypes,waypoints,routes -o xcsv,style='" +
                                        style.string() + "' -F '" + csv.string() + "' 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            std::ifstream in(csv);
            std::vector<std::string> lines;
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            ASSERT_EQ(lines.size(), want.size());
            for (std::size_t i = 0; i < want.size(); ++i) {
                char time[32] = {}, want_time[32] = {};
                double got[3] = {}, expected[3] = {};
                ASSERT_EQ(std::sscanf(lines[i].c_str(), "%31[^,],%lf,%lf,%lf", time, &got[0],
                                      &got[1], &got[2]),
                          4)
                    << lines[i];
                std::sscanf(want[i].c_str(), "%31[^,],%lf,%lf,%lf", want_time, &expected[0],
                            &expected[1], &expected[2]);
                EXPECT_STREQ(time, want_time) << "point " << i;
                for (int f = 0; f < 3; ++f)
                    EXPECT_NEAR(got[f], expected[f], f < 2 ? 1e-6 : 0.2) << "point " << i;
            }
        }
        FitFileRead fit;
        ASSERT_NO_FATAL_FAILURE(decode_fit(write_fit(sessions[k], zone), fit));
        ASSERT_NO_FATAL_FAILURE(expect_activity_file(fit));
        EXPECT_EQ(fit.all(kRecordMessage).size(), want.size());
        if (want.empty()) {
            ++without_track;
            continue;
        }
        const FitMessage& lap = *fit.all(kLapMessage)[0];
        ASSERT_TRUE(lap[9]);
        EXPECT_NEAR(static_cast<double>(*lap[9]) / 100, tcx_distance(sessions[k], zone), 0.06)
            << "the distance the TCX lap gives";
    }
    EXPECT_GT(points, 1000u);
    EXPECT_EQ(without_track, 1u) << "the indoor session";
}

// ---- Sessions built here: the edges ---------------------------------------

void set_start(Session& s, const DateTime& t) {
    s.header.bytes[3] = static_cast<std::uint8_t>(t.second);
    s.header.bytes[4] = static_cast<std::uint8_t>(t.minute);
    s.header.bytes[5] = static_cast<std::uint8_t>(t.hour);
    s.header.bytes[6] = static_cast<std::uint8_t>(t.day);
    s.header.bytes[7] = static_cast<std::uint8_t>(t.month);
    s.header.bytes[8] = static_cast<std::uint8_t>(t.year - 2000);
}

TrackPoint point(std::optional<DateTime> time, std::int32_t lat, std::int32_t lon,
                 std::int16_t alt = 0) {
    TrackPoint p;
    p.time = time;
    p.latitude = lat;
    p.longitude = lon;
    p.altitude = alt;
    return p;
}

TEST(FitExportEdges, TimesPositionsAndAltitudes) {
    const DateTime morning{2026, 6, 1, 8, 0, 0};
    struct Record {
        const char* utc;
        double latitude, longitude;  // NAN: no position in the record
        std::optional<int> altitude;
    };
    struct Case {
        const char* legend;
        std::optional<DateTime> start;
        std::vector<TrackPoint> points;
        int offset_s;
        std::vector<Record> want;
        const char* lap_start;                        // UTC
        std::optional<std::int64_t> local_minus_utc;  // activity's local_timestamp - timestamp
    };
    const DateTime eve{2025, 12, 31, 23, 59, 58}, early_eve{2025, 12, 31, 20, 59, 58};
    // clang-format off
    const Case cases[] = {
        {"no positioned point: no record, the header's time", morning,
         {point(morning, 0, kNoPosition), point(DateTime{2026, 6, 1, 8, 0, 5}, 0, 0)}, 7200,
         {}, "2026-06-01T06:00:00Z", 7200},
        {"no point and no valid time: 2000-01-01", std::nullopt, {}, 0, {}, "2000-01-01T00:00:00Z",
         std::nullopt},
        {"one point", morning, {point(DateTime{2026, 6, 1, 8, 0, 3}, 475000000, 85000000, 412)}, 0,
         {{"2026-06-01T08:00:03Z", 47.5, 8.5, 412}}, "2026-06-01T08:00:03Z", 0},
        {"the watch's new year, still the old one in UTC", eve,
         {point(eve, 10000000, 10000000), point(DateTime{2026, 1, 1, 0, 0, 2}, 10000000, 10001000)},
         2 * 3600, {{"2025-12-31T21:59:58Z", 1, 1, 0}, {"2025-12-31T22:00:02Z", 1, 1.0001, 0}},
         "2025-12-31T21:59:58Z", 7200},
        {"UTC's new year, still the old one on the watch", early_eve,
         {point(early_eve, 10000000, 10000000),
          point(DateTime{2025, 12, 31, 21, 0, 2}, 10000000, 10001000)},
         -3 * 3600, {{"2025-12-31T23:59:58Z", 1, 1, 0}, {"2026-01-01T00:00:02Z", 1, 1.0001, 0}},
         "2025-12-31T23:59:58Z", -10800},
        {"south and west, and the edges of the globe", morning,
         {point(morning, -338688000, 1512093000, -12), point(morning, -346037000, -583816000, 0),
          point(morning, -900000000, 1800000000, -500),
          point(morning, 900000000, -1800000000, 12606), point(morning, 950000000, 20000000, -501)},
         0,
         {{"2026-06-01T08:00:00Z", -33.8688, 151.2093, -12},
          {"2026-06-01T08:00:00Z", -34.6037, -58.3816, 0},
          {"2026-06-01T08:00:00Z", -90, -180, -500},  // +180 is -180
          {"2026-06-01T08:00:00Z", 90, -180, 12606},
          // Off the globe and out of FIT's altitude range: the record without them.
          {"2026-06-01T08:00:00Z", NAN, NAN, std::nullopt}},
         "2026-06-01T08:00:00Z", 0},
        {"points without a position or a time are left out", morning,
         {point(std::nullopt, 475000000, 85000000), point(morning, 475000000, kNoPosition),
          point(DateTime{2026, 6, 1, 8, 0, 60}, 475000000, 85000000, 3)},
         0, {{"2026-06-01T08:01:00Z", 47.5, 8.5, 3}}, "2026-06-01T08:01:00Z", 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Session s;
        if (c.start) {
            set_start(s, *c.start);
        } else {
            s.header.bytes.fill(0xFF);
        }
        s.points = c.points;
        s.has_track = !c.points.empty();
        const auto zone = LocalTime::fixed_offset(c.offset_s);
        FitFileRead fit;
        ASSERT_NO_FATAL_FAILURE(decode_fit(write_fit(s, zone), fit));
        ASSERT_NO_FATAL_FAILURE(expect_activity_file(fit));
        EXPECT_EQ(fit.protocol >> 4, 1) << "protocol 1.x";
        const auto records = fit.all(kRecordMessage);
        ASSERT_EQ(records.size(), c.want.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            const FitMessage& r = *records[i];
            const Record& w = c.want[i];
            EXPECT_EQ(r[kTimestampField], fit_seconds(w.utc)) << i;
            if (std::isnan(w.latitude)) {
                EXPECT_TRUE(r.has(0) && !r[0] && !r[1]) << i << ": invalid position fields";
            } else {
                EXPECT_NEAR(degrees(r[0]), w.latitude, 1e-6) << i;
                EXPECT_NEAR(degrees(r[1]), w.longitude, 1e-6) << i;
            }
            if (w.altitude) {
                ASSERT_TRUE(r[2]) << i;
                EXPECT_EQ(*r[2], (*w.altitude + 500) * 5) << i;
            } else {
                EXPECT_FALSE(r[2]) << i;
            }
        }
        const FitMessage& lap = *fit.all(kLapMessage)[0];
        EXPECT_EQ(lap[2], fit_seconds(c.lap_start));
        if (records.size() < 2) {
            EXPECT_EQ(lap[7], 0) << "no time elapsed";
            EXPECT_EQ(lap[9], 0) << "no distance";
        }
        const FitMessage& activity = *fit.all(kActivityMessage)[0];
        if (c.local_minus_utc) {
            ASSERT_TRUE(activity[5]);
            EXPECT_EQ(*activity[5] - *activity[kTimestampField], *c.local_minus_utc);
        } else {
            EXPECT_FALSE(activity[5]) << "no local time";
        }
        const std::string created =
            c.start ? format_utc(*zone.to_utc(*c.start)) : "2000-01-01T00:00:00Z";
        EXPECT_EQ(fit.messages[0][4], fit_seconds(created)) << "time_created: the header's start";
    }
}

}  // namespace
}  // namespace stridelog::hostkit
