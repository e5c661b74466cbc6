// The orbit file as the watch takes it: MediaTek binary EPO transfer packets
// (command 722), 191 bytes each, 180 bytes of the file per packet, closed by
// an end packet of zeros with sequence number 0xFFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stridelog::update {

inline constexpr std::size_t kOrbitFileSize = 53760;  // MTK7d.EPO, seven days
inline constexpr std::size_t kEpoPacketSize = 191;
inline constexpr std::size_t kEpoDataBytes = 180;
inline constexpr std::size_t kEpoPacketCount = 300;  // of a valid orbit file, end packet included
inline constexpr std::size_t kEpoStreamSize = kEpoPacketCount * kEpoPacketSize;  // 57,300
inline constexpr std::uint16_t kEpoEndSequence = 0xFFFF;

// The packet stream of `orbit`: one packet per 180 bytes (the last one
// zero-padded), numbered from 0, then the end packet.
std::vector<std::uint8_t> convert_orbit_file(std::span<const std::uint8_t> orbit);

// Number of packets convert_orbit_file makes of `size` bytes.
constexpr std::size_t epo_packet_count(std::size_t size) {
    return (size + kEpoDataBytes - 1) / kEpoDataBytes + 1;
}

}  // namespace stridelog::update
