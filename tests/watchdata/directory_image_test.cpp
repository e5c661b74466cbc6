// The long version text as read from any directory image, including images
// no watch would send.
#include "watchdata/directory_image.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stridelog::watchdata {
namespace {

std::vector<std::uint8_t> image_bytes(std::string_view field, std::size_t size = kSectorSize) {
    std::vector<std::uint8_t> image(size, 0xAA);
    for (std::size_t i = 0; i < field.size() && kLongVersionOffset + i < size; ++i)
        image[kLongVersionOffset + i] = static_cast<std::uint8_t>(field[i]);
    return image;
}

TEST(DirectoryImageTest, LongVersionText) {
    struct Case {
        const char* legend;
        std::vector<std::uint8_t> image;
        std::string text;
    };
    const Case cases[] = {
        {"ends at the first zero", image_bytes(std::string("1.2_X\0Y", 7)), "1.2_X"},
        {"a field without a zero stops at 16 bytes, not at the next field",
         image_bytes("0123456789ABCDEF"), "0123456789ABCDEF"},
        {"zero first: an empty text", image_bytes(std::string("\0", 1)), ""},
        {"erased first byte", image_bytes("\xFF"), "<FF>"},
        {"0xFF later is kept as a byte", image_bytes("1\xFF"),
         std::string("1\xFF") + "\xAA\xAA\xAA"
                                "\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA"},
        {"an image too short to hold the field", image_bytes("1.30", 100), "<FF>"},
        {"an image ending inside the field", image_bytes("1.30", 111), "<FF>"},
        {"exactly long enough", image_bytes("1.30", 112),
         std::string("1.30") + std::string(12, '\xAA')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(long_version_text(c.image), c.text);
    }
}

}  // namespace
}  // namespace stridelog::watchdata
