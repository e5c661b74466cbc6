// Little-endian fields of the notification blocks, read and written once. The
// callers check the block's length before they read.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace stridelog::hostkit::detail {

inline std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
inline std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
inline void put_le32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
template <std::size_t N>
std::array<std::uint8_t, N> array_at(std::span<const std::uint8_t> b, std::size_t at) {
    std::array<std::uint8_t, N> out;
    std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at), N, out.begin());
    return out;
}

inline std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * bytes.size());
    for (const std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

}  // namespace stridelog::hostkit::detail
