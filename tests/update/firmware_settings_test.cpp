// What a firmware update reads from the settings file into sector 255, and what
// it restores into the directory sector. The rest of sector 255 (the pairing,
// the bytes kept) the update's own test pins byte for byte.
#include "update/firmware_settings.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

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

TEST(FirmwareSettings, FileToSectorBytes) {
    test::TestEnvironment env;
    const std::string s = "[Stride Log 73521]\n";
    const struct {
        const char* legend;
        std::optional<std::string> file;  // nullopt: no settings file at all
        CustomerSettings read;
        std::array<std::uint8_t, 3> bytes;  // sector 255 bytes 0 .. 2
    } cases[] = {
        {"no settings file", std::nullopt, {0, 0, 0, 40}, {0x80, 0, 40}},
        {"only the timezone", s + "Timezone=45\n", {0, 0, 0, 45}, {0x80, 0, 45}},
        {"every field out of range",
         s + "TimeFormat=1\nUnitFormat=3\nLanguage=7\nTimezone=50\n",
         {1, 3, 7, 50},
         {0x83, 0, 40}},
        {"top of each range",
         "[stride log 73521]\nunitformat=1\nLanguage=4\nTimezone=49\n",
         {0, 1, 4, 49},
         {0x82, 4, 49}},
        {"bottom of each range",
         s + "TimeFormat=-1\nLanguage=0\nTimezone=0\n",
         {-1, 0, 0, 0},
         {0x81, 0, 0}},
        {"negative language and timezone",
         s + "Language=-1\nTimezone=-1\n",
         {0, 0, -1, -1},
         {0x80, 0, 40}},
        {"empty values take the defaults",
         s + "Timezone=\nLanguage=\n",
         {0, 0, 0, 40},
         {0x80, 0, 40}},
        {"text converts to its leading number",
         s + "Timezone=12h\nLanguage=x\n",
         {0, 0, 0, 12},
         {0x80, 0, 12}},
        {"other section",
         "[Stride Log 73688]\nTimezone=45\nLanguage=2\n",
         {0, 0, 0, 40},
         {0x80, 0, 40}},
        {"empty file", "", {0, 0, 0, 40}, {0x80, 0, 40}},
    };
    for (const auto& c : cases) {
        const auto path = c.file ? env.write_file("settings.ini", *c.file) : env.root() / "no.ini";
        CustomerSettings settings{9, 9, 9, 9};
        EXPECT_EQ(read_firmware_settings(path, &settings), 1) << c.legend;
        EXPECT_EQ(settings, c.read) << c.legend;
        Sector sector = patterned(7);
        build_customer_settings_sector(settings, patterned(100), sector);
        EXPECT_EQ((std::array{sector[0], sector[1], sector[2]}), c.bytes) << c.legend;
    }
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
