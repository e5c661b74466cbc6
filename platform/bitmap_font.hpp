// The built-in 6x8 bitmap font: printable ASCII, 5x7 glyphs in a 6x8 cell.
#pragma once

#include <array>
#include <cstdint>

namespace stridelog::platform {

// Five columns, left to right; bit 0 of each byte is the top row. Bytes outside
// printable ASCII get the glyph of '?'.
const std::array<std::uint8_t, 5>& glyph_columns(unsigned char c);

}  // namespace stridelog::platform
