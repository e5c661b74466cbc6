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

// A settings record as GetSetting posts it: every named field a value of its
// own, the unnamed bytes (31, 32, 47 .. 50, 82, 83) zero.
inline std::vector<std::uint8_t> settings_record() {
    std::vector<std::uint8_t> b(96, 0);
    b[0] = 2;                         // F94
    b[1] = 1;                         // F12d
    b[2] = 1;                         // F2, 32 bits
    b[6] = 0x34, b[7] = 0x12;         // W10
    b[8] = 1;                         // F5, 32 bits
    b[12] = 6, b[13] = 7, b[14] = 8;  // B6, B7, B8
    const std::u16string code = u"VUNA0_00", version = u"1.31.02", identity = u"12050301AB12";
    for (std::size_t i = 0; i < code.size(); ++i)
        b[15 + 2 * i] = static_cast<std::uint8_t>(code[i]);
    for (std::size_t i = 0; i < version.size(); ++i)
        b[33 + 2 * i] = static_cast<std::uint8_t>(version[i]);
    b[51] = 26, b[52] = 3, b[53] = 21;                       // A-GPS expiry
    b[54] = 0x00, b[55] = 0x00, b[56] = 0x48, b[57] = 0x42;  // 50.0f
    for (std::size_t i = 0; i < identity.size(); ++i)
        b[58 + 2 * i] = static_cast<std::uint8_t>(identity[i]);
    b[84] = 93, b[85] = 3, b[86] = 1, b[87] = 17;
    for (std::size_t i = 0; i < 8; ++i) b[88 + i] = static_cast<std::uint8_t>(18 + i);
    return b;
}

}  // namespace stridelog::test
