// The session decoder over record streams built here byte by byte: the hour roll, the record check,
// the position a marker takes, the start-time correction and fix-up, the blocks.
#include "watchdata/session_records.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/golden.hpp"
#include "tests/support/record_stream.hpp"

namespace stridelog::watchdata {
namespace {

using test::Bytes;
using test::header_sector;
using test::Stream;
using test::Time;
constexpr std::int32_t kNone = kNoPosition;

// Reads a stream the way a download does: sector after sector into the
// decode buffer behind the carry area.
// Where records fall against sector boundaries, and the break line, are pinned
// by the simulator's workout tests, which run this decoder over its sessions.
std::vector<TrackPoint> decode(TrackDecoder& decoder, const Bytes& stream) {
    std::vector<std::string> lines;
    decoder.begin_session();
    std::array<std::uint8_t, kDecodeBufferSize> buffer{};
    const std::size_t sectors = (stream.size() + 4095) / 4096;
    for (std::size_t s = 0; s < sectors; ++s) {
        std::fill(buffer.begin() + 32, buffer.end(), std::uint8_t{0xFF});
        const std::size_t n = std::min<std::size_t>(4096, stream.size() - s * 4096);
        std::memcpy(buffer.data() + 32, stream.data() + s * 4096, n);
        if (decoder.decode_sector(buffer, static_cast<std::uint8_t>(s + 5), lines) ==
            TrackDecoder::Outcome::stream_ended)
            break;
    }
    return decoder.points();
}

std::int32_t lon(const TrackPoint& p) {
    return static_cast<std::int32_t>(p[8] | p[9] << 8 | p[10] << 16 |
                                     static_cast<std::uint32_t>(p[11]) << 24);
}
std::int32_t lat(const TrackPoint& p) {
    return static_cast<std::int32_t>(p[12] | p[13] << 8 | p[14] << 16 |
                                     static_cast<std::uint32_t>(p[15]) << 24);
}
std::string when(const TrackPoint& p) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u-%02u-%02u %02u:%02u:%02u", p[2], p[3], p[4], p[5], p[6],
                  p[7]);
    return text;
}

constexpr Time kTen{2024, 5, 17, 10, 0, 0};

// Each case's points as "time longitude": golden/watchdata/track-points.txt.
TEST(TrackDecoder, TimesPositionsAndChecks) {
    const Time marker{2024, 5, 17, 10, 1, 0};
    const std::pair<const char*, Stream> cases[] = {
        {"minutes 58, 59, 03: the third point is in the next hour",
         Stream().full(1, 1, 0, {2024, 5, 17, 10, 58, 0}).delta(59, 30, 1).delta(3, 0, 1).end()},
        {"the hour rolls over midnight into the next day",
         Stream().full(1, 1, 0, {2024, 2, 29, 23, 59, 0}).time_only(0, 10).end()},
        {"time-only points stand at the running position",
         Stream().full(50, 1, 0, kTen).delta(0, 5, -20).time_only(0, 9).end()},
        {"deltas wrap as 32-bit sums", Stream().full(0x7FFFFFFF, 1, 0, kTen).delta(0, 1, 1).end()},
        {"month 13 is dropped but its position still counts",
         Stream()
             .full(10, 1, 0, kTen)
             .full(500, 1, 0, {2024, 13, 1, 0, 0, 0})
             .delta(0, 7, 1)
             .end()},
        {"minute and second 60 pass the check, 61 does not", Stream()
                                                                 .full(1, 1, 0, kTen)
                                                                 .delta(60, 60, 1)
                                                                 .delta(61, 0, 1)
                                                                 .time_only(0, 61)
                                                                 .time_only(60, 60)
                                                                 .end()},
        {"deltas and time-only records before the first full record are skipped",
         Stream().delta(0, 1, 5).time_only(0, 2).full(9, 1, 0, kTen).end()},
        {"a break record first: no points", Stream().end().full(9, 1, 0, kTen)},
        {"a marker right after a full record has no position",
         Stream().full(42, 43, 0, kTen).marker(marker).end()},
        {"a marker after a delta takes the delta's position",
         Stream().full(42, 43, 0, kTen).delta(0, 1, 1).marker(marker).end()},
        {"a marker after a time-only record stands at zero",
         Stream().full(42, 43, 0, kTen).time_only(0, 1).marker(marker).end()},
        {"a marker with an impossible time is skipped",
         Stream().full(42, 43, 0, kTen).marker({2024, 2, 30, 10, 1, 0}).end()},
    };
    std::string text;
    for (const auto& [legend, stream] : cases) {
        TrackDecoder decoder;
        text += std::string("## ") + legend + "\n";
        for (const auto& p : decode(decoder, stream.bytes))
            text += when(p) + " " + std::to_string(lon(p)) + "\n";
    }
    test::expect_golden("watchdata/track-points", text);
}

