#include "stridelog/hostkit/exporters.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

#include "byte_order.hpp"
#include "stridelog/hostkit/fit.hpp"
#include "timed_track.hpp"

namespace stridelog::hostkit {
namespace {

constexpr int kMaxOffsetSeconds = 14 * 3600;      // the widest zone in use, UTC+14
constexpr double kEarthRadiusMeters = 6371008.8;  // mean radius
constexpr double kE7 = 1e7;
// 2000-01-01T00:00:00Z, the watch's first year: a TCX activity needs some time.
constexpr std::int64_t kNoTimeFallback = 946684800;

using detail::hex;

std::optional<std::string> utc_text(const std::optional<DateTime>& local, const LocalTime& zone) {
    if (!local) return std::nullopt;
    const auto utc = zone.to_utc(*local);
    if (!utc) return std::nullopt;
    return format_utc(*utc);
}

std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + value + "\"";
}

}  // namespace

std::optional<std::int64_t> LocalTime::to_utc(const DateTime& local) const {
    if (!is_valid_date_time(local)) return std::nullopt;
    std::tm tm{};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;  // 60 carries into the next minute, as on the watch
    if (offset_) return static_cast<std::int64_t>(::timegm(&tm)) - *offset_;
    tm.tm_isdst = -1;  // the zone's rules decide whether daylight saving applied
    return static_cast<std::int64_t>(std::mktime(&tm));
}

std::optional<int> parse_utc_offset(const std::string& text) {
    if (text == "Z") return 0;
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':') return {};
    for (const std::size_t i : {1u, 2u, 4u, 5u})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    const int hours = (text[1] - '0') * 10 + (text[2] - '0');
    const int minutes = (text[4] - '0') * 10 + (text[5] - '0');
    if (minutes > 59) return std::nullopt;
    const int seconds = hours * 3600 + minutes * 60;
    if (seconds > kMaxOffsetSeconds) return std::nullopt;
    return text[0] == '-' ? -seconds : seconds;
}

std::string format_utc(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string format_local(const DateTime& t) {
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

std::string format_date(const CalendarDate& date) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

std::string format_degrees(std::int32_t e7) {
    const std::int64_t value = e7;
    const std::uint64_t magnitude = static_cast<std::uint64_t>(value < 0 ? -value : value);
    char text[32];
    std::snprintf(text, sizeof text, "%s%llu.%07llu", value < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000000),
                  static_cast<unsigned long long>(magnitude % 10000000));
    return text;
}

std::optional<FileFormat> parse_file_format(const std::string& name) {
    if (name == "gpx") return FileFormat::gpx;
    if (name == "tcx") return FileFormat::tcx;
    if (name == "json") return FileFormat::json;
    if (name == "fit") return FileFormat::fit;
    return std::nullopt;
}

const char* file_extension(FileFormat format) {
    switch (format) {
        case FileFormat::gpx:
            return "gpx";
        case FileFormat::tcx:
            return "tcx";
        case FileFormat::json:
            return "json";
        case FileFormat::fit:
            return "fit";
    }
    return "";
}

std::string session_file_stem(const Session& session) {
    const auto start = session.header.start();
    if (!start) return "no-start-time";
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d-%02d-%02d", start->year, start->month,
                  start->day, start->hour, start->minute, start->second);
    return text;
}

double distance_meters(std::int32_t lat1, std::int32_t lon1, std::int32_t lat2, std::int32_t lon2) {
    constexpr double kRadiansPerE7 = M_PI / 180.0 / kE7;
    const double phi1 = lat1 * kRadiansPerE7;
    const double phi2 = lat2 * kRadiansPerE7;
    const double dphi = (static_cast<double>(lat2) - lat1) * kRadiansPerE7;
    const double dlambda = (static_cast<double>(lon2) - lon1) * kRadiansPerE7;
    const double h = std::sin(dphi / 2) * std::sin(dphi / 2) + std::cos(phi1) * std::cos(phi2) *
                                                                   std::sin(dlambda / 2) *
                                                                   std::sin(dlambda / 2);
    return 2 * kEarthRadiusMeters * std::asin(std::sqrt(std::min(1.0, h)));
}

