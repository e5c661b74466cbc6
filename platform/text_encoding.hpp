// UTF-8 <-> UTF-16 conversion for registry strings and the SDK's text helpers.
// UTF-8 stands in for the 8-bit code page. Malformed input never fails: each
// malformed piece becomes the replacement given by the caller.
//
// Threads: pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace stridelog::platform {

// A lone surrogate becomes `replacement` (already UTF-8).
std::string utf16_to_utf8(std::u16string_view text, std::string_view replacement = "\xEF\xBF\xBD");
// Each maximal malformed subsequence (bad lead byte, truncated or overlong
// sequence, encoded surrogate, value above U+10FFFF) becomes `replacement`.
std::u16string utf8_to_utf16(std::string_view text, char16_t replacement = u'\uFFFD');

}  // namespace stridelog::platform
