// The directory sector (flash sector 0) as the watch stores it. Pure functions
// over its bytes: no window, link or clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace stridelog::watchdata {

inline constexpr std::size_t kSectorSize = 4096;
inline constexpr std::size_t kSectorCount = 256;
// The long version text: dotted numbers, an underscore, the firmware code,
// zero-terminated unless it fills the field.
inline constexpr std::size_t kLongVersionOffset = 96;
inline constexpr std::size_t kLongVersionSize = 16;
inline constexpr std::uint8_t kErasedByte = 0xFF;
// What the host is given for a long version field that was never written.
inline constexpr char kErasedLongVersionText[] = "<FF>";

// The long version text of a directory image: the bytes of the field up to the
// first zero, or "<FF>" when the field's first byte is erased. An image too
// short to hold the field gives "<FF>" too (nothing was read there).
std::string long_version_text(std::span<const std::uint8_t> directory);

}  // namespace stridelog::watchdata
