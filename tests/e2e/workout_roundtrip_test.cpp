// Workouts round trip: the simulator's own encoder writes realistic sessions
// into the watch's flash, the SDK downloads them, and every 0x2007 / 0x2008
// block and the 0x2009 summary must hold, field by field, what the encoder
// says the watch meant. Once on the in-process line under the virtual clock,
// once over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/pty_server.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Names the first field of a 25-byte point that differs, so a failure says
// what the reader got wrong rather than dumping bytes.
std::string point_difference(const Bytes& block, std::size_t at, const sim::TrackPoint& want) {
    struct Field {
        const char* name;
        std::size_t offset, width;
    };
    static constexpr Field kFields[] = {
        {"header byte", 0, 1}, {"byte 1", 1, 1},    {"time", 2, 6}, {"longitude", 8, 4},
        {"latitude", 12, 4},   {"altitude", 16, 2}, {"M1", 18, 2},  {"M2", 20, 2},
        {"M3", 22, 2},         {"M4", 24, 1},
    };
    for (const auto& f : kFields)
        if (!std::equal(want.begin() + f.offset, want.begin() + f.offset + f.width,
                        block.begin() + at + f.offset)) {
            std::ostringstream out;
            out << f.name << ": got";
            for (std::size_t i = 0; i < f.width; ++i) out << ' ' << int(block[at + f.offset + i]);
            out << ", want";
            for (std::size_t i = 0; i < f.width; ++i) out << ' ' << int(want[f.offset + i]);
            return out.str();
        }
    return {};
}

void expect_session_block(const test::Notification& n, const sim::ExpectedSession& e) {
    const Bytes& b = n.block;
    const std::size_t laps_end = 60 + 16 * e.laps.size();
    ASSERT_EQ(n.code, e.has_track_points ? UINT{SDK_MSG_SESSION_TRACK} : UINT{SDK_MSG_SESSION});
    ASSERT_GE(b.size(), laps_end);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), Bytes(e.stamp_a.begin(), e.stamp_a.end()))
        << "stamp A";
    EXPECT_EQ(Bytes(b.begin() + 6, b.begin() + 12), Bytes(e.stamp_b.begin(), e.stamp_b.end()))
        << "stamp B";
    EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 60), Bytes(e.header.begin(), e.header.end()))
        << "header (corrected start at 3..8)";
    for (std::size_t i = 0; i < e.laps.size(); ++i)
        EXPECT_EQ(Bytes(b.begin() + 60 + 16 * i, b.begin() + 76 + 16 * i),
                  Bytes(e.laps[i].begin(), e.laps[i].end()))
            << "lap " << i;
    if (!e.has_track_points) {
        EXPECT_EQ(b.size(), laps_end);
        return;
    }
    ASSERT_GE(b.size(), laps_end + 4);
    ASSERT_EQ(le32(b, laps_end), e.points.size()) << "point count";
    ASSERT_EQ(b.size(), laps_end + 4 + 25 * e.points.size());
    int reported = 0;
    for (std::size_t j = 0; j < e.points.size() && reported < 10; ++j) {
        const std::string diff = point_difference(b, laps_end + 4 + 25 * j, e.points[j]);
        if (!diff.empty()) {
            ADD_FAILURE() << "point " << j << " (record type " << (e.points[j][0] & 0x0F)
                          << "): " << diff;
            ++reported;
        }
    }
}

std::vector<const test::Notification*> blocks_of(const test::HostRecorder& host, UINT code) {
    std::vector<const test::Notification*> out;
    for (const auto& n : host.notifications())
        if (!n.error && n.has_block && n.code == code) out.push_back(&n);
    return out;
}

// Downloads everything, then the summary, and compares both with `expected`.
void round_trip(test::HostRecorder& host, const std::vector<sim::ExpectedSession>& expected,
                std::uint64_t timeout_ms) {
    GetAllWorkout(host.hwnd(), FALSE, FALSE);
    ASSERT_TRUE(test::run_until_task_ends(timeout_ms)) << "download did not end";
    std::vector<const test::Notification*> sessions;
    for (const auto& n : host.notifications()) {
        ASSERT_FALSE(n.error) << host.describe();
        if (n.code == SDK_MSG_SESSION || n.code == SDK_MSG_SESSION_TRACK) sessions.push_back(&n);
    }
    ASSERT_EQ(host.codes().back(), UINT{SDK_MSG_WORKOUTS_DONE}) << host.describe();
    ASSERT_EQ(sessions.size(), expected.size()) << host.describe();
    for (std::size_t k = 0; k < expected.size(); ++k) {
        SCOPED_TRACE("session " + std::to_string(k));
        expect_session_block(*sessions[k], expected[k]);
    }

    host.clear();
    GetWorkoutSummary(host.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(timeout_ms)) << "summary did not end";
    const auto summary = blocks_of(host, SDK_MSG_SUMMARY);
    ASSERT_EQ(summary.size(), 1u) << host.describe();
    const Bytes& s = summary[0]->block;
    ASSERT_EQ(s.size(), 4 + 48 * expected.size());
    EXPECT_EQ(le32(s, 0), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(Bytes(s.begin() + 4 + 48 * k, s.begin() + 52 + 48 * k),
                  Bytes(expected[k].header.begin(), expected[k].header.end()))
            << "summary header " << k;
}

TEST(WorkoutRoundTrip, InProcessLineOnTheVirtualClock) {
    test::TestEnvironment env;
    platform::ScopedVirtualClock clock;
    test::HostRecorder host;
    sim::Watch watch;  // status 01 00 00 01: the large reserve
    sim::InProcessLine line{watch, "roundtrip"};
    sim::register_as_cable(line, "COM7");
    const std::size_t blocks_before = platform::live_global_blocks();
    std::vector<sim::ExpectedSession> expected;
    const bool large_reserve = sim::uses_large_reserve(watch.config().status_bytes);
    watch.with_flash(
        [&](sim::Flash& flash) { expected = sim::generate_realistic_flash(flash, large_reserve); });
    round_trip(host, expected, 3'600'000);
    EXPECT_FALSE(sdk::task_active_on_this_thread());
    EXPECT_EQ(platform::live_global_blocks(), blocks_before) << "a block leaked";
}

TEST(WorkoutRoundTrip, OverAPseudoTerminal) {
    test::TestEnvironment env;
    test::HostRecorder host;
    sim::WatchConfig config;
    config.status_bytes = {0x01, 0x00, 0x00, 0x00};  // the default reserve
    sim::Watch watch(config);
    std::vector<sim::ExpectedSession> expected;
    watch.with_flash([&](sim::Flash& flash) {
        expected =
            sim::generate_realistic_flash(flash, sim::uses_large_reserve(config.status_bytes));
    });
    sim::PtyServer server;
    ASSERT_TRUE(server.start(watch, 0)) << "cannot start the pty simulator";
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#pty", "COM9",
                                 server.slave_path());
    round_trip(host, expected, 120'000);
    server.stop();
    EXPECT_FALSE(sdk::task_active_on_this_thread());
}

}  // namespace
}  // namespace stridelog
