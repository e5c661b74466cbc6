// A simulated watch on the virtual clock, spoken to frame by frame, for the
// simulator's own tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "platform/clock.hpp"
#include "sim/watch.hpp"
#include "wire/frame.hpp"

namespace stridelog::sim {

using Bytes = std::vector<std::uint8_t>;
using Timed = std::vector<std::pair<std::uint64_t, Bytes>>;

// A watch on the virtual clock with its output captured as (time, bytes) writes.
struct Bench {
    explicit Bench(WatchConfig config = {}) : watch(std::move(config)) {
        watch.set_output([this](std::span<const std::uint8_t> b) {
            writes.push_back({clock->now_ms(), Bytes(b.begin(), b.end())});
        });
        watch.set_disconnect_handler([this] { ++disconnects; });
    }
    // Sends one command frame; returns the reply payloads decoded from what came out.
    std::vector<Bytes> ask(const Bytes& payload) {
        writes.clear();
        watch.feed(wire::encode_frame(payload));
        std::vector<Bytes> out;
        wire::FrameAssembler assembler;
        for (const auto& w : writes)
            assembler.feed(w.second, [&](auto p) { out.emplace_back(p.begin(), p.end()); });
        return out;
    }

    platform::ScopedVirtualClock clock;
    Watch watch;
    Timed writes;
    int disconnects = 0;
};

// A command with a 24-bit address (read, erase, write), then `tail`.
inline Bytes at(std::uint8_t id, std::uint32_t address, const Bytes& tail = {}) {
    Bytes p{id};
    for (int i = 0; i < 3; ++i) p.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    p.insert(p.end(), tail.begin(), tail.end());
    return p;
}
inline Bytes write_cmd(std::uint32_t address, const Bytes& data) {
    Bytes tail{static_cast<std::uint8_t>(data.size())};
    tail.insert(tail.end(), data.begin(), data.end());
    return at(0x16, address, tail);
}

}  // namespace stridelog::sim
