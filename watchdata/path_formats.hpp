// How the ten paths are laid out: the waypoint counts and names in the
// directory sector, the 24-byte waypoints in six sectors from 249, the path
// block the host receives, and the flat 34310-byte block SetPaths_Ex takes.
// Pure code over bytes: no window, link or clock.
//
// Waypoint slots: the six sectors are one array of 24-byte slots, 170 to a
// sector (the last 16 bytes of each stay erased). Path i owns slots 99 i ..
// 99 i + 98; slots beyond a path's count stay 0xFF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stridelog::watchdata {

inline constexpr std::size_t kPathCount = 10;
inline constexpr std::size_t kMaxWaypoints = 99;
inline constexpr std::size_t kWaypointNameChars = 10;
inline constexpr std::size_t kHostWaypointSize = 34;
inline constexpr std::size_t kStoredWaypointSize = 24;
inline constexpr std::size_t kSlotsPerSector = 170;
inline constexpr std::size_t kPathSectorCount = 6;
inline constexpr std::size_t kWaypointAreaSize = kPathSectorCount * 4096;
inline constexpr std::size_t kPathCountsAt = 1280;
inline constexpr std::size_t kPathNamesAt = 1536;
// The SetPaths_Ex block: ten records of a 64-byte name, a count and 99 waypoints.
inline constexpr std::size_t kPathRecordNameSize = 64;
inline constexpr std::size_t kPathRecordSize = kPathRecordNameSize + 1 + kMaxWaypoints * 34;
inline constexpr std::size_t kPathsBlockSize = kPathCount * kPathRecordSize;
static_assert(kPathsBlockSize == 34310);

// Coordinate words, six attribute bytes, then the name as UTF-16LE (20 bytes).
using HostWaypoint = std::array<std::uint8_t, kHostWaypointSize>;
// The same words and attributes, then the name in the watch set (10 bytes).
using StoredWaypoint = std::array<std::uint8_t, kStoredWaypointSize>;

struct HostPath {
    std::u16string name;
    std::vector<HostWaypoint> waypoints;  // at most kMaxWaypoints once stored
    bool operator==(const HostPath&) const = default;
};

// Where slot `slot` lies: its sector and the byte in it.
struct SlotPlace {
    std::uint8_t sector = 0;
    std::size_t offset = 0;
    bool operator==(const SlotPlace&) const = default;
};
SlotPlace slot_place(std::size_t slot);
// Byte offset of waypoint `k` of path `path` in the six-sector area.
std::size_t waypoint_area_offset(std::size_t path, std::size_t k);

StoredWaypoint stored_waypoint(const HostWaypoint& waypoint);
HostWaypoint host_waypoint(std::span<const std::uint8_t, kStoredWaypointSize> stored);

// The waypoint count of path i as stored (directory byte 1280 + i), at most 99.
std::size_t stored_waypoint_count(std::span<const std::uint8_t> directory, std::size_t path);
// The stored name of path i: name_width bytes from 1536 + i x name_width, up to the first zero.
std::u16string stored_path_name(std::span<const std::uint8_t> directory, std::size_t path,
                                std::size_t name_width);

// The ten paths as stored: names and counts from the directory sector, the
// waypoints from the six-sector area (a shorter area reads as erased).
std::vector<HostPath> read_stored_paths(std::span<const std::uint8_t> directory,
                                        std::span<const std::uint8_t> area, std::size_t name_width);

// The 0x2002 block of one path: index, name length in bytes, the UTF-16LE
// name, the count and the host waypoints. At most 99 waypoints are taken.
std::vector<std::uint8_t> path_block(std::uint8_t index, const HostPath& path);

// Writes names and counts of the ten paths into the directory image. A path
// without waypoints is named "Path<i + 1>"; names are cut at name_width bytes;
// counts are capped at 99, as many as are stored.
void store_path_directory(std::span<std::uint8_t> directory, std::span<const HostPath> paths,
                          std::size_t name_width);
// The six-sector area holding the waypoints of the ten paths (first 99 of each).
std::vector<std::uint8_t> waypoint_area(std::span<const HostPath> paths);

// Unpacks a SetPaths_Ex block; nothing unless it is exactly 34310 bytes. Counts
// above 99 take 99; names end at the first zero character or after 32.
std::optional<std::vector<HostPath>> unpack_paths_block(std::span<const std::uint8_t> block);

}  // namespace stridelog::watchdata
