// How closely the paced pty server keeps to the wire time of a UART, and what
// the unpaced server costs per request: a 128-byte flash read (13-byte request,
// 137-byte reply) as a plain termios client sees it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "sim/pty_server.hpp"
#include "wire/frame.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

void read_round_trip(benchmark::State& state) {
    const auto baud = static_cast<std::uint32_t>(state.range(0));
    stridelog::sim::Watch watch;
    stridelog::sim::PtyServer server;
    if (!server.start(watch, baud)) {
        state.SkipWithError("no pty");
        return;
    }
    const int fd = ::open(server.slave_path().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const Bytes request = stridelog::wire::encode_frame(Bytes{0x12, 0x00, 0xD0, 0x01, 128});
    const std::size_t reply_size = 129 + stridelog::wire::kOverhead;
    double total_s = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
            state.SkipWithError("write failed");
            break;
        }
        std::size_t got = 0;
        std::uint8_t buffer[512];
        while (got < reply_size) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        total_s += took.count();
        if (got != reply_size) {
            state.SkipWithError("short reply");
            break;
        }
    }
    if (baud != 0) {
        // Wire time of request and reply at 10 bits per byte.
        const double floor_s = double(request.size() + reply_size) * 10.0 / baud;
        state.counters["floor_ms"] = floor_s * 1e3;
        state.counters["ratio_to_floor"] =
            state.iterations() != 0 ? total_s / static_cast<double>(state.iterations()) / floor_s
                                    : 0;
    }
    ::close(fd);
    server.stop();
}

BENCHMARK(read_round_trip)
    ->Arg(0)
    ->Arg(115200)
    ->Arg(921600)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace
