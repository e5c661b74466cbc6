// Firmware update files as an update server would offer them, judged by the
// host's own file check: each image variant, the program image's version
// record, and the folder of description, history, settings and image.
#include "sim/firmware_image.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "update/firmware_image.hpp"

namespace stridelog::sim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using update::ImageFault;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
        {"v1.0 header in a long file", image(H::v1_0, D::none, 151808), 151808, ImageFault::none,
         v10},
        {"v1.1 header in a short file", image(H::v1_1, D::none, 131328), 131328,
         ImageFault::no_language_block, v11},
        {"one byte too many", image(H::v1_0, D::wrong_size), 131329, ImageFault::bad_size, v10},
        {"unknown header", image(H::v1_1, D::wrong_header), 151808, ImageFault::bad_header,
         "<<Watch Firmware Header v1.4"},
        {"checksum off", image(H::v1_1, D::wrong_checksum), 151808, ImageFault::bad_checksum, v11},
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

TEST(FirmwareFolderFiles, NamesAndContentsAHostLooksFor) {
    FirmwareFolder plain, old_family, bin;
    old_family.firmware.version = "1.25.00_VUNA0_00";
    old_family.firmware.header = FirmwareHeader::v1_0;
    old_family.with_history = false;
    old_family.settings = {0, 3, 7, 50};
    bin.extension = "bin";
    bin.model = "70000";
    bin.with_settings = false;
    bin.history = {{"1.31.01", {"a"}}, {"1.31.03", {"b", "c"}}};
    const struct {
        const char* legend;
        FirmwareFolder folder;
        std::vector<std::pair<std::string, std::string>> files;  // name, content ("": any)
    } rows[] = {
        {"1.32.01, long image",
         plain,
         {{"73688_VUNA0_00.txt",
           "[Method1]\r\n0=1.32.01_VUNA0_00.fw2,151808\r\nHistory=73688_VUNA0_00_history.txt\r\n"},
          {"73688_VUNA0_00_history.txt", ""},
          {"1.32.01_VUNA0_00.ini",
           "[Stride Log 73521]\r\nTimeFormat=1\r\nUnitFormat=0\r\nLanguage=2\r\nTimezone=45\r\n"},
          {"1.32.01_VUNA0_00.fw2", ""}}},
        {"1.25.00, short image, no history",
         old_family,
         {{"73521_VUNA0_00.txt", "[Method1]\r\n0=1.25.00_VUNA0_00.fw2,131328\r\n"},
          {"1.25.00_VUNA0_00.ini",
           "[Stride Log 73521]\r\nTimeFormat=0\r\nUnitFormat=3\r\nLanguage=7\r\nTimezone=50\r\n"},
          {"1.25.00_VUNA0_00.fw2", ""}}},
        {"other extension and model, no settings; the history in order, notes from 0",
         bin,
         {{"70000_VUNA0_00.txt",
           "[Method1]\r\n0=1.32.01_VUNA0_00.bin,151808\r\nHistory=70000_VUNA0_00_history.txt\r\n"},
          {"70000_VUNA0_00_history.txt", "[1.31.01]\r\n0=a\r\n\r\n[1.31.03]\r\n0=b\r\n1=c\r\n\r\n"},
          {"1.32.01_VUNA0_00.bin", ""}}},
    };
    const fs::path dir = fs::temp_directory_path() / ("fw_folder_" + std::to_string(::getpid()));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        fs::remove_all(dir);
        fs::create_directories(dir);
        WrittenFirmwareFolder written;
        std::string error;
        ASSERT_TRUE(write_firmware_folder(dir.string(), row.folder, &written, &error)) << error;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::vector<std::string> expected_names;
        for (const auto& [name, content] : row.files) {
            expected_names.push_back(name);
            if (!content.empty()) {
                EXPECT_EQ(slurp(dir / name), content) << name;
            }
        }
        std::sort(names.begin(), names.end());
        std::sort(expected_names.begin(), expected_names.end());
        EXPECT_EQ(names, expected_names);
        EXPECT_EQ((std::vector<std::string>{written.description, written.history, written.settings,
                                            written.firmware}),
                  (std::vector<std::string>{
                      row.files[0].first, row.folder.with_history ? row.files[1].first : "",
                      row.folder.with_settings ? row.files[row.files.size() - 2].first : "",
                      row.files.back().first}));
        const std::string image = slurp(dir / written.firmware);
        EXPECT_EQ(image.size(), written.firmware_size);
        EXPECT_EQ(update::check_firmware_file(Bytes(image.begin(), image.end())).fault,
                  ImageFault::none);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace stridelog::sim
