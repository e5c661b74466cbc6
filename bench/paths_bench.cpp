// SetPaths_Ex through the public entry point against the simulator on a pty
// paced at 115200 baud: the directory read and seven sector writes (prepare,
// erase and 32 chunks each, every command waiting for its acknowledgement),
// against the wire floor of those bytes. The operation's own 1500 ms pause
// before it reports success is not transfer time and is taken off.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sim/pty_server.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "wire/frame.hpp"

namespace stridelog {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBaud = 115200;
constexpr double kPathsWrittenPauseS = 1.5;
constexpr double kAck = 1 + wire::kOverhead;  // a one-byte reply
// Version and status exchanges, the directory read, then per sector: prepare
// and erase with their replies, and 32 chunks of 128 bytes with theirs.
constexpr double kConnectionBytes = (1 + 8 + 1 + 5) + 4.0 * wire::kOverhead;
constexpr double kDirectoryBytes = 32 * ((5 + wire::kOverhead) + (129 + wire::kOverhead));
constexpr double kSectorWriteBytes = (1 + wire::kOverhead) + kAck + (4 + wire::kOverhead) + kAck +
                                     32 * ((5 + 128 + wire::kOverhead) + kAck);
constexpr double kCommands = 2 + 32 + 7 * 34;
constexpr double kFloorS =
    (kConnectionBytes + kDirectoryBytes + 7 * kSectorWriteBytes) * 10.0 / kBaud;

class PathsHost {
  public:
    PathsHost() {
        result_ = platform::register_window_message(STRIDELOG_RESULT_MESSAGE_NAME);
        error_ = platform::register_window_message(STRIDELOG_ERROR_MESSAGE_NAME);
        window_ = platform::create_window([this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == result_ && w == SDK_MSG_PATHS_WRITTEN) done_ = true;
            if (m == error_) failed_ = done_ = true;
            if (m == result_ && l != 0) platform::global_free(reinterpret_cast<void*>(l));
            return 0;
        });
    }
    ~PathsHost() { platform::destroy_window(window_); }
    bool write(const std::vector<std::uint8_t>& block) {
        done_ = failed_ = false;
        SetPaths_Ex(window_, block.data(), static_cast<DWORD>(block.size()), FALSE);
        while (!done_) {
            platform::Message msg;
            if (platform::get_message(msg) == platform::Fetch::message)
                platform::dispatch_message(msg);
        }
        return !failed_;
    }

  private:
    UINT result_ = 0, error_ = 0;
    HWND window_ = nullptr;
    bool done_ = false, failed_ = false;
};

void BM_SetPathsPaced(benchmark::State& state) {
    sim::Watch watch;
    sim::PtyServer server;
    if (!server.start(watch, kBaud)) return state.SkipWithError("no pty");
    platform::set_sysfs_scan(false);
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#bench", "COM63",
                                 server.slave_path());
    PathsHost host;
    // Ten paths with names and no waypoints: the same seven sector writes as any.
    std::vector<std::uint8_t> block(34310, 0);
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!host.write(block)) return state.SkipWithError("SetPaths_Ex failed");
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double transfer = seconds / static_cast<double>(state.iterations()) - kPathsWrittenPauseS;
    state.counters["transfer_s"] = transfer;
    state.counters["floor_s"] = kFloorS;
    state.counters["ratio_to_floor"] = transfer / kFloorS;
    state.counters["turnaround_us_per_command"] = (transfer - kFloorS) / kCommands * 1e6;
    server.stop();
    platform::clear_injected();
}
BENCHMARK(BM_SetPathsPaced)->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace stridelog
