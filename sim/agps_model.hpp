// What the watch expects in its A-GPS sectors: MediaTek binary EPO packets
// (command 722, 191 bytes each) back to back from the first byte of sector 230.
// A 7-day orbit file of 53,760 bytes gives 298 full packets, one packet of 120
// data bytes padded with zeros, and an end packet: 300 packets, 57,300 bytes.
//
// Threads: pure functions over bytes; call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace stridelog::sim {

inline constexpr std::uint32_t kEpoFirstSector = 230;
inline constexpr std::uint32_t kEpoSectorCount = 14;  // sectors 230..243
inline constexpr std::uint32_t kEpoAddress = kEpoFirstSector * 4096;
inline constexpr std::size_t kEpoAreaSize = kEpoSectorCount * 4096;

inline constexpr std::size_t kEpoPacketSize = 191;
inline constexpr std::size_t kEpoPacketData = 180;
inline constexpr std::size_t kEpoPacketCount = 300;
inline constexpr std::size_t kEpoStreamSize = kEpoPacketCount * kEpoPacketSize;
inline constexpr std::size_t kEpoOrbitFileSize = 53760;
inline constexpr std::uint16_t kEpoEndSequence = 0xFFFF;

// Offsets within one packet.
inline constexpr std::size_t kEpoSequenceOffset = 6;  // LE16
inline constexpr std::size_t kEpoDataOffset = 8;
inline constexpr std::size_t kEpoChecksumOffset = 188;  // XOR of bytes 2..187

// True when `sectors_230_to_243` (at least the 57,300 bytes of the stream; what
// follows the stream is not looked at) holds exactly the packet stream of one
// orbit file. Otherwise false, and `why` (when given) names the first packet
// at fault and what is wrong with it.
bool is_well_formed_epo_stream(std::span<const std::uint8_t> sectors_230_to_243, std::string* why);

// The packet stream of a 53,760-byte orbit file (empty for any other size).
// Built from the packet layout alone, so tests can fill the A-GPS sectors.
std::vector<std::uint8_t> make_epo_stream(std::span<const std::uint8_t> orbit_file);

// XOR of packet bytes 2..187.
std::uint8_t epo_packet_checksum(std::span<const std::uint8_t> packet);

}  // namespace stridelog::sim
