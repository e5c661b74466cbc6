// The watch character set and the path layouts, from the bytes a host or the
// watch would hold.
#include "watchdata/path_formats.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "watchdata/watch_charset.hpp"

namespace stridelog::watchdata {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes watch_bytes(std::u16string_view text) {
    const std::string s = to_watch(text);
    return Bytes(s.begin(), s.end());
}

TEST(WatchCharset, TowardTheWatch) {
    struct Case {
        const char* what;
        std::u16string text;
        Bytes bytes;
    } cases[] = {
        {"ASCII passes", u"Run 7!", {'R', 'u', 'n', ' ', '7', '!'}},
        {"Café", u"Café", {0x43, 0x61, 0x66, 0xA5}},
        {"first and last accented", u"àñ", {0xA0, 0xB5}},
        {"ç ü", u"çü", {0xB4, 0xB3}},
        {"ß is not in the set", u"Straße", {'S', 't', 'r', 'a', '|', 'e'}},
        {"capital É is not either", u"É", {'|'}},
        {"~ and DEL pass", u"~\x7F", {0x7E, 0x7F}},
        {"ö; €, 0x80 and 0xFF are not in the set", u"ö€\x80\xFF", {0xAF, '|', '|', '|'}},
        {"a pair is one character", u"a\U0001F600b", {'a', '|', 'b'}},
        {"ends at a zero character", std::u16string(u"ab\0cd", 5), {'a', 'b'}},
    };
    for (const auto& c : cases) EXPECT_EQ(watch_bytes(c.text), c.bytes) << c.what;
}

TEST(WatchCharset, FromTheWatch) {
    struct Case {
        const char* what;
        Bytes bytes;
        std::u16string text;
    } cases[] = {
        {"Café", {0x43, 0x61, 0x66, 0xA5}, u"Café"},
        {"0xC0 is a space", {'A', 0xC0, 'B'}, u"A B"},
        {"0x80 and 0x9F and 0xB6 are spaces", {0x80, 0x9F, 0xB6, 0xFF}, u"    "},
        {"ends at the first zero", {'x', 0, 'y'}, u"x"},
        {"every accented byte", {0xA0, 0xA9, 0xB5}, u"àíñ"},
    };
    for (const auto& c : cases) EXPECT_EQ(from_watch(c.bytes), c.text) << c.what;
    // Every character of the set goes to the watch and back unchanged.
    for (int b = 0xA0; b <= 0xB5; ++b)
        EXPECT_EQ(to_watch_char(from_watch_byte(static_cast<std::uint8_t>(b))), b);
}

HostWaypoint waypoint(std::uint8_t seed, std::u16string_view name) {
    HostWaypoint w{};
    for (std::size_t i = 0; i < 14; ++i) w[i] = static_cast<std::uint8_t>(seed + i);
    for (std::size_t i = 0; i < name.size() && i < 10; ++i) {
        w[14 + 2 * i] = static_cast<std::uint8_t>(name[i] & 0xFF);
        w[15 + 2 * i] = static_cast<std::uint8_t>(name[i] >> 8);
    }
    return w;
}

TEST(PathFormats, StoredCountsAreCappedAt99) {
    Bytes directory(4096, 0);
    for (std::uint8_t count : {std::uint8_t{0}, std::uint8_t{99}, std::uint8_t{100},
                               std::uint8_t{150}, std::uint8_t{255}}) {
        directory[1283] = count;
        EXPECT_EQ(stored_waypoint_count(directory, 3), std::min<std::size_t>(count, 99));
    }
}

Bytes paths_block_with(std::size_t path, std::u16string_view name, std::uint8_t count) {
    Bytes block(kPathsBlockSize, 0);
    const std::size_t at = path * 3431;
    for (std::size_t i = 0; i < name.size(); ++i) {
        block[at + 2 * i] = static_cast<std::uint8_t>(name[i] & 0xFF);
        block[at + 2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
    }
    block[at + 64] = count;
    for (std::size_t k = 0; k < 99; ++k) {
        const auto w = waypoint(static_cast<std::uint8_t>(k), u"n");
        std::copy(w.begin(), w.end(),
                  block.begin() + static_cast<std::ptrdiff_t>(at + 65 + 34 * k));
    }
    return block;
}

TEST(PathFormats, PathsBlockUnpacking) {
    struct Case {
        const char* what;
        std::uint8_t count;
        std::size_t waypoints;
    } cases[] = {{"none", 0, 0},
                 {"one", 1, 1},
                 {"99", 99, 99},
                 {"150 takes 99", 150, 99},
                 {"255 takes 99", 255, 99}};
    for (const auto& c : cases) {
        const auto paths = unpack_paths_block(paths_block_with(5, u"Ñame", c.count));
        ASSERT_TRUE(paths) << c.what;
        ASSERT_EQ(paths->size(), 10u);
        EXPECT_EQ((*paths)[5].name, u"Ñame") << c.what;
        ASSERT_EQ((*paths)[5].waypoints.size(), c.waypoints) << c.what;
        if (c.waypoints > 0) {
            EXPECT_EQ((*paths)[5].waypoints.back(),
                      waypoint(static_cast<std::uint8_t>(c.waypoints - 1), u"n"));
        }
        EXPECT_TRUE((*paths)[4].waypoints.empty());
    }
    // A name filling all 32 characters has no terminator and is read whole.
    const std::u16string full(32, u'z');
    EXPECT_EQ((*unpack_paths_block(paths_block_with(9, full, 0)))[9].name, full);

    for (std::size_t size : {std::size_t{0}, kPathsBlockSize - 1, kPathsBlockSize + 1}) {
        Bytes block(size, 1);
        EXPECT_FALSE(unpack_paths_block(block)) << size;
    }
}

}  // namespace
}  // namespace stridelog::watchdata
