// FIT files of the sessions the SDK delivers from the simulator's realistic
// watch, read back by gpsbabel and by a decoder written here from the
// protocol's description, and compared with the JSON export of the same
// session; then sessions built here for the edges of times and positions.
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

#include "platform/clock.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"
#include "stridelog/hostkit.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

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

// ---- Expectations from the session and its JSON export ---------------------

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

struct WantPoint {
    std::string utc;
    double latitude, longitude;  // degrees
    int altitude;
};

// The points the JSON export marks positioned and timed: what a map shows.
std::vector<WantPoint> positioned_points(const Session& session, const LocalTime& zone) {
    const auto doc = nlohmann::json::parse(write_json(session, zone));
    std::vector<WantPoint> out;
    for (const auto& p : doc["points"]) {
        if (!p["has_position"].get<bool>() || p["time_utc"].is_null()) continue;
        out.push_back({p["time_utc"].get<std::string>(), p["latitude_e7"].get<double>() / 1e7,
                       p["longitude_e7"].get<double>() / 1e7, p["altitude"].get<int>()});
    }
    return out;
}

double degrees(const std::optional<std::int64_t>& semicircles) {
    return semicircles ? static_cast<double>(*semicircles) * kDegreesPerSemicircle : NAN;
}

// The lap's distance in the TCX export of the same session, in metres.
double tcx_distance(const Session& session, const LocalTime& zone) {
    const std::string tcx = write_tcx(session, zone);
    std::smatch m;
    EXPECT_TRUE(std::regex_search(
        tcx, m, std::regex("<TotalTimeSeconds>.*\\n\\s*<DistanceMeters>([0-9.]+)<")));
    return m.empty() ? NAN : std::stod(m[1]);
}

// What every file holds whatever the session: the order of the messages, the
// file_id, the events, one lap and one session agreeing with the records,
// one activity.
void expect_activity_file(const FitFileRead& fit, const std::vector<WantPoint>& want) {
    std::vector<std::uint16_t> order;
    for (const auto& m : fit.messages) order.push_back(m.global);
    std::vector<std::uint16_t> want_order = {kFileIdMessage, kEventMessage};
    want_order.insert(want_order.end(), want.size(), kRecordMessage);
    want_order.insert(want_order.end(),
                      {kEventMessage, kLapMessage, kSessionMessage, kActivityMessage});
    ASSERT_EQ(order, want_order);

    const FitMessage& file_id = fit.messages.front();
    EXPECT_EQ(file_id[0], 4) << "type: activity";
    EXPECT_TRUE(file_id[1].has_value()) << "manufacturer";
    EXPECT_TRUE(file_id[4].has_value()) << "time_created";

    const auto records = fit.all(kRecordMessage);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i) + " at " + want[i].utc);
        const FitMessage& r = *records[i];
        EXPECT_EQ(r[kTimestampField], fit_seconds(want[i].utc));
        EXPECT_NEAR(degrees(r[0]), want[i].latitude, 1e-6);
        EXPECT_NEAR(degrees(r[1]), want[i].longitude, 1e-6);
        ASSERT_TRUE(r[2]);
        EXPECT_NEAR(static_cast<double>(*r[2]) / 5 - 500, want[i].altitude, 0.2);
        if (i > 0) {
            EXPECT_GE(r[5], (*records[i - 1])[5]) << "distance never shrinks";
        }
    }

    const auto events = fit.all(kEventMessage);
    EXPECT_EQ((*events[0])[kTimestampField], (*fit.all(kLapMessage)[0])[2])
        << "timer start at the lap's start";
    EXPECT_EQ((*events[0])[0], 0);
    EXPECT_EQ((*events[0])[1], 0) << "timer start";
    EXPECT_EQ((*events[1])[0], 0);
    EXPECT_EQ((*events[1])[1], 4) << "timer stop_all";

    const FitMessage& lap = *fit.all(kLapMessage)[0];
    const FitMessage& session = *fit.all(kSessionMessage)[0];
    const FitMessage& activity = *fit.all(kActivityMessage)[0];
    if (!want.empty()) {
        const std::int64_t first = fit_seconds(want.front().utc), last = fit_seconds(want.back().utc);
        EXPECT_EQ(lap[2], first) << "lap start_time";
        EXPECT_EQ(lap[kTimestampField], last);
        EXPECT_EQ(lap[7], (last - first) * 1000) << "lap total_elapsed_time";
        EXPECT_NEAR(degrees(lap[3]), want.front().latitude, 1e-6);
        EXPECT_NEAR(degrees(lap[6]), want.back().longitude, 1e-6);
        EXPECT_EQ(lap[9], (*records.back())[5]) << "lap total_distance is the last record's";
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

std::vector<Session> download_realistic_sessions() {
    test::TestEnvironment env;
    platform::ScopedVirtualClock clock;
    test::HostRecorder host;
    sim::Watch watch;
    sim::InProcessLine line{watch, "fit-export"};
    sim::register_as_cable(line, "COM7");
    const bool large_reserve = sim::uses_large_reserve(watch.config().status_bytes);
    watch.with_flash(
        [&](sim::Flash& flash) { sim::generate_realistic_flash(flash, large_reserve); });
    GetAllWorkout(host.hwnd(), FALSE, FALSE);
    EXPECT_TRUE(test::run_until_task_ends(3'600'000)) << "download did not end";
    std::vector<Session> sessions;
    for (const auto& n : host.notifications()) {
        EXPECT_FALSE(n.error) << host.describe();
        if (n.error || (n.code != SDK_MSG_SESSION && n.code != SDK_MSG_SESSION_TRACK)) continue;
        auto parsed = parse_session_block(n.block);
        EXPECT_TRUE(parsed) << parsed.error();
        if (parsed) sessions.push_back(std::move(*parsed));
    }
    return sessions;
}

const std::vector<Session>& realistic_sessions() {
    static const std::vector<Session> sessions = download_realistic_sessions();
    return sessions;
}

// The host's zone for a while: daylight saving starts in the middle of the
// realistic sessions there.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* saved = std::getenv("TZ")) saved_ = saved;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> saved_;
};

