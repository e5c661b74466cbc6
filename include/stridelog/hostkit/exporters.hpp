// The files runners load into their training software, written from a
// decoded session: GPX 1.1, TCX v2 and JSON. Pure: the text is returned, the
// caller writes it. The watch records local time; LocalTime turns it into UTC.
//
// Threads: no shared state. LocalTime::host_zone() reads the process's time
// zone (TZ) as mktime does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "stridelog/hostkit/records.hpp"

namespace stridelog::hostkit {

// The zone the watch's local times are read in: the host's (daylight saving
// included) or a fixed offset east of UTC.
class LocalTime {
  public:
    static LocalTime host_zone() { return LocalTime(std::nullopt); }
    static LocalTime fixed_offset(int seconds_east) { return LocalTime(seconds_east); }
    // Seconds since 1970 UTC; nothing for a time that is no valid date-time.
    std::optional<std::int64_t> to_utc(const DateTime& local) const;

  private:
    explicit LocalTime(std::optional<int> offset) : offset_(offset) {}
    std::optional<int> offset_;
};

// "+HH:MM" or "-HH:MM" (also "Z"), at most 14 hours: seconds east of UTC.
std::optional<int> parse_utc_offset(const std::string& text);

// 2026-03-14T07:05:09Z
std::string format_utc(std::int64_t seconds);
// 2026-03-14T09:05:09, as the watch shows it.
std::string format_local(const DateTime& time);
// 2026-03-21
std::string format_date(const CalendarDate& date);
// Degrees x 10^7 written exactly: -12.3456789.
std::string format_degrees(std::int32_t e7);

enum class FileFormat { kGpx, kTcx, kJson, kFit };
// "gpx", "tcx", "json" or "fit".
std::optional<FileFormat> parse_file_format(const std::string& name);
const char* file_extension(FileFormat format);

// The file name without extension: the session's start, 2026-03-14T09-05-09
// ("no-start-time" when the header holds none).
std::string session_file_stem(const Session& session);

// Namespace of our own GPX extension elements.
constexpr const char* kGpxExtensionNamespace = "urn:stridelog:gpx-extension:1";

// GPX 1.1: one track of one segment with the positioned points, the header,
// laps and measured values in our extension elements.
std::string write_gpx(const Session& session, const LocalTime& zone);
// TCX v2: one activity of one lap holding the points with a time and a position.
std::string write_tcx(const Session& session, const LocalTime& zone);
// Everything the block holds, every point included, local and UTC times.
std::string write_json(const Session& session, const LocalTime& zone);
// The file's bytes; binary for kFit (write_fit in fit.hpp).
std::string write_session(FileFormat format, const Session& session, const LocalTime& zone);

// Great-circle distance in metres between two positions in degrees x 10^7.
double distance_meters(std::int32_t lat1, std::int32_t lon1, std::int32_t lat2, std::int32_t lon2);

}  // namespace stridelog::hostkit
