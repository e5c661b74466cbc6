// The files runners load into their training software, written from a
// decoded session: GPX 1.1, TCX v2 and JSON. Pure: the text is returned, the
// caller writes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "session_blocks.hpp"

namespace stridelog_tool {

// The watch records local time; this turns it into UTC, with the host's time
// zone (daylight saving included) or a fixed offset east of UTC.
class LocalTime {
  public:
    static LocalTime HostZone() { return LocalTime(std::nullopt); }
    static LocalTime FixedOffset(int seconds_east) { return LocalTime(seconds_east); }
    // Seconds since 1970 UTC; nothing for a time that is no valid date-time.
    std::optional<std::int64_t> ToUtc(const DateTime& local) const;

  private:
    explicit LocalTime(std::optional<int> offset) : offset_(offset) {}
    std::optional<int> offset_;
};

// "+HH:MM" or "-HH:MM" (also "Z"), at most 14 hours: seconds east of UTC.
std::optional<int> ParseUtcOffset(const std::string& text);

// 2026-03-14T07:05:09Z
std::string FormatUtc(std::int64_t seconds);
// 2026-03-14T09:05:09, as the watch shows it.
std::string FormatLocal(const DateTime& time);
// Degrees x 10^7 written exactly: -12.3456789.
std::string FormatDegrees(std::int32_t e7);

enum class FileFormat { kGpx, kTcx, kJson };
std::optional<FileFormat> ParseFileFormat(const std::string& name);
const char* FileExtension(FileFormat format);

// The file name without extension: the session's start, 2026-03-14T09-05-09.
std::string SessionFileStem(const Session& session);

// Namespace of our own GPX extension elements.
constexpr const char* kGpxExtensionNamespace = "urn:stridelog:gpx-extension:1";

std::string WriteGpx(const Session& session, const LocalTime& zone);
std::string WriteTcx(const Session& session, const LocalTime& zone);
std::string WriteJson(const Session& session, const LocalTime& zone);
std::string WriteSession(FileFormat format, const Session& session, const LocalTime& zone);

// Great-circle distance in metres between two positions in degrees x 10^7.
double DistanceMeters(std::int32_t lat1, std::int32_t lon1, std::int32_t lat2, std::int32_t lon2);

}  // namespace stridelog_tool
