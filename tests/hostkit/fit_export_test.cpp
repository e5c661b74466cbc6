// The files of the sessions the SDK delivers from the simulator's realistic
// watch: one in every format against the copies under tests/data/, each read
// back by gpsbabel (GPX, TCX, FIT) and compared with the JSON export of the same session; the FIT
// files also by a decoder written here from the protocol's description, as are sessions built here
// for the edges of times and positions, whose decoded messages are compared with golden dumps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "stridelog/hostkit.hpp"
#include "tests/hostkit/realistic_watch.hpp"
#include "tests/support/golden.hpp"

namespace stridelog::hostkit {
namespace {

using Buffer = std::vector<std::uint8_t>;

// ---- A FIT decoder of our own ---------------------------------------------

constexpr std::uint16_t kRecordMessage = 20;

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
};

struct FitFileRead {
    std::uint8_t protocol = 0;
    std::vector<FitMessage> messages;
};

// Base type byte: size, signedness and the value that means "invalid".
struct BaseTypeInfo {
    std::uint8_t code, size;
    bool is_signed;
    std::uint64_t invalid;
};
// The types the writer uses: enum, uint16, sint32, uint32.
constexpr BaseTypeInfo kBaseTypes[] = {{0x00, 1, false, 0xFF},
                                       {0x84, 2, false, 0xFFFF},
                                       {0x85, 4, true, 0x7FFFFFFF},
                                       {0x86, 4, false, 0xFFFFFFFF}};
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
    ASSERT_EQ(header_size, 14u) << "the writer's header carries its CRC";
    out.protocol = file[1];
    ASSERT_EQ(std::string(file.begin() + 8, file.begin() + 12), ".FIT");
    ASSERT_EQ(file[12] | file[13] << 8, crc16(file.data(), 12)) << "header CRC";
    const std::size_t data_size =
        file[4] | file[5] << 8 | file[6] << 16 | static_cast<std::size_t>(file[7]) << 24;
    ASSERT_EQ(file.size(), header_size + data_size + 2) << "data size";
    ASSERT_EQ(crc16(file.data(), file.size()), 0) << "file CRC";

