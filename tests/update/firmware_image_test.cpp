// Firmware files as the update receives them: which ones are refused before
// the watch is touched, the checksum, the body that is loaded and the flash
// sector each body byte lands in. The sums the update's own golden transcripts
// pin, write by write.
#include "update/firmware_image.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::update {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::u16string kHeader = u"<<Watch Firmware Header v";

void store_checksum(Bytes& file) {
    const std::uint32_t value = firmware_file_checksum(file);
    for (int i = 0; i < 4; ++i)
        file[kChecksumOffset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A file of `size` bytes with varied content, the header text (UTF-16LE,
// ending in NUL) and a right checksum.
Bytes firmware_file(std::size_t size, std::u16string_view header = kHeader + u"1.1") {
    Bytes file(size);
    for (std::size_t i = 0; i < size; ++i)
        file[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF);
    for (std::size_t i = 0; i <= header.size(); ++i) {
        const char16_t c = i < header.size() ? header[i] : 0;
        file[2 * i] = static_cast<std::uint8_t>(c & 0xFF);
        file[2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
    }
    store_checksum(file);
    return file;
}

TEST(FirmwareChecksum, KnownValuesAndEveryByteButTheStoredChecksumCounts) {
    for (const auto& [input, expected] :
         {std::pair{"", 0x5AA53968u}, std::pair{"a", 0xA539683Bu}, std::pair{"abc", 0x683BC75Au}})
        EXPECT_EQ(firmware_file_checksum(Bytes(input, input + std::strlen(input))), expected)
            << input;
    const Bytes file = firmware_file(300);
    const std::uint32_t original = firmware_file_checksum(file);
    for (std::size_t i = 0; i < file.size(); ++i) {
        Bytes changed = file;
        changed[i] ^= 0x5A;
        EXPECT_EQ(firmware_file_checksum(changed) == original, i >= 108 && i <= 111) << i;
    }
}

// Each file's size and header text (the last with a wrong checksum), and how
// it was judged, are one line of the golden file.
TEST(FirmwareFileCheck, SizesHeadersAndChecksum) {
    const char* faults[] = {"none", "bad size", "bad header", "no language block", "bad checksum"};
    const std::pair<std::size_t, std::u16string> files[] = {
        {151808, kHeader + u"1.1"}, {151808, u"<<WATCH firmware HEADER V1.2"},
        {151808, kHeader + u"1.3"}, {151808, kHeader + u"1.0"},
        {131328, kHeader + u"1.0"}, {131328, kHeader + u"1.1"},
        {131328, kHeader + u"1.3"}, {131329, kHeader + u"1.0"},
        {151807, kHeader + u"1.1"}, {300, kHeader + u"1.1"},
        {151808, kHeader + u"1.4"}, {151808, kHeader + u"1.1x"},
        {151808, kHeader + u"1"},   {151808, kHeader + u"1.2"}};
    std::string out;
    for (const auto& [size, header] : files) {
        Bytes file = firmware_file(size, header);
        if (&header == &files[std::size(files) - 1].second) file[kChecksumOffset] ^= 1;
        const ImageCheck c = check_firmware_file(file);
        out += std::to_string(size) + " " + std::string(header.begin(), header.end()) + ": " +
               faults[static_cast<int>(c.fault)];
        if (c.fault == ImageFault::none || c.fault == ImageFault::no_language_block ||
            c.fault == ImageFault::bad_checksum)
            out += ", header 1." + std::to_string(static_cast<int>(c.version)) + ", body " +
                   std::to_string(c.body_length) + ", flag " + std::to_string(c.header_flag);
        out += "\n";
    }
    test::expect_golden("update/firmware_file_check", out);
}

TEST(FirmwareFileCheck, OnlyTheWideHeaderTextIsExamined) {
    // The same text in single bytes is no header.
    Bytes narrow = firmware_file(151808);
    const std::string text = "<<Watch Firmware Header v1.1";
    std::fill(narrow.begin(), narrow.begin() + 108, 0);
    std::copy(text.begin(), text.end(), narrow.begin());
    store_checksum(narrow);
    EXPECT_EQ(check_firmware_file(narrow).fault, ImageFault::bad_header);
    // Bytes after the text's NUL and after the checksum are anything.
    Bytes file = firmware_file(151808, kHeader + u"1.0");
    std::fill(file.begin() + 58, file.begin() + 108, 0xEE);
    std::fill(file.begin() + 112, file.begin() + 256, 0xDD);
    store_checksum(file);
    EXPECT_EQ(check_firmware_file(file).fault, ImageFault::none);
}

TEST(FirmwareFileLoad, FromDisk) {
    test::TestEnvironment env;
    auto write = [&](const std::string& name, const Bytes& bytes) {
        return env.write_file(name, std::string(bytes.begin(), bytes.end()));
    };
    const Bytes full = firmware_file(151808, kHeader + u"1.2");
    const Bytes program_only = firmware_file(131328, kHeader + u"1.0");
    Bytes oversized = full;
    oversized.resize(151808 * 2);
    Bytes damaged = full;
    damaged[50000] ^= 0xFF;
    // Full, program-only, damaged, oversized, missing, a folder: the fault and
    // the body of the file given (none for the others).
    const std::tuple<std::filesystem::path, ImageFault, const Bytes*> cases[] = {
        {write("full.fw2", full), ImageFault::none, &full},
        {write("small.fw2", program_only), ImageFault::none, &program_only},
        {write("damaged.fw2", damaged), ImageFault::bad_checksum, nullptr},
        {write("big.fw2", oversized), ImageFault::bad_size, nullptr},
        {env.root() / "absent.fw2", ImageFault::unreadable, nullptr},
        {env.root(), ImageFault::unreadable, nullptr}};
    for (const auto& [file, fault, source] : cases) {
        const LoadedFirmware loaded = load_firmware_file(file);
        EXPECT_EQ(loaded.check.fault, fault) << file;
        EXPECT_EQ(loaded.body, source ? Bytes(source->begin() + 256, source->end()) : Bytes{})
            << file;
    }
    // The body alone: a file one byte short of it is refused.
    const auto cut = write("cut.fw2", Bytes(full.begin(), full.end() - 1));
    EXPECT_EQ(load_firmware_body(write("whole.fw2", full), 0x25000),
              Bytes(full.begin() + 256, full.end()));
    EXPECT_FALSE(load_firmware_body(cut, 0x25000).has_value()) << "one byte short";
    EXPECT_TRUE(load_firmware_body(cut, 0x20000).has_value()) << "program image still there";
    EXPECT_FALSE(load_firmware_body(env.root() / "absent.fw2", 0x20000).has_value());
}

// The boot block into 34 and 35, the language block from 244, the program
// where it runs (sector 1 is only erased, 32 holds its sum): each sector and
// the body offset it takes, in order, in the golden file; every byte lands once.
TEST(FirmwareSectorMap, OrderAndPlacement) {
    std::string out;
    for (const std::size_t length : {kProgramOnlyBodyLength, kLanguageEnd}) {
        std::vector<int> placed(length, 0);
        out += std::to_string(length) + ":";
        for (const auto& p : firmware_sector_map(length)) {
            out += " " + std::to_string(p.sector) + "@" + std::to_string(p.body_offset / 4096);
            for (std::size_t i = 0; i < kSectorBytes; ++i) ++placed.at(p.body_offset + i);
        }
        out += "\n";
        EXPECT_TRUE(std::all_of(placed.begin(), placed.end(), [](int n) { return n == 1; }));
    }
    test::expect_golden("update/firmware_sector_map", out);
}

}  // namespace
}  // namespace stridelog::update
