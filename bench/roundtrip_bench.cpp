// One ReadMemory request and its 128-byte reply, over a pseudo-terminal served
// by the watch simulator:
//  - unpaced: the SDK path (SendFrame, receive thread, assembler, parser, posted
//    message, handler on the loop thread) against a bare loop that writes the
//    same request and reads the same reply on the same kind of pty with no SDK
//    code at all; the two alternate so both see the same machine state.
//  - paced at 115200 baud: the SDK path against the wire-time floor of the
//    13-byte request and the 137-byte reply at 10 bits per byte.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/link_messages.hpp"
#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sim/pty_server.hpp"
#include "sim/watch.hpp"
#include "wire/frame.hpp"

namespace stridelog {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kAddress = 0x1D000;
constexpr std::uint8_t kCount = 128;
constexpr std::size_t kRequestBytes = 5 + wire::kOverhead;         // 13
constexpr std::size_t kReplyBytes = kCount + 1 + wire::kOverhead;  // 137
constexpr double kBitsPerByte = 10.0;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// A simulated watch on its own pty, reachable as COM<port> for the SDK.
struct ServedWatch {
    sim::Watch watch;
    sim::PtyServer server;
    bool ok = false;

    ServedWatch(int port, std::uint32_t baud) {
        ok = server.start(watch, baud);
        if (ok) {
            platform::set_sysfs_scan(false);
            platform::inject_serial_comm("\\Device\\Bench" + std::to_string(port),
                                         "COM" + std::to_string(port), server.slave_path());
        }
    }
};

// The SDK side: a link owned by a window on this thread, whose handler notes
// the read data message as the task window's would.
class SdkReader {
  public:
    explicit SdkReader(int port) {
        owner_ = platform::create_window([this](HWND, UINT m, WPARAM, LPARAM l) -> LRESULT {
            if (m == link::WM_LINK_READ_DATA && l == kCount) done_ = true;
            return 0;
        });
        link_ = std::make_unique<link::CWatchLink>(owner_);
        link::DCB dcb;
        dcb.BaudRate = 115200;
        ok_ = link_->OpenPort(port, dcb);
    }
    ~SdkReader() {
        link_.reset();
        platform::destroy_window(owner_);
    }
    bool ok() const { return ok_; }
    bool round_trip() {
        done_ = false;
        if (!link_->ReadMemory(kAddress, kCount, area_)) return false;
        return platform::run_loop_until([this] { return done_; },
                                        platform::clock().now_ms() + 3000);
    }

  private:
    HWND owner_ = nullptr;
    std::unique_ptr<link::CWatchLink> link_;
    std::uint8_t area_[kCount];
    bool done_ = false;
    bool ok_ = false;
};

// The bare side: raw tty calls only, the same bytes on the wire.
class BareReader {
  public:
    explicit BareReader(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd_, TCSANOW, &tio);
        const std::uint8_t payload[] = {0x12, 0x00, 0xD0, 0x01, kCount};
        request_ = wire::encode_frame(payload);
    }
    ~BareReader() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0 && request_.size() == kRequestBytes; }
    bool round_trip() {
        if (::write(fd_, request_.data(), request_.size()) != static_cast<ssize_t>(request_.size()))
            return false;
        std::size_t got = 0;
        std::uint8_t buffer[256];
        while (got < kReplyBytes) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0) return false;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) got += static_cast<std::size_t>(n);
        }
        return got == kReplyBytes;
    }

  private:
    int fd_ = -1;
    std::vector<std::uint8_t> request_;
};

void BM_RoundTripUnpacedSdkVersusBare(benchmark::State& state) {
    ServedWatch sdk_side(41, 0);
    ServedWatch bare_side(42, 0);
    if (!sdk_side.ok || !bare_side.ok) return state.SkipWithError("no pty");
    SdkReader sdk(41);
    BareReader bare(bare_side.server.slave_path());
    if (!sdk.ok() || !bare.ok()) return state.SkipWithError("cannot open the ports");
    for (int i = 0; i < 50; ++i) {  // warm up both paths
        sdk.round_trip();
        bare.round_trip();
    }
    std::vector<double> sdk_us, bare_us;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!sdk.round_trip()) return state.SkipWithError("SDK round trip failed");
        auto t1 = Clock::now();
        if (!bare.round_trip()) return state.SkipWithError("bare round trip failed");
        auto t2 = Clock::now();
        sdk_us.push_back(micros(t1 - t0));
        bare_us.push_back(micros(t2 - t1));
    }
    const double sdk_median = median(sdk_us), bare_median = median(bare_us);
    state.counters["sdk_median_us"] = sdk_median;
    state.counters["bare_median_us"] = bare_median;
    state.counters["median_ratio"] = sdk_median / bare_median;
}
BENCHMARK(BM_RoundTripUnpacedSdkVersusBare)->Iterations(3000)->Unit(benchmark::kMicrosecond);

void BM_RoundTripPaced115200(benchmark::State& state) {
    constexpr std::uint32_t kBaud = 115200;
    ServedWatch served(43, kBaud);
    if (!served.ok) return state.SkipWithError("no pty");
    SdkReader sdk(43);
    if (!sdk.ok()) return state.SkipWithError("cannot open the port");
    for (int i = 0; i < 5; ++i) sdk.round_trip();
    std::vector<double> us;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!sdk.round_trip()) return state.SkipWithError("SDK round trip failed");
        us.push_back(micros(Clock::now() - t0));
    }
    const double floor_us = (kRequestBytes + kReplyBytes) * kBitsPerByte * 1e6 / kBaud;
    const double m = median(us);
    state.counters["median_us"] = m;
    state.counters["floor_us"] = floor_us;
    state.counters["ratio_to_floor"] = m / floor_us;
    state.counters["KiB_per_s"] = kCount * 1e6 / m / 1024.0;
}
BENCHMARK(BM_RoundTripPaced115200)->Iterations(150)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace stridelog
