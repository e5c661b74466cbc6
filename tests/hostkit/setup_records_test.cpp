// The set-up blocks as the SDK posts them read into records, and the records
// the set calls take written as bytes, laid out here byte by byte.
#include <gtest/gtest.h>

#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog::hostkit {
namespace {

using Buffer = std::vector<std::uint8_t>;

void PutUtf16(Buffer& b, const std::u16string& text) {
    for (const char16_t u : text) {
        b.push_back(static_cast<std::uint8_t>(u));
        b.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

// A 0x2002 block: index, name length, UTF-16LE name, count, 34-byte waypoints.
Buffer PathBlock(std::uint8_t index, const std::u16string& name,
                 const std::vector<std::pair<std::uint32_t, std::u16string>>& waypoints) {
    Buffer b{index, static_cast<std::uint8_t>(2 * name.size())};
    PutUtf16(b, name);
    b.push_back(static_cast<std::uint8_t>(waypoints.size()));
    for (const auto& [word, wname] : waypoints) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(~word >> (8 * i)));
        for (int i = 0; i < 6; ++i) b.push_back(static_cast<std::uint8_t>(0xA0 + i));
        Buffer name_field;
        PutUtf16(name_field, wname);
        name_field.resize(20, 0);
        b.insert(b.end(), name_field.begin(), name_field.end());
    }
    return b;
}

TEST(PathBlocks, ReadAsPosted) {
    const auto read =
        parse_path_block(PathBlock(2, u"Café", {{0xFFFFFFFEu, u"Start"}, {12, u"TenLetters"}}));
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
    const Buffer block = PathBlock(0, u"", {{12, u"TenLetters"}});
    const auto host = make_host_waypoint(path.waypoints[1]);
    EXPECT_TRUE(std::equal(host.begin(), host.end(), block.begin() + 3));
}

TEST(PathBlocks, RefusesInconsistentBlocks) {
    struct Case {
        const char* legend;
        Buffer block;
    };
    Buffer one = PathBlock(1, u"A", {{1, u"x"}});
    Buffer short_by_one(one.begin(), one.end() - 1);
    Buffer long_by_one = one;
    long_by_one.push_back(0);
    Buffer odd_name = one;
    odd_name[1] = 3;
    Buffer index_ten = one;
    index_ten[0] = 10;
    Buffer count_100 = PathBlock(0, u"", {});
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
         PathBlock(0, std::u16string(33, u'a'), {})},
    };
    ASSERT_TRUE(parse_path_block(PathBlock(0, std::u16string(32, u'a'), {})))
        << "32 characters fit";
    for (const auto& c : cases) {
        const auto path = parse_path_block(c.block);
        EXPECT_FALSE(path) << c.legend;
        EXPECT_FALSE(path.error().empty()) << c.legend;
    }
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
