// Firmware update files as an update server would offer them: the checksum,
// each image variant against the three checks a host makes, and the folder of
// description, history, settings and image.
#include "sim/firmware_image.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace stridelog::sim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FirmwareChecksum, KnownValuesAndTheSkippedField) {
    Bytes header_sized(112);
    for (std::size_t i = 0; i < header_sized.size(); ++i)
        header_sized[i] = static_cast<std::uint8_t>(i * 37);
    const Bytes first_108(header_sized.begin(), header_sized.begin() + 108);
    Bytes with_tail = header_sized;
    with_tail.push_back(0x5C);
    struct Row {
        const char* legend;
        Bytes input;
        std::uint32_t expected;
    };
    const std::vector<Row> rows = {
        {"empty input: the start value", {}, 0x5AA53968},
        {"abc", {'a', 'b', 'c'}, 0x683BC75A},
        {"one zero byte: the start value rotated", {0x00}, 0xA539685A},
        {"bytes 108..111 are not summed", header_sized, firmware_file_checksum(first_108)},
        {"byte 112 is summed again", with_tail,
         ((firmware_file_checksum(first_108) << 8) | (firmware_file_checksum(first_108) >> 24)) ^
             0x5C},
    };
    for (const Row& row : rows)
        EXPECT_EQ(firmware_file_checksum(row.input), row.expected) << row.legend;
}

// The three checks a host makes of a downloaded image, written out from the
// file format so the generator's variants can be judged one by one.
struct Checks {
    bool size_ok;
    bool header_ok;
    bool checksum_ok;
    std::string header_text;
};
Checks check_like_a_host(const Bytes& file) {
    Checks c{};
    c.size_ok = file.size() == 131328 || file.size() == 151808;
    for (std::size_t i = 0; i + 1 < std::min<std::size_t>(file.size(), 108); i += 2) {
        const unsigned ch = file[i] | file[i + 1] << 8;
        if (ch == 0) break;
        c.header_text += static_cast<char>(ch);
    }
    std::string lower = c.header_text;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    c.header_ok = lower.size() == 28 && lower.rfind("<<watch firmware header v1.", 0) == 0 &&
                  lower[27] >= '0' && lower[27] <= '3';
    if (file.size() >= 112) {
        const std::uint32_t stored = file[108] | file[109] << 8 | file[110] << 16 |
                                     static_cast<std::uint32_t>(file[111]) << 24;
        c.checksum_ok = stored == firmware_file_checksum(file);
    }
    return c;
}

