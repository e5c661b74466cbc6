// The set-up records: path blocks (0x2002) and the host waypoint, the
// settings record (0x2012) and the views record (0x2010), each read from the
// block the SDK posts and written as the bytes the set calls take.
#include <bit>

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

// The settings record: where each field stands (widths in bytes).
constexpr std::size_t kF94OrF12d = 0;
constexpr std::size_t kF12d = 1;
constexpr std::size_t kF2 = 2;
constexpr std::size_t kW10 = 6;
constexpr std::size_t kF5 = 8;
constexpr std::size_t kB6 = 12;
constexpr std::size_t kB7 = 13;
constexpr std::size_t kB8 = 14;
constexpr std::size_t kVersionCodeText = 15;
constexpr std::size_t kVersionCodeTextBytes = 16;
constexpr std::size_t kVersionText = 33;
constexpr std::size_t kVersionTextBytes = 14;
constexpr std::size_t kAgpsExpiry = 51;  // year - 2000, month, day
constexpr std::size_t kUsedSpace = 54;   // 32-bit float
constexpr std::size_t kIdentity = 58;
constexpr std::size_t kIdentityBytes = 24;
constexpr std::size_t kB93 = 84;
constexpr std::size_t kB3 = 85;
constexpr std::size_t kF12a = 86;
constexpr std::size_t kB17 = 87;
constexpr std::size_t kB18 = 88;  // B18 .. B25
// The views record: five view records, then five names of 20 bytes.
constexpr std::size_t kViewNames = kViewCount * kViewRecordSize;
constexpr std::size_t kViewNameBytes = 2 * kMaxViewName;

Error wrong_size(const char* what, std::size_t size, std::size_t expected) {
    return Error{std::string(what) + " of " + std::to_string(size) + " bytes, not " +
                 std::to_string(expected)};
}

// The text as UTF-16LE, zero-padded; cut to the field at a character's end.
void put_utf16(std::span<std::uint8_t> field, const std::string& text) {
    const std::u16string units = utf8_to_utf16(text);
    std::size_t count = std::min(units.size(), field.size() / 2);
    if (count > 0 && count < units.size() && units[count - 1] >= 0xD800 &&
        units[count - 1] < 0xDC00)
        --count;  // half a surrogate pair is no character
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    for (std::size_t i = 0; i < count; ++i) {
        field[2 * i] = static_cast<std::uint8_t>(units[i]);
        field[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
    }
}

}  // namespace

std::optional<CalendarDate> AgpsExpiry::date() const {
    constexpr std::uint8_t kUnknownByte = 0xFF;
    if (bytes[0] == kUnknownByte || bytes[1] == kUnknownByte || bytes[2] == kUnknownByte)
        return std::nullopt;
    const CalendarDate date{2000 + bytes[0], bytes[1], bytes[2]};
    if (!is_valid_date_time({date.year, date.month, date.day, 0, 0, 0})) return std::nullopt;
    return date;
}

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

Result<SettingsRecord> parse_settings_block(Bytes block) {
    if (block.size() != kSettingsRecordSize)
        return wrong_size("settings record", block.size(), kSettingsRecordSize);
    SettingsRecord r;
    r.f94_or_f12d = block[kF94OrF12d];
    r.f12d = block[kF12d];
    r.f2 = le32(block, kF2);
    r.w10 = detail::array_at<2>(block, kW10);
    r.f5 = le32(block, kF5);
    r.b6 = block[kB6];
    r.b7 = block[kB7];
    r.b8 = block[kB8];
    r.version_code_text = utf16le_to_utf8(block.subspan(kVersionCodeText, kVersionCodeTextBytes));
    r.version_text = utf16le_to_utf8(block.subspan(kVersionText, kVersionTextBytes));
    r.agps_expiry.bytes = detail::array_at<3>(block, kAgpsExpiry);
    r.used_space_percent = std::bit_cast<float>(le32(block, kUsedSpace));
    r.identity = utf16le_to_utf8(block.subspan(kIdentity, kIdentityBytes));
    r.b93 = block[kB93];
    r.b3 = block[kB3];
    r.f12a = block[kF12a];
    r.b17 = block[kB17];
    r.b18_b25 = detail::array_at<8>(block, kB18);
    return r;
}

SettingsBlock make_settings_block(const SettingsRecord& r) {
    SettingsBlock out{};
    out[kF94OrF12d] = r.f94_or_f12d;
    out[kF12d] = r.f12d;
    put_le32(out, kF2, r.f2);
    std::copy(r.w10.begin(), r.w10.end(), out.begin() + kW10);
    put_le32(out, kF5, r.f5);
    out[kB6] = r.b6;
    out[kB7] = r.b7;
    out[kB8] = r.b8;
    put_utf16(std::span(out).subspan(kVersionCodeText, kVersionCodeTextBytes), r.version_code_text);
    put_utf16(std::span(out).subspan(kVersionText, kVersionTextBytes), r.version_text);
    std::copy(r.agps_expiry.bytes.begin(), r.agps_expiry.bytes.end(), out.begin() + kAgpsExpiry);
    put_le32(out, kUsedSpace, std::bit_cast<std::uint32_t>(r.used_space_percent));
    put_utf16(std::span(out).subspan(kIdentity, kIdentityBytes), r.identity);
    out[kB93] = r.b93;
    out[kB3] = r.b3;
    out[kF12a] = r.f12a;
    out[kB17] = r.b17;
    std::copy(r.b18_b25.begin(), r.b18_b25.end(), out.begin() + kB18);
    return out;
}

Result<ViewsRecord> parse_views_block(Bytes block) {
    if (block.size() != kViewsRecordSize)
        return wrong_size("views record", block.size(), kViewsRecordSize);
    ViewsRecord views;
    for (std::size_t v = 0; v < kViewCount; ++v) {
        views.views[v].record = detail::array_at<kViewRecordSize>(block, kViewRecordSize * v);
        views.views[v].name =
            utf16le_to_utf8(block.subspan(kViewNames + kViewNameBytes * v, kViewNameBytes));
    }
    return views;
}

ViewsBlock make_views_block(const ViewsRecord& views) {
    ViewsBlock out{};
    for (std::size_t v = 0; v < kViewCount; ++v) {
        const View& view = views.views[v];
        std::copy(view.record.begin(), view.record.end(), out.begin() + kViewRecordSize * v);
        put_utf16(std::span(out).subspan(kViewNames + kViewNameBytes * v, kViewNameBytes),
                  view.name);
    }
    return out;
}

}  // namespace stridelog::hostkit
