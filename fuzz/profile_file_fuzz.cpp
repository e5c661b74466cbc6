// The profile reader over arbitrary files (description, release notes,
// settings of a firmware download): every section listed can be read, no
// value is longer than a read returns, and numbered lines stop.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update/profile_file.hpp"

namespace up = stridelog::update;

namespace {

// A lower bound of the UTF-16 units the reader makes of UTF-8 text: a
// four-byte sequence is a surrogate pair, any other sequence one unit, and a
// sequence cut short (with the continuation bytes it has) at least one
// replacement unit.
std::size_t utf16_units(std::string_view text) {
    std::size_t units = 0;
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < text.size()) {
        const unsigned char lead = byte(i);
        std::size_t length = 1;
        if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        if (lead >= 0xE0 && lead <= 0xEF) length = 3;
        if (lead >= 0xF0 && lead <= 0xF4) length = 4;
        // The lead and the continuation bytes that follow it, up to its length.
        std::size_t run = 1;
        while (run < length && i + run < text.size() && (byte(i + run) & 0xC0) == 0x80) ++run;
        // Whole: one character; cut short: one replacement for all of it.
        units += run == 4 ? 2 : 1;
        i += run;
    }
    return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const auto profile = up::ProfileFile::parse(content);
    const auto sections = profile.section_names();
    for (const auto& section : sections) {
        for (const char* key : {"0", "1", "Version", "File", "x"}) {
            const auto value = profile.value(section, key);
            if (value && (value->empty() || utf16_units(*value) > up::kProfileValueLimit))
                __builtin_trap();
        }
        std::vector<std::string> lines;
        profile.append_numbered_lines(section, lines);
        for (const auto& line : lines)
            if (line.rfind("- ", 0) != 0) __builtin_trap();
    }
    return 0;
}
