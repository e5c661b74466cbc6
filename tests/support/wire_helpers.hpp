// Byte strings written by hand in tests: "A0A2 0001" -> {A0, A2, 00, 01}.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace stridelog::test {

using Bytes = std::vector<std::uint8_t>;

// Spaces are for the reader.
inline Bytes hex(const char* text) {
    std::string digits;
    for (const char* p = text; *p; ++p)
        if (*p != ' ') digits += *p;
    Bytes out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace stridelog::test
