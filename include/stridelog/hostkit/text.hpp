// The texts of the notification blocks and of the records a host hands to the
// SDK: names are UTF-16LE there, UTF-8 in the host kit's records.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace stridelog::hostkit {

// UTF-16 units to UTF-8, stopping at the first zero unit; a lone surrogate
// becomes U+FFFD.
std::string utf16_to_utf8(std::span<const char16_t> units);
// The same from UTF-16LE bytes; an odd last byte is ignored.
std::string utf16le_to_utf8(std::span<const std::uint8_t> bytes);
// UTF-8 to UTF-16 units. The text is taken to be valid UTF-8 (a JSON parser
// or the host checked it); other bytes give some character, never a read past
// the end.
std::u16string utf8_to_utf16(const std::string& text);

// The first character of `text` the watch cannot store in a path, waypoint or
// view name (it stores ASCII and 22 accented letters); nothing when all fit.
std::optional<std::string> first_unstorable_character(const std::string& text);

}  // namespace stridelog::hostkit
