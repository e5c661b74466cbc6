// One host kit reader per target (HOSTKIT_READER names it) over arbitrary
// bytes taken as one notification block. Nothing may read outside the block;
// a refused block carries a message; a block read must add up to its size,
// and where the kit writes the record back, the bytes written read as the
// same record.
#include "fuzz_target.hpp"
#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/records.hpp"

#ifndef HOSTKIT_READER
#error "HOSTKIT_READER names the reader this target runs"
#endif

namespace {

namespace hk = stridelog::hostkit;
using stridelog::fuzz::check;

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// What a record read from `block` must hold, one overload per record; only
// this target's reader's is used.
struct Checks {
    static void check_record(std::span<const std::uint8_t> block, const hk::Session& s) {
        std::size_t size = 60 + hk::kLapRecordSize * s.laps.size();
        if (s.has_track) size += 4 + hk::kTrackPointSize * s.points.size();
        check(size == block.size() && s.laps.size() == s.header.lap_count());
        // The writers take whatever the watch may have stored.
        const auto zone = hk::LocalTime::fixed_offset(-3600);
        check(!hk::write_gpx(s, zone).empty() && !hk::write_tcx(s, zone).empty());
        check(!hk::write_json(s, zone).empty() && hk::session_identity(s).size() == 64);
    }
    static void check_record(std::span<const std::uint8_t> block, const hk::Summary& s) {
        check(block.size() == 4 + hk::kSessionHeaderSize * s.headers.size());
    }
    static void check_record(std::span<const std::uint8_t> block, const hk::WatchPath& p) {
        const std::size_t waypoints = 3 + std::size_t{block[1]};
        check(p.index < hk::kPathCount && p.waypoints.size() <= hk::kMaxWaypoints);
        check(block.size() == waypoints + hk::kHostWaypointSize * p.waypoints.size());
        // Words and attributes travel unchanged into the waypoint a set call takes.
        for (std::size_t k = 0; k < p.waypoints.size(); ++k) {
            const auto written = hk::make_host_waypoint(p.waypoints[k]);
            const auto stored = block.subspan(waypoints + hk::kHostWaypointSize * k, 14);
            check(std::equal(stored.begin(), stored.end(), written.begin()));
        }
    }
    static void check_record(std::span<const std::uint8_t>, const hk::SettingsRecord& r) {
        const auto written = hk::make_settings_block(r);
        const auto again = hk::parse_settings_block(written);
        check(again.ok() && hk::make_settings_block(*again) == written);
    }
    static void check_record(std::span<const std::uint8_t>, const hk::ViewsRecord& r) {
        const auto again = hk::parse_views_block(hk::make_views_block(r));
        check(again.ok() && *again == r);
    }
    template <class Version>
    requires requires(Version v) { v.text; }
    static void check_record(std::span<const std::uint8_t> block, const Version& v) {
        check(v.text == std::string(block.begin(), block.end()));
    }
    static void check_record(std::span<const std::uint8_t> block, const hk::PortList& list) {
        check(list.names.size() == le32(block, 0));
    }
    static void check_record(std::span<const std::uint8_t> block, const hk::FlashSector& s) {
        check(std::equal(block.begin(), block.end(), s.bytes.begin(), s.bytes.end()));
    }
    static void check_record(std::span<const std::uint8_t>, const hk::Progress& p) {
        check(p.percent >= 0.0f && p.percent <= 100.0f);
    }
    static void check_record(std::span<const std::uint8_t>, const hk::PhaseProgress& p) {
        check(p.phase <= hk::kPhaseFirmwareTransfer && p.percent >= 0.0f && p.percent <= 100.0f);
    }
    static void check_record(std::span<const std::uint8_t>, const hk::AgpsExpiry& e) {
        check(e.unknown() || e.date().has_value());
    }
};

}  // namespace

FUZZ_TARGET(block) {
    const auto read = hk::HOSTKIT_READER(block);
    check(read.error().empty() == bool(read));
    if (read) Checks::check_record(block, *read);
}
