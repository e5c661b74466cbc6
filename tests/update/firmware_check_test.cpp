// The decisions of the update check: what the watch runs, which description
// it fetches and from where, whether the offer is an update, the notes and the
// question the user sees, and the names that are refused.
#include "update/firmware_check.hpp"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

#include "update/ftp_downloader.hpp"

namespace stridelog::update {
namespace {

std::array<std::uint8_t, 4096> directory_with_version(std::string_view stored) {
    std::array<std::uint8_t, 4096> directory{};
    std::copy(stored.begin(), stored.end(), directory.begin() + 96);
    directory[112] = '9';  // the byte after the field must never be read into it
    return directory;
}

TEST(FirmwareVersionText, Parsing) {
    const std::pair<std::string, std::optional<FirmwareVersion>> cases[] = {
        {"1.31.02_VUNA0_00", FirmwareVersion{1, 31, 2, "VUNA0_00"}},
        // An offered value keeps its extension and size in the code.
        {"1.32.01_VUNA0_00.fw2,151808", FirmwareVersion{1, 32, 1, "VUNA0_00.fw2,151808"}},
        {"1.31_QOVA0", FirmwareVersion{1, 31, 0, "QOVA0"}},          // patch 0
        {"1.31.02.77_X", FirmwareVersion{1, 31, 2, "X"}},            // fourth number ignored
        {"1.3x.7y_X", FirmwareVersion{1, 3, 7, "X"}},                // leading digits count
        {" 1. +31.-2_X", FirmwareVersion{1, 31, -2, "X"}},           // as _wtoi takes them
        {"a.b.c_X", FirmwareVersion{0, 0, 0, "X"}},                  // letters give 0
        {"_X", FirmwareVersion{0, 0, 0, "X"}},                       // no numbers
        {"1.2.3_", FirmwareVersion{1, 2, 3, ""}},                    // empty code
        {"99999999999.1.1_X", FirmwareVersion{INT_MAX, 1, 1, "X"}},  // saturates
        {"1.31.02", std::nullopt},                                   // no underscore
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parse_firmware_version(text), expected) << text;
}

TEST(FirmwareVersionText, FromTheDirectorySector) {
    auto erased = directory_with_version("");
    std::fill(erased.begin() + 96, erased.begin() + 112, 0xFF);
    const struct {
        const char* legend;
        std::array<std::uint8_t, 4096> directory;
        std::string text;
        std::optional<FirmwareVersion> version;
        std::string description = {};  // empty: no update is ever looked for
    } cases[] = {
        {"erased field stands for the first firmware", erased, "<FF>",
         FirmwareVersion{1, 0, 0, "VUNA0_00"}, "73521_VUNA0_00.txt"},
        {"a first byte of 0xFF is enough",
         directory_with_version("\xFF"
                                "1.31.02_VUNA0"),
         "<FF>", FirmwareVersion{1, 0, 0, "VUNA0_00"}, "73521_VUNA0_00.txt"},
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
        {"text that is no version", directory_with_version("garbage"), "garbage", std::nullopt},
        {"empty text", directory_with_version(""), "", std::nullopt},
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

TEST(FirmwareVersionText, ModelNumbersAndFamilies) {
    const struct {
        std::int32_t major, minor;
        const char* model;
        int family;
    } cases[] = {
        {1, 0, "73521", 0},  {1, 25, "73521", 0}, {1, 29, "73521", 0}, {1, 3, "73688", 0},
        {1, 30, "73688", 1}, {1, 31, "73688", 1}, {1, 39, "73688", 1}, {1, 300, "73688", 2},
        {1, 4, "73521", 0},  {1, 40, "73521", 2}, {1, 45, "73521", 2}, {1, 9, "73521", 0},
        {0, 35, "73521", 2}, {2, 35, "73521", 2}, {1, -5, "73521", 0}, {-1, 35, "73521", 2},
        {1, 99, "73521", 2}, {2, 31, "73521", 2}, {0, 10, "73521", 2}, {1, -1, "73521", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(model_number(FirmwareVersion{c.major, c.minor, 0, "X"}), c.model)
            << c.major << "." << c.minor;
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
    for (const auto& c : cases)
        EXPECT_EQ(is_newer_firmware(c.current, c.offered), c.newer) << c.legend;
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
    for (const auto& c : cases)
        EXPECT_EQ(folder_for_update(c.folder, c.fifth, c.code), c.expected) << c.legend;
}

TEST(FirmwareUpdateCheck, ReleaseNotesAndTheQuestion) {
    const ProfileFile history = ProfileFile::parse(
        "[1.31.01]\n0=old fix\n"
        "[1.31.03]\n0=Faster fix\n1=Longer battery; really\n3=after a gap, never read\n"
        "[1.30.09]\n0=older minor\n"
        "[1.32.00]\n"
        "[2.0.0]\n0=next major\n"
        "[1.31.02]\n0=the running one\n");
    EXPECT_EQ(release_notes(history, FirmwareVersion{1, 31, 2, "VUNA0_00"}),
              (std::vector<std::string>{"1.31.03", "- Faster fix", "- Longer battery; really", "",
                                        "1.32.00", "", "2.0.0", "- next major", ""}));
    EXPECT_TRUE(release_notes(history, FirmwareVersion{2, 0, 0, ""}).empty());
    EXPECT_TRUE(release_notes(ProfileFile::parse(""), FirmwareVersion{1, 0, 0, ""}).empty());
    EXPECT_EQ(confirmation_message(FirmwareVersion{1, 32, 1, "VUNA0_00.fw2,151808"}),
              "A new watch firmware (1.32.1) is  available !\r\n\r\nNote :\r\nThe firmware update "
              "will ERASE ALL workout and paths in your watch. \r\n\r\nDo you want to proceed ?");
}

TEST(FirmwareUpdateCheck, OfferedFile) {
    const struct {
        std::string value;
        std::optional<std::string> name;
        std::int32_t size;
        bool firmware;
        std::string settings;
    } cases[] = {
        {"1.32.01_VUNA0_00.fw2,151808", "1.32.01_VUNA0_00.fw2", 151808, true,
         "1.32.01_VUNA0_00.ini"},
        {" \t1.32.01_X.fw2\t ,  131328", "1.32.01_X.fw2", 131328, true, "1.32.01_X.ini"},
        {"a.fw2,151808 bytes", "a.fw2", 151808, true, "a.ini"},  // size with trailing text
        {"a.fw2,12,34", "a.fw2", 12, true, "a.ini"},             // third element ignored
        {"a.fw2,", "a.fw2", 0, true, "a.ini"},
        {"1.32.01_VUNA0_00.bin,151808", "1.32.01_VUNA0_00.bin", 151808, false,
         "1.32.01_VUNA0_00.ini"},
        {"a.FW2,1", "a.FW2", 1, false, "a.ini"},              // extension case counts
        {"a.fw2.bin,1", "a.fw2.bin", 1, false, "a.fw2.ini"},  // only the last extension
        {"fw2,1", "fw2", 1, false, "fw2.ini"},
        {"1.32.01_VUNA0_00.fw2", std::nullopt, 0, false, ""},  // no comma
    };
    for (const auto& c : cases) {
        const std::optional<OfferedFile> offered = split_offered_value(c.value);
        ASSERT_EQ(offered.has_value(), c.name.has_value()) << c.value;
        if (!offered) continue;
        EXPECT_EQ(offered->file_name, *c.name) << c.value;
        EXPECT_EQ(offered->file_size, c.size) << c.value;
        EXPECT_EQ(has_firmware_extension(offered->file_name), c.firmware) << c.value;
        EXPECT_EQ(settings_file_name(offered->file_name), c.settings) << c.value;
    }
}

TEST(FirmwareUpdateCheck, NamesThatStayInTheDownloadFolder) {
    for (const char* safe : {"1.32.01_VUNA0_00.fw2", "73521_VUNA0_00.txt", "MTK7d.EPO", ".hidden"})
        EXPECT_TRUE(is_safe_download_name(safe)) << safe;
    for (const char* unsafe : {"", ".", "..", "../evil.fw2", "a..b", "/etc/passwd", "sub/file.txt",
                               "..\\file.txt", "c:\\file.txt", "a\\b"})
        EXPECT_FALSE(is_safe_download_name(unsafe)) << unsafe;
    EXPECT_FALSE(is_safe_download_name(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace stridelog::update
