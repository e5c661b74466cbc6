// Blocks laid out byte by byte for the host kit's and the tool's tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace stridelog::test {

inline void put_utf16(std::vector<std::uint8_t>& b, const std::u16string& text) {
    for (const char16_t u : text) {
        b.push_back(static_cast<std::uint8_t>(u));
        b.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

// A 0x2002 block: index, name length, UTF-16LE name, count, 34-byte waypoints
// (the word, its complement, attributes A0..A5, the name in 20 bytes).
inline std::vector<std::uint8_t> path_block(
    std::uint8_t index, const std::u16string& name,
    const std::vector<std::pair<std::uint32_t, std::u16string>>& waypoints) {
    std::vector<std::uint8_t> b{index, static_cast<std::uint8_t>(2 * name.size())};
    put_utf16(b, name);
    b.push_back(static_cast<std::uint8_t>(waypoints.size()));
    for (const auto& [word, wname] : waypoints) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(~word >> (8 * i)));
        for (int i = 0; i < 6; ++i) b.push_back(static_cast<std::uint8_t>(0xA0 + i));
        std::vector<std::uint8_t> name_field;
        put_utf16(name_field, wname);
        name_field.resize(20, 0);
        b.insert(b.end(), name_field.begin(), name_field.end());
    }
    return b;
}

}  // namespace stridelog::test
