// The directory formats over arbitrary sector bytes: nothing may read past the
// image, whatever its size or content.
#include <cstddef>
#include <cstdint>
#include <span>

#include "watchdata/directory_image.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto text = stridelog::watchdata::long_version_text(std::span(data, size));
    if (text.size() > stridelog::watchdata::kLongVersionSize) __builtin_trap();
    return 0;
}