std::string write_gpx(const Session& session, const LocalTime& zone) {
    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<gpx version=\"1.1\" creator=\"stridelog\" xmlns=\"http://www.topografix.com/GPX/1/1\"";
    out += " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
    out += std::string(" xmlns:sl=\"") + kGpxExtensionNamespace + "\"";
    out +=
        " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
        "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n";
    const auto start_utc = utc_text(session.header.start(), zone);
    if (start_utc) out += "  <metadata>\n    <time>" + *start_utc + "</time>\n  </metadata>\n";
    out += "  <trk>\n";
    if (const auto start = session.header.start())
        out += "    <name>" + format_local(*start) + "</name>\n";
    // What the watch stores about the session beyond the track, kept so nothing is lost.
    out += "    <extensions>\n      <sl:session";
    out += attribute("recorded-points", std::to_string(session.header.recorded_points()));
    out += attribute("header", hex(session.header.bytes));
    if (session.stamp_a) out += attribute("stamp-a", format_local(*session.stamp_a));
    if (session.stamp_b) out += attribute("stamp-b", format_local(*session.stamp_b));
    out += ">\n";
    for (const auto& lap : session.laps) out += "        <sl:lap>" + hex(lap) + "</sl:lap>\n";
    out += "      </sl:session>\n    </extensions>\n";
    out += "    <trkseg>\n";
    for (const auto& p : session.points) {
        if (!p.has_position()) continue;
        out += "      <trkpt lat=\"" + format_degrees(p.latitude) + "\" lon=\"" +
               format_degrees(p.longitude) + "\">\n";
        out += "        <ele>" + std::to_string(p.altitude) + "</ele>\n";
        if (const auto utc = utc_text(p.time, zone)) out += "        <time>" + *utc + "</time>\n";
        out += "        <extensions><sl:values";
        out += attribute("m1", std::to_string(p.m1));
        out += attribute("m2", std::to_string(p.m2));
        out += attribute("m3", std::to_string(p.m3));
        out += attribute("m4", std::to_string(p.m4));
        out += "/></extensions>\n      </trkpt>\n";
    }
    out += "    </trkseg>\n  </trk>\n</gpx>\n";
    return out;
}

std::vector<TimedPoint> timed_track(const Session& session, const LocalTime& zone) {
    std::vector<TimedPoint> track;
    double distance = 0;
    for (const auto& p : session.points) {
        if (!p.has_position() || !p.time) continue;
        const auto utc = zone.to_utc(*p.time);
        if (!utc) continue;
        if (!track.empty()) {
            const TrackPoint& last = *track.back().point;
            distance += distance_meters(last.latitude, last.longitude, p.latitude, p.longitude);
        }
        track.push_back({*utc, &p, distance});
    }
    return track;
}

