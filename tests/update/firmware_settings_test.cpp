// What a firmware update writes to sector 255 and restores into the directory
// sector, byte for byte.
#include "update/firmware_settings.hpp"

#include <gtest/gtest.h>

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
    const struct {
        const char* legend;
        std::optional<std::string> file;  // nullopt: no settings file at all
        CustomerSettings read;
        std::array<std::uint8_t, 3> bytes;  // sector 255 bytes 0 .. 2
    } cases[] = {
        {"no settings file", std::nullopt, {0, 0, 0, 40}, {0x80, 0, 40}},
        {"only the timezone", "[Stride Log 73521]\nTimezone=45\n", {0, 0, 0, 45}, {0x80, 0, 45}},
        {"every field out of range",
         "[Stride Log 73521]\nTimeFormat=1\nUnitFormat=3\nLanguage=7\nTimezone=50\n",
         {1, 3, 7, 50},
         {0x83, 0, 40}},
        {"top of each range",
         "[stride log 73521]\nunitformat=1\nLanguage=4\nTimezone=49\n",
         {0, 1, 4, 49},
         {0x82, 4, 49}},
        {"bottom of each range",
         "[Stride Log 73521]\nTimeFormat=-1\nLanguage=0\nTimezone=0\n",
         {-1, 0, 0, 0},
         {0x81, 0, 0}},
        {"negative language and timezone",
         "[Stride Log 73521]\nLanguage=-1\nTimezone=-1\n",
         {0, 0, -1, -1},
         {0x80, 0, 40}},
        {"empty values take the defaults",
         "[Stride Log 73521]\nTimezone=\nLanguage=\n",
         {0, 0, 0, 40},
         {0x80, 0, 40}},
        {"text converts to its leading number",
         "[Stride Log 73521]\nTimezone=12h\nLanguage=x\n",
         {0, 0, 0, 12},
         {0x80, 0, 12}},
        {"other section",
         "[Stride Log 73688]\nTimezone=45\nLanguage=2\n",
         {0, 0, 0, 40},
         {0x80, 0, 40}},
        {"empty file", "", {0, 0, 0, 40}, {0x80, 0, 40}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const auto path = c.file
                              ? env.write_file("settings" + std::to_string(n++) + ".ini", *c.file)
                              : env.root() / "absent.ini";
        CustomerSettings settings{9, 9, 9, 9};
        EXPECT_EQ(read_firmware_settings(path, &settings), 1) << c.legend;
        EXPECT_EQ(settings, c.read) << c.legend;

        Sector sector = patterned(7);
        build_customer_settings_sector(settings, patterned(100), sector);
        EXPECT_EQ(sector[0], c.bytes[0]) << c.legend;
        EXPECT_EQ(sector[1], c.bytes[1]) << c.legend;
        EXPECT_EQ(sector[2], c.bytes[2]) << c.legend;
    }
    EXPECT_EQ(read_firmware_settings(env.root() / "absent.ini", nullptr), 0);
}

TEST(FirmwareSettings, SectorKeepsTheWatchsBytesAndTakesThePairing) {
    const Sector directory = patterned(100);
    const Sector before = patterned(7);
    Sector sector = before;
    build_customer_settings_sector(CustomerSettings{1, 0, 2, 3}, directory, sector);
    for (std::size_t i = 0; i < sector.size(); ++i) {
        std::uint8_t expected = before[i];
        if (i == 0) expected = 0x81;
        if (i == 1) expected = 2;
        if (i == 2) expected = 3;
        if (i >= 4 && i <= 11) expected = directory[76 + (i - 4)];
        if (i >= 12 && i <= 14) expected = directory[72 + (i - 12)];
        ASSERT_EQ(sector[i], expected) << "byte " << i;
    }
}

TEST(FirmwareSettings, DirectoryRestore) {
    const Sector backup = patterned(1);
    const Sector watch = patterned(200);
    Sector directory = watch;
    restore_directory(backup, directory);

    const struct {
        std::size_t first, last;  // inclusive
    } restored[] = {{0, 95}, {1280, 1289}, {1536, 1855}, {2304, 2353}};
    for (std::size_t i = 0; i < directory.size(); ++i) {
        bool from_backup = false;
        for (const auto& r : restored) from_backup = from_backup || (i >= r.first && i <= r.last);
        ASSERT_EQ(directory[i], from_backup ? backup[i] : watch[i]) << "byte " << i;
    }
}

}  // namespace
}  // namespace stridelog::update
