// The watch's character set, used for every path and waypoint name it stores:
// bytes below 128 are ASCII, 0xA0 .. 0xB5 are 22 accented lower-case letters,
// and nothing else is defined. Pure functions, no state.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace stridelog::watchdata {

// One character toward the watch: itself below 128, its byte when the watch has
// it, otherwise '|'.
std::uint8_t to_watch_char(char32_t c);
// One byte from the watch: itself below 128, its letter in 0xA0 .. 0xB5,
// otherwise a space.
char16_t from_watch_byte(std::uint8_t b);

// UTF-16 text to watch bytes, one byte per character (a surrogate pair is one
// character, a lone surrogate too). Stops at the first zero character.
std::string to_watch(std::u16string_view text);
// Watch bytes to UTF-16, up to the first zero byte.
std::u16string from_watch(std::span<const std::uint8_t> bytes);

}  // namespace stridelog::watchdata