std::string write_tcx(const Session& session, const LocalTime& zone) {
    // A track point needs a time and a position in TCX.
    const std::vector<TimedPoint> track = timed_track(session, zone);
    const double distance = track.empty() ? 0.0 : track.back().distance;
    const auto header_start = session.header.start();
    const std::int64_t fallback = !track.empty() ? track.front().utc : kNoTimeFallback;
    const std::int64_t session_start =
        header_start ? zone.to_utc(*header_start).value_or(fallback) : fallback;
    // The lap starts where the track does; a session without track starts at its header's time.
    const std::int64_t lap_start = !track.empty() ? track.front().utc : session_start;
    const std::int64_t total = !track.empty() ? track.back().utc - track.front().utc : 0;
    char number[64];

    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out +=
        "<TrainingCenterDatabase "
        "xmlns=\"http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2\"";
    out += " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
    out +=
        " xsi:schemaLocation=\"http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2 "
        "http://www.garmin.com/xmlschemas/TrainingCenterDatabasev2.xsd\">\n";
    out += "  <Activities>\n    <Activity Sport=\"Other\">\n";
    out += "      <Id>" + format_utc(session_start) + "</Id>\n";
    out += "      <Lap StartTime=\"" + format_utc(lap_start) + "\">\n";
    out += "        <TotalTimeSeconds>" + std::to_string(total) + "</TotalTimeSeconds>\n";
    std::snprintf(number, sizeof number, "%.1f", distance);
    out += std::string("        <DistanceMeters>") + number + "</DistanceMeters>\n";
    out += "        <Calories>0</Calories>\n";
    out += "        <Intensity>Active</Intensity>\n";
    out += "        <TriggerMethod>Manual</TriggerMethod>\n";
    if (!track.empty()) {  // a Track holds at least one point
        out += "        <Track>\n";
        for (const auto& w : track) {
            out += "          <Trackpoint>\n";
            out += "            <Time>" + format_utc(w.utc) + "</Time>\n";
            out += "            <Position>\n";
            out += "              <LatitudeDegrees>" + format_degrees(w.point->latitude) +
                   "</LatitudeDegrees>\n";
            out += "              <LongitudeDegrees>" + format_degrees(w.point->longitude) +
                   "</LongitudeDegrees>\n";
            out += "            </Position>\n";
            out += "            <AltitudeMeters>" + std::to_string(w.point->altitude) +
                   "</AltitudeMeters>\n";
            std::snprintf(number, sizeof number, "%.1f", w.distance);
            out += std::string("            <DistanceMeters>") + number + "</DistanceMeters>\n";
            out += "          </Trackpoint>\n";
        }
        out += "        </Track>\n";
    }
    out += "      </Lap>\n    </Activity>\n  </Activities>\n</TrainingCenterDatabase>\n";
    return out;
}

std::string write_json(const Session& session, const LocalTime& zone) {
    using nlohmann::json;
    const auto local_or_null = [](const std::optional<DateTime>& t) {
        return t ? json(format_local(*t)) : json(nullptr);
    };
    const auto utc_or_null = [&zone](const std::optional<DateTime>& t) {
        const auto text = utc_text(t, zone);
        return text ? json(*text) : json(nullptr);
    };
    json doc;
    doc["identity"] = session_identity(session);
    doc["start"] = local_or_null(session.header.start());
    doc["start_utc"] = utc_or_null(session.header.start());
    doc["stamp_a"] = local_or_null(session.stamp_a);
    doc["stamp_b"] = local_or_null(session.stamp_b);
    doc["recorded_points"] = session.header.recorded_points();
    doc["header"] = hex(session.header.bytes);
    doc["laps"] = json::array();
    for (const auto& lap : session.laps) doc["laps"].push_back(hex(lap));
    doc["has_track"] = session.has_track;
    doc["points"] = json::array();
    for (const auto& p : session.points) {
        json point;
        point["record_type"] = p.record_type();
        point["record_header"] = p.record_header;
        point["byte1"] = p.record_byte1;
        point["time"] = local_or_null(p.time);
        point["time_utc"] = utc_or_null(p.time);
        point["longitude_e7"] = p.longitude;
        point["latitude_e7"] = p.latitude;
        point["has_position"] = p.has_position();
        point["altitude"] = p.altitude;
        point["m1"] = p.m1;
        point["m2"] = p.m2;
        point["m3"] = p.m3;
        point["m4"] = p.m4;
        doc["points"].push_back(std::move(point));
    }
    return doc.dump(1) + "\n";
}

std::string write_session(FileFormat format, const Session& session, const LocalTime& zone) {
    switch (format) {
        case FileFormat::gpx:
            return write_gpx(session, zone);
        case FileFormat::tcx:
            return write_tcx(session, zone);
        case FileFormat::json:
            return write_json(session, zone);
        case FileFormat::fit: {
            const std::vector<std::uint8_t> bytes = write_fit(session, zone);
            return std::string(bytes.begin(), bytes.end());
        }
    }
    return {};
}

}  // namespace stridelog::hostkit
