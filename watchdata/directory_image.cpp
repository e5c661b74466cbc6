#include "watchdata/directory_image.hpp"

#include <algorithm>

namespace stridelog::watchdata {

std::string long_version_text(std::span<const std::uint8_t> directory) {
    if (directory.size() < kLongVersionOffset + kLongVersionSize ||
        directory[kLongVersionOffset] == kErasedByte)
        return kErasedLongVersionText;
    const auto field = directory.subspan(kLongVersionOffset, kLongVersionSize);
    return std::string(field.begin(), std::find(field.begin(), field.end(), std::uint8_t{0}));
}

}  // namespace stridelog::watchdata
