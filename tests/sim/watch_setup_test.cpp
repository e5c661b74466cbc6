// The set-up in the realistic image as a host reads it from the flash: path
// counts and names in the directory sector, waypoints in their slots, the
// settings checksum, view names and the identity block, with the workouts
// left as they were.
#include <gtest/gtest.h>

#include <set>

#include "sim/realistic_content.hpp"
#include "sim/watch_setup_content.hpp"
#include "sim/workout_encoder.hpp"

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Up to the first zero byte, as a host reads a name field.
std::string field_text(const Bytes& b, std::size_t at, std::size_t width) {
    std::string text;
    for (std::size_t i = 0; i < width && b[at + i] != 0; ++i) text += static_cast<char>(b[at + i]);
    return text;
}

bool in_watch_charset(const std::string& text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || (u >= 0x80 && (u < 0xA0 || u > 0xB5))) return false;
    }
    return true;
}

// Each name field holds the text, then zeros to its end.
bool zero_padded(const Bytes& b, std::size_t at, std::size_t width) {
    const std::size_t length = field_text(b, at, width).size();
    for (std::size_t i = length; i < width; ++i)
        if (b[at + i] != 0) return false;
    return true;
}

// What the SDK reads back of the paths, views, settings and identity is
// pinned in tests/hostkit/simulated_watch_test.cpp; here what it does not see:
// padding, erased slots, the checksum and the variety of the content.
TEST(WatchSetup, PathsReadBackFromDirectoryAndSlots) {
    Flash flash;
    generate_realistic_flash(flash, true);
    const Bytes sector0 = flash.read(0, 4096);
    const Bytes area = flash.read(249 * 4096, 6 * 4096);
    const WatchSetup setup = realistic_setup();

    std::size_t with_waypoints = 0, empty = 0, full = 0, accented = 0;
    for (std::size_t i = 0; i < 10; ++i) {
        const SetupPath& path = setup.paths[i];
        const std::size_t count = sector0[1280 + i];
        ASSERT_EQ(count, path.waypoints.size()) << "path " << i;
        const std::string name = field_text(sector0, 1536 + 32 * i, 32);
        EXPECT_EQ(name, path.name) << "path " << i;
        EXPECT_TRUE(zero_padded(sector0, 1536 + 32 * i, 32)) << "path " << i;
        EXPECT_TRUE(in_watch_charset(name)) << name;
        if (count == 0) {
            ++empty;
            EXPECT_EQ(name, "Path" + std::to_string(i + 1)) << "the watch's name of an empty path";
        }
        with_waypoints += count > 0;
        full += count == 99;
        for (const char c : name) accented += static_cast<unsigned char>(c) >= 0xA0;
        for (std::size_t k = 0; k < 99; ++k) {
            const std::size_t at = waypoint_slot_address(99 * i + k) - 249 * 4096;
            if (k >= count) {
                EXPECT_EQ(Bytes(area.begin() + at, area.begin() + at + 24), Bytes(24, 0xFF))
                    << "unused slot " << k << " of path " << i;
                continue;
            }
            const SetupWaypoint& w = path.waypoints[k];
            EXPECT_TRUE(zero_padded(area, at + 14, 10));
            EXPECT_TRUE(in_watch_charset(w.name)) << w.name;
        }
    }
    EXPECT_GE(with_waypoints, 5u);
    EXPECT_EQ(empty, 1u);
    EXPECT_EQ(full, 1u);
    EXPECT_GE(accented, 3u);
    // The 16 bytes after the 170th slot of every waypoint sector stay erased.
    for (std::size_t s = 0; s < 6; ++s)
        EXPECT_EQ(Bytes(area.begin() + s * 4096 + 4080, area.begin() + (s + 1) * 4096),
                  Bytes(16, 0xFF))
            << "sector " << 249 + s;
}

TEST(WatchSetup, SettingsChecksumAndViewNames) {
    Flash flash;
    generate_realistic_flash(flash, false);
    const Bytes sector0 = flash.read(0, 4096);
    unsigned sum = 0;
    for (std::size_t i = 2; i < 224; ++i) sum += sector0[i];
    EXPECT_EQ(sector0[0], sum % 256);
    EXPECT_EQ(sector0[1], 255 - sum % 256);
    EXPECT_EQ(field_text(sector0, 96, 16), kRealisticLongVersion) << "kept under the checksum";
    EXPECT_NE(sector0[94], 0xFF) << "the watch has the two-bit field";

    const WatchSetup setup = realistic_setup();
    for (const auto& view : setup.views) {
        EXPECT_FALSE(view.name.empty());
        EXPECT_TRUE(in_watch_charset(view.name));
    }
}

TEST(WatchSetup, WorkoutBytesAreLeftAlone) {
    Flash with, without;
    generate_realistic_flash(with, true);
    write_long_version(without, kRealisticLongVersion);
    write_workouts(without, realistic_sessions(), {true, realistic_sector_order()});
    const auto a = with.bytes();
    const auto b = without.bytes();
    for (std::size_t i = 0; i < a.size(); ++i) {
        const bool setup_byte =
            i < 96 || (i >= 112 && i < 224) || (i >= 1280 && i < 4096) || i >= 249 * 4096u;
        if (!setup_byte) {
            ASSERT_EQ(a[i], b[i]) << "byte " << i;
        }
    }
}

TEST(WatchSetup, RefusesWhatTheWatchCannotHold) {
    struct Case {
        const char* legend;
        void (*spoil)(WatchSetup&);
    };
    const Case cases[] = {
        {"nine paths", [](WatchSetup& s) { s.paths.pop_back(); }},
        {"100 waypoints", [](WatchSetup& s) { s.paths[3].waypoints.resize(100); }},
        {"a 33-byte path name", [](WatchSetup& s) { s.paths[0].name = std::string(33, 'a'); }},
        {"an 11-byte waypoint name",
         [](WatchSetup& s) { s.paths[0].waypoints[0].name = "Eleven char"; }},
        {"an 11-byte view name", [](WatchSetup& s) { s.views[0].name = "Eleven char"; }},
    };
    for (const auto& c : cases) {
        WatchSetup setup = realistic_setup();
        c.spoil(setup);
        Flash flash;
        EXPECT_THROW(write_watch_setup(flash, setup), std::invalid_argument) << c.legend;
    }
}

}  // namespace
}  // namespace stridelog::sim
