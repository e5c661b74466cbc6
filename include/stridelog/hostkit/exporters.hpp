/**
 * @file stridelog/hostkit/exporters.hpp
 * @brief The files runners load into their training software, written from a
 * decoded session: GPX 1.1, TCX v2 and JSON (FIT in fit.hpp).
 *
 * Pure: the text is returned, the caller writes it. The watch records local
 * time; LocalTime turns it into UTC.
 *
 * @par Threads
 * No shared state. LocalTime::host_zone() reads the process's time zone (TZ)
 * as mktime does.
 */
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "stridelog/hostkit/records.hpp"

namespace stridelog::hostkit {

/// @brief The zone the watch's local times are read in: the host's (daylight
/// saving included) or a fixed offset east of UTC.
class LocalTime {
  public:
    /// @brief The host's zone.
    /// @return the host's zone, as mktime reads it (TZ); whether daylight saving
    ///         applied is decided by the zone's rules for each time
    static LocalTime host_zone() { return LocalTime(std::nullopt); }
    /// @brief A fixed offset from UTC.
    /// @param seconds_east the offset east of UTC in seconds (parse_utc_offset())
    /// @return a zone at that fixed offset
    static LocalTime fixed_offset(int seconds_east) { return LocalTime(seconds_east); }
    /**
     * @brief Turns a local time of the watch into UTC.
     * @param local the watch's date-time; a second of 60 carries into the next minute
     * @return seconds since 1970-01-01T00:00:00Z; nothing when @p local is not
     *         valid by is_valid_date_time()
     */
    std::optional<std::int64_t> to_utc(const DateTime& local) const;

  private:
    explicit LocalTime(std::optional<int> offset) : offset_(offset) {}
    std::optional<int> offset_;
};

/**
 * @brief Reads a UTC offset.
 * @param text "+HH:MM" or "-HH:MM" (minutes 00 .. 59, at most 14 hours), or "Z"
 * @return seconds east of UTC; nothing for any other text
 */
std::optional<int> parse_utc_offset(const std::string& text);

/// @brief Writes a UTC time.
/// @param seconds seconds since 1970 UTC
/// @return the time as "2026-03-14T07:05:09Z"
std::string format_utc(std::int64_t seconds);
/// @brief Writes a local time.
/// @param time a local date-time, written as it stands
/// @return "2026-03-14T09:05:09", as the watch shows it (no zone)
std::string format_local(const DateTime& time);
/// @brief Writes a date.
/// @param date a date, written as it stands
/// @return "2026-03-21"
std::string format_date(const CalendarDate& date);
/// @brief Writes degrees.
/// @param e7 an angle in degrees x 10^7
/// @return the degrees written exactly, seven decimals: "-12.3456789"
std::string format_degrees(std::int32_t e7);

/// @brief A file format a session can be written in.
enum class FileFormat {
    gpx,   ///< GPX 1.1, write_gpx()
    tcx,   ///< TCX v2, write_tcx()
    json,  ///< JSON, write_json()
    fit    ///< FIT activity, write_fit()
};

/// @brief Reads a format's name.
/// @param name "gpx", "tcx", "json" or "fit", lower case
/// @return the format; nothing for any other name
std::optional<FileFormat> parse_file_format(const std::string& name);
/// @brief The file extension of a format.
/// @param format a format
/// @return its file extension without dot ("gpx", "tcx", "json", "fit")
const char* file_extension(FileFormat format);

/**
 * @brief The file name of a session, without extension.
 * @param session the session
 * @return its header's start as the watch shows it, with hyphens for the
 *         colons: "2026-03-14T09-05-09"; "no-start-time" when the header holds
 *         no valid time
 */
std::string session_file_stem(const Session& session);

/// Namespace of our own GPX extension elements (prefix `sl`).
constexpr const char* kGpxExtensionNamespace = "urn:stridelog:gpx-extension:1";

/**
 * @brief Writes a session as GPX 1.1.
 *
 * One track of one segment holding the points that have a position (with their
 * altitude as `ele` in metres and, when valid, their UTC time); the header,
 * the stamps, the laps and each point's measured values go into extension
 * elements of kGpxExtensionNamespace so nothing the watch stored is lost.
 * @param session the session
 * @param zone the zone the watch's times are read in
 * @return the document, UTF-8
 */
std::string write_gpx(const Session& session, const LocalTime& zone);

/**
 * @brief Writes a session as TCX v2.
 *
 * One activity of one lap. Its track holds the points with a position and a
 * valid time, each with the distance so far (summed great-circle distances,
 * metres); the lap's time runs from the first such point to the last. The
 * activity's Id is the header's start in UTC (else the first point's time,
 * else 2000-01-01T00:00:00Z).
 * @param session the session
 * @param zone the zone the watch's times are read in
 * @return the document, UTF-8
 */
std::string write_tcx(const Session& session, const LocalTime& zone);

/**
 * @brief Writes everything the block holds as JSON.
 *
 * Every point included, each time both local and UTC (null when not a valid
 * time), positions in degrees x 10^7, the header and laps as hexadecimal text.
 * @param session the session
 * @param zone the zone the watch's times are read in
 * @return the document, ending in a newline
 */
std::string write_json(const Session& session, const LocalTime& zone);

/**
 * @brief Writes a session in a format.
 * @param format the format
 * @param session the session
 * @param zone the zone the watch's times are read in
 * @return the file's bytes: text, or binary for FileFormat::fit (write_fit())
 */
std::string write_session(FileFormat format, const Session& session, const LocalTime& zone);

/**
 * @brief The great-circle distance between two positions, on a sphere of the
 * Earth's mean radius.
 * @param lat1 latitude of the first position, degrees x 10^7
 * @param lon1 longitude of the first position, degrees x 10^7
 * @param lat2 latitude of the second position, degrees x 10^7
 * @param lon2 longitude of the second position, degrees x 10^7
 * @return the distance in metres
 */
double distance_meters(std::int32_t lat1, std::int32_t lon1, std::int32_t lat2, std::int32_t lon2);

}  // namespace stridelog::hostkit
