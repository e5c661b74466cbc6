#include "sim/watch_setup_content.hpp"

#include <algorithm>
#include <stdexcept>

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Accented letters in the watch's character set.
constexpr char kAGrave[] = "\xA0";
constexpr char kEAcute[] = "\xA5";
constexpr char kEDiaeresis[] = "\xA7";
constexpr char kOCircumflex[] = "\xAE";
constexpr char kUDiaeresis[] = "\xB3";
constexpr char kCCedilla[] = "\xB4";
constexpr char kNTilde[] = "\xB5";

std::string two_digits(std::size_t n) {
    return std::string{static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}

// A path of `count` waypoints heading out from a start, named by `name_of`.
SetupPath route(std::string name, std::size_t count, std::int32_t latitude, std::int32_t longitude,
                std::int32_t step_north, std::int32_t step_east,
                const std::vector<std::string>& names) {
    SetupPath path{std::move(name), {}};
    for (std::size_t k = 0; k < count; ++k) {
        SetupWaypoint w;
        // A gentle zig-zag, so consecutive points differ in both words.
        const auto wobble = static_cast<std::int32_t>((k % 3) * 170);
        w.word1 = static_cast<std::uint32_t>(latitude + step_north * static_cast<std::int32_t>(k) +
                                             wobble);
        w.word2 = static_cast<std::uint32_t>(longitude + step_east * static_cast<std::int32_t>(k) -
                                             wobble);
        // Symbol, flags and altitude as the planner stores them; carried as they are.
        const auto altitude = static_cast<std::uint16_t>(400 + 7 * k);
        w.attributes = {static_cast<std::uint8_t>(k % 12),
                        static_cast<std::uint8_t>(k == 0 ? 0x81 : 0x01),
                        static_cast<std::uint8_t>(altitude & 0xFF),
                        static_cast<std::uint8_t>(altitude >> 8),
                        static_cast<std::uint8_t>(0xA0 + k % 0x20),
                        0x00};
        w.name = k < names.size() ? names[k] : "WP" + two_digits(k + 1);
        path.waypoints.push_back(std::move(w));
    }
    return path;
}

void put_name(Bytes& sector, std::size_t at, const std::string& name, std::size_t width) {
    if (name.size() > width) throw std::invalid_argument("name too long: " + name);
    std::fill_n(sector.begin() + static_cast<std::ptrdiff_t>(at), width, 0);
    std::copy(name.begin(), name.end(), sector.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

WatchSetup realistic_setup() {
    WatchSetup s;
    const std::string cafe = std::string("Caf") + kEAcute;
    s.paths = {
        route("Lakeside Loop", 12, 473'769'000, 85'417'000, 900, 1'300,
              {"Start", "Boathouse", cafe, "Pier", "Meadow"}),
        route(cafe + " du Port", 5, 436'950'000, 72'710'000, -600, 800,
              {"Quai", std::string("Mont") + kEAcute + "e", std::string("C") + kOCircumflex + "te",
               std::string("Gar") + kCCedilla + "on", "Phare"}),
        route("Long Ridge 99", kMaxWaypoints, 465'200'000, 96'100'000, 1'100, -400, {}),
        {"Path4", {}},  // as the watch names a path that has no waypoints
        route(std::string("Z") + kUDiaeresis + "rich See", 7, 473'660'000, 85'400'000, -300, 250,
              {std::string("B") + kUDiaeresis + "rkli", "Enge"}),
        route(std::string("Ni") + kNTilde + "a Trail", 3, 403'900'000,
              static_cast<std::int32_t>(-37'000'000), 2'000, 2'000,
              {"Fuente", std::string("Pe") + kNTilde + "a", "Cima"}),
        route("Forest 10k", 20, 478'000'000, 87'000'000, 450, 450, {}),
        route("Track", 1, 473'800'000, 85'500'000, 0, 0, {"Lane 1"}),
        route(std::string("Sommet No") + kEDiaeresis + "l", 30, 459'000'000, 65'000'000, 700, 0,
              {std::string("D") + kEAcute + "part", std::string("Col ") + kAGrave + " 2k"}),
        route("Hill Sprints", 4, 473'700'000, 85'450'000, 250, 0, {"Bottom", "", "Top"}),
    };
    const char* view_names[] = {"Run", "Heart", "Laps", "Altitude", "Dur\xA5", "e"};
    for (std::size_t v = 0; v < kViewCount; ++v) {
        SetupView view;
        // Layout number, then the four fields shown, each a kind and a unit.
        view.record = {static_cast<std::uint8_t>(v + 1),
                       static_cast<std::uint8_t>(2 + v),
                       0x01,
                       static_cast<std::uint8_t>(3 + v),
                       0x00,
                       static_cast<std::uint8_t>(7 * v),
                       0x02,
                       static_cast<std::uint8_t>(0x10 + v),
                       static_cast<std::uint8_t>(v == 4 ? 0x00 : 0x01)};
        view.name = view_names[v];
        s.views.push_back(view);
    }
    auto& b = s.settings;
    b[2] = 0x01;   // F2 on
    b[3] = 0x03;   // B3
    b[5] = 0x10;   // F5 on
    b[6] = 0x02;   // B6
    b[7] = 0x2D;   // B7
    b[8] = 0x07;   // B8
    b[10] = 0x3C;  // W10, low byte first
    b[11] = 0x01;
    b[12] = 0x09;  // F12a and F12d on
    b[17] = 0x05;  // B17
    for (std::size_t i = 18; i <= 25; ++i) b[i] = static_cast<std::uint8_t>(0x11 * (i - 17));
    b[93] = 0x04;  // B93
    b[94] = 0x02;  // F94 = 2
    b[112] = 20;   // A-GPS data good until 2026-04-20
    b[113] = 4;
    b[114] = 26;
    s.identity.fill(Flash::kErased);
    const std::uint8_t identity_head[] = {26, 3, 15, 7, 'S', 'L', '4', '2', 0x00, 0x01};
    std::copy(std::begin(identity_head), std::end(identity_head), s.identity.begin());
    return s;
}

std::uint32_t waypoint_slot_address(std::size_t slot) {
    return static_cast<std::uint32_t>((kFirstWaypointSector + slot / kSlotsPerSector) *
                                          Flash::kSectorSize +
                                      kWaypointSize * (slot % kSlotsPerSector));
}

std::array<std::uint8_t, 2> settings_checksum(const std::uint8_t* block) {
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < kSettingsSize; ++i) sum = static_cast<std::uint8_t>(sum + block[i]);
    return {sum, static_cast<std::uint8_t>(255 - sum)};
}

void write_watch_setup(Flash& flash, const WatchSetup& setup) {
    if (setup.paths.size() != kPathCount || setup.views.size() != kViewCount)
        throw std::invalid_argument("a watch holds ten paths and five views");
    Bytes sector0 = flash.read(0, Flash::kSectorSize);

    // Settings block, keeping the long version text and the workout bytes.
    for (std::size_t i = 2; i < kSettingsSize; ++i)
        if (i < 96 || i > 111) sector0[i] = setup.settings[i];
    for (std::size_t v = 0; v < kViewCount; ++v) {
        std::copy(setup.views[v].record.begin(), setup.views[v].record.end(),
                  sector0.begin() +
                      static_cast<std::ptrdiff_t>(kViewRecordsOffset + kViewRecordSize * v));
        put_name(sector0, kViewNamesOffset + kViewNameWidth * v, setup.views[v].name,
                 kViewNameWidth);
    }
    const auto sum = settings_checksum(sector0.data());
    sector0[0] = sum[0];
    sector0[1] = sum[1];

    Bytes area(kWaypointSectors * Flash::kSectorSize, Flash::kErased);
    for (std::size_t i = 0; i < kPathCount; ++i) {
        const SetupPath& path = setup.paths[i];
        if (path.waypoints.size() > kMaxWaypoints)
            throw std::invalid_argument("a path holds at most 99 waypoints");
        sector0[kPathCountsOffset + i] = static_cast<std::uint8_t>(path.waypoints.size());
        put_name(sector0, kPathNamesOffset + kWidePathNameWidth * i, path.name, kWidePathNameWidth);
        for (std::size_t k = 0; k < path.waypoints.size(); ++k) {
            const SetupWaypoint& w = path.waypoints[k];
            Bytes slot(kWaypointSize, 0);
            for (int b = 0; b < 4; ++b) {
                slot[b] = static_cast<std::uint8_t>(w.word1 >> (8 * b));
                slot[4 + b] = static_cast<std::uint8_t>(w.word2 >> (8 * b));
            }
            std::copy(w.attributes.begin(), w.attributes.end(), slot.begin() + 8);
            put_name(slot, 14, w.name, kWaypointNameWidth);
            const std::size_t at = waypoint_slot_address(kMaxWaypoints * i + k) -
                                   kFirstWaypointSector * Flash::kSectorSize;
            std::copy(slot.begin(), slot.end(), area.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
    flash.store(0, sector0);
    flash.store(kFirstWaypointSector * Flash::kSectorSize, area);
    flash.store(kIdentityAddress, setup.identity);
}

}  // namespace stridelog::sim
