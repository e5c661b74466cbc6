// The watch's set-up as a user leaves it: ten planned paths (with accented
// names, a full one of 99 waypoints and an empty one), the settings block
// with its checksum, the five data views and their names, and the identity
// block. Written byte by byte from the flash layout, never through the SDK's
// converters, so a misreading on either side shows up as a difference.
//
// Threads: pure functions; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/flash.hpp"

namespace stridelog::sim {

inline constexpr std::size_t kPathCount = 10;
inline constexpr std::size_t kMaxWaypoints = 99;
inline constexpr std::size_t kViewCount = 5;
// Directory places of the paths and view names; name fields are 32 bytes wide
// on firmware 1.15 and later (the simulator's version), 10 before.
inline constexpr std::uint32_t kPathCountsOffset = 1280;
inline constexpr std::uint32_t kPathNamesOffset = 1536;
inline constexpr std::size_t kWidePathNameWidth = 32;
inline constexpr std::uint32_t kViewNamesOffset = 2304;
inline constexpr std::size_t kViewNameWidth = 10;
// The waypoint area: sectors 249..254, 170 slots of 24 bytes per sector.
inline constexpr unsigned kFirstWaypointSector = 249;
inline constexpr unsigned kWaypointSectors = 6;
inline constexpr std::size_t kSlotsPerSector = 170;
inline constexpr std::size_t kWaypointSize = 24;
inline constexpr std::size_t kWaypointNameWidth = 10;
// The settings block at the start of sector 0 and its checksummed range.
inline constexpr std::size_t kSettingsSize = 224;
inline constexpr std::size_t kViewRecordsOffset = 27;
inline constexpr std::size_t kViewRecordSize = 9;
// The identity block (sector 255, byte 16) a settings read fetches 128 bytes of.
inline constexpr std::uint32_t kIdentityAddress = 0xFF010;
inline constexpr std::size_t kIdentitySize = 128;

// Names are kept in the watch's own character set: ASCII, and 0xA0..0xB5 for
// the accented letters.
struct SetupWaypoint {
    std::uint32_t word1 = 0;  // latitude, 1e-7 degree (two's complement)
    std::uint32_t word2 = 0;  // longitude, 1e-7 degree
    std::array<std::uint8_t, 6> attributes{};
    std::string name;  // at most 10 bytes
};

struct SetupPath {
    std::string name;  // at most 32 bytes
    std::vector<SetupWaypoint> waypoints;
};

struct SetupView {
    std::array<std::uint8_t, kViewRecordSize> record{};
    std::string name;  // at most 10 bytes
};

struct WatchSetup {
    std::vector<SetupPath> paths;  // exactly ten
    std::vector<SetupView> views;  // exactly five
    // Settings bytes as the block holds them; 96..111 (the long version text)
    // and the checksum bytes 0..1 are left to the writer.
    std::array<std::uint8_t, kSettingsSize> settings{};
    std::array<std::uint8_t, kIdentitySize> identity{};
};

// Always the same set-up, so images and tests can rely on it.
WatchSetup realistic_setup();

// Slot s of the waypoint area as a flash address.
std::uint32_t waypoint_slot_address(std::size_t slot);

// The checksum pair of a settings block: the sum of bytes 2..223 modulo 256,
// and 255 minus it.
std::array<std::uint8_t, 2> settings_checksum(const std::uint8_t* block);

// Writes the set-up: path counts and names into the directory sector, the
// waypoint sectors (unused slots and sector tails erased), the settings block
// around the long version text already at 96..111, with its checksum, the
// view records and names, and the identity block. Workout bytes (224..1279)
// are left alone. Throws std::invalid_argument for a set-up the watch could
// not hold.
void write_watch_setup(Flash& flash, const WatchSetup& setup);

}  // namespace stridelog::sim
