// A long run of ordinary tasks against the simulator on a pseudo-terminal, as a
// host that stays up for days would run them: the version, the workout
// summary, sector reads and a settings round trip, over and over. Nothing may
// pile up: file descriptors, threads, blocks, resident memory.
//
// Most tasks wait out the SDK's own half-second pauses in real time, so a
// thousand take about four minutes: the default run does 200 and
// STRIDELOG_SOAK_TASKS=1000 runs the full thousand.
#include <gtest/gtest.h>
#include <malloc.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "sdk/task_registry.hpp"
#include "sim/pty_server.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

long entries_in(const char* folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

// Resident set size in KiB.
long resident_ki_b() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Open descriptors, threads, live blocks, resident KiB, heap KiB in use.
using Figures = std::array<long, 5>;
constexpr const char* kFigureNames[] = {"file descriptors", "threads", "live blocks", "VmRSS (KiB)",
                                        "heap in use (KiB)"};
enum { fds, threads, blocks, rss_kib, heap_kib };

Figures measure() {
    // The directory listing holds one descriptor of its own while it runs.
    return {entries_in("/proc/self/fd") - 1, entries_in("/proc/self/task"),
            static_cast<long>(platform::live_global_blocks()), resident_ki_b(),
            static_cast<long>(::mallinfo2().uordblks / 1024)};
}

// Under a sanitizer the allocator keeps freed memory aside on purpose, so the
// memory figures describe the sanitizer; the leak check at exit stands in.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryFiguresCount = false;
#else
constexpr bool kMemoryFiguresCount = true;
#endif

int live_task_count() {
    const char* text = std::getenv("STRIDELOG_SOAK_TASKS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 200;
}

TEST(Soak, ManyTasksInARowLeaveNothingBehind) {
    test::TestEnvironment env;
    sim::Watch watch;
    const bool large_reserve = sim::uses_large_reserve(watch.config().status_bytes);
    watch.with_flash(
        [&](sim::Flash& flash) { sim::generate_realistic_flash(flash, large_reserve); });
    sim::PtyServer server;
    ASSERT_TRUE(server.start(watch, 0)) << "cannot start the pty simulator";
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#soak", "COM9",
                                 server.slave_path());

    std::vector<std::uint8_t> settings;
    struct Step {
        const char* name;
        std::function<void(HWND)> call;
        UINT ending;
    };
    const Step steps[] = {
        {"version", [](HWND h) { GetWatch_Version(h, FALSE); }, SDK_MSG_WATCH_VERSION},
        {"sector", [](HWND h) { ReadFlashSector(h, 7); }, SDK_MSG_SECTOR},
        {"summary", [](HWND h) { GetWorkoutSummary(h, FALSE); }, SDK_MSG_WORKOUTS_DONE},
        {"sector", [](HWND h) { ReadFlashSector(h, 190); }, SDK_MSG_SECTOR},
        {"settings read", [](HWND h) { GetSetting(h, FALSE); }, SDK_MSG_SETTINGS},
        {"sector", [](HWND h) { ReadFlashSector(h, 0); }, SDK_MSG_SECTOR},
        {"settings write", [&](HWND h) { SetSetting(h, settings.data(), FALSE); },
         SDK_MSG_SETTINGS_WRITTEN},
        {"sector", [](HWND h) { ReadFlashSector(h, 255); }, SDK_MSG_SECTOR},
    };

    const int total = live_task_count();
    const int early = std::min(100, total);
    Figures at_start{};
    Figures at_early{};
    test::HostRecorder host;
    for (int i = 0; i < total; ++i) {
        const Step& step = steps[static_cast<std::size_t>(i) % std::size(steps)];
        if (i == 0) at_start = measure();
        host.clear();
        // The simulator keeps every frame it received; that is the test's
        // memory, not the library's.
        watch.clear_received();
        step.call(host.hwnd());
        ASSERT_TRUE(test::run_until_task_ends(60'000)) << step.name << " #" << i << " did not end";
        const auto codes = host.codes_without_progress();
        ASSERT_FALSE(codes.empty()) << step.name << " #" << i;
        ASSERT_EQ(codes.back(), step.ending) << step.name << " #" << i << ": " << host.describe();
        if (step.ending == SDK_MSG_SETTINGS) settings = host.blocks(SDK_MSG_SETTINGS).at(0);
        host.clear();  // frees nothing: the recorder copied and freed every block
        if (i + 1 == early) at_early = measure();
    }
    const Figures at_end = measure();
    server.stop();
    EXPECT_FALSE(sdk::task_active_on_this_thread());

    std::printf("soak: %d tasks\n", total);
    for (std::size_t f = 0; f < at_end.size(); ++f)
        std::printf("  %-17s start %ld, after %d %ld, after %d %ld\n", kFigureNames[f], at_start[f],
                    early, at_early[f], total, at_end[f]);

    // Compared with the figures after the first tasks, so that anything made
    // once for the life of the process does not count.
    EXPECT_EQ(at_end[fds], at_early[fds]) << "a file descriptor leaked";
    EXPECT_EQ(at_end[threads], at_early[threads]) << "a thread was left running";
    EXPECT_LE(at_early[fds], at_start[fds] + 1);
    EXPECT_EQ(at_early[threads], at_start[threads]) << "a thread outlived its task";
    EXPECT_EQ(at_end[blocks], at_start[blocks]) << "a block leaked";
    EXPECT_EQ(at_early[blocks], at_start[blocks]);
    // Flat after warming up: allocator slack, not a leak per task (1000 tasks
    // leaking even 1 KiB each would show as 900 KiB here).
    if (kMemoryFiguresCount) {
        EXPECT_LE(at_end[rss_kib] - at_early[rss_kib], 512) << "resident memory grows";
        EXPECT_LE(at_end[heap_kib] - at_early[heap_kib], 64) << "allocations pile up";
    }
}

}  // namespace
}  // namespace stridelog
