// Firmware files as the update receives them: which ones are refused before
// the watch is touched, the checksum, the body that is loaded, the two sums
// and the flash sector each body byte lands in.
#include "update/firmware_image.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_environment.hpp"

namespace stridelog::update {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put_header_text(Bytes& file, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        file[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
        file[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
    file[2 * text.size()] = 0;
    file[2 * text.size() + 1] = 0;
}

void store_checksum(Bytes& file, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        file[kChecksumOffset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A file of `size` bytes with varied content, the header text and a right checksum.
Bytes firmware_file(std::size_t size,
                    std::u16string_view header = u"<<Watch Firmware Header v1.1") {
    Bytes file(size);
    for (std::size_t i = 0; i < size; ++i)
        file[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF);
    put_header_text(file, header);
    store_checksum(file, firmware_file_checksum(file));
    return file;
}

std::filesystem::path write(const test::TestEnvironment& env, const std::string& name,
                            const Bytes& bytes) {
    return env.write_file(name, std::string(bytes.begin(), bytes.end()));
}

TEST(FirmwareChecksum, KnownValues) {
    const struct {
        const char* legend;
        std::string input;
        std::uint32_t expected;
    } cases[] = {
        {"empty input is the start value", "", 0x5AA53968},
        {"three bytes, too short to reach the stored checksum", "abc", 0x683BC75A},
        {"one byte", "a", 0xA539683B},
    };
    for (const auto& c : cases) {
        const Bytes bytes(c.input.begin(), c.input.end());
        EXPECT_EQ(firmware_file_checksum(bytes), c.expected) << c.legend;
    }
}

TEST(FirmwareChecksum, EveryByteCountsButTheStoredChecksum) {
    Bytes file = firmware_file(300);
    const std::uint32_t original = firmware_file_checksum(file);
    for (std::size_t i = 0; i < file.size(); ++i) {
        Bytes changed = file;
        changed[i] ^= 0x5A;
        const bool skipped = i >= 108 && i <= 111;
        EXPECT_EQ(firmware_file_checksum(changed) == original, skipped) << "byte " << i;
    }
}

TEST(FirmwareFileCheck, SizesHeadersAndChecksum) {
    const struct {
        const char* legend;
        std::size_t size;
        std::u16string header;
        bool spoil_checksum;
        ImageFault fault;
        HeaderVersion version;
        std::size_t body_length;
    } cases[] = {
        {"full file, 1.1", 151808, u"<<Watch Firmware Header v1.1", false, ImageFault::none,
         HeaderVersion::k1_1, 0x25000},
        {"full file, 1.2 in other letter case", 151808, u"<<WATCH firmware HEADER V1.2", false,
         ImageFault::none, HeaderVersion::k1_2, 0x25000},
        {"full file, 1.3", 151808, u"<<Watch Firmware Header v1.3", false, ImageFault::none,
         HeaderVersion::k1_3, 0x25000},
        {"full file with a 1.0 header uses the program image only", 151808,
         u"<<Watch Firmware Header v1.0", false, ImageFault::none, HeaderVersion::k1_0, 0x20000},
        {"program-only file, 1.0", 131328, u"<<Watch Firmware Header v1.0", false,
         ImageFault::none, HeaderVersion::k1_0, 0x20000},
        {"program-only file with a 1.1 header has no language block", 131328,
         u"<<Watch Firmware Header v1.1", false, ImageFault::no_language_block, HeaderVersion::k1_1,
         0x25000},
        {"program-only file with a 1.3 header has no language block", 131328,
         u"<<Watch Firmware Header v1.3", false, ImageFault::no_language_block, HeaderVersion::k1_3,
         0x25000},
        {"one byte too many", 131329, u"<<Watch Firmware Header v1.0", false, ImageFault::bad_size,
         HeaderVersion::k1_0, 0},
        {"one byte too few", 151807, u"<<Watch Firmware Header v1.1", false, ImageFault::bad_size,
         HeaderVersion::k1_0, 0},
        {"a small file", 300, u"<<Watch Firmware Header v1.1", false, ImageFault::bad_size,
         HeaderVersion::k1_0, 0},
        {"unknown header version", 151808, u"<<Watch Firmware Header v1.4", false,
         ImageFault::bad_header, HeaderVersion::k1_0, 0},
        {"header text with more behind it", 151808, u"<<Watch Firmware Header v1.1x", false,
         ImageFault::bad_header, HeaderVersion::k1_0, 0},
        {"header text cut short", 151808, u"<<Watch Firmware Header v1", false,
         ImageFault::bad_header, HeaderVersion::k1_0, 0},
        {"wrong checksum", 151808, u"<<Watch Firmware Header v1.2", true, ImageFault::bad_checksum,
         HeaderVersion::k1_2, 0x25000},
    };
    for (const auto& c : cases) {
        Bytes file = firmware_file(c.size, c.header);
        if (c.spoil_checksum) file[kChecksumOffset] ^= 1;
        const ImageCheck check = check_firmware_file(file);
        EXPECT_EQ(check.fault, c.fault) << c.legend;
        if (c.fault == ImageFault::none || c.fault == ImageFault::bad_checksum) {
            EXPECT_EQ(check.version, c.version) << c.legend;
            EXPECT_EQ(check.body_length, c.body_length) << c.legend;
            EXPECT_EQ(check.header_flag, c.body_length == 0x25000 ? 1 : 0) << c.legend;
        }
    }
}

TEST(FirmwareFileCheck, HeaderTextMustBeWideCharacters) {
    Bytes file = firmware_file(151808);
    const std::string narrow = "<<Watch Firmware Header v1.1";
    std::fill(file.begin(), file.begin() + 108, 0);
    std::copy(narrow.begin(), narrow.end(), file.begin());
    store_checksum(file, firmware_file_checksum(file));
    EXPECT_EQ(check_firmware_file(file).fault, ImageFault::bad_header);
}

TEST(FirmwareFileCheck, BytesAfterTheHeaderTextAreNotExamined) {
    Bytes file = firmware_file(151808, u"<<Watch Firmware Header v1.0");
    for (std::size_t i = 58; i < 108; ++i) file[i] = 0xEE;
    for (std::size_t i = 112; i < 256; ++i) file[i] = 0xDD;
    store_checksum(file, firmware_file_checksum(file));
    EXPECT_EQ(check_firmware_file(file).fault, ImageFault::none);
}

TEST(FirmwareFileLoad, FromDisk) {
    test::TestEnvironment env;
    const Bytes full = firmware_file(151808, u"<<Watch Firmware Header v1.2");
    const Bytes program_only = firmware_file(131328, u"<<Watch Firmware Header v1.0");
    Bytes oversized = firmware_file(151808);
    oversized.resize(151808 * 2);
    Bytes damaged = full;
    damaged[50000] ^= 0xFF;

    const struct {
        const char* legend;
        std::filesystem::path file;
        ImageFault fault;
        const Bytes* source;  // the file whose body is expected
    } cases[] = {
        {"full image", write(env, "full.fw2", full), ImageFault::none, &full},
        {"program-only image", write(env, "small.fw2", program_only), ImageFault::none,
         &program_only},
        {"damaged image", write(env, "damaged.fw2", damaged), ImageFault::bad_checksum, nullptr},
        {"oversized file", write(env, "big.fw2", oversized), ImageFault::bad_size, nullptr},
        {"missing file", env.root() / "absent.fw2", ImageFault::unreadable, nullptr},
        {"a folder", env.root(), ImageFault::unreadable, nullptr},
    };
    for (const auto& c : cases) {
        const LoadedFirmware loaded = load_firmware_file(c.file);
        EXPECT_EQ(loaded.check.fault, c.fault) << c.legend;
        if (c.source == nullptr) {
            EXPECT_TRUE(loaded.body.empty()) << c.legend;
            continue;
        }
        const Bytes expected(
            c.source->begin() + 256,
            c.source->begin() + 256 + static_cast<std::ptrdiff_t>(loaded.check.body_length));
        EXPECT_EQ(loaded.body, expected) << c.legend;
    }
}

TEST(FirmwareFileLoad, BodyReadRefusesAShortFile) {
    test::TestEnvironment env;
    const Bytes full = firmware_file(151808);
    const auto whole = write(env, "whole.fw2", full);
    const auto cut = write(env, "cut.fw2", Bytes(full.begin(), full.end() - 1));

    const auto body = load_firmware_body(whole, 0x25000);
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(*body, Bytes(full.begin() + 256, full.end()));
    EXPECT_FALSE(load_firmware_body(cut, 0x25000).has_value()) << "one byte short";
    EXPECT_TRUE(load_firmware_body(cut, 0x20000).has_value()) << "program image still there";
    EXPECT_FALSE(load_firmware_body(env.root() / "absent.fw2", 0x20000).has_value());
}

TEST(FirmwareSums, EachCoversItsOwnBytes) {
    Bytes body(0x25000, 0x01);
    const std::uint16_t boot = boot_block_sum(body);
    const std::uint16_t program = program_sum(body);
    EXPECT_EQ(boot, 0x2000);
    EXPECT_EQ(program, static_cast<std::uint16_t>(0x1E000));

    const struct {
        std::size_t offset;
        bool in_boot;
        bool in_program;
    } cases[] = {
        {0x0000, true, false},  {0x1FFF, true, false},   {0x2000, false, true},
        {0x1FFFF, false, true}, {0x20000, false, false}, {0x24FFF, false, false},
    };
    for (const auto& c : cases) {
        Bytes changed = body;
        changed[c.offset] = 0x03;
        EXPECT_EQ(boot_block_sum(changed), c.in_boot ? boot + 2 : boot) << std::hex << c.offset;
        EXPECT_EQ(program_sum(changed),
                  static_cast<std::uint16_t>(c.in_program ? program + 2 : program))
            << std::hex << c.offset;
    }
}

TEST(FirmwareSums, BootSumSector) {
    Bytes body(0x20000, 0x00);
    body[0] = 0xFF;
    body[0x1FFF] = 0x34;  // 0xFF + 0x34 = 0x0133
    body[0x2000] = 0x77;  // program byte, not counted
    const auto sector = boot_sum_sector(body);
    EXPECT_EQ(sector[0], 0x33);
    EXPECT_EQ(sector[1], 0x01);
    EXPECT_TRUE(
        std::all_of(sector.begin() + 2, sector.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(FirmwareSectorMap, OrderAndPlacement) {
    std::vector<std::uint32_t> program_sectors;
    for (std::uint32_t s = 2; s <= 31; ++s) program_sectors.push_back(s);
    std::vector<std::uint32_t> without_language{34, 35};
    without_language.insert(without_language.end(), program_sectors.begin(), program_sectors.end());
    std::vector<std::uint32_t> with_language{34, 35, 244, 245, 246, 247, 248};
    with_language.insert(with_language.end(), program_sectors.begin(), program_sectors.end());

    const struct {
        const char* legend;
        std::size_t body_length;
        std::vector<std::uint32_t> sectors;
    } cases[] = {
        {"program image only", 0x20000, without_language},
        {"with the language block", 0x25000, with_language},
    };
    for (const auto& c : cases) {
        const auto map = firmware_sector_map(c.body_length);
        std::vector<std::uint32_t> sectors;
        for (const auto& p : map) sectors.push_back(p.sector);
        EXPECT_EQ(sectors, c.sectors) << c.legend;

        // Lay a body into a flash by the map: every body byte lands exactly once.
        Bytes body(c.body_length);
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
        std::vector<int> flash(256 * 4096, -1);
        std::vector<int> times_placed(body.size(), 0);
        for (const auto& p : map) {
            for (std::size_t i = 0; i < kSectorBytes; ++i) {
                ASSERT_LT(p.body_offset + i, body.size()) << c.legend;
                flash[p.sector * kSectorBytes + i] = body[p.body_offset + i];
                ++times_placed[p.body_offset + i];
            }
        }
        EXPECT_TRUE(std::all_of(times_placed.begin(), times_placed.end(), [](int n) {
            return n == 1;
        })) << c.legend;
        const struct {
            std::size_t body_offset;
            std::size_t address;
        } spots[] = {{0x0, 0x22000},   {0x1FFF, 0x23FFF},  {0x1000, 0x23000},
                     {0x2000, 0x2000}, {0x1FFFF, 0x1FFFF}, {0x12345, 0x12345}};
        for (const auto& s : spots) {
            EXPECT_EQ(flash[s.address], body[s.body_offset])
                << c.legend << std::hex << " " << s.body_offset;
        }
        if (c.body_length == 0x25000) {
            EXPECT_EQ(flash[0xF4000], body[0x20000]) << c.legend;
            EXPECT_EQ(flash[0xF8FFF], body[0x24FFF]) << c.legend;
        } else {
            EXPECT_EQ(flash[0xF4000], -1) << c.legend;
        }
        EXPECT_EQ(flash[0x1000], -1) << "sector 1 is only erased";
        EXPECT_EQ(flash[0x20000], -1) << "sector 32 holds the program sum, not body bytes";
    }
}

}  // namespace
}  // namespace stridelog::update
