#include "sim/agps_model.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

namespace stridelog::sim {
namespace {

// 04 24: packet start; BF 00: length 191 (LE16); D2 02: command 722 (LE16).
constexpr std::array<std::uint8_t, 6> kPacketHead{0x04, 0x24, 0xBF, 0x00, 0xD2, 0x02};
constexpr std::array<std::uint8_t, 2> kPacketTail{0x0D, 0x0A};
constexpr std::size_t kChecksumFirst = 2;
constexpr std::size_t kTailOffset = 189;
// The last data packet holds what is left of the orbit file after 298 full ones.
constexpr std::size_t kLastDataPacket = kEpoOrbitFileSize / kEpoPacketData;  // 298
constexpr std::size_t kLastDataBytes = kEpoOrbitFileSize % kEpoPacketData;   // 120
constexpr std::size_t kEndPacket = kEpoPacketCount - 1;                      // 299

std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string where(std::size_t packet) {
    char text[48];
    std::snprintf(text, sizeof text, "packet %zu (at 0x%05zX)", packet,
                  kEpoAddress + packet * kEpoPacketSize);
    return text;
}

bool fail(std::string* why, std::string text) {
    if (why != nullptr) *why = std::move(text);
    return false;
}

}  // namespace

std::uint8_t epo_packet_checksum(std::span<const std::uint8_t> packet) {
    std::uint8_t sum = 0;
    for (std::size_t i = kChecksumFirst; i < kEpoChecksumOffset && i < packet.size(); ++i)
        sum ^= packet[i];
    return sum;
}

bool is_well_formed_epo_stream(std::span<const std::uint8_t> area, std::string* why) {
    if (area.size() < kEpoStreamSize)
        return fail(why, "the A-GPS area holds " + std::to_string(area.size()) +
                             " bytes, fewer than the " + std::to_string(kEpoStreamSize) +
                             " of a packet stream");
    for (std::size_t n = 0; n < kEpoPacketCount; ++n) {
        const auto packet = area.subspan(n * kEpoPacketSize, kEpoPacketSize);
        if (!std::equal(kPacketHead.begin(), kPacketHead.end(), packet.begin()))
            return fail(why, where(n) + ": does not start with 04 24 BF 00 D2 02");
        const unsigned sequence =
            packet[kEpoSequenceOffset] | static_cast<unsigned>(packet[kEpoSequenceOffset + 1]) << 8;
        const unsigned expected = n == kEndPacket ? kEpoEndSequence : static_cast<unsigned>(n);
        if (sequence != expected)
            return fail(why, where(n) + ": sequence number " + std::to_string(sequence) +
                                 ", expected " + std::to_string(expected) +
                                 (n == kEndPacket ? " (the end packet)" : ""));
        const std::size_t zero_from = n == kEndPacket        ? 0
                                      : n == kLastDataPacket ? kLastDataBytes
                                                             : kEpoPacketData;
        const auto data = packet.subspan(kEpoDataOffset, kEpoPacketData);
        if (std::any_of(data.begin() + static_cast<std::ptrdiff_t>(zero_from), data.end(),
                        [](std::uint8_t b) { return b != 0; }))
            return fail(why, where(n) + ": data bytes from " + std::to_string(zero_from) +
                                 " on are not all zero");
        const std::uint8_t sum = epo_packet_checksum(packet);
        if (packet[kEpoChecksumOffset] != sum)
            return fail(why, where(n) + ": checksum " + hex2(packet[kEpoChecksumOffset]) +
                                 ", expected " + hex2(sum));
        if (!std::equal(kPacketTail.begin(), kPacketTail.end(), packet.begin() + kTailOffset))
            return fail(why, where(n) + ": does not end with 0D 0A");
    }
    return true;
}

std::vector<std::uint8_t> make_epo_stream(std::span<const std::uint8_t> orbit) {
    if (orbit.size() != kEpoOrbitFileSize) return {};
    std::vector<std::uint8_t> stream(kEpoStreamSize, 0);
    for (std::size_t n = 0; n < kEpoPacketCount; ++n) {
        const auto packet = std::span(stream).subspan(n * kEpoPacketSize, kEpoPacketSize);
        std::copy(kPacketHead.begin(), kPacketHead.end(), packet.begin());
        const unsigned sequence = n == kEndPacket ? kEpoEndSequence : static_cast<unsigned>(n);
        packet[kEpoSequenceOffset] = static_cast<std::uint8_t>(sequence & 0xFF);
        packet[kEpoSequenceOffset + 1] = static_cast<std::uint8_t>(sequence >> 8);
        if (n != kEndPacket) {
            const std::size_t from = n * kEpoPacketData;
            const std::size_t count = std::min(kEpoPacketData, orbit.size() - from);
            std::copy_n(orbit.begin() + static_cast<std::ptrdiff_t>(from), count,
                        packet.begin() + kEpoDataOffset);
        }
        packet[kEpoChecksumOffset] = epo_packet_checksum(packet);
        std::copy(kPacketTail.begin(), kPacketTail.end(), packet.begin() + kTailOffset);
    }
    return stream;
}

}  // namespace stridelog::sim
