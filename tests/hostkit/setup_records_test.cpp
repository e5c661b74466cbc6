// The set-up blocks as the SDK posts them read into records, and the records
// the set calls take written as bytes, laid out here byte by byte.
#include <gtest/gtest.h>

#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog::hostkit {
namespace {

using Buffer = std::vector<std::uint8_t>;

void put_utf16(Buffer& b, const std::u16string& text) {
    for (const char16_t u : text) {
        b.push_back(static_cast<std::uint8_t>(u));
        b.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

// A 0x2002 block: index, name length, UTF-16LE name, count, 34-byte waypoints.
Buffer path_block(std::uint8_t index, const std::u16string& name,
                 const std::vector<std::pair<std::uint32_t, std::u16string>>& waypoints) {
    Buffer b{index, static_cast<std::uint8_t>(2 * name.size())};
    put_utf16(b, name);
    b.push_back(static_cast<std::uint8_t>(waypoints.size()));
    for (const auto& [word, wname] : waypoints) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(~word >> (8 * i)));
        for (int i = 0; i < 6; ++i) b.push_back(static_cast<std::uint8_t>(0xA0 + i));
        Buffer name_field;
        put_utf16(name_field, wname);
        name_field.resize(20, 0);
        b.insert(b.end(), name_field.begin(), name_field.end());
    }
    return b;
}

TEST(PathBlocks, ReadAsPosted) {
    const auto read =
        parse_path_block(path_block(2, u"Café", {{0xFFFFFFFEu, u"Start"}, {12, u"TenLetters"}}));
    ASSERT_TRUE(read) << read.error();
    const WatchPath& path = *read;
    EXPECT_EQ(path.index, 2u);
    EXPECT_EQ(path.name, "Café");
    ASSERT_EQ(path.waypoints.size(), 2u);
    EXPECT_EQ(path.waypoints[0].word1, 0xFFFFFFFEu);
    EXPECT_EQ(path.waypoints[0].word2, 1u);
    EXPECT_EQ(path.waypoints[0].attributes,
              (std::array<std::uint8_t, 6>{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
    EXPECT_EQ(path.waypoints[1].name, "TenLetters") << "ten characters, no terminator";
    // The host waypoint the set command builds is the one the block carried.
    const Buffer block = path_block(0, u"", {{12, u"TenLetters"}});
    const auto host = make_host_waypoint(path.waypoints[1]);
    EXPECT_TRUE(std::equal(host.begin(), host.end(), block.begin() + 3));
}

TEST(PathBlocks, RefusesInconsistentBlocks) {
    struct Case {
        const char* legend;
        Buffer block;
    };
    Buffer one = path_block(1, u"A", {{1, u"x"}});
    Buffer short_by_one(one.begin(), one.end() - 1);
    Buffer long_by_one = one;
    long_by_one.push_back(0);
    Buffer odd_name = one;
    odd_name[1] = 3;
    Buffer index_ten = one;
    index_ten[0] = 10;
    Buffer count_100 = path_block(0, u"", {});
    count_100[2] = 100;
    count_100.resize(3 + 34 * 100);
    const Case cases[] = {
        {"empty", {}},
        {"name length past the end", {0, 40, 0}},
        {"a waypoint cut short", short_by_one},
        {"a byte too many", long_by_one},
        {"half a UTF-16 unit in the name", odd_name},
        {"path index 10", index_ten},
        {"100 waypoints", count_100},
        {"a name of 33 characters, wider than any watch's",
         path_block(0, std::u16string(33, u'a'), {})},
    };
    ASSERT_TRUE(parse_path_block(path_block(0, std::u16string(32, u'a'), {})))
        << "32 characters fit";
    for (const auto& c : cases) {
        const auto path = parse_path_block(c.block);
        EXPECT_FALSE(path) << c.legend;
        EXPECT_FALSE(path.error().empty()) << c.legend;
    }
}

// A settings record as GetSetting posts it: every named field a value of its
// own, the unnamed bytes (31, 32, 47 .. 50, 82, 83) zero.
Buffer settings_bytes() {
    Buffer b(96, 0);
    b[0] = 2;                         // F94
    b[1] = 1;                         // F12d
    b[2] = 1;                         // F2, 32 bits
    b[6] = 0x34, b[7] = 0x12;         // W10
    b[8] = 1;                         // F5, 32 bits
    b[12] = 6, b[13] = 7, b[14] = 8;  // B6, B7, B8
    const std::u16string code = u"VUNA0_00", version = u"1.31.02", identity = u"12050301AB12";
    for (std::size_t i = 0; i < code.size(); ++i)
        b[15 + 2 * i] = static_cast<std::uint8_t>(code[i]);
    for (std::size_t i = 0; i < version.size(); ++i)
        b[33 + 2 * i] = static_cast<std::uint8_t>(version[i]);
    b[51] = 26, b[52] = 3, b[53] = 21;                       // A-GPS expiry
    b[54] = 0x00, b[55] = 0x00, b[56] = 0x48, b[57] = 0x42;  // 50.0f
    for (std::size_t i = 0; i < identity.size(); ++i)
        b[58 + 2 * i] = static_cast<std::uint8_t>(identity[i]);
    b[84] = 93, b[85] = 3, b[86] = 1, b[87] = 17;
    for (std::size_t i = 0; i < 8; ++i) b[88 + i] = static_cast<std::uint8_t>(18 + i);
    return b;
}

TEST(SettingsBlocks, EveryFieldFromItsPlaceAndBack) {
    const Buffer bytes = settings_bytes();
    const auto read = parse_settings_block(bytes);
    ASSERT_TRUE(read) << read.error();
    const SettingsRecord& r = *read;
    EXPECT_EQ(r.f94_or_f12d, 2);
    EXPECT_EQ(r.f12d, 1);
    EXPECT_EQ(r.f2, 1u);
    EXPECT_EQ(r.w10, (std::array<std::uint8_t, 2>{0x34, 0x12}));
    EXPECT_EQ(r.f5, 1u);
    EXPECT_EQ((std::array{r.b6, r.b7, r.b8}), (std::array<std::uint8_t, 3>{6, 7, 8}));
    EXPECT_EQ(r.version_code_text, "VUNA0_00");
    EXPECT_EQ(r.version_text, "1.31.02");
    EXPECT_EQ(r.agps_expiry.date(), (CalendarDate{2026, 3, 21}));
    EXPECT_EQ(r.used_space_percent, 50.0f);
    EXPECT_EQ(r.identity, "12050301AB12");
    EXPECT_EQ((std::array{r.b93, r.b3, r.f12a, r.b17}),
              (std::array<std::uint8_t, 4>{93, 3, 1, 17}));
    EXPECT_EQ(r.b18_b25, (std::array<std::uint8_t, 8>{18, 19, 20, 21, 22, 23, 24, 25}));

    const SettingsBlock back = make_settings_block(r);
    EXPECT_EQ(Buffer(back.begin(), back.end()), bytes) << "written back byte for byte";
    EXPECT_EQ(make_settings_block(SettingsRecord{})[53], 0xFF) << "an unknown expiry by default";

    for (const std::size_t size : {0u, 95u, 97u, 145u})
        EXPECT_FALSE(parse_settings_block(Buffer(size, 0))) << size << " bytes";
}

TEST(ViewsBlocks, FiveRecordsAndNamesAndBack) {
    ViewsRecord views;
    const char* names[] = {"Pace", "Durée", "", "TenLetters", "Höhe"};
    for (std::size_t v = 0; v < kViewCount; ++v) {
        for (std::size_t i = 0; i < kViewRecordSize; ++i)
            views.views[v].record[i] = static_cast<std::uint8_t>(v * 16 + i);
        views.views[v].name = names[v];
    }
    const ViewsBlock block = make_views_block(views);
    EXPECT_EQ(block[9], 0x10) << "view 1's record at 9";
    EXPECT_EQ(block[45 + 20 * 1 + 6], 0xE9) << "view 1's name at 65, é as UTF-16LE";
    EXPECT_EQ(block[45 + 20 * 3 + 18], 's') << "ten characters fill the field";
    const auto read = parse_views_block(block);
    ASSERT_TRUE(read) << read.error();
    EXPECT_EQ(*read, views);

    ViewsRecord too_long = views;
    too_long.views[0].name = "ElevenChars";
    too_long.views[1].name = "NineChars🏃";  // the pair would need units 10 and 11
    const auto cut = parse_views_block(make_views_block(too_long));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->views[0].name, "ElevenChar");
    EXPECT_EQ(cut->views[1].name, "NineChars") << "a character is cut whole or not at all";

    for (const std::size_t size : {0u, 96u, 144u, 146u})
        EXPECT_FALSE(parse_views_block(Buffer(size, 0))) << size << " bytes";
}

TEST(WatchCharacters, WhatTheWatchCanShow) {
    struct Case {
        const char* text;
        bool ok;
        const char* bad;
    };
    const Case cases[] = {
        {"Plain ASCII ~", true, ""}, {"àáâäèéêëìíîïòóôöùúûüçñ", true, ""},
        {"Straße", false, "ß"},      {"Ärger", false, "Ä"},
        {"Run 🏃", false, "🏃"},
    };
    for (const auto& c : cases) {
        const auto bad = first_unstorable_character(c.text);
        EXPECT_EQ(!bad, c.ok) << c.text;
        EXPECT_EQ(bad.value_or(""), c.bad) << c.text;
    }
    const std::u16string lone{u'a', char16_t(0xD800), u'b'};
    EXPECT_EQ(utf16_to_utf8(lone),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16("Run 🏃 ñ")), "Run 🏃 ñ");
}

}  // namespace
}  // namespace stridelog::hostkit