TEST(FitExport, GpsbabelReadsEveryRealisticSessionAsTheJsonSays) {
    const auto& sessions = realistic_sessions();
    ASSERT_EQ(sessions.size(), 6u);
    const ScopedTimeZone tz("America/Los_Angeles");
    const auto zone = LocalTime::host_zone();
    test::TestEnvironment env;
    const auto style = env.write_file("points.style",
                                      "FIELD_DELIMITER COMMA\nRECORD_DELIMITER NEWLINE\n"
                                      "BADCHARS COMMA\nIFIELD ISO_TIME, \"\", \"%s\"\n"
                                      "IFIELD LAT_DECIMAL, \"\", \"%.9f\"\n"
                                      "IFIELD LON_DECIMAL, \"\", \"%.9f\"\n"
                                      "IFIELD ALT_METERS, \"\", \"%.3f\"\n");
    std::size_t files = 0, points = 0;
    for (std::size_t k = 0; k < sessions.size(); ++k) {
        SCOPED_TRACE("session " + std::to_string(k));
        // Through the same call the tool makes, so the text path keeps binary bytes.
        const std::string bytes = write_session(FileFormat::fit, sessions[k], zone);
        const auto fit = env.root() / ("session-" + std::to_string(k) + ".fit");
        const auto csv = env.root() / ("session-" + std::to_string(k) + ".csv");
        std::ofstream(fit, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        const std::string command = "gpsbabel -t -i garmin_fit -f '" + fit.string() +
                                    "' -x nuketypes,waypoints,routes -o xcsv,style='" +
                                    style.string() + "' -F '" + csv.string() + "' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        ++files;

        const auto want = positioned_points(sessions[k], zone);
        std::ifstream in(csv);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        ASSERT_EQ(lines.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            char time[32] = {};
            double lat = 0, lon = 0, alt = 0;
            ASSERT_EQ(std::sscanf(lines[i].c_str(), "%31[^,],%lf,%lf,%lf", time, &lat, &lon, &alt),
                      4)
                << lines[i];
            EXPECT_EQ(time, want[i].utc) << "point " << i;
            EXPECT_NEAR(lat, want[i].latitude, 1e-6) << "point " << i;
            EXPECT_NEAR(lon, want[i].longitude, 1e-6) << "point " << i;
            EXPECT_NEAR(alt, want[i].altitude, 0.2) << "point " << i;
        }
        points += want.size();
    }
    std::printf("gpsbabel read %zu FIT files, %zu points\n", files, points);
    EXPECT_GT(points, 1000u);
}

TEST(FitExport, OwnDecoderFindsTheRealisticSessions) {
    const auto& sessions = realistic_sessions();
    ASSERT_FALSE(sessions.empty());
    const auto zone = LocalTime::fixed_offset(3600);
    std::size_t without_track = 0;
    for (std::size_t k = 0; k < sessions.size(); ++k) {
        SCOPED_TRACE("session " + std::to_string(k));
        const Buffer bytes = write_fit(sessions[k], zone);
        FitFileRead fit;
        ASSERT_NO_FATAL_FAILURE(decode_fit(bytes, fit));
        const auto want = positioned_points(sessions[k], zone);
        ASSERT_NO_FATAL_FAILURE(expect_activity_file(fit, want));
        if (want.empty()) {
            ++without_track;
            continue;
        }
        const FitMessage& lap = *fit.all(kLapMessage)[0];
        ASSERT_TRUE(lap[9]);
        EXPECT_NEAR(static_cast<double>(*lap[9]) / 100, tcx_distance(sessions[k], zone), 0.06)
            << "the distance the TCX lap gives";
        // The watch's own clock: an hour ahead of UTC here.
        EXPECT_EQ(*(*fit.all(kActivityMessage)[0])[5] - *lap[kTimestampField], 3600);
        const auto start = sessions[k].header.start();
        ASSERT_TRUE(start);
        EXPECT_EQ(fit.messages[0][4], fit_seconds(format_utc(*zone.to_utc(*start))))
            << "time_created: the session's start";
    }
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

TEST(FitExport, EdgesOfTimesPositionsAndAltitudes) {
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
    } cases[] = {
        {"no positioned point: no record, the header's time",
         morning,
         {point(morning, 0, kNoPosition), point(DateTime{2026, 6, 1, 8, 0, 5}, 0, 0)},
         7200,
         {},
         "2026-06-01T06:00:00Z",
         7200},
        {"no point and no valid time: 2000-01-01",
         std::nullopt,
         {},
         0,
         {},
         "2000-01-01T00:00:00Z",
         std::nullopt},
        {"one point",
         morning,
         {point(DateTime{2026, 6, 1, 8, 0, 3}, 475000000, 85000000, 412)},
         0,
         {{"2026-06-01T08:00:03Z", 47.5, 8.5, 412}},
         "2026-06-01T08:00:03Z",
         0},
        {"the watch's new year, still the old one in UTC",
         DateTime{2025, 12, 31, 23, 59, 58},
         {point(DateTime{2025, 12, 31, 23, 59, 58}, 10000000, 10000000),
          point(DateTime{2026, 1, 1, 0, 0, 2}, 10000000, 10001000)},
         2 * 3600,
         {{"2025-12-31T21:59:58Z", 1, 1, 0}, {"2025-12-31T22:00:02Z", 1, 1.0001, 0}},
         "2025-12-31T21:59:58Z",
         7200},
        {"UTC's new year, still the old one on the watch",
         DateTime{2025, 12, 31, 20, 59, 58},
         {point(DateTime{2025, 12, 31, 20, 59, 58}, 10000000, 10000000),
          point(DateTime{2025, 12, 31, 21, 0, 2}, 10000000, 10001000)},
         -3 * 3600,
         {{"2025-12-31T23:59:58Z", 1, 1, 0}, {"2026-01-01T00:00:02Z", 1, 1.0001, 0}},
         "2025-12-31T23:59:58Z",
         -10800},
        {"south and west, and the edges of the globe",
         morning,
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
         "2026-06-01T08:00:00Z",
         0},
        {"points without a position or a time are left out",
         morning,
         {point(std::nullopt, 475000000, 85000000), point(morning, 475000000, kNoPosition),
          point(DateTime{2026, 6, 1, 8, 0, 60}, 475000000, 85000000, 3)},
         0,
         {{"2026-06-01T08:01:00Z", 47.5, 8.5, 3}},
         "2026-06-01T08:01:00Z",
         0},
    };
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
        if (records.empty()) {
            ASSERT_NO_FATAL_FAILURE(expect_activity_file(fit, {})) << "a whole file without records";
            EXPECT_EQ(lap[kTimestampField], lap[2]);
            EXPECT_FALSE(lap[3]) << "no start position";
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
