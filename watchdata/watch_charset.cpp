#include "watchdata/watch_charset.hpp"

#include <array>

namespace stridelog::watchdata {
namespace {

constexpr std::uint8_t kFirstAccented = 0xA0;
constexpr std::array<char16_t, 22> kAccented{
    u'à', u'á', u'â', u'ä', u'è', u'é', u'ê', u'ë', u'ì', u'í', u'î',
    u'ï', u'ò', u'ó', u'ô', u'ö', u'ù', u'ú', u'û', u'ü', u'ç', u'ñ',
};
constexpr std::uint8_t kUnknownToWatch = '|';
constexpr char16_t kUnknownFromWatch = u' ';

bool is_high_surrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

std::uint8_t to_watch_char(char32_t c) {
    if (c < 0x80) return static_cast<std::uint8_t>(c);
    for (std::size_t i = 0; i < kAccented.size(); ++i)
        if (kAccented[i] == c) return static_cast<std::uint8_t>(kFirstAccented + i);
    return kUnknownToWatch;
}

char16_t from_watch_byte(std::uint8_t b) {
    if (b < 0x80) return b;
    if (b >= kFirstAccented && b < kFirstAccented + kAccented.size())
        return kAccented[b - kFirstAccented];
    return kUnknownFromWatch;
}

std::string to_watch(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == 0) break;
        // A pair stands for one character the watch cannot show: one '|', not two.
        if (is_high_surrogate(c) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) ++i;
        out.push_back(static_cast<char>(to_watch_char(c)));
    }
    return out;
}

std::u16string from_watch(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    for (std::uint8_t b : bytes) {
        if (b == 0) break;
        out.push_back(from_watch_byte(b));
    }
    return out;
}

}  // namespace stridelog::watchdata
