// The set-up blocks as the SDK posts them read into records, and the records
// the set calls take written as bytes, laid out here byte by byte.
#include <gtest/gtest.h>

#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/text.hpp"
#include "tests/support/hostkit_helpers.hpp"

namespace stridelog::hostkit {
namespace {

using Buffer = std::vector<std::uint8_t>;

using stridelog::test::path_block;

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
    Buffer odd_name = one;
    odd_name[1] = 3;
    Buffer index_ten = one;
    index_ten[0] = 10;
    Buffer count_100 = path_block(0, u"", {});
    count_100[2] = 100;
    count_100.resize(3 + 34 * 100);
    const Case cases[] = {
        {"name length past the end", {0, 40, 0}},
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

TEST(SettingsBlocks, ReadAndWrittenBackByteForByte) {
    const Buffer bytes = stridelog::test::settings_record();
    const auto read = parse_settings_block(bytes);
    ASSERT_TRUE(read) << read.error();
    const SettingsRecord& r = *read;  // each field by name: the tool's settings document test
    const SettingsBlock back = make_settings_block(r);
    EXPECT_EQ(Buffer(back.begin(), back.end()), bytes) << "written back byte for byte";
    EXPECT_EQ(make_settings_block(SettingsRecord{})[53], 0xFF) << "an unknown expiry by default";

    EXPECT_FALSE(parse_settings_block(Buffer(145, 0))) << "a views block";
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

    EXPECT_FALSE(parse_views_block(Buffer(96, 0))) << "a settings block";
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
