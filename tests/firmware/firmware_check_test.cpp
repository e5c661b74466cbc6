// The decisions of the update check: what the watch runs, which description
// it fetches and from where, whether the offer is an update, the notes and the
// question the user sees, and the names that are refused.
#include "update/firmware_check.hpp"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "update/firmware_stops.hpp"
#include "update/ftp_downloader.hpp"

namespace stridelog::update {
namespace {

std::array<std::uint8_t, 4096> directory_with_version(std::string_view stored) {
    std::array<std::uint8_t, 4096> directory{};
    directory.fill(0x00);
    std::copy(stored.begin(), stored.end(), directory.begin() + 96);
    directory[112] = '9';  // the byte after the field must never be read into it
    return directory;
}

TEST(FirmwareVersionText, Parsing) {
    const struct {
        const char* legend;
        std::string text;
        std::optional<FirmwareVersion> expected;
    } cases[] = {
        {"ordinary", "1.31.02_VUNA0_00", FirmwareVersion{1, 31, 2, "VUNA0_00"}},
        {"offered value keeps extension and size in the code", "1.32.01_VUNA0_00.fw2,151808",
         FirmwareVersion{1, 32, 1, "VUNA0_00.fw2,151808"}},
        {"two numbers: patch 0", "1.31_QOVA0", FirmwareVersion{1, 31, 0, "QOVA0"}},
        {"fourth number ignored", "1.31.02.77_X", FirmwareVersion{1, 31, 2, "X"}},
        {"leading digits count", "1.3x.7y_X", FirmwareVersion{1, 3, 7, "X"}},
        {"blanks and sign as _wtoi takes them", " 1. +31.-2_X", FirmwareVersion{1, 31, -2, "X"}},
        {"letters give 0", "a.b.c_X", FirmwareVersion{0, 0, 0, "X"}},
        {"no numbers", "_X", FirmwareVersion{0, 0, 0, "X"}},
        {"empty code", "1.2.3_", FirmwareVersion{1, 2, 3, ""}},
        {"huge number saturates", "99999999999.1.1_X", FirmwareVersion{INT_MAX, 1, 1, "X"}},
        {"no underscore", "1.31.02", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_firmware_version(c.text), c.expected) << c.legend;
    }
}

TEST(FirmwareVersionText, FromTheDirectorySector) {
    auto erased = directory_with_version("");
    std::fill(erased.begin() + 96, erased.begin() + 112, 0xFF);
    auto erased_first_only = directory_with_version(
        "\xFF"
        "1.31.02_VUNA0");

    const struct {
        const char* legend;
        std::array<std::uint8_t, 4096> directory;
        std::string text;
        std::optional<FirmwareVersion> version;
        std::string description;  // empty: no update is ever looked for
    } cases[] = {
        {"erased field stands for the first firmware", erased, "<FF>",
         FirmwareVersion{1, 0, 0, "VUNA0_00"}, "73521_VUNA0_00.txt"},
        {"a first byte of 0xFF is enough", erased_first_only, "<FF>",
         FirmwareVersion{1, 0, 0, "VUNA0_00"}, "73521_VUNA0_00.txt"},
        {"1.31 line", directory_with_version("1.31.02_VUNA0_00"), "1.31.02_VUNA0_00",
         FirmwareVersion{1, 31, 2, "VUNA0_00"}, "73688_VUNA0_00.txt"},
        {"1.2x line", directory_with_version("1.25.00_VUNA0_00"), "1.25.00_VUNA0_00",
         FirmwareVersion{1, 25, 0, "VUNA0_00"}, "73521_VUNA0_00.txt"},
        {"1.4x line", directory_with_version("1.45.00_VUNA0_00"), "1.45.00_VUNA0_00",
         FirmwareVersion{1, 45, 0, "VUNA0_00"}, "73521_VUNA0_00.txt"},
        {"text ends at its NUL", directory_with_version(std::string("1.31.02_AB\0CD", 13)),
         "1.31.02_AB", FirmwareVersion{1, 31, 2, "AB"}, "73688_AB.txt"},
        {"sixteen characters without NUL", directory_with_version("1.31.02_VUNA0_001"),
         "1.31.02_VUNA0_00", FirmwareVersion{1, 31, 2, "VUNA0_00"}, "73688_VUNA0_00.txt"},
        {"text that is no version", directory_with_version("garbage"), "garbage", std::nullopt, ""},
        {"empty text", directory_with_version(""), "", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        const CurrentFirmware current = read_current_firmware(c.directory);
        EXPECT_EQ(current.text, c.text) << c.legend;
        EXPECT_EQ(current.version, c.version) << c.legend;
        if (current.version) {
            EXPECT_EQ(description_file_name(*current.version), c.description) << c.legend;
        }
    }
}

TEST(FirmwareVersionText, ModelNumbers) {
    const struct {
        std::int32_t major, minor;
        const char* model;
    } cases[] = {
        {1, 0, "73521"},  {1, 25, "73521"}, {1, 29, "73521"}, {1, 3, "73688"},
        {1, 30, "73688"}, {1, 31, "73688"}, {1, 39, "73688"}, {1, 300, "73688"},
        {1, 4, "73521"},  {1, 40, "73521"}, {1, 45, "73521"}, {1, 9, "73521"},
        {0, 35, "73521"}, {2, 35, "73521"}, {1, -5, "73521"}, {-1, 35, "73521"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(model_number(FirmwareVersion{c.major, c.minor, 0, "X"}), c.model)
            << c.major << "." << c.minor;
    }
}

TEST(FirmwareVersionText, Families) {
    const struct {
        std::int32_t major, minor, family;
    } cases[] = {{1, 0, 0},  {1, 29, 0}, {1, 30, 1}, {1, 39, 1}, {1, 40, 2},
                 {1, 99, 2}, {2, 31, 2}, {0, 10, 2}, {1, -1, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(firmware_family(c.major, c.minor), c.family) << c.major << "." << c.minor;
    }
}

TEST(FirmwareUpdateCheck, NewerFirmware) {
    const FirmwareVersion at_1_31_02{1, 31, 2, "VUNA0_00"};
    const struct {
        const char* legend;
        std::optional<FirmwareVersion> current;
        FirmwareVersion offered;
        bool newer;
    } cases[] = {
        {"higher patch", at_1_31_02, {1, 31, 3, ""}, true},
        {"higher minor in the family", at_1_31_02, {1, 35, 0, ""}, true},
        {"top of the family", at_1_31_02, {1, 39, 0, ""}, true},
        {"other family", at_1_31_02, {1, 40, 0, ""}, false},
        {"other major", at_1_31_02, {2, 31, 3, ""}, false},
        {"equal", at_1_31_02, {1, 31, 2, ""}, false},
        {"older patch", at_1_31_02, {1, 31, 1, ""}, false},
        {"older minor, higher patch", at_1_31_02, {1, 30, 9, ""}, false},
        {"family 0 to 1", FirmwareVersion{1, 29, 5, ""}, {1, 30, 0, ""}, false},
        {"inside family 0", FirmwareVersion{1, 25, 0, ""}, {1, 29, 0, ""}, true},
        {"erased watch gets family 0", FirmwareVersion{1, 0, 0, "VUNA0_00"}, {1, 2, 0, ""}, true},
        {"family 2 is never updated", FirmwareVersion{1, 45, 0, ""}, {1, 46, 0, ""}, false},
        {"major 2 is never updated", FirmwareVersion{2, 1, 0, ""}, {2, 2, 0, ""}, false},
        {"unknown version is never updated", std::nullopt, {1, 31, 3, ""}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_newer_firmware(c.current, c.offered), c.newer) << c.legend;
    }
}

TEST(FirmwareUpdateCheck, FolderRule) {
    const struct {
        const char* legend;
        std::string folder, fifth, code, expected;
    } cases[] = {
        {"code's first part added", "fw", "WEX0", "VUNA0_00", "fw/VUNA0"},
        {"fifth text in any case", "fw", "wEx0", "VUNA0_00", "fw/VUNA0"},
        {"already there", "fw/VUNA0", "WEX0", "VUNA0_00", "fw/VUNA0"},
        {"contained anywhere", "VUNA0/fw", "WEX0", "VUNA0_00", "VUNA0/fw"},
        {"no doubled slash", "fw/", "WEX0", "VUNA0_00", "fw/VUNA0"},
        {"other fifth text", "fw", "WEX1", "VUNA0_00", "fw"},
        {"empty fifth text", "fw", "", "VUNA0_00", "fw"},
        {"code of three parts", "fw", "WEX0", "VUNA0_00_01", "fw"},
        {"code of one part", "fw", "WEX0", "VUNA0", "fw"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(folder_for_update(c.folder, c.fifth, c.code), c.expected) << c.legend;
    }
}

TEST(FirmwareUpdateCheck, ReleaseNotes) {
    const ProfileFile history = ProfileFile::parse(
        "[1.31.01]\n0=old fix\n"
        "[1.31.03]\n0=Faster fix\n1=Longer battery; really\n3=after a gap, never read\n"
        "[1.30.09]\n0=older minor\n"
        "[1.32.00]\n"
        "[2.0.0]\n0=next major\n"
        "[1.31.02]\n0=the running one\n");
    const std::vector<std::string> expected{
        "1.31.03", "- Faster fix", "- Longer battery; really",
        "",        "1.32.00",      "",
        "2.0.0",   "- next major", "",
    };
    EXPECT_EQ(release_notes(history, FirmwareVersion{1, 31, 2, "VUNA0_00"}), expected);
    EXPECT_TRUE(release_notes(history, FirmwareVersion{2, 0, 0, ""}).empty());
    EXPECT_TRUE(release_notes(ProfileFile::parse(""), FirmwareVersion{1, 0, 0, ""}).empty());
}

TEST(FirmwareUpdateCheck, ConfirmationQuestion) {
    EXPECT_EQ(confirmation_message(FirmwareVersion{1, 32, 1, "VUNA0_00.fw2,151808"}),
              "A new watch firmware (1.32.1) is  available !\r\n\r\nNote :\r\nThe firmware update "
              "will ERASE ALL workout and paths in your watch. \r\n\r\nDo you want to proceed ?");
}

TEST(FirmwareUpdateCheck, OfferedFile) {
    const struct {
        const char* legend;
        std::string value;
        std::optional<std::string> name;
        std::int32_t size;
        bool firmware;
        std::string settings;
    } cases[] = {
        {"ordinary", "1.32.01_VUNA0_00.fw2,151808", "1.32.01_VUNA0_00.fw2", 151808, true,
         "1.32.01_VUNA0_00.ini"},
        {"blanks and tabs around the name", " \t1.32.01_X.fw2\t ,  131328", "1.32.01_X.fw2", 131328,
         true, "1.32.01_X.ini"},
        {"size with trailing text", "a.fw2,151808 bytes", "a.fw2", 151808, true, "a.ini"},
        {"third element ignored", "a.fw2,12,34", "a.fw2", 12, true, "a.ini"},
        {"empty size", "a.fw2,", "a.fw2", 0, true, "a.ini"},
        {"other extension", "1.32.01_VUNA0_00.bin,151808", "1.32.01_VUNA0_00.bin", 151808, false,
         "1.32.01_VUNA0_00.ini"},
        {"extension case counts", "a.FW2,1", "a.FW2", 1, false, "a.ini"},
        {"only the last extension counts", "a.fw2.bin,1", "a.fw2.bin", 1, false, "a.fw2.ini"},
        {"no extension", "fw2,1", "fw2", 1, false, "fw2.ini"},
        {"no comma", "1.32.01_VUNA0_00.fw2", std::nullopt, 0, false, ""},
    };
    for (const auto& c : cases) {
        const std::optional<OfferedFile> offered = split_offered_value(c.value);
        ASSERT_EQ(offered.has_value(), c.name.has_value()) << c.legend;
        if (!offered) continue;
        EXPECT_EQ(offered->file_name, *c.name) << c.legend;
        EXPECT_EQ(offered->file_size, c.size) << c.legend;
        EXPECT_EQ(has_firmware_extension(offered->file_name), c.firmware) << c.legend;
        EXPECT_EQ(settings_file_name(offered->file_name), c.settings) << c.legend;
    }
}

TEST(FirmwareUpdateCheck, NamesThatStayInTheDownloadFolder) {
    const struct {
        const char* name;
        bool safe;
    } cases[] = {
        {"1.32.01_VUNA0_00.fw2", true},
        {"73521_VUNA0_00.txt", true},
        {"history.txt", true},
        {"", false},
        {".", false},
        {"..", false},
        {"../evil.fw2", false},
        {"a..b", false},
        {"/etc/passwd", false},
        {"sub/file.txt", false},
        {"..\\file.txt", false},
        {"c:\\file.txt", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_safe_download_name(c.name), c.safe) << c.name;
    EXPECT_FALSE(is_safe_download_name(std::string_view("a\0b", 3)));
}

TEST(FirmwareUpdateCheck, EveryStopHasOneConsistentRow) {
    std::set<FirmwareStop> seen;
    for (const FirmwareStopRow& row : kFirmwareStops) {
        EXPECT_TRUE(seen.insert(row.stop).second) << "row twice: " << static_cast<int>(row.stop);
        EXPECT_EQ(&firmware_stop_row(row.stop), &row);
        if (row.code == 0) {
            EXPECT_FALSE(row.error);
        } else {
            // Errors and results are told apart by the host from the code range.
            EXPECT_EQ(row.code >> 12, row.error ? 0x1u : 0x2u) << std::hex << row.code;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(FirmwareStop::image_rejected) + 1);
}

}  // namespace
}  // namespace stridelog::update
