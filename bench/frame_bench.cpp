// Receive-side throughput: the frame assembler alone, and the assembler with the
// reply parser posting to an owner window whose queue is pumped as the task
// window's loop would, over a long stream of mixed replies, bad frames and line
// noise fed in the receive thread's 200-byte reads.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <span>
#include <vector>

#include "link/link_messages.hpp"
#include "link/watch_link.hpp"
#include "platform/window_system.hpp"
#include "wire/frame.hpp"

// Counts every heap allocation in this program, to show the byte path has none.
namespace {
std::atomic<std::uint64_t> g_allocations{0};
}
// GCC sees malloc/free behind new/delete once these are inlined and warns of a
// mismatch that is, here, the point.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace stridelog {
namespace {

constexpr std::size_t kStreamBytes = 4 << 20;
constexpr std::size_t kReadSize = 200;  // what the receive thread asks for per read

struct Stream {
    std::vector<std::uint8_t> bytes;
    std::size_t good_frames = 0;
};

// Replies as a watch sends them during a transfer, with bad frames and noise
// mixed in. Noise never holds A0, so every good frame is found again.
const Stream& mixed_stream() {
    static const Stream stream = [] {
        Stream s;
        std::mt19937 random(20120304);
        std::vector<std::uint8_t> payload;
        auto add_frame = [&](bool corrupt) {
            auto frame = wire::encode_frame(payload);
            if (corrupt) frame[frame.size() - 3] ^= 0x01;  // checksum low byte
            s.bytes.insert(s.bytes.end(), frame.begin(), frame.end());
            if (!corrupt) ++s.good_frames;
        };
        while (s.bytes.size() < kStreamBytes) {
            const unsigned pick = random() % 100;
            payload.clear();
            if (pick < 60) {  // flash data
                payload.push_back(0x13);
                for (int i = 0; i < 128; ++i)
                    payload.push_back(static_cast<std::uint8_t>(random()));
                add_frame(false);
            } else if (pick < 75) {  // acknowledgements
                static constexpr std::uint8_t kAcks[] = {0x15, 0x17, 0x25, 0x2F};
                payload.push_back(kAcks[random() % 4]);
                add_frame(false);
            } else if (pick < 80) {
                payload = {0x2D, 0x01, 0x00, 0x00, 0x01};
                add_frame(false);
            } else if (pick < 83) {
                payload = {0x11, 'V', 'e', 'r', '1', '.', '3', '0'};
                add_frame(false);
            } else if (pick < 88) {  // unknown id: parsed and ignored
                payload = {0x42, 0x00};
                add_frame(false);
            } else if (pick < 93) {  // a damaged data frame
                payload.push_back(0x13);
                for (int i = 0; i < 128; ++i)
                    payload.push_back(static_cast<std::uint8_t>(random()));
                add_frame(true);
            } else {  // line noise
                const int n = 1 + static_cast<int>(random() % 40);
                for (int i = 0; i < n; ++i) {
                    auto b = static_cast<std::uint8_t>(random());
                    s.bytes.push_back(b == wire::kStart1 ? 0x00 : b);
                }
            }
        }
        return s;
    }();
    return stream;
}

template <class OnRead>
void feed_in_reads(const std::vector<std::uint8_t>& bytes, OnRead&& on_read) {
    for (std::size_t at = 0; at < bytes.size(); at += kReadSize)
        on_read(std::span(bytes.data() + at, std::min(kReadSize, bytes.size() - at)));
}

void report(benchmark::State& state, std::size_t frames_seen, std::uint64_t allocations) {
    const auto& s = mixed_stream();
    if (frames_seen != s.good_frames * state.iterations())
        state.SkipWithError("frames lost or invented");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.bytes.size()));
    state.counters["frames"] = static_cast<double>(s.good_frames);
    state.counters["allocs_per_KiB"] = 1024.0 * static_cast<double>(allocations) /
                                       static_cast<double>(state.iterations() * s.bytes.size());
}

void BM_FrameAssembler(benchmark::State& state) {
    const auto& s = mixed_stream();
    std::size_t frames = 0;
    std::uint64_t checksum = 0;
    const auto before = g_allocations.load();
    for (auto _ : state) {
        wire::FrameAssembler assembler;
        feed_in_reads(s.bytes, [&](std::span<const std::uint8_t> read) {
            assembler.feed(read, [&](std::span<const std::uint8_t> payload) {
                ++frames;
                checksum += payload[0];
            });
        });
        benchmark::DoNotOptimize(checksum);
    }
    report(state, frames, g_allocations.load() - before);
}
BENCHMARK(BM_FrameAssembler)->Unit(benchmark::kMillisecond);

void BM_AssemblerAndParser(benchmark::State& state) {
    const auto& s = mixed_stream();
    std::size_t delivered = 0;
    HWND owner = platform::create_window([&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
        ++delivered;
        link::kVersionTextMessage.drop_if_carried(m, w) ||
            link::kStatusBytesMessage.drop_if_carried(m, w);
        return 0;
    });
    link::CWatchLink link(owner);
    std::uint8_t area[128];
    std::size_t frames = 0;
    const auto before = g_allocations.load();
    for (auto _ : state) {
        wire::FrameAssembler assembler;
        feed_in_reads(s.bytes, [&](std::span<const std::uint8_t> read) {
            assembler.feed(read, [&](std::span<const std::uint8_t> payload) {
                ++frames;
                // Each read reply answers a read of its own, as on the line.
                if (!payload.empty() && payload[0] == 0x13) link.ReadMemory(0, 128, area);
                link.ParseMessage(payload.data(), static_cast<std::uint16_t>(payload.size()));
            });
            platform::Message m;
            while (platform::peek_message(m)) platform::dispatch_message(m);
        });
    }
    report(state, frames, g_allocations.load() - before);
    state.counters["messages"] =
        static_cast<double>(delivered) / static_cast<double>(state.iterations());
    platform::destroy_window(owner);
}
BENCHMARK(BM_AssemblerAndParser)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace stridelog
