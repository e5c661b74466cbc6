// Firmware images as an update server would offer them, judged by the host's
// own file check. The folders around them, and the variants the firmware task
// refuses, are read through the SDK by the firmware task's tests.
#include "sim/firmware_image.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/golden.hpp"
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

// Each variant: its size, what the host's check finds, its header text, where
// its body first parts from the body made (its end if nowhere) and whether the
// stored checksum is right in the host's eyes.
TEST(FirmwareImage, EachVariantFailsExactlyItsCheck) {
    using D = FirmwareDamage;
    using H = FirmwareHeader;
    const std::tuple<const char*, H, D, std::optional<std::size_t>> rows[] = {
        {"v1.0", H::v1_0, D::none, {}},
        {"v1.1", H::v1_1, D::none, {}},
        {"v1.2", H::v1_2, D::none, {}},
        {"v1.3", H::v1_3, D::none, {}},
        {"v1.1 header in a short file", H::v1_1, D::none, 131328},
        {"one byte too many", H::v1_0, D::wrong_size, {}},
        {"unknown header", H::v1_1, D::wrong_header, {}},
        {"body byte changed", H::v1_0, D::body_byte, {}},
        {"cut short", H::v1_1, D::short_file, {}},
    };
    const char* faults[] = {"none", "bad size", "bad header", "no language block", "bad checksum"};
    const Bytes body = make_firmware_body("1.32.01_VUNA0_00", 1);
    std::string text;
    for (const auto& [legend, header, damage, size] : rows) {
        FirmwareOptions options;
        options.header = header;
        options.damage = damage;
        options.file_size = size;
        const Bytes file = make_firmware_file(options);
        const std::size_t compared = std::min(file.size() - 256, body.size());
        const auto first_difference =
            std::mismatch(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(compared),
                          file.begin() + 256)
                .first -
            body.begin();
        const std::uint32_t stored = file[108] | file[109] << 8 | file[110] << 16 |
                                     static_cast<std::uint32_t>(file[111]) << 24;
        text += std::string(legend) + ": " + std::to_string(file.size()) + " bytes, " +
                faults[static_cast<int>(update::check_firmware_file(file).fault)] + ", \"" +
                header_text(file) + "\", body to " + std::to_string(first_difference) +
                (stored == update::firmware_file_checksum(file) ? ", checksum right\n"
                                                                : ", checksum wrong\n");
    }
    test::expect_golden("sim/firmware_images", text);
}

}  // namespace
}  // namespace stridelog::sim
