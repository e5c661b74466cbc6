// What a firmware update reads from the settings file into sector 255, and what
// it restores into the directory sector. The rest of sector 255 (the pairing,
// the bytes kept) the update's own test pins byte for byte.
#include "update/firmware_settings.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::update {
namespace {

using Sector = std::array<std::uint8_t, 4096>;

Sector patterned(std::uint8_t seed) {
    Sector bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
    return bytes;
}

// Each settings file (none at all first), the values read and sector 255's
// bytes 0 to 2 are a block of the golden file.
TEST(FirmwareSettings, FileToSectorBytes) {
    test::TestEnvironment env;
    const std::string s = "[Stride Log 73521]\n";
    const std::optional<std::string> files[] = {
        std::nullopt,
        s + "Timezone=45\n",
        s + "TimeFormat=1\nUnitFormat=3\nLanguage=7\nTimezone=50\n",  // all out of range
        "[stride log 73521]\nunitformat=1\nLanguage=4\nTimezone=49\n",
        s + "TimeFormat=-1\nLanguage=0\nTimezone=0\n",
        s + "Language=-1\nTimezone=-1\n",
        s + "Timezone=\nLanguage=\n",
        s + "Timezone=12h\nLanguage=x\n",
        "[Stride Log 73688]\nTimezone=45\nLanguage=2\n",
        ""};
    std::string out;
    for (const auto& file : files) {
        const auto path = file ? env.write_file("settings.ini", *file) : env.root() / "no.ini";
        CustomerSettings v{9, 9, 9, 9};
        const int read = read_firmware_settings(path, &v);
        Sector sector = patterned(7);
        build_customer_settings_sector(v, patterned(100), sector);
        out += "== " + file.value_or("no file\n") + "read " + std::to_string(read) + ": time " +
               std::to_string(v.time_format) + ", units " + std::to_string(v.unit_format) +
               ", language " + std::to_string(v.language) + ", timezone " +
               std::to_string(v.timezone) + " -> " + test::bytes_text(std::span(sector).first(3)) +
               "\n";
    }
    test::expect_golden("update/firmware_settings", out);
    EXPECT_EQ(read_firmware_settings(env.root() / "no.ini", nullptr), 0);
}

TEST(FirmwareSettings, DirectoryRestore) {
    const Sector backup = patterned(1);
    const Sector watch = patterned(200);
    Sector directory = watch;
    restore_directory(backup, directory);
    const std::pair<std::size_t, std::size_t> restored[] = {
        {0, 96}, {1280, 1290}, {1536, 1856}, {2304, 2354}};
    for (std::size_t i = 0; i < directory.size(); ++i) {
        const bool from_backup = std::any_of(std::begin(restored), std::end(restored),
                                             [&](auto r) { return i >= r.first && i < r.second; });
        ASSERT_EQ(directory[i], from_backup ? backup[i] : watch[i]) << "byte " << i;
    }
}

}  // namespace
}  // namespace stridelog::update
