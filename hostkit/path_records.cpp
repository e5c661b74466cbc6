// Path blocks (0x2002) and the host waypoint the set calls take.
#include "byte_order.hpp"
#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog::hostkit {
namespace {

using detail::le32;
using detail::put_le32;

// A path block: index, name length in bytes, the name, the waypoint count,
// then the 34-byte waypoints.
constexpr std::size_t kIndexOffset = 0;
constexpr std::size_t kNameLengthOffset = 1;
constexpr std::size_t kNameOffset = 2;
constexpr std::size_t kFixedBytes = 3;  // index, name length, count
// Inside a host waypoint.
constexpr std::size_t kWord1Offset = 0;
constexpr std::size_t kWord2Offset = 4;
constexpr std::size_t kAttributesOffset = 8;
constexpr std::size_t kWaypointNameOffset = 14;
constexpr std::size_t kWaypointNameBytes = 2 * kMaxWaypointName;

}  // namespace

Result<WatchPath> parse_path_block(Bytes block) {
    if (block.size() < kFixedBytes)
        return Error{"path block of " + std::to_string(block.size()) + " bytes is too short"};
    const std::size_t name_bytes = block[kNameLengthOffset];
    if (name_bytes % 2 != 0 || name_bytes > 2 * kMaxPathName ||
        block.size() < kFixedBytes + name_bytes)
        return Error{"path block name length " + std::to_string(name_bytes) + " does not fit"};
    const std::size_t count = block[kNameOffset + name_bytes];
    if (block[kIndexOffset] >= kPathCount || count > kMaxWaypoints ||
        block.size() != kFixedBytes + name_bytes + kHostWaypointSize * count)
        return Error{"path block of " + std::to_string(block.size()) + " bytes for path " +
                     std::to_string(block[kIndexOffset]) + " with " + std::to_string(count) +
                     " waypoints"};
    WatchPath path;
    path.index = block[kIndexOffset];
    path.name = utf16le_to_utf8(block.subspan(kNameOffset, name_bytes));
    for (std::size_t k = 0; k < count; ++k) {
        const Bytes w =
            block.subspan(kFixedBytes + name_bytes + kHostWaypointSize * k, kHostWaypointSize);
        PathWaypoint waypoint;
        waypoint.word1 = le32(w, kWord1Offset);
        waypoint.word2 = le32(w, kWord2Offset);
        waypoint.attributes = detail::array_at<6>(w, kAttributesOffset);
        waypoint.name = utf16le_to_utf8(w.subspan(kWaypointNameOffset, kWaypointNameBytes));
        path.waypoints.push_back(std::move(waypoint));
    }
    return path;
}

HostWaypointBlock make_host_waypoint(const PathWaypoint& waypoint) {
    HostWaypointBlock out{};
    put_le32(out, kWord1Offset, waypoint.word1);
    put_le32(out, kWord2Offset, waypoint.word2);
    std::copy(waypoint.attributes.begin(), waypoint.attributes.end(),
              out.begin() + kAttributesOffset);
    const std::u16string units = utf8_to_utf16(waypoint.name);
    for (std::size_t i = 0; i < units.size() && i < kMaxWaypointName; ++i) {
        out[kWaypointNameOffset + 2 * i] = static_cast<std::uint8_t>(units[i]);
        out[kWaypointNameOffset + 2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
    }
    return out;
}

}  // namespace stridelog::hostkit
