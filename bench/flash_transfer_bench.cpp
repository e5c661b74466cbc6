// ReadFlashSector end to end, through the public entry point, against the
// simulator on a pty paced like a UART at 115200 baud (10 bits per byte):
//  - one sector: the whole call (connection, version and status queries, 32
//    requests of 128 bytes, task end) against the wire floor of its bytes;
//  - the whole flash, 256 calls in a row (what `stridelog backup` does),
//    against 256 times that floor.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>

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
constexpr double kBitsPerByte = 10.0;

// Bytes on the wire for one ReadFlashSector: the version request (1-byte
// payload) and its "Ver1.30" reply (8), the status query (1) and its reply (5),
// then 32 read requests (5) and their 128-byte replies (129).
constexpr std::size_t kConnectionBytes =
    (1 + wire::kOverhead) + (8 + wire::kOverhead) + (1 + wire::kOverhead) + (5 + wire::kOverhead);
constexpr std::size_t kReadBytes = 32 * ((5 + wire::kOverhead) + (129 + wire::kOverhead));
constexpr double kSectorFloorMs =
    (kConnectionBytes + kReadBytes) * kBitsPerByte * 1000.0 / static_cast<double>(kBaud);

// A host window that takes the sector blocks and frees every block.
class SectorHost {
  public:
    SectorHost() {
        result_ = platform::register_window_message(STRIDELOG_RESULT_MESSAGE_NAME);
        error_ = platform::register_window_message(STRIDELOG_ERROR_MESSAGE_NAME);
        window_ = platform::create_window([this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == result_ && w == SDK_MSG_SECTOR) ++sectors_;
            if (m == error_) ++errors_;
            if (m == result_ && l != 0) platform::global_free(reinterpret_cast<void*>(l));
            return 0;
        });
    }
    ~SectorHost() { platform::destroy_window(window_); }
    // One call; true when its sector arrived.
    bool read(WORD sector) {
        const int before = sectors_;
        ReadFlashSector(window_, sector);
        platform::Message msg;
        while (platform::peek_message(msg)) platform::dispatch_message(msg);
        return sectors_ == before + 1 && errors_ == 0;
    }

  private:
    UINT result_ = 0, error_ = 0;
    HWND window_ = nullptr;
    int sectors_ = 0, errors_ = 0;
};

struct PacedWatch {
    sim::Watch watch;
    sim::PtyServer server;
    bool ok = false;
    PacedWatch() {
        ok = server.start(watch, kBaud);
        if (ok) {
            platform::set_sysfs_scan(false);
            platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#bench", "COM61",
                                         server.slave_path());
        }
    }
    ~PacedWatch() {
        server.stop();
        platform::clear_injected();
    }
};

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void BM_ReadFlashSectorPaced(benchmark::State& state) {
    PacedWatch paced;
    if (!paced.ok) return state.SkipWithError("no pty");
    SectorHost host;
    double total_ms = 0;
    int calls = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!host.read(static_cast<WORD>(calls % 256))) return state.SkipWithError("read failed");
        total_ms += millis(Clock::now() - start);
        ++calls;
    }
    const double mean_ms = total_ms / calls;
    state.counters["mean_ms"] = mean_ms;
    state.counters["floor_ms"] = kSectorFloorMs;
    state.counters["ratio_to_floor"] = mean_ms / kSectorFloorMs;
}
BENCHMARK(BM_ReadFlashSectorPaced)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_BackupWholeFlashPaced(benchmark::State& state) {
    PacedWatch paced;
    if (!paced.ok) return state.SkipWithError("no pty");
    SectorHost host;
    double total_ms = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int sector = 0; sector < 256; ++sector)
            if (!host.read(static_cast<WORD>(sector))) return state.SkipWithError("read failed");
        total_ms += millis(Clock::now() - start);
    }
    state.counters["total_s"] = total_ms / 1000.0 / static_cast<double>(state.iterations());
    state.counters["floor_s"] = 256 * kSectorFloorMs / 1000.0;
    state.counters["ratio_to_floor"] =
        total_ms / static_cast<double>(state.iterations()) / (256 * kSectorFloorMs);
}
BENCHMARK(BM_BackupWholeFlashPaced)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace stridelog
