// Workout figures:
//  - decoding plus block building of a 1000-point session (pure code), per point;
//  - GetAllWorkout of a watch whose every workout sector is in use, through the
//    public entry point against the simulator on a pty: paced at 115200 baud
//    against the wire floor of its reads, and unpaced with the growth of the
//    process's peak resident memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sim/pty_server.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "watchdata/session_records.hpp"
#include "wire/frame.hpp"

namespace stridelog {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

void put(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A stream of one full record, then deltas (and a time-only record every
// tenth point), `points` points in all, then the end marker.
Bytes track_stream(int points) {
    Bytes s;
    s.insert(s.end(), {0x00, 0x00, 24, 5, 17, 6, 0, 0});
    put(s, 80000000, 4);
    put(s, 470000000, 4);
    put(s, 400, 2);
    put(s, 1, 2);
    put(s, 2, 2);
    put(s, 3, 2);
    s.push_back(4);
    for (int i = 1; i < points; ++i) {
        const auto minute = static_cast<std::uint8_t>(i * 3 / 60 % 60);
        const auto second = static_cast<std::uint8_t>(i * 3 % 60);
        if (i % 10 == 0) {
            s.insert(s.end(), {0x02, minute, second});
            continue;
        }
        s.insert(s.end(), {0x01, 0x00, minute, second});
        put(s, 37, 4);
        put(s, static_cast<std::uint32_t>(-21), 4);
        put(s, 1, 2);
        put(s, 140, 2);
        put(s, 90, 2);
        put(s, 5, 2);
        s.push_back(7);
    }
    s.push_back(0x0F);
    return s;
}

Bytes header_sector(std::uint16_t points, int hour) {
    Bytes sector(4096, 0xFF);
    sector[0] = static_cast<std::uint8_t>(points);
    sector[1] = static_cast<std::uint8_t>(points >> 8);
    sector[2] = 2;
    const std::uint8_t start[] = {0, 0, static_cast<std::uint8_t>(hour), 17, 5, 24};
    std::memcpy(sector.data() + 3, start, 6);
    std::memset(sector.data() + 64, 0x11, 32);
    return sector;
}

void BM_DecodeAndBuild1000PointSession(benchmark::State& state) {
    const Bytes stream = track_stream(1000);
    const Bytes header = header_sector(1000, 6);
    std::array<std::uint8_t, watchdata::kDecodeBufferSize> buffer{};
    std::size_t points = 0;
    for (auto _ : state) {
        watchdata::SessionRecord session = watchdata::read_session_header(header);
        watchdata::TrackDecoder decoder;
        decoder.begin_session();
        std::vector<std::string> log;
        for (std::size_t at = 0; at < stream.size(); at += 4096) {
            std::fill(buffer.begin() + 32, buffer.end(), std::uint8_t{0xFF});
            std::memcpy(buffer.data() + 32, stream.data() + at,
                        std::min<std::size_t>(4096, stream.size() - at));
            if (decoder.decode_sector(buffer, 1, log) ==
                watchdata::TrackDecoder::Outcome::stream_ended)
                break;
        }
        watchdata::fix_up_leading_points(decoder.points(), session.start_stamp());
        const auto block = watchdata::build_session_block(session, decoder.points());
        points = decoder.points().size();
        benchmark::DoNotOptimize(block.data());
    }
    if (points != 1000) return state.SkipWithError("the stream did not decode to 1000 points");
    state.counters["ns_per_point"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 1000.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DecodeAndBuild1000PointSession)->Unit(benchmark::kMicrosecond);

// Sectors 1..229 in use (the simulator reports the large reserved tail): ten
// sessions of a header sector and 21 or 22 track sectors each.
constexpr int kWorkoutSectors = 229;

void fill_flash(sim::Flash& flash) {
    Bytes directory(4096, 0xFF);
    int next = 1;
    Bytes runs;
    for (int session = 0; session < 10; ++session) {
        const int track_sectors = session < 9 ? 22 : kWorkoutSectors - 1 - 9 * 23;
        // Deltas of 21 bytes: as many points as fill the track sectors.
        const int points = (track_sectors * 4096 - 60) / 21;
        const Bytes stream = track_stream(points);
        flash.store(static_cast<std::uint32_t>(next) * 4096,
                    header_sector(static_cast<std::uint16_t>(points), 6 + session));
        runs.push_back(static_cast<std::uint8_t>(next++));
        for (int t = 0; t < track_sectors; ++t) {
            Bytes sector(4096, 0xFF);
            const std::size_t at = static_cast<std::size_t>(t) * 4096;
            if (at < stream.size())
                std::memcpy(sector.data(), stream.data() + at,
                            std::min<std::size_t>(4096, stream.size() - at));
            flash.store(static_cast<std::uint32_t>(next) * 4096, sector);
            runs.push_back(static_cast<std::uint8_t>(next++));
        }
        runs.push_back(0xFF);
    }
    for (int s = 0; s < next; ++s)
        directory[224 + s / 8] &= static_cast<std::uint8_t>(~(1u << (s % 8)));
    for (int s = 230; s < 256; ++s)
        directory[224 + s / 8] &= static_cast<std::uint8_t>(~(1u << (s % 8)));
    std::memcpy(directory.data() + 256, runs.data(), runs.size());
    flash.store(0, directory);
}

class WorkoutHost {
  public:
    WorkoutHost() {
        result_ = platform::register_window_message(STRIDELOG_RESULT_MESSAGE_NAME);
        error_ = platform::register_window_message(STRIDELOG_ERROR_MESSAGE_NAME);
        window_ = platform::create_window([this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == result_ && w == SDK_MSG_SESSION_TRACK) ++sessions_;
            if (m == result_ && w == SDK_MSG_WORKOUTS_DONE) done_ = true;
            if (m == error_) failed_ = done_ = true;
            if (m == result_ && l != 0) platform::global_free(reinterpret_cast<void*>(l));
            return 0;
        });
    }
    ~WorkoutHost() { platform::destroy_window(window_); }
    int download() {
        sessions_ = 0;
        done_ = failed_ = false;
        GetAllWorkout(window_, FALSE, FALSE);
        while (!done_) {
            platform::Message msg;
            if (platform::get_message(msg) == platform::Fetch::message)
                platform::dispatch_message(msg);
        }
        return failed_ ? -1 : sessions_;
    }

  private:
    UINT result_ = 0, error_ = 0;
    HWND window_ = nullptr;
    int sessions_ = 0;
    bool done_ = false, failed_ = false;
};

long peak_resident_ki_b() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void run_full_flash(benchmark::State& state, std::uint32_t baud) {
    sim::Watch watch;
    watch.with_flash(fill_flash);
    sim::PtyServer server;
    if (!server.start(watch, baud)) return state.SkipWithError("no pty");
    platform::set_sysfs_scan(false);
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#bench", "COM62",
                                 server.slave_path());
    WorkoutHost host;
    const long peak_before = peak_resident_ki_b();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (host.download() != 10) return state.SkipWithError("the download failed");
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    seconds /= static_cast<double>(state.iterations());
    // Directory and 229 sectors of 32 chunks, 150 bytes on the wire each, plus
    // the version and status exchanges; 10 bits per byte.
    const double bytes = (1 + kWorkoutSectors) * 32.0 * (13 + 137) + 47;
    state.counters["total_s"] = seconds;
    if (baud != 0) {
        const double floor = bytes * 10.0 / baud;
        state.counters["floor_s"] = floor;
        state.counters["ratio_to_floor"] = seconds / floor;
    }
    state.counters["peak_rss_growth_KiB"] = static_cast<double>(peak_resident_ki_b() - peak_before);
    server.stop();
    platform::clear_injected();
}

void BM_GetAllWorkoutFullFlashPaced(benchmark::State& state) {
    run_full_flash(state, 115200);
}
BENCHMARK(BM_GetAllWorkoutFullFlashPaced)->Iterations(1)->Unit(benchmark::kSecond);

void BM_GetAllWorkoutFullFlashUnpaced(benchmark::State& state) {
    run_full_flash(state, 0);
}
BENCHMARK(BM_GetAllWorkoutFullFlashUnpaced)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace stridelog
