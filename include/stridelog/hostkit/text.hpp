/**
 * @file stridelog/hostkit/text.hpp
 * @brief The texts of the notification blocks and of the records a host hands
 * to the SDK: names are UTF-16LE there, UTF-8 in the host kit's records.
 *
 * @par Threads
 * No shared state; any thread may call anything here.
 */
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace stridelog::hostkit {

/**
 * @brief Converts UTF-16 to UTF-8, stopping at the first zero unit.
 * @param units the UTF-16 code units; a lone surrogate becomes U+FFFD
 * @return the text as UTF-8
 */
std::string utf16_to_utf8(std::span<const char16_t> units);

/**
 * @brief Converts UTF-16LE bytes to UTF-8, as utf16_to_utf8() does.
 * @param bytes the bytes, two per unit, low byte first; an odd last byte is ignored
 * @return the text as UTF-8, up to the first zero unit
 */
std::string utf16le_to_utf8(std::span<const std::uint8_t> bytes);

/**
 * @brief Converts UTF-8 to UTF-16 units (surrogate pairs above U+FFFF).
 * @param text valid UTF-8 (a JSON parser or the host checked it); other bytes
 *        give some character, never a read past the end
 * @return the UTF-16 code units, without terminator
 */
std::u16string utf8_to_utf16(const std::string& text);

/**
 * @brief Finds the first character the watch cannot store in a path, waypoint
 * or view name.
 *
 * The watch stores ASCII and 22 accented letters: àáâä èéêë ìíîï òóôö ùúûü ç ñ.
 * @param text the name, UTF-8
 * @return that character as UTF-8; nothing when every character can be stored
 */
std::optional<std::string> first_unstorable_character(const std::string& text);

}  // namespace stridelog::hostkit
