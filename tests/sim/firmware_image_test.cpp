// Firmware images as an update server would offer them, judged by the host's
// own file check. The folders around them, and the variants the firmware task
// refuses, are read through the SDK by the firmware task's tests.
#include "sim/firmware_image.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "update/firmware_image.hpp"

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using update::ImageFault;

// The header as wide characters up to the first NUL.
std::string header_text(const Bytes& file) {
    std::string text;
    for (std::size_t i = 0; i + 1 < 108 && (file[i] | file[i + 1]) != 0; i += 2)
        text += static_cast<char>(file[i]);
    return text;
}

TEST(FirmwareImage, EachVariantFailsExactlyItsCheck) {
    using D = FirmwareDamage;
    using H = FirmwareHeader;
    auto image = [](H h, D d = D::none, std::optional<std::size_t> size = {}) {
        FirmwareOptions s;
        s.header = h;
        s.damage = d;
        s.file_size = size;
        return s;
    };
    const char* v10 = "<<Watch Firmware Header v1.0";
    const char* v11 = "<<Watch Firmware Header v1.1";
    const struct {
        const char* legend;
        FirmwareOptions options;
        std::size_t size;
        ImageFault fault;
        const char* header_text;
    } rows[] = {
        {"v1.0", image(H::v1_0), 131328, ImageFault::none, v10},
        {"v1.1", image(H::v1_1), 151808, ImageFault::none, v11},
        {"v1.2", image(H::v1_2), 151808, ImageFault::none, "<<Watch Firmware Header v1.2"},
        {"v1.3", image(H::v1_3), 151808, ImageFault::none, "<<Watch Firmware Header v1.3"},
        {"v1.1 header in a short file", image(H::v1_1, D::none, 131328), 131328,
         ImageFault::no_language_block, v11},
        {"one byte too many", image(H::v1_0, D::wrong_size), 131329, ImageFault::bad_size, v10},
        {"unknown header", image(H::v1_1, D::wrong_header), 151808, ImageFault::bad_header,
         "<<Watch Firmware Header v1.4"},
        {"body byte changed", image(H::v1_0, D::body_byte), 131328, ImageFault::bad_checksum, v10},
        {"cut short", image(H::v1_1, D::short_file), 256 + 0x10000, ImageFault::bad_size, v11},
    };
    const Bytes body = make_firmware_body("1.32.01_VUNA0_00", 1);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        const Bytes file = make_firmware_file(row.options);
        EXPECT_EQ(file.size(), row.size);
        EXPECT_EQ(update::check_firmware_file(file).fault, row.fault);
        EXPECT_EQ(header_text(file), row.header_text);
        // Whatever is broken, the body bytes up to the file's end are the body's,
        // except the one byte changed on purpose.
        const std::size_t compared = std::min(file.size() - 256, body.size());
        const auto first_difference = static_cast<std::size_t>(
            std::mismatch(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(compared),
                          file.begin() + 256)
                .first -
            body.begin());
        EXPECT_EQ(first_difference, row.options.damage == D::body_byte ? 0x3000u : compared);
        // A file that passes carries a right checksum in the host's eyes, even
        // where another check fails first.
        if (row.options.damage != D::wrong_checksum && row.options.damage != D::body_byte &&
            row.options.damage != D::short_file) {
            EXPECT_EQ(file[108] | file[109] << 8 | file[110] << 16 |
                          static_cast<std::uint32_t>(file[111]) << 24,
                      update::firmware_file_checksum(file));
        }
    }
}

}  // namespace
}  // namespace stridelog::sim
