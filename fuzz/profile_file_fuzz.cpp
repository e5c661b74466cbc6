// The profile reader over arbitrary files (description, release notes,
// settings of a firmware download): every section listed can be read, no
// value is longer than a read returns, and numbered lines stop.
#include <string>
#include <string_view>

#include "fuzz_target.hpp"
#include "update/profile_file.hpp"

using namespace stridelog::update;
using stridelog::fuzz::check;

namespace {

// A lower bound of the UTF-16 units the reader makes of UTF-8 text: a
// four-byte sequence is a surrogate pair, any other sequence one unit, and a
// sequence cut short (with the continuation bytes it has) one replacement.
std::size_t utf16_units(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                                   : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xC2 && lead <= 0xDF ? 2
                                                                  : 1;
        std::size_t run = 1;
        while (run < length && i + run < text.size() && (text[i + run] & 0xC0) == 0x80) ++run;
        units += run == 4 ? 2 : 1;
        i += run;
    }
    return units;
}

}  // namespace

FUZZ_TARGET(input) {
    const auto profile =
        ProfileFile::parse({reinterpret_cast<const char*>(input.data()), input.size()});
    for (const auto& section : profile.section_names()) {
        for (const char* key : {"0", "1", "Version", "File", "x"}) {
            const auto value = profile.value(section, key);
            check(!value || (!value->empty() && utf16_units(*value) <= kProfileValueLimit));
        }
        std::vector<std::string> lines;
        profile.append_numbered_lines(section, lines);
        for (const auto& line : lines) check(line.starts_with("- "));
    }
}