TEST(TrackDecoder, MarkersOpeningASessionTakeWhatTheDownloadLastKept) {
    struct Case {
        const char* legend;
        Stream first_session;  // empty: the marker opens the download
        std::int32_t longitude, latitude;
    };
    const Case cases[] = {
        {"opening the download: zero", Stream(), 0, 0},
        {"after a session that ended on a delta: its position",
         Stream().full(70, 80, 0, kTen).delta(0, 1, 1, 1).end(), 71, 81},
        {"after a session that ended on a full record: no position",
         Stream().full(70, 80, 0, kTen).end(), kNone, 0},
        {"after a session that ended on a time-only record: zero",
         Stream().full(70, 80, 0, kTen).time_only(0, 1).end(), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        TrackDecoder decoder;
        if (!c.first_session.bytes.empty()) decode(decoder, c.first_session.bytes);
        const auto points = decode(decoder, Stream().marker(kTen).end().bytes);
        ASSERT_EQ(points.size(), 1u);
        EXPECT_EQ(lon(points[0]), c.longitude);
        EXPECT_EQ(lat(points[0]), c.latitude);
    }
}

// How leading points take the start is pinned by the simulator's workouts
// (tests/sim, tests/e2e); an erased start moves nothing.
TEST(SessionRecords, AnErasedStartMovesNoPoint) {
    Stream st;
    st.full(kNone, 1, 0, kTen);
    std::vector<TrackPoint> points(1);
    std::copy_n(st.bytes.begin(), 25, points[0].begin());
    fix_up_leading_points(points, TimeBytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(when(points[0]), "24-05-17 10:00:00");
}

TEST(SessionRecords, HeaderStampsAndBlocks) {
    const TimeBytes start{50, 59, 23, 31, 12, 24};  // 2024-12-31 23:59:50
    const TimeBytes erased{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    struct Case {
        const char* legend;
        TimeBytes a, b;
        TimeBytes corrected;
    };
    // clang-format off
    const Case cases[] = {
        {"B 20 s after A: +20 s, into the next year", {0, 0, 10, 1, 6, 24}, {20, 0, 10, 1, 6, 24}, {10, 0, 0, 1, 1, 25}},
        {"B before A: back", {0, 0, 10, 1, 6, 24}, {0, 59, 9, 1, 6, 24}, {50, 58, 23, 31, 12, 24}},
        {"an erased stamp: unchanged", erased, {20, 0, 10, 1, 6, 24}, start},
        {"a stamp on 30 February: unchanged", {0, 0, 10, 30, 2, 24}, {20, 0, 10, 1, 6, 24}, start},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        const SessionRecord session = read_session_header(header_sector(0, 3, start, c.a, c.b));
        EXPECT_EQ(session.start_stamp(), c.corrected);
    }

    // The blocks' bytes are pinned through the SDK (tests/e2e/workout_test.cpp).
    const SessionRecord many = read_session_header(header_sector(0, 255, start, erased, erased));
    EXPECT_EQ(build_session_block(many).size(), 60u + 16u * 255u)
        << "a lap count past the sector's room still gives the block the header promises";
}

}  // namespace
}  // namespace stridelog::watchdata