    struct Definition {
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
            ASSERT_EQ(file[at + 1], 0) << "architecture: the writer's is little-endian";
            Definition d;
            d.global = static_cast<std::uint16_t>(file[at + 2] | file[at + 3] << 8);
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
            for (std::size_t i = 0; i < size; ++i)
                raw |= static_cast<std::uint64_t>(file[at + i]) << (8 * i);
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

// One line per message: its name, then number=value of every field ("-":
// the field holds its invalid value). With `records` false a run of records
// is one line with its length.
std::string dump(const FitFileRead& fit, bool records) {
    static const std::map<std::uint16_t, const char*> kNames = {{0, "file_id"}, {18, "session"},
                                                                {19, "lap"},    {20, "record"},
                                                                {21, "event"},  {34, "activity"}};
    std::ostringstream out;
    out << "protocol " << +fit.protocol << "\n";
    for (std::size_t i = 0; i < fit.messages.size(); ++i) {
        const FitMessage& m = fit.messages[i];
        const auto name = kNames.find(m.global);
        out << (name == kNames.end() ? std::to_string(m.global) : name->second);
        if (m.global == kRecordMessage && !records) {
            std::size_t run = 1;
            while (i + 1 < fit.messages.size() && fit.messages[i + 1].global == kRecordMessage)
                ++run, ++i;
            out << " x " << run << "\n";
            continue;
        }
        for (const auto& [number, value] : m.fields)
            out << " " << +number << "=" << (value ? std::to_string(*value) : "-");
        out << "\n";
    }
    return out.str();
}

// ---- The realistic sessions, downloaded through the SDK -------------------

struct Fix {
    std::string time;
    double lat, lon, alt;
};

// Each positioned, timed point of the JSON export: what a map shows.
std::vector<Fix> positioned_points(const Session& session, const LocalTime& zone) {
    std::vector<Fix> out;
    const auto doc = nlohmann::json::parse(write_json(session, zone));
    for (const auto& p : doc["points"])
        if (p["has_position"].get<bool>() && !p["time_utc"].is_null())
            out.push_back({p["time_utc"], p["latitude_e7"].get<double>() / 1e7,
                           p["longitude_e7"].get<double>() / 1e7, p["altitude"].get<double>()});
    return out;
}

// The points gpsbabel reads from a file of `reader`'s format.
std::vector<Fix> read_by_gpsbabel(test::TestEnvironment& env, const char* reader,
                                  const std::string& bytes) {
    const auto style = env.write_file("points.style",
                                      "FIELD_DELIMITER COMMA\nRECORD_DELIMITER NEWLINE\n"
                                      "BADCHARS COMMA\nIFIELD ISO_TIME, \"\", \"%s\"\n"
                                      "IFIELD LAT_DECIMAL, \"\", \"%.9f\"\n"
                                      "IFIELD LON_DECIMAL, \"\", \"%.9f\"\n"
                                      "IFIELD ALT_METERS, \"\", \"%.3f\"\n");
    const auto file = env.write_file("session", bytes);
    const auto csv = env.root() / "session.csv";
    const std::string command = std::string("gpsbabel -t -i ") + reader + " -f '" + file.string() +
                                "' -x nuketypes,waypoints,routes -o xcsv,style='" + style.string() +
                                "' -F '" + csv.string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(csv);
    std::vector<Fix> out;
    for (std::string line; std::getline(in, line);) {
        char time[32] = {};
        Fix f;
        EXPECT_EQ(std::sscanf(line.c_str(), "%31[^,],%lf,%lf,%lf", time, &f.lat, &f.lon, &f.alt), 4)
            << line;
        f.time = time;
        out.push_back(f);
    }
    return out;
}

class FitExport : public test::RealisticWatch {};

// Daylight saving starts in the middle of the realistic sessions in Los Angeles.
TEST_F(FitExport, GpsbabelReadsEveryRealisticSessionAsTheJsonSays) {
    const auto sessions = download_sessions();
    ASSERT_EQ(sessions.size(), 6u);
    const test::ScopedTimeZone tz("America/Los_Angeles");
    const auto zone = LocalTime::host_zone();
    const std::pair<FileFormat, const char*> readers[] = {
        {FileFormat::gpx, "gpx"}, {FileFormat::tcx, "gtrnctr"}, {FileFormat::fit, "garmin_fit"}};
    std::size_t points = 0, without_track = 0;
    std::string fit_dumps;
    for (std::size_t k = 0; k < sessions.size(); ++k) {
        const auto want = positioned_points(sessions[k], zone);
        points += want.size();
        without_track += want.empty();
        for (const auto& [format, reader] : readers) {
            SCOPED_TRACE("session " + std::to_string(k) + " as " + reader);
            // Through the same call the tool makes, so the text path keeps binary bytes.
            const auto got =
                read_by_gpsbabel(env_, reader, write_session(format, sessions[k], zone));
            ASSERT_EQ(got.size(), want.size());
            for (std::size_t i = 0; i < want.size(); ++i) {
                EXPECT_EQ(got[i].time, want[i].time) << "point " << i;
                EXPECT_NEAR(got[i].lat, want[i].lat, 1e-6) << "point " << i;
                EXPECT_NEAR(got[i].lon, want[i].lon, 1e-6) << "point " << i;
                EXPECT_NEAR(got[i].alt, want[i].alt, 0.2) << "point " << i;
            }
        }
        FitFileRead fit;
        ASSERT_NO_FATAL_FAILURE(decode_fit(write_fit(sessions[k], zone), fit));
        fit_dumps += "# session " + std::to_string(k) + "\n" + dump(fit, false);
    }
    EXPECT_GT(points, 1000u);
    EXPECT_EQ(without_track, 1u) << "the indoor session";
    test::expect_data_file("golden/hostkit/fit-realistic.txt", fit_dumps);
}

// The slow recovery run (stops marked on the track, a clock 3 s behind, four
// laps) in every format at +01:00, the watch's winter time, byte for byte as the
// copies under tests/data/ that scripts/regenerate-golden.sh rewrites on purpose.
class GoldenFiles : public test::RealisticWatch {};

TEST_F(GoldenFiles, ARealisticSessionAsGpxTcxJsonAndFit) {
    const auto sessions = download_sessions();
    ASSERT_EQ(sessions.size(), 6u);
    ASSERT_FALSE(sessions[5].points.empty());
    for (const auto format : {FileFormat::gpx, FileFormat::tcx, FileFormat::json, FileFormat::fit})
        test::expect_data_file(std::string("realistic-session-5.") + file_extension(format),
                               write_session(format, sessions[5], LocalTime::fixed_offset(3600)));
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

// Every record, lap, session and activity field of each: golden/hostkit/fit-edges.txt.
TEST(FitExportEdges, TimesPositionsAndAltitudes) {
    const DateTime morning{2026, 6, 1, 8, 0, 0};
    const DateTime eve{2025, 12, 31, 23, 59, 58}, early_eve{2025, 12, 31, 20, 59, 58};
    struct Case {
        const char* legend;
        std::optional<DateTime> start;
        std::vector<TrackPoint> points;
        int offset_s;
    };
    // clang-format off
    const Case cases[] = {
        {"no positioned point: no record, the header's time, 2026-06-01T06:00:00Z", morning,
         {point(morning, 0, kNoPosition), point(DateTime{2026, 6, 1, 8, 0, 5}, 0, 0)}, 7200},
        {"no point and no valid time: 2000-01-01, no local time", std::nullopt, {}, 0},
        {"one point: 47.5, 8.5, 412 m at 08:00:03Z", morning,
         {point(DateTime{2026, 6, 1, 8, 0, 3}, 475000000, 85000000, 412)}, 0},
        {"the watch's new year, still the old one in UTC: 21:59:58Z and 22:00:02Z", eve,
         {point(eve, 10000000, 10000000), point(DateTime{2026, 1, 1, 0, 0, 2}, 10000000, 10001000)},
         2 * 3600},
        {"UTC's new year, still the old one on the watch: 23:59:58Z and 00:00:02Z", early_eve,
         {point(early_eve, 10000000, 10000000),
          point(DateTime{2025, 12, 31, 21, 0, 2}, 10000000, 10001000)}, -3 * 3600},
        // +180 is -180; off the globe and out of FIT's altitude range: the record without them.
        {"south and west, the poles, -500 m and 12606 m, then off the globe and 501 m deep",
         morning,
         {point(morning, -338688000, 1512093000, -12), point(morning, -346037000, -583816000, 0),
          point(morning, -900000000, 1800000000, -500),
          point(morning, 900000000, -1800000000, 12606), point(morning, 950000000, 20000000, -501)},
         0},
        {"points without a position or a time are left out: one record at 08:01:00Z", morning,
         {point(std::nullopt, 475000000, 85000000), point(morning, 475000000, kNoPosition),
          point(DateTime{2026, 6, 1, 8, 0, 60}, 475000000, 85000000, 3)}, 0},
    };
    // clang-format on
    std::string dumps;
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
        FitFileRead fit;
        ASSERT_NO_FATAL_FAILURE(decode_fit(write_fit(s, LocalTime::fixed_offset(c.offset_s)), fit));
        dumps += std::string("# ") + c.legend + "\n" + dump(fit, true);
    }
    test::expect_data_file("golden/hostkit/fit-edges.txt", dumps);
}

}  // namespace
}  // namespace stridelog::hostkit