TEST(FirmwareImage, EachVariantPassesOrFailsExactlyItsCheck) {
    struct Row {
        const char* legend;
        FirmwareOptions options;
        std::size_t size;
        bool size_ok, header_ok, checksum_ok;
        const char* header_text;
    };
    auto image = [](FirmwareHeader h, FirmwareDamage d = FirmwareDamage::none) {
        FirmwareOptions s;
        s.header = h;
        s.damage = d;
        return s;
    };
    FirmwareOptions upper = image(FirmwareHeader::v1_2);
    upper.upper_case_header = true;
    FirmwareOptions v10_long = image(FirmwareHeader::v1_0);
    v10_long.file_size = 151808;
    FirmwareOptions v11_short = image(FirmwareHeader::v1_1);
    v11_short.file_size = 131328;
    using D = FirmwareDamage;
    using H = FirmwareHeader;
    const std::vector<Row> rows = {
        {"v1.0", image(H::v1_0), 131328, true, true, true, "<<Watch Firmware Header v1.0"},
        {"v1.1", image(H::v1_1), 151808, true, true, true, "<<Watch Firmware Header v1.1"},
        {"v1.2", image(H::v1_2), 151808, true, true, true, "<<Watch Firmware Header v1.2"},
        {"v1.3", image(H::v1_3), 151808, true, true, true, "<<Watch Firmware Header v1.3"},
        {"v1.2 in capitals", upper, 151808, true, true, true, "<<WATCH FIRMWARE HEADER V1.2"},
        {"v1.0 header in a long file", v10_long, 151808, true, true, true,
         "<<Watch Firmware Header v1.0"},
        {"v1.1 header in a short file", v11_short, 131328, true, true, true,
         "<<Watch Firmware Header v1.1"},
        {"one byte too many", image(H::v1_0, D::wrong_size), 131329, false, true, true,
         "<<Watch Firmware Header v1.0"},
        {"one byte too many, long", image(H::v1_3, D::wrong_size), 151809, false, true, true,
         "<<Watch Firmware Header v1.3"},
        {"unknown header", image(H::v1_1, D::wrong_header), 151808, true, false, true,
         "<<Watch Firmware Header v1.4"},
        {"checksum off", image(H::v1_1, D::wrong_checksum), 151808, true, true, false,
         "<<Watch Firmware Header v1.1"},
        {"body byte changed", image(H::v1_0, D::body_byte), 131328, true, true, false,
         "<<Watch Firmware Header v1.0"},
        {"cut short", image(H::v1_1, D::short_file), 256 + 0x10000, false, true, false,
         "<<Watch Firmware Header v1.1"},
    };
    const Bytes body = make_firmware_body("1.32.01_VUNA0_00", 1);
    for (const Row& row : rows) {
        const Bytes file = make_firmware_file(row.options);
        const Checks c = check_like_a_host(file);
        EXPECT_EQ(file.size(), row.size) << row.legend;
        EXPECT_EQ(c.size_ok, row.size_ok) << row.legend;
        EXPECT_EQ(c.header_ok, row.header_ok) << row.legend;
        EXPECT_EQ(c.checksum_ok, row.checksum_ok) << row.legend;
        EXPECT_EQ(c.header_text, row.header_text) << row.legend;
        // Whatever is broken, the body bytes up to the file's end are the body's,
        // except the one byte changed on purpose.
        const std::size_t compared = std::min(file.size() - 256, body.size());
        const auto mismatch = std::mismatch(
            body.begin(), body.begin() + static_cast<std::ptrdiff_t>(compared), file.begin() + 256);
        const std::size_t first_difference =
            static_cast<std::size_t>(mismatch.first - body.begin());
        EXPECT_EQ(first_difference,
                  row.options.damage == FirmwareDamage::body_byte ? 0x3000u : compared)
            << row.legend;
    }
}

TEST(FirmwareImage, TheProgramImageCarriesItsVersion) {
    const Bytes body = make_firmware_body("1.32.01_VUNA0_00", 7);
    ASSERT_EQ(body.size(), 0x25000u);
    const std::string record(body.begin() + 0x2100, body.begin() + 0x2100 + 24);
    EXPECT_EQ(record, std::string("SLFWVER11.32.01_VUNA0_00", 24));
    EXPECT_NE(make_firmware_body("1.32.01_VUNA0_00", 8), body) << "the seed changes the content";
}

