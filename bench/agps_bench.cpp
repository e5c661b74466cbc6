// The A-GPS update: the conversion of one orbit file into its packet stream,
// and the whole update through the public entry point against the simulator on
// a pty paced at 115200 baud, with today's orbit file already in the download
// folder so that only the watch's side is measured: the version and status
// exchanges, 14 sector writes from sector 230, the directory read and write,
// SetExpiryDate and the verification query. The operation's 500 ms pause
// before it reports the date is not transfer time and is taken off.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sim/pty_server.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/update/ftp_server.hpp"
#include "update/epo_packets.hpp"
#include "update/ftp_downloader.hpp"
#include "wire/frame.hpp"

namespace stridelog {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::uint32_t kBaud = 115200;
constexpr double kResultPauseS = 0.5;
constexpr double kAck = 1 + wire::kOverhead;
constexpr double kStatusExchange = (1 + wire::kOverhead) + (5 + wire::kOverhead);
constexpr double kConnectionBytes = (1 + 8) + 2.0 * wire::kOverhead + kStatusExchange;
constexpr double kDirectoryBytes = 32 * ((5 + wire::kOverhead) + (129 + wire::kOverhead));
constexpr double kSectorWriteBytes = (1 + wire::kOverhead) + kAck + (4 + wire::kOverhead) + kAck +
                                     32 * ((5 + 128 + wire::kOverhead) + kAck);
constexpr double kExpiryBytes = (4 + wire::kOverhead) + kAck + kStatusExchange;
constexpr double kFloorS =
    (kConnectionBytes + kDirectoryBytes + 15 * kSectorWriteBytes + kExpiryBytes) * 10.0 / kBaud;

std::vector<std::uint8_t> orbit_bytes() {
    std::vector<std::uint8_t> b(update::kOrbitFileSize);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 13 + i / 97);
    return b;
}

void BM_ConvertOrbitFile(benchmark::State& state) {
    const std::vector<std::uint8_t> orbit = orbit_bytes();
    for (auto _ : state) {
        auto stream = update::convert_orbit_file(orbit);
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * orbit.size()));
}
BENCHMARK(BM_ConvertOrbitFile)->Unit(benchmark::kMicrosecond);

class AgpsHost {
  public:
    AgpsHost() {
        result_ = platform::register_window_message(STRIDELOG_RESULT_MESSAGE_NAME);
        error_ = platform::register_window_message(STRIDELOG_ERROR_MESSAGE_NAME);
        window_ = platform::create_window([this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == result_ && (w == SDK_MSG_AGPS_LOADED || w == SDK_MSG_AGPS_CURRENT))
                done_ = true;
            if (m == error_) failed_ = done_ = true;
            if (m == result_ && l != 0) platform::global_free(reinterpret_cast<void*>(l));
            return 0;
        });
    }
    ~AgpsHost() { platform::destroy_window(window_); }
    bool update() {
        done_ = failed_ = false;
        AGPSDataUpdate(window_, u"127.0.0.1:9", u"user", u"pass", u"agps", FALSE, 60'000, TRUE);
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

void BM_AgpsUpdatePaced(benchmark::State& state) {
    // Today's orbit file in a download folder of the benchmark's own.
    const fs::path documents = fs::temp_directory_path() / "stridelog-agps-bench";
    fs::create_directories(documents / "Stride Log");
    const std::vector<std::uint8_t> orbit = orbit_bytes();
    std::ofstream(documents / "Stride Log" / "MTK7d.EPO", std::ios::binary)
        .write(reinterpret_cast<const char*>(orbit.data()),
               static_cast<std::streamsize>(orbit.size()));
    setenv("XDG_DOCUMENTS_DIR", documents.c_str(), 1);

    sim::Watch watch;
    sim::PtyServer server;
    if (!server.start(watch, kBaud)) return state.SkipWithError("no pty");
    platform::set_sysfs_scan(false);
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#bench", "COM62",
                                 server.slave_path());
    AgpsHost host;
    double seconds = 0;
    for (auto _ : state) {
        // A date far ahead: the watch takes it, and the next round needs data again.
        std::ofstream(documents / "Stride Log" / "datetime.txt") << "2200-01-01\n";
        watch.with_flash(
            [](sim::Flash& flash) { flash.store(0, std::vector<std::uint8_t>(4096, 0xFF)); });
        watch.load_agps_from_directory();
        const auto start = Clock::now();
        if (!host.update()) return state.SkipWithError("AGPSDataUpdate failed");
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double transfer = seconds / static_cast<double>(state.iterations()) - kResultPauseS;
    state.counters["transfer_s"] = transfer;
    state.counters["floor_s"] = kFloorS;
    state.counters["ratio_to_floor"] = transfer / kFloorS;
    server.stop();
    platform::clear_injected();
    fs::remove_all(documents);
}
BENCHMARK(BM_AgpsUpdatePaced)->Iterations(2)->Unit(benchmark::kSecond);

// The download the update above leaves out: "datetime.txt" whole and the
// orbit file streamed in 128-byte chunks with progress, from a pyftpdlib
// server on loopback, to the download folder.
void BM_AgpsDownloadLoopback(benchmark::State& state) {
    const fs::path root = fs::temp_directory_path() / "stridelog-agps-download-bench";
    fs::remove_all(root);
    setenv("XDG_DOCUMENTS_DIR", (root / "documents").c_str(), 1);
    test::FtpServer server(root / "ftp");
    if (!server.running()) return state.SkipWithError("no FTP server (pyftpdlib)");
    const std::vector<std::uint8_t> orbit = orbit_bytes();
    server.put("agps/MTK7d.EPO", std::string(orbit.begin(), orbit.end()));
    server.put("agps/datetime.txt", "2200-01-01\n");
    bool done = false, failed = false;
    const HWND owner = platform::create_window([&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
        update::drop_download_message(m, w);
        if (m == update::WM_FTP_DONE) done = true;
        if (m == update::WM_FTP_FAILED) failed = done = true;
        return 0;
    });
    const update::FtpSettings settings{server.address(), "user", "pass", "agps", "", ""};
    const std::vector<std::string> names = {"datetime.txt", "MTK7d.EPO"};
    for (auto _ : state) {
        done = failed = false;
        update::CFtpDownloader downloader(owner);
        downloader.DownloadFiles(settings, &names, 0, true);
        while (!done) {
            platform::Message msg;
            if (platform::get_message(msg) == platform::Fetch::message)
                platform::dispatch_message(msg);
        }
        if (failed) return state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * orbit.size()));
    platform::destroy_window(owner);
    fs::remove_all(root);
}
BENCHMARK(BM_AgpsDownloadLoopback)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace stridelog
