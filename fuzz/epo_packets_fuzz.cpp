// The orbit file converter over arbitrary downloads: every packet is whole,
// numbered in order, carries its slice of the file and a checksum that holds,
// and the stream closes with the end packet.
#include <cstddef>
#include <cstdint>
#include <span>

#include "update/epo_packets.hpp"

namespace up = stridelog::update;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> orbit(data, size);
    const auto stream = up::convert_orbit_file(orbit);
    const std::size_t packets = up::epo_packet_count(size);
    if (stream.size() != packets * up::kEpoPacketSize) __builtin_trap();
    for (std::size_t k = 0; k < packets; ++k) {
        const std::uint8_t* p = stream.data() + k * up::kEpoPacketSize;
        const bool last = k + 1 == packets;
        const unsigned sequence = p[6] | p[7] << 8;
        if (sequence != (last ? up::kEpoEndSequence : (k & 0xFFFF))) __builtin_trap();
        if (p[0] != 0x04 || p[1] != 0x24 || p[up::kEpoPacketSize - 2] != 0x0D ||
            p[up::kEpoPacketSize - 1] != 0x0A)
            __builtin_trap();
        std::uint8_t check = 0;
        for (std::size_t i = 2; i < 8 + up::kEpoDataBytes; ++i) check ^= p[i];
        if (check != p[8 + up::kEpoDataBytes]) __builtin_trap();
        for (std::size_t i = 0; i < up::kEpoDataBytes; ++i) {
            const std::size_t at = k * up::kEpoDataBytes + i;
            const std::uint8_t expected = !last && at < size ? data[at] : 0;
            if (p[8 + i] != expected) __builtin_trap();
        }
    }
    return 0;
}
