// The orbit file converter over arbitrary downloads: every packet is whole,
// numbered in order, carries its slice of the file and a checksum that holds,
// and the stream closes with the end packet.
#include "fuzz_target.hpp"
#include "update/epo_packets.hpp"

using namespace stridelog::update;
using stridelog::fuzz::check;

FUZZ_TARGET(orbit) {
    const auto stream = convert_orbit_file(orbit);
    const std::size_t packets = epo_packet_count(orbit.size());
    check(stream.size() == packets * kEpoPacketSize);
    for (std::size_t k = 0; k < packets; ++k) {
        const std::uint8_t* p = stream.data() + k * kEpoPacketSize;
        const bool last = k + 1 == packets;
        check((p[6] | p[7] << 8) == (last ? kEpoEndSequence : (k & 0xFFFF)));
        check(p[0] == 0x04 && p[1] == 0x24 && p[kEpoPacketSize - 2] == 0x0D &&
              p[kEpoPacketSize - 1] == 0x0A);
        std::uint8_t sum = 0;
        for (std::size_t i = 2; i < 8 + kEpoDataBytes; ++i) sum ^= p[i];
        check(sum == p[8 + kEpoDataBytes]);
        for (std::size_t i = 0; i < kEpoDataBytes; ++i) {
            const std::size_t at = k * kEpoDataBytes + i;
            check(p[8 + i] == (!last && at < orbit.size() ? orbit[at] : 0));
        }
    }
}