TEST(FirmwareFolderFiles, NamesAndContentsAHostLooksFor) {
    struct Row {
        const char* legend;
        FirmwareFolder folder;
        const char* description_name;
        std::string description;
        const char* history_name;  // empty: none
        const char* settings_name;
        std::string settings;
        const char* firmware_name;
    };
    FirmwareFolder plain;
    FirmwareFolder old_family;
    old_family.firmware.version = "1.25.00_VUNA0_00";
    old_family.firmware.header = FirmwareHeader::v1_0;
    old_family.with_history = false;
    old_family.settings = {0, 3, 7, 50};
    FirmwareFolder bin;
    bin.extension = "bin";
    bin.model = "70000";
    bin.with_settings = false;
    bin.history = {{"1.31.01", {"a"}}, {"1.31.03", {"b", "c"}}};
    const std::vector<Row> rows = {
        {"1.32.01, long image", plain, "73688_VUNA0_00.txt",
         "[Method1]\r\n0=1.32.01_VUNA0_00.fw2,151808\r\nHistory=73688_VUNA0_00_history.txt\r\n",
         "73688_VUNA0_00_history.txt", "1.32.01_VUNA0_00.ini",
         "[Stride Log 73521]\r\nTimeFormat=1\r\nUnitFormat=0\r\nLanguage=2\r\nTimezone=45\r\n",
         "1.32.01_VUNA0_00.fw2"},
        {"1.25.00, short image, no history", old_family, "73521_VUNA0_00.txt",
         "[Method1]\r\n0=1.25.00_VUNA0_00.fw2,131328\r\n", "", "1.25.00_VUNA0_00.ini",
         "[Stride Log 73521]\r\nTimeFormat=0\r\nUnitFormat=3\r\nLanguage=7\r\nTimezone=50\r\n",
         "1.25.00_VUNA0_00.fw2"},
        {"other extension and model, no settings", bin, "70000_VUNA0_00.txt",
         "[Method1]\r\n0=1.32.01_VUNA0_00.bin,151808\r\nHistory=70000_VUNA0_00_history.txt\r\n",
         "70000_VUNA0_00_history.txt", "", "", "1.32.01_VUNA0_00.bin"},
    };
    for (const Row& row : rows) {
        const fs::path dir =
            fs::temp_directory_path() / ("fw_folder_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        WrittenFirmwareFolder written;
        std::string error;
        ASSERT_TRUE(write_firmware_folder(dir.string(), row.folder, &written, &error)) << error;
        EXPECT_EQ(written.description, row.description_name) << row.legend;
        EXPECT_EQ(slurp(dir / row.description_name), row.description) << row.legend;
        EXPECT_EQ(written.history, row.history_name) << row.legend;
        EXPECT_EQ(written.settings, row.settings_name) << row.legend;
        if (!row.settings.empty()) {
            EXPECT_EQ(slurp(dir / row.settings_name), row.settings) << row.legend;
        }
        EXPECT_EQ(written.firmware, row.firmware_name) << row.legend;
        const std::string image = slurp(dir / row.firmware_name);
        EXPECT_EQ(image.size(), written.firmware_size) << row.legend;
        EXPECT_TRUE(check_like_a_host(Bytes(image.begin(), image.end())).checksum_ok) << row.legend;
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++files;
        EXPECT_EQ(files, 2u + (row.history_name[0] != 0) + (row.settings_name[0] != 0))
            << row.legend;
        fs::remove_all(dir);
    }
    // The history lists the sections in order, notes numbered from 0.
    const fs::path dir = fs::temp_directory_path() / ("fw_history_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    WrittenFirmwareFolder written;
    ASSERT_TRUE(write_firmware_folder(dir.string(), bin, &written, nullptr));
    EXPECT_EQ(slurp(dir / written.history),
              "[1.31.01]\r\n0=a\r\n\r\n[1.31.03]\r\n0=b\r\n1=c\r\n\r\n");
    fs::remove_all(dir);
}

TEST(FirmwareFolderFiles, ModelNumberFollowsTheVersion) {
    struct Row {
        const char* version;
        const char* model;
    };
    const std::vector<Row> rows = {
        {"1.31.02_VUNA0_00", "73688"}, {"1.25.00_VUNA0_00", "73521"}, {"1.45.00_VUNA0_00", "73521"},
        {"1.3.00_VUNA0_00", "73688"},  {"1.39.09_VUNA0_00", "73688"}, {"1.4.00_VUNA0_00", "73521"},
        {"1.40.00_VUNA0_00", "73521"}, {"2.31.00_VUNA0_00", "73521"},
    };
    for (const Row& row : rows) EXPECT_EQ(model_for_version(row.version), row.model) << row.version;
}

}  // namespace
}  // namespace stridelog::sim
