#include "update/epo_packets.hpp"

#include <algorithm>

namespace stridelog::update {
namespace {

constexpr std::uint16_t kEpoCommand = 722;

void append_packet(std::vector<std::uint8_t>& out, std::uint16_t sequence,
                   std::span<const std::uint8_t> data) {
    const std::size_t at = out.size();
    out.resize(at + kEpoPacketSize, 0);
    std::uint8_t* p = out.data() + at;
    p[0] = 0x04;
    p[1] = 0x24;
    p[2] = static_cast<std::uint8_t>(kEpoPacketSize & 0xFF);
    p[3] = static_cast<std::uint8_t>(kEpoPacketSize >> 8);
    p[4] = static_cast<std::uint8_t>(kEpoCommand & 0xFF);
    p[5] = static_cast<std::uint8_t>(kEpoCommand >> 8);
    p[6] = static_cast<std::uint8_t>(sequence & 0xFF);
    p[7] = static_cast<std::uint8_t>(sequence >> 8);
    std::copy(data.begin(), data.end(), p + 8);  // the rest stays zero
    std::uint8_t check = 0;
    for (std::size_t i = 2; i < 8 + kEpoDataBytes; ++i) check ^= p[i];
    p[8 + kEpoDataBytes] = check;
    p[kEpoPacketSize - 2] = 0x0D;
    p[kEpoPacketSize - 1] = 0x0A;
}

}  // namespace

std::vector<std::uint8_t> convert_orbit_file(std::span<const std::uint8_t> orbit) {
    std::vector<std::uint8_t> out;
    out.reserve(epo_packet_count(orbit.size()) * kEpoPacketSize);
    std::uint16_t sequence = 0;
    for (std::size_t at = 0; at < orbit.size(); at += kEpoDataBytes, ++sequence)
        append_packet(out, sequence, orbit.subspan(at, std::min(kEpoDataBytes, orbit.size() - at)));
    append_packet(out, kEpoEndSequence, {});
    return out;
}

}  // namespace stridelog::update
