// The session blocks read back and the files written from them, with blocks
// built here byte by byte from the block layouts. What a whole realistic
// session writes is pinned by the golden files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>

#include "stridelog/hostkit.hpp"
#include "tests/hostkit/realistic_watch.hpp"
#include "tests/support/golden.hpp"

namespace stridelog::hostkit {
namespace {

using Buffer = std::vector<std::uint8_t>;

void put(Buffer& b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct Point {
    std::uint8_t header;
    std::uint8_t byte1;
    Stamp time;  // point order
    std::int32_t lon, lat;
    std::int16_t alt;
    std::uint16_t m1, m2, m3;
    std::uint8_t m4;
};

const Stamp kErased = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Stamps A and B, a header starting at `start` (stamp order), the laps and,
// with points, the count and the points.
Buffer make_block(const Stamp& a, const Stamp& b, const Stamp& start, std::uint16_t recorded,
                  std::uint8_t laps, const std::vector<Point>* points) {
    Buffer out(a.begin(), a.end());
    out.insert(out.end(), b.begin(), b.end());
    put(out, recorded, 2);
    out.push_back(laps);
    out.insert(out.end(), start.begin(), start.end());
    for (int i = 9; i < 48; ++i) out.push_back(static_cast<std::uint8_t>(0x40 + i));
    for (int i = 0; i < 16 * laps; ++i) out.push_back(static_cast<std::uint8_t>(i));
    if (points == nullptr) return out;
    put(out, static_cast<std::uint32_t>(points->size()), 4);
    for (const auto& p : *points) {
        out.push_back(p.header);
        out.push_back(p.byte1);
        out.insert(out.end(), p.time.begin(), p.time.end());
        put(out, static_cast<std::uint32_t>(p.lon), 4);
        put(out, static_cast<std::uint32_t>(p.lat), 4);
        put(out, static_cast<std::uint16_t>(p.alt), 2);
        put(out, p.m1, 2);
        put(out, p.m2, 2);
        put(out, p.m3, 2);
        put(out, p.m4, 1);
    }
    return out;
}

// 2026-03-14 09:05:09 local, in stamp order.
const Stamp kStart = {9, 5, 9, 14, 3, 26};
// clang-format off
const std::vector<Point> kPoints = {
    {0x00, 7, {26, 3, 14, 9, 5, 9}, 85123456, 475678901, 412, 100, 200, 300, 40},
    {0x03, 0, {26, 3, 14, 9, 5, 12}, kNoPosition, 0, 0, 0, 0, 0, 1},
    {0x01, 9, {26, 3, 14, 9, 59, 58}, -1234567, -339999999, -12, 65535, 2, 3, 255},
    {0x02, 0, {26, 3, 14, 10, 0, 3}, -1234567, -339999999, -12, 0, 0, 0, 0},
    {0x03, 0, {26, 3, 14, 10, 0, 4}, 0, 0, 0, 0, 0, 0, 2},  // 0/0: a marker before any position
    {0x01, 0, {26, 3, 14, 10, 0, 5}, 0, 10, 0, 0, 0, 0, 0},  // on the prime meridian
};
// Two points 0.001 degree of latitude apart (about 111.2 m), 30 s apart, over midnight.
const std::vector<Point> kOneLap = {
    {0x00, 0, {26, 6, 1, 23, 59, 50}, 100000000, 500000000, 5, 0, 0, 0, 0},
    {0x03, 0, {26, 6, 1, 23, 59, 55}, kNoPosition, 0, 0, 0, 0, 0, 0},
    {0x01, 0, {26, 6, 2, 0, 0, 20}, 100000000, 500010000, 6, 0, 0, 0, 0},
};
// clang-format on

Result<Session> parse(const Buffer& block) {
    return parse_session_block(block, SessionBlockKind::either);
}

// Every field read, as the JSON, GPX and TCX exports write it: golden/hostkit/session-files.txt.
TEST(SessionBlock, ReadAndWrittenInEveryTextFormat) {
    const Stamp a = {0, 0, 10, 14, 3, 26}, b = {20, 0, 10, 14, 3, 26};
    struct Case {
        const char* legend;
        Buffer block;
        int offset_s;
    };
    const Case cases[] = {
        {"stamps, 1234 recorded, two laps, six points", make_block(a, b, kStart, 1234, 2, &kPoints),
         0},
        {"one lap of 111.2 m in 30 s, at -05:30",
         make_block(kErased, kErased, {50, 59, 23, 1, 6, 26}, 3, 0, &kOneLap), -5 * 3600 - 30 * 60},
        {"no track: a lap and no empty track", make_block(kErased, kErased, kStart, 0, 1, nullptr),
         0},
    };
    std::string text;
    for (const auto& c : cases) {
        const auto s = parse(c.block);
        ASSERT_TRUE(s) << c.legend << ": " << s.error();
        const auto zone = LocalTime::fixed_offset(c.offset_s);
        text += std::string("## ") + c.legend + "\n" + write_json(*s, zone) + write_gpx(*s, zone) +
                write_tcx(*s, zone);
    }
    test::expect_golden("hostkit/session-files", text);
}

TEST(SessionBlock, SizesThatDoNotAddUpAreErrors) {
    const Buffer track = make_block(kErased, kErased, kStart, 4, 2, &kPoints);
    const Buffer bare = make_block(kErased, kErased, kStart, 0, 3, nullptr);
    Buffer count_too_big = track, huge_count = track, too_many_laps = bare;
    count_too_big[60 + 32] = 5;  // five points announced, four present
    std::fill_n(huge_count.begin() + 92, 4, 0xFF);
    too_many_laps[12 + 2] = 4;
    using K = SessionBlockKind;
    const struct {
        const char* legend;
        Buffer block;
        SessionBlockKind kind;
        bool ok;
    } cases[] = {
        {"whole track block", track, K::with_track, true},
        {"whole bare block of 3 laps (108 bytes)", bare, K::without_track, true},
        {"either: the bare block", bare, K::either, true},
        {"either: the track block", track, K::either, true},
        {"count larger than the points", count_too_big, K::with_track, false},
        {"count 0xFFFFFFFF", huge_count, K::with_track, false},
        {"bare block read as a track block", bare, K::with_track, false},
        {"track block read as a bare block", track, K::without_track, false},
        {"lap count beyond the block", too_many_laps, K::without_track, false},
        {"shorter than stamps and header", Buffer(59, 0), K::either, false},
    };
    for (const auto& c : cases) {
        const auto s = parse_session_block(c.block, c.kind);
        EXPECT_EQ(s.ok(), c.ok) << c.legend << ": " << s.error();
        EXPECT_EQ(s.error().empty(), c.ok) << c.legend;
    }
}

TEST(SessionBlock, StampsThatAreNoDateTimeAreAbsent) {
    const struct {
        const char* legend;
        Stamp stamp;  // stamp order
        bool valid;
    } cases[] = {
        {"erased", kErased, false},
        {"month 13", {0, 0, 10, 1, 13, 26}, false},
        {"February 29 of a leap year", {0, 0, 0, 29, 2, 24}, true},
        {"February 29 of a common year", {0, 0, 0, 29, 2, 25}, false},
        {"February 29, 2000: a century year divisible by 400", {0, 0, 0, 29, 2, 0}, true},
        {"February 29, 2100: a century year not divisible by 400", {0, 0, 0, 29, 2, 100}, false},
        {"hour 24", {0, 0, 24, 1, 1, 26}, false},
        {"second 60, as the watch allows", {60, 0, 0, 1, 1, 26}, true},
        {"day 0", {0, 0, 0, 0, 1, 26}, false},
    };
    for (const auto& c : cases) {
        const auto s = parse_session_block(make_block(c.stamp, kErased, c.stamp, 0, 0, nullptr),
                                           SessionBlockKind::without_track);
        ASSERT_TRUE(s) << c.legend;
        EXPECT_EQ(s->stamp_a.has_value(), c.valid) << c.legend;
        EXPECT_EQ(s->header.start().has_value(), c.valid) << c.legend;
        const auto json = nlohmann::json::parse(write_json(*s, LocalTime::fixed_offset(0)));
        EXPECT_EQ(json["stamp_a"].is_null(), !c.valid) << c.legend;
        const std::string gpx = write_gpx(*s, LocalTime::fixed_offset(0));
        EXPECT_EQ(gpx.find("stamp-a=") != std::string::npos, c.valid) << c.legend;
        EXPECT_EQ(gpx.find("stamp-b="), std::string::npos) << c.legend;
    }
}

TEST(LocalTime, HostZoneAndOffsets) {
    const DateTime summer{2026, 7, 1, 12, 0, 0}, winter{2026, 1, 1, 12, 0, 0};
    {
        const test::ScopedTimeZone tz("Europe/Berlin");
        const auto host = LocalTime::host_zone();
        EXPECT_EQ(format_utc(*host.to_utc(summer)), "2026-07-01T10:00:00Z");
        EXPECT_EQ(format_utc(*host.to_utc(winter)), "2026-01-01T11:00:00Z");
    }
    EXPECT_EQ(format_utc(*LocalTime::fixed_offset(-9 * 3600).to_utc(winter)),
              "2026-01-01T21:00:00Z");
    EXPECT_FALSE(LocalTime::fixed_offset(0).to_utc({2026, 2, 30, 0, 0, 0}));

    const std::pair<const char*, std::optional<int>> cases[] = {
        {"+02:00", 7200}, {"-05:30", -19800}, {"+14:00", 50400}, {"Z", 0},       {"+14:01", {}},
        {"+2:00", {}},    {"02:00", {}},      {"+02:60", {}},    {"+0a:00", {}}, {"", {}}};
    for (const auto& [text, seconds] : cases) EXPECT_EQ(parse_utc_offset(text), seconds) << text;
}

TEST(Formats, DegreesAndFileStems) {
    const std::pair<std::int32_t, const char*> cases[] = {{0, "0.0000000"},
                                                          {-1, "-0.0000001"},
                                                          {1800000000, "180.0000000"},
                                                          {-2147483647 - 1, "-214.7483648"},
                                                          {85123456, "8.5123456"}};
    for (const auto& [e7, text] : cases) EXPECT_EQ(format_degrees(e7), text);
    EXPECT_EQ(session_file_stem(*parse(make_block(kErased, kErased, kStart, 0, 0, nullptr))),
              "2026-03-14T09-05-09");
    EXPECT_EQ(session_file_stem(*parse(make_block(kErased, kErased, kErased, 0, 0, nullptr))),
              "no-start-time");
}

TEST(DownloadIndex, LinesNamesAndSuffixes) {
    const std::string id(64, 'a');
    std::vector<std::string> bad;
    const auto entries = DownloadIndex::parse(
        "# comment\n" + id + " gpx 2026-03-14T09-05-09.gpx\n" + id +
            " tcx name with spaces.tcx\nshort gpx x.gpx\n" + id + " gpx ../escape.gpx\n",
        &bad);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].file, "name with spaces.tcx");
    EXPECT_EQ(bad.size(), 2u);

    std::set<std::string> taken = {"a.gpx", "a_2.gpx"};
    const auto is_taken = [&](const std::string& n) { return taken.count(n) != 0; };
    EXPECT_EQ(choose_file_name("a", "gpx", is_taken), "a_3.gpx");
    EXPECT_EQ(choose_file_name("b", "gpx", is_taken), "b.gpx");
}

}  // namespace
}  // namespace stridelog::hostkit
