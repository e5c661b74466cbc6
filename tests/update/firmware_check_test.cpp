// The decisions of the update check: what the watch runs, which description
// it fetches, whether the offer is an update, the folder, the notes and the
// question the user sees, and the names that are refused. Each input and what
// became of it is one line of a golden file.
#include "update/firmware_check.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/support/golden.hpp"
#include "update/ftp_downloader.hpp"

namespace stridelog::update {
namespace {

std::string text(const std::optional<FirmwareVersion>& v) {
    if (!v) return "none";
    return std::to_string(v->major) + "." + std::to_string(v->minor) + "." +
           std::to_string(v->patch) + (v->code.empty() ? "" : " [" + v->code + "]");
}

TEST(FirmwareVersionText, ParsingAndTheDirectorySector) {
    std::string out;
    for (const char* t : {"1.31.02_VUNA0_00", "1.32.01_VUNA0_00.fw2,151808", "1.31_QOVA0",
                          "1.31.02.77_X", "1.3x.7y_X", " 1. +31.-2_X", "a.b.c_X", "_X", "1.2.3_",
                          "99999999999.1.1_X", "1.31.02", ""})
        out += "\"" + std::string(t) + "\" -> " + text(parse_firmware_version(t)) + "\n";
    // The 16 bytes from 96 on; the byte after them must never be read into the text.
    for (const std::string& stored : std::vector<std::string>{
             std::string(16, '\xFF'), std::string("\xFF") + "1.31.02_VUNA0", "1.31.02_VUNA0_00",
             "1.25.00_VUNA0_00", "1.45.00_VUNA0_00", std::string("1.31.02_AB\0CD", 13),
             "1.31.02_VUNA0_001", "garbage", ""}) {
        std::array<std::uint8_t, 4096> directory{};
        std::copy(stored.begin(), stored.end(), directory.begin() + 96);
        directory[112] = '9';
        const CurrentFirmware current = read_current_firmware(directory);
        out += "stored \"" + current.text + "\" -> " + text(current.version) +
               (current.version ? ", " + description_file_name(*current.version) : "") + "\n";
    }
    test::expect_golden("update/firmware_version_text", out);
}

TEST(FirmwareUpdateCheck, ModelsFamiliesAndNewerFirmware) {
    std::string out;
    for (int major : {-1, 0, 1, 2})
        for (int minor : {-5, -1, 0, 3, 4, 9, 10, 25, 29, 30, 31, 35, 39, 40, 45, 99, 300})
            out += std::to_string(major) + "." + std::to_string(minor) + ": model " +
                   model_number(FirmwareVersion{major, minor, 0, "X"}) + ", family " +
                   std::to_string(firmware_family(major, minor)) + "\n";
    using V = FirmwareVersion;
    const std::optional<V> currents[] = {
        V{1, 0, 0, "VUNA0_00"}, V{1, 25, 0, ""}, V{1, 29, 5, ""}, V{1, 31, 2, "VUNA0_00"},
        V{1, 45, 0, ""},        V{2, 1, 0, ""},  std::nullopt};
    const V offers[] = {{1, 2, 0, ""},  {1, 29, 0, ""}, {1, 30, 0, ""}, {1, 30, 9, ""},
                        {1, 31, 1, ""}, {1, 31, 2, ""}, {1, 31, 3, ""}, {1, 35, 0, ""},
                        {1, 39, 0, ""}, {1, 40, 0, ""}, {1, 46, 0, ""}, {2, 2, 0, ""},
                        {2, 31, 3, ""}};
    for (const auto& current : currents) {
        out += text(current) + " is updated to:";
        for (const V& offer : offers)
            if (is_newer_firmware(current, offer)) out += " " + text(offer);
        out += "\n";
    }
    test::expect_golden("update/firmware_newer", out);
}

TEST(FirmwareUpdateCheck, FolderRuleAndOfferedFile) {
    std::string out;
    const std::array<const char*, 3> folders[] = {
        {"fw", "WEX0", "VUNA0_00"},       {"fw", "wEx0", "VUNA0_00"},
        {"fw/VUNA0", "WEX0", "VUNA0_00"}, {"VUNA0/fw", "WEX0", "VUNA0_00"},
        {"fw/", "WEX0", "VUNA0_00"},      {"fw", "WEX1", "VUNA0_00"},
        {"fw", "", "VUNA0_00"},           {"fw", "WEX0", "VUNA0_00_01"},
        {"fw", "WEX0", "VUNA0"}};
    for (const auto& [folder, fifth, code] : folders)
        out += std::string(folder) + ", " + fifth + ", " + code + " -> " +
               folder_for_update(folder, fifth, code) + "\n";
    for (const char* value :
         {"1.32.01_VUNA0_00.fw2,151808", " \t1.32.01_X.fw2\t ,  131328", "a.fw2,151808 bytes",
          "a.fw2,12,34", "a.fw2,", "1.32.01_VUNA0_00.bin,151808", "a.FW2,1", "a.fw2.bin,1", "fw2,1",
          "1.32.01_VUNA0_00.fw2"}) {
        const std::optional<OfferedFile> offered = split_offered_value(value);
        out += "\"" + std::string(value) + "\" -> ";
        out += offered ? offered->file_name + ", " + std::to_string(offered->file_size) +
                             (has_firmware_extension(offered->file_name) ? ", firmware, " : ", ") +
                             settings_file_name(offered->file_name) + "\n"
                       : "none\n";
    }
    test::expect_golden("update/firmware_folder_and_offer", out);
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
