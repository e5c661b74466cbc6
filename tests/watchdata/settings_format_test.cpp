// The settings block and the 96-byte settings record: checksum, the choice of
// what the record's first byte carries, the identity text, and the record back
// into the block. Each field of the record as read is pinned through the SDK
// (tests/e2e/settings_test.cpp).
#include "watchdata/settings_format.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace stridelog::watchdata {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A directory image whose settings bytes are all distinct-ish, long version erased.
Bytes image_bytes() {
    Bytes image(4096, 0xFF);
    for (std::size_t i = 0; i < kSettingsBlockSize; ++i)
        image[i] = static_cast<std::uint8_t>(i * 5 + 3);
    std::fill(image.begin() + 96, image.begin() + 112, 0xFF);
    return image;
}

TEST(SettingsFormat, Checksum) {
    struct Case {
        const char* legend;
        float version;
        std::uint8_t byte0, byte1;
    };
    // Bytes 2 .. 223 sum to 0x1234; bytes 2 .. 83 alone to 0x744.
    Bytes block(kSettingsBlockSize, 20);
    block[2] = 240;
    const Case cases[] = {
        {"1.30: all 224 bytes, 0x1234", 1.30f, 0x34, 0xCB},
        {"1.19: all 224 bytes", 1.19f, 0x34, 0xCB},
        {"2.00: all 224 bytes", 2.0f, 0x34, 0xCB},
        {"1.18: the first 84 bytes, 0x744", 1.18f, 0x44, 0xBB},
        {"1.10: the first 84 bytes", 1.10f, 0x44, 0xBB},
        {"1.2 reads as 1.20: all 224 bytes", 1.2f, 0x34, 0xCB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Bytes b = block;
        b[0] = 0x99;  // the old checksum counts for nothing
        b[1] = 0x99;
        write_settings_checksum(b, settings_checksum_length(c.version));
        EXPECT_EQ(b[0], c.byte0);
        EXPECT_EQ(b[1], c.byte1);
        EXPECT_TRUE(std::equal(b.begin() + 2, b.end(), block.begin() + 2));
    }
}

TEST(SettingsFormat, ExtendedTest) {
    struct Case {
        const char* legend;
        float version;
        const char* text;  // null: the long version field is erased
        bool extended;
    };
    const Case cases[] = {
        {"1.35", 1.35f, nullptr, true},
        {"1.30", 1.30f, nullptr, true},
        {"1.39", 1.39f, nullptr, true},
        {"1.45", 1.45f, nullptr, false},
        {"1.40", 1.40f, nullptr, false},
        {"1.25 without a text: no code", 1.25f, nullptr, false},
        {"1.25 with PEXO0", 1.25f, "1.25.00_PEXO0_00", true},
        {"1.25 with QOVA0", 1.25f, "1.25.01_QOVA0_01", true},
        {"1.25 with another code", 1.25f, "1.25.00_VUNA0_00", false},
        {"the text wins over the number", 1.45f, "1.31.02_VUNA0_00", true},
        {"the text wins the other way", 1.35f, "1.45.00_VUNA0", false},
        {"major 2", 1.35f, "2.35.00_PEXO0", false},
        {"a text without underscore leaves the number", 1.35f, "garbage", true},
        {"the code must begin the part after the underscore", 1.20f, "1.20_XPEXO0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Bytes image = image_bytes();
        if (c.text) std::fill(image.begin() + 96, image.begin() + 112, 0);
        if (c.text) std::copy(c.text, c.text + std::strlen(c.text), image.begin() + 96);
        EXPECT_EQ(uses_extended_settings(c.version, image), c.extended);
    }
}

TEST(SettingsFormat, IdentityText) {
    struct Case {
        const char* legend;
        Bytes bytes;
        std::string text;
    };
    Bytes typical(128, 0xFF);
    const std::uint8_t head[] = {12, 5, 3, 1, 'A', 'B', '1', '2', 'X', 'Y'};
    std::copy(std::begin(head), std::end(head), typical.begin());
    Bytes short_text = typical;
    short_text[5] = 0;
    const Case cases[] = {
        {"12 05 03 01 A B 1 2: the rest cut", typical, "12050301AB12"},
        {"a zero ends the text", short_text, "12050301A"},
        {"erased: three-digit numbers fill it", Bytes(128, 0xFF), "255255255255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(identity_text(c.bytes), c.text);
    }
}

TEST(SettingsFormat, RecordBackIntoTheBlock) {
    struct Case {
        const char* legend;
        bool extended;
        std::uint8_t rec0, rec1, byte12, byte94;
        std::uint8_t want12, want94;
    };
    const Case cases[] = {
        {"extended: offset 0 into F94, offset 1 into F12d", true, 2, 1, 0x40, 0x80, 0x48, 0x82},
        {"extended: zeros clear both", true, 0, 0, 0x48, 0x83, 0x40, 0x80},
        {"extended: a wide value keeps the neighbouring bits", true, 0xFE, 0xFF, 0x40, 0x80, 0x48,
         0x82},
        {"extended: an erased byte takes the value in bits 0 .. 1", true, 2, 0, 0x48, 0xFF, 0x40,
         0xFE},
        {"not extended: non-zero sets F12d and F94", false, 5, 0, 0x40, 0x80, 0x48, 0x81},
        {"not extended: zero clears both", false, 0, 1, 0x48, 0x83, 0x40, 0x80},
        {"not extended: a watch without F94", false, 1, 0, 0x40, 0xFF, 0x48, 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Bytes block = image_bytes();
        block[12] = c.byte12;
        block[94] = c.byte94;
        SettingsRecord r{};
        r[0] = c.rec0;
        r[1] = c.rec1;
        apply_settings_record(block, r, c.extended, kSettingsBlockSize);
        EXPECT_EQ(block[12], c.want12);
        EXPECT_EQ(block[94], c.want94);
    }

    struct F5Case {
        const char* legend;
        std::uint32_t value;
        std::uint8_t before, after;
    };
    const F5Case f5_cases[] = {
        {"offset 8 = 5: byte 5 = 0x10", 5, 0xEF, 0x10},
        {"non-zero in a higher byte", 0x100, 0x00, 0x10},
        {"zero: 0x00", 0, 0xFF, 0x00},
    };
    for (const auto& c : f5_cases) {
        SCOPED_TRACE(c.legend);
        Bytes block = image_bytes();
        block[5] = c.before;
        SettingsRecord r{};
        for (int i = 0; i < 4; ++i) r[8 + i] = static_cast<std::uint8_t>(c.value >> (8 * i));
        apply_settings_record(block, r, false, kSettingsBlockSize);
        EXPECT_EQ(block[5], c.after);
    }
}

}  // namespace
}  // namespace stridelog::watchdata
