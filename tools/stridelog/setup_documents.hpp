// The set-up blocks the SDK posts and takes (path blocks 0x2002, the 96-byte
// settings record, the 145-byte views record) as JSON documents and back.
// Pure functions: every length is checked against the block before it is
// read, and a document is checked field by field before anything is built
// from it, the error naming the field.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

namespace stridelog_tool {

constexpr std::size_t kPathCount = 10;
constexpr std::size_t kMaxWaypoints = 99;
constexpr std::size_t kMaxPathName = 32;      // the wider of the watch's two name widths
constexpr std::size_t kMaxWaypointName = 10;  // characters
constexpr std::size_t kHostWaypointSize = 34;
constexpr std::size_t kSettingsRecordSize = 96;
constexpr std::size_t kViewsRecordSize = 145;
constexpr std::size_t kViewCount = 5;
constexpr std::size_t kViewRecordSize = 9;
constexpr std::size_t kMaxViewName = 10;

struct PathWaypoint {
    std::uint32_t word1 = 0;
    std::uint32_t word2 = 0;
    std::array<std::uint8_t, 6> attributes{};
    std::string name;  // UTF-8
    friend bool operator==(const PathWaypoint&, const PathWaypoint&) = default;
};

struct WatchPath {
    unsigned index = 0;
    std::string name;  // UTF-8
    std::vector<PathWaypoint> waypoints;
    friend bool operator==(const WatchPath&, const WatchPath&) = default;
};

// UTF-16LE units to UTF-8, stopping at the first zero unit; a lone surrogate
// becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const char16_t> units);
std::string Utf16LeBytesToUtf8(std::span<const std::uint8_t> bytes);
// UTF-8 (already valid: the JSON parser checks it) to UTF-16 units.
std::u16string Utf8ToUtf16(const std::string& text);

// Whether the watch can store every character of the text (ASCII and its 22
// accented letters); `bad` gets the first one it cannot.
bool InWatchCharacterSet(const std::string& text, std::string& bad);

// One 0x2002 block; false with `error` for a short or inconsistent block.
bool ParsePathBlock(std::span<const std::uint8_t> block, WatchPath& path, std::string& error);
// The 34-byte host waypoint (name zero-padded, no terminator at 10 characters).
std::array<std::uint8_t, kHostWaypointSize> HostWaypoint(const PathWaypoint& waypoint);

nlohmann::json PathsToJson(const std::vector<WatchPath>& paths);
// Ten paths, indices 0..9 once each, returned in index order.
bool PathsFromJson(const nlohmann::json& document, std::vector<WatchPath>& paths,
                   std::string& error);
// What the watch holds after the paths are written: a path without waypoints
// is named Path1 .. Path10 by its position.
std::vector<WatchPath> PathsAsStored(std::vector<WatchPath> paths);
// One line per difference between what was written and what was read back.
std::vector<std::string> PathDifferences(const std::vector<WatchPath>& written,
                                         const std::vector<WatchPath>& read);

using SettingsRecord = std::array<std::uint8_t, kSettingsRecordSize>;
using ViewsRecord = std::array<std::uint8_t, kViewsRecordSize>;

bool SettingsToJson(std::span<const std::uint8_t> block, nlohmann::json& document,
                    std::string& error);
bool SettingsFromJson(const nlohmann::json& document, SettingsRecord& record, std::string& error);
// Fields the watch takes from a record, by name, where the two records differ.
std::vector<std::string> SettingsDifferences(const SettingsRecord& written,
                                             const SettingsRecord& read);

bool ViewsToJson(std::span<const std::uint8_t> block, nlohmann::json& document, std::string& error);
bool ViewsFromJson(const nlohmann::json& document, ViewsRecord& record, std::string& error);
std::vector<std::string> ViewsDifferences(const ViewsRecord& written, const ViewsRecord& read);

}  // namespace stridelog_tool
