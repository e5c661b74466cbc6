#include "watchdata/path_formats.hpp"

#include <algorithm>
#include <cstdio>

#include "watchdata/watch_charset.hpp"

namespace stridelog::watchdata {
namespace {

constexpr std::uint8_t kFirstPathSectorNumber = 249;
constexpr std::size_t kSectorBytes = 4096;
constexpr std::size_t kHostNameAt = 14;
constexpr std::size_t kStoredNameAt = 14;
constexpr std::size_t kCopiedPrefix = 14;  // coordinate words and attributes
constexpr std::size_t kRecordNameChars = kPathRecordNameSize / 2;

// UTF-16LE text of at most max_chars characters, ending at the first zero one.
std::u16string read_utf16(std::span<const std::uint8_t> bytes, std::size_t max_chars) {
    std::u16string text;
    for (std::size_t i = 0; i < max_chars && 2 * i + 1 < bytes.size(); ++i) {
        const auto c = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

void put_utf16(std::vector<std::uint8_t>& out, std::u16string_view text) {
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

std::u16string default_path_name(std::size_t path) {
    char text[16];
    std::snprintf(text, sizeof text, "Path%zu", path + 1);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

}  // namespace

SlotPlace slot_place(std::size_t slot) {
    return {static_cast<std::uint8_t>(kFirstPathSectorNumber + slot / kSlotsPerSector),
            kStoredWaypointSize * (slot % kSlotsPerSector)};
}

std::size_t waypoint_area_offset(std::size_t path, std::size_t k) {
    const SlotPlace place = slot_place(kMaxWaypoints * path + k);
    return (place.sector - kFirstPathSectorNumber) * kSectorBytes + place.offset;
}

StoredWaypoint stored_waypoint(const HostWaypoint& waypoint) {
    StoredWaypoint stored{};
    std::copy_n(waypoint.begin(), kCopiedPrefix, stored.begin());
    const std::string name =
        to_watch(read_utf16(std::span(waypoint).subspan(kHostNameAt), kWaypointNameChars));
    std::copy_n(name.begin(), std::min(name.size(), kWaypointNameChars),
                stored.begin() + kStoredNameAt);
    return stored;
}

HostWaypoint host_waypoint(std::span<const std::uint8_t, kStoredWaypointSize> stored) {
    HostWaypoint waypoint{};
    std::copy_n(stored.begin(), kCopiedPrefix, waypoint.begin());
    const std::u16string name = from_watch(stored.subspan(kStoredNameAt, kWaypointNameChars));
    for (std::size_t i = 0; i < name.size() && i < kWaypointNameChars; ++i) {
        waypoint[kHostNameAt + 2 * i] = static_cast<std::uint8_t>(name[i] & 0xFF);
        waypoint[kHostNameAt + 2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
    }
    return waypoint;
}

std::size_t stored_waypoint_count(std::span<const std::uint8_t> directory, std::size_t path) {
    if (kPathCountsAt + path >= directory.size()) return 0;
    return std::min<std::size_t>(directory[kPathCountsAt + path], kMaxWaypoints);
}

std::u16string stored_path_name(std::span<const std::uint8_t> directory, std::size_t path,
                                std::size_t name_width) {
    const std::size_t at = kPathNamesAt + path * name_width;
    if (at >= directory.size()) return {};
    return from_watch(directory.subspan(at, std::min(name_width, directory.size() - at)));
}

std::vector<HostPath> read_stored_paths(std::span<const std::uint8_t> directory,
                                        std::span<const std::uint8_t> area,
                                        std::size_t name_width) {
    std::vector<HostPath> paths(kPathCount);
    for (std::size_t i = 0; i < kPathCount; ++i) {
        paths[i].name = stored_path_name(directory, i, name_width);
        const std::size_t count = stored_waypoint_count(directory, i);
        for (std::size_t k = 0; k < count; ++k) {
            StoredWaypoint stored;
            stored.fill(0xFF);
            const std::size_t at = waypoint_area_offset(i, k);
            if (at < area.size())
                std::copy_n(area.begin() + static_cast<std::ptrdiff_t>(at),
                            std::min(kStoredWaypointSize, area.size() - at), stored.begin());
            paths[i].waypoints.push_back(host_waypoint(stored));
        }
    }
    return paths;
}

std::vector<std::uint8_t> path_block(std::uint8_t index, const HostPath& path) {
    const std::size_t count = std::min(path.waypoints.size(), kMaxWaypoints);
    // The length byte counts bytes, so a name is cut to what it can count.
    const std::u16string_view name =
        std::u16string_view(path.name).substr(0, std::min<std::size_t>(path.name.size(), 127));
    std::vector<std::uint8_t> block;
    block.reserve(3 + 2 * name.size() + kHostWaypointSize * count);
    block.push_back(index);
    block.push_back(static_cast<std::uint8_t>(2 * name.size()));
    put_utf16(block, name);
    block.push_back(static_cast<std::uint8_t>(count));
    for (std::size_t k = 0; k < count; ++k)
        block.insert(block.end(), path.waypoints[k].begin(), path.waypoints[k].end());
    return block;
}

void store_path_directory(std::span<std::uint8_t> directory, std::span<const HostPath> paths,
                          std::size_t name_width) {
    for (std::size_t i = 0; i < kPathCount && i < paths.size(); ++i) {
        const HostPath& path = paths[i];
        const std::string name =
            to_watch(path.waypoints.empty() ? default_path_name(i) : path.name);
        const std::size_t at = kPathNamesAt + i * name_width;
        if (at + name_width <= directory.size()) {
            auto field = directory.subspan(at, name_width);
            std::fill(field.begin(), field.end(), 0);
            std::copy_n(name.begin(), std::min(name.size(), name_width), field.begin());
        }
        if (kPathCountsAt + i < directory.size())
            directory[kPathCountsAt + i] =
                static_cast<std::uint8_t>(std::min(path.waypoints.size(), kMaxWaypoints));
    }
}

std::vector<std::uint8_t> waypoint_area(std::span<const HostPath> paths) {
    std::vector<std::uint8_t> area(kWaypointAreaSize, 0xFF);
    for (std::size_t i = 0; i < kPathCount && i < paths.size(); ++i) {
        const std::size_t count = std::min(paths[i].waypoints.size(), kMaxWaypoints);
        for (std::size_t k = 0; k < count; ++k) {
            const StoredWaypoint stored = stored_waypoint(paths[i].waypoints[k]);
            std::copy(stored.begin(), stored.end(),
                      area.begin() + static_cast<std::ptrdiff_t>(waypoint_area_offset(i, k)));
        }
    }
    return area;
}

std::optional<std::vector<HostPath>> unpack_paths_block(std::span<const std::uint8_t> block) {
    if (block.size() != kPathsBlockSize) return std::nullopt;
    std::vector<HostPath> paths(kPathCount);
    for (std::size_t i = 0; i < kPathCount; ++i) {
        const auto record = block.subspan(i * kPathRecordSize, kPathRecordSize);
        paths[i].name = read_utf16(record.first(kPathRecordNameSize), kRecordNameChars);
        const std::size_t count = std::min<std::size_t>(record[kPathRecordNameSize], kMaxWaypoints);
        for (std::size_t k = 0; k < count; ++k) {
            HostWaypoint waypoint;
            const auto from =
                record.subspan(kPathRecordNameSize + 1 + k * kHostWaypointSize, kHostWaypointSize);
            std::copy(from.begin(), from.end(), waypoint.begin());
            paths[i].waypoints.push_back(waypoint);
        }
    }
    return paths;
}

}  // namespace stridelog::watchdata
