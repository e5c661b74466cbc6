#include "stridelog/hostkit/text.hpp"

#include <string_view>

namespace stridelog::hostkit {
namespace {

// The accented letters the watch stores, as Unicode code points.
constexpr char16_t kWatchLetters[] = u"àáâäèéêëìíîïòóôöùúûüçñ";

bool is_high_surrogate(char16_t u) {
    return u >= 0xD800 && u < 0xDC00;
}
bool is_low_surrogate(char16_t u) {
    return u >= 0xDC00 && u < 0xE000;
}

}  // namespace

std::string utf16_to_utf8(std::span<const char16_t> units) {
    std::string out;
    auto put = [&](char32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    for (std::size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        const char16_t u = units[i];
        if (is_high_surrogate(u) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            put(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            put(0xFFFD);
        } else {
            put(u);
        }
    }
    return out;
}

std::string utf16le_to_utf8(std::span<const std::uint8_t> bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    return utf16_to_utf8(units);
}

std::u16string utf8_to_utf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::optional<std::string> first_unstorable_character(const std::string& text) {
    const std::u16string units = utf8_to_utf16(text);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u < 0x80 || std::u16string_view(kWatchLetters).find(u) != std::u16string_view::npos)
            continue;
        const bool pair = is_high_surrogate(u) && i + 1 < units.size();
        return utf16_to_utf8(std::u16string(units, i, pair ? 2 : 1));
    }
    return std::nullopt;
}

}  // namespace stridelog::hostkit
