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

// UTF-16 units of UTF-8 text (a four-byte sequence is a surrogate pair).
std::size_t Utf16Units(std::string_view text) {
    std::size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++units;
        if (c >= 0xF0) ++units;
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
            if (value && (value->empty() || Utf16Units(*value) > up::kProfileValueLimit))
                __builtin_trap();
        }
        std::vector<std::string> lines;
        profile.append_numbered_lines(section, lines);
        for (const auto& line : lines)
            if (line.rfind("- ", 0) != 0) __builtin_trap();
    }
    return 0;
}
