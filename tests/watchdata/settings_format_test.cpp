// The settings block and the 96-byte settings record: checksum, the choice of
// what the record's first byte carries, the identity text, and the record
// both ways.
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

void put_text(Bytes& image, const std::string& text) {
    std::fill(image.begin() + 96, image.begin() + 112, 0);
    std::copy(text.begin(), text.end(), image.begin() + 96);
}

std::uint32_t u32(const SettingsRecord& r, std::size_t at) {
    return r[at] | r[at + 1] << 8 | r[at + 2] << 16 | static_cast<std::uint32_t>(r[at + 3]) << 24;
}

std::u16string wide(const SettingsRecord& r, std::size_t at, std::size_t units) {
    std::u16string s;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = static_cast<char16_t>(r[at + 2 * i] | r[at + 2 * i + 1] << 8);
        if (c == 0) break;
        s.push_back(c);
    }
    return s;
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
        if (c.text) put_text(image, c.text);
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

TEST(SettingsFormat, RecordFromTheBlock) {
    Bytes image = image_bytes();
    put_text(image, "1.31.02_VUNA0_00");
    image[2] = 0xF1;   // F2 = 1
    image[5] = 0x10;   // F5 = 1
    image[12] = 0x09;  // F12a and F12d
    image[94] = 0x7E;  // F94 = 2
    image[112] = 31;
    image[113] = 12;
    image[114] = 26;
    Bytes identity(128, 0);
    const std::uint8_t head[] = {12, 5, 3, 1, 'A', 'B', '1', '2', 'X'};
    std::copy(std::begin(head), std::end(head), identity.begin());

    for (const bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended" : "not extended");
        const SettingsRecord r = build_settings_record(image, identity, 37.5f, extended);
        EXPECT_EQ(r[0], extended ? 2 : 1);
        EXPECT_EQ(r[1], 1);
        EXPECT_EQ(u32(r, 2), 1u);
        EXPECT_EQ(r[6], image[10]);
        EXPECT_EQ(r[7], image[11]);
        EXPECT_EQ(u32(r, 8), 1u);
        EXPECT_EQ((Bytes{r[12], r[13], r[14]}), (Bytes{image[6], image[7], image[8]}));
        EXPECT_EQ(wide(r, 15, 8), u"VUNA0_00");
        EXPECT_EQ(wide(r, 33, 7), u"1.31.02");
        EXPECT_EQ((Bytes{r[51], r[52], r[53]}), (Bytes{26, 12, 31}));
        float used = 0;
        std::memcpy(&used, &r[54], 4);
        EXPECT_EQ(used, 37.5f);
        EXPECT_EQ(wide(r, 58, 13), u"12050301AB12");
        EXPECT_EQ(r[84], image[93]);
        EXPECT_EQ(r[85], image[3]);
        EXPECT_EQ(r[86], 1);
        EXPECT_EQ(r[87], image[17]);
        EXPECT_TRUE(std::equal(r.begin() + 88, r.end(), image.begin() + 18));
        for (const std::size_t unused : {4u, 5u, 31u, 32u, 47u, 48u, 49u, 50u, 82u, 83u})
            EXPECT_EQ(r[unused], 0) << "offset " << unused;
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

TEST(SettingsFormat, WhatTheHostReadsWritesBackUnchanged) {
    // Every field the host may write, through a record and back: only the
    // checksum (made valid) may differ, and the host's read-only fields and
    // everything outside the settings block stay as they were.
    for (const bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended" : "not extended");
        Bytes image = image_bytes();
        image[2] = 0x01;
        image[5] = 0x10;
        image[12] = extended ? 0x01 : 0x09;
        image[94] = extended ? 0xFE : 0xFD;  // not extended: F94 follows F12d
        write_settings_checksum(image, kSettingsBlockSize);
        Bytes copy = image;
        const SettingsRecord r = build_settings_record(image, Bytes(128, 0), 0.0f, extended);
        apply_settings_record(copy, r, extended, kSettingsBlockSize);
        EXPECT_EQ(copy, image);

        // A record changing every writable field lands where it should.
        SettingsRecord changed = r;
        changed[6] = 0xAB;
        changed[7] = 0xCD;
        changed[12] = 0x11;
        changed[84] = 0x22;
        changed[85] = 0x33;
        changed[87] = 0x44;
        changed[95] = 0x55;
        changed[40] = 'Z';  // the version text is not the host's to write
        apply_settings_record(copy, changed, extended, kSettingsBlockSize);
        EXPECT_EQ((Bytes{copy[10], copy[11], copy[6], copy[93], copy[3], copy[17], copy[25]}),
                  (Bytes{0xAB, 0xCD, 0x11, 0x22, 0x33, 0x44, 0x55}));
        EXPECT_TRUE(std::equal(copy.begin() + 96, copy.end(), image.begin() + 96));
        std::uint8_t sum = 0;
        for (std::size_t i = 2; i < kSettingsBlockSize; ++i) sum += copy[i];
        EXPECT_EQ(copy[0], sum);
        EXPECT_EQ(copy[1], 0xFF - sum);
    }
}

}  // namespace
}  // namespace stridelog::watchdata
