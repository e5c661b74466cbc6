// The workout flash as a host's reader meets it: records laid out across
// sectors so that reading each sector into a 4128-byte buffer at offset 32 and
// carrying an unread tail of at most 25 bytes yields the planned stream; the
// directory and usage bitmap; and the points a correct reader must deliver.
#include "sim/workout_encoder.hpp"

#include <gtest/gtest.h>

#include <set>

#include "sim/realistic_content.hpp"
#include "tests/support/golden.hpp"
#include "watchdata/session_records.hpp"

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using T = RecordType;

namespace wd = watchdata;

// What the SDK's decoder makes of the sessions, downloaded in directory order
// with one decoder as a download runs it; each must be what the encoder expects.
// Returns the decoder's break lines (where it met each end of stream).
std::vector<std::string> expect_decoder_agrees(const Flash& flash,
                                               const std::vector<ExpectedSession>& sessions) {
    wd::TrackDecoder decoder;
    std::vector<std::string> breaks;
    for (const auto& e : sessions) {
        const auto record = wd::read_session_header(flash.read(e.sectors[0] * 4096u, 4096));
        EXPECT_EQ(record.header, e.header);
        decoder.begin_session();
        std::array<std::uint8_t, wd::kDecodeBufferSize> buffer{};
        auto outcome = wd::TrackDecoder::Outcome::sector_used;
        for (std::size_t i = 1;
             i < e.sectors.size() && outcome != wd::TrackDecoder::Outcome::stream_ended; ++i) {
            flash.read(e.sectors[i] * 4096u, std::span(buffer).subspan(wd::kCarryAreaSize));
            outcome = decoder.decode_sector(buffer, e.sectors[i], breaks);
        }
        wd::fix_up_leading_points(decoder.points(), record.start_stamp());
        EXPECT_EQ(decoder.points(), e.points);
    }
    return breaks;
}

PlannedPoint point(T type, int hour, int minute, int second, std::int32_t lon = 85'000'000,
                   std::int32_t lat = 470'000'000) {
    PlannedPoint p;
    p.type = type;
    p.time = {2026, 5, 1, hour, minute, second};
    p.longitude = lon;
    p.latitude = lat;
    p.altitude = 400;
    p.m1 = 0x1234;
    p.m2 = 0x5678;
    p.m3 = 0x9ABC;
    p.m4 = 0xDE;
    p.byte1 = 7;
    return p;
}

// A stream of record types, one second apart from 10:00:00.
SessionPlan stream_of(const std::vector<std::pair<T, int>>& runs) {
    SessionPlan plan;
    plan.start = {2026, 5, 1, 10, 0, 0};
    int second = 0;
    for (const auto& [type, count] : runs)
        for (int i = 0; i < count; ++i, ++second)
            plan.points.push_back(point(type, 10 + second / 3600, second / 60 % 60, second % 60,
                                        85'000'000 + second * 10));
    return plan;
}

// Each stream with where the decoder meets its end marker (sector:offset), if
// it does. Track sectors are 2 and 3; offsets count from a sector's first byte.
TEST(WorkoutLayout, RecordsLandWhereTheReaderTakesThem) {
    const std::pair<const char*, std::vector<std::pair<T, int>>> rows[] = {
        {"stream ends at the sector's end: its last 18 bytes are carried, the marker follows",
         {{T::full, 1}, {T::delta, 193}, {T::time_only, 6}}},
        {"stream ends 26 bytes before the end: the marker is read in place",
         {{T::full, 1}, {T::delta, 191}, {T::marker, 2}, {T::time_only, 6}}},
        {"a record read with 26 bytes left; the 18 after it in the last sector are never read",
         {{T::full, 1}, {T::delta, 191}, {T::marker, 2}, {T::time_only, 6}, {T::marker, 1}}},
        {"a record starting 25 bytes before the end carries to offset 7",
         {{T::full, 1}, {T::delta, 192}, {T::marker, 1}, {T::time_only, 2}, {T::full, 1}}},
        {"a delta split 10/11 is read whole from offset 22",
         {{T::full, 1}, {T::marker, 1}, {T::delta, 194}}},
    };
    std::string text;
    for (const auto& [legend, runs] : rows) {
        SCOPED_TRACE(legend);
        Flash flash;
        const SessionPlan plan = stream_of(runs);
        const auto expected = write_workouts(flash, {plan}, {});
        ASSERT_EQ(expected[0].points.size(), plan.points.size());
        text += std::string("== ") + legend + "\n" +
                std::to_string(expected[0].sectors.size() - 1) + " track sectors\n";
        for (const std::string& line : expect_decoder_agrees(flash, expected)) text += line + "\n";
    }
    test::expect_golden("sim/workout_layout", text);
}

TEST(WorkoutLayout, RecordBytesFollowTheStoredFormats) {
    SessionPlan plan = stream_of({});
    PlannedPoint first = point(T::full, 10, 0, 0, kNoPosition, 0);
    first.header_flags = 0x80;
    plan.points = {first, point(T::delta, 10, 0, 2, 85'000'000, 470'000'000),
                   point(T::time_only, 10, 0, 4), point(T::marker, 10, 0, 5)};
    plan.stamp_a = {2026, 5, 1, 9, 59, 30};  // B left erased
    Flash flash;
    const auto expected = write_workouts(flash, {plan}, {});
    // The stream (full, delta, time-only, marker records and the end), the
    // session header and its A/B stamps.
    const std::uint32_t header = expected[0].sectors[0] * 4096u;
    test::expect_golden("sim/workout_records",
                        test::bytes_text(flash.read(expected[0].sectors[1] * 4096u, 58)) + "\n" +
                            test::bytes_text(flash.read(header, 9)) + "\n" +
                            test::bytes_text(flash.read(header + 1648, 12)) + "\n");
}

TEST(WorkoutDirectory, RunsAndUsageBitmapMatchTheSessions) {
    // Sectors 0, 5, 6, 9 in use and the reserve at 230..255 (large) or 244..255.
    std::string text;
    for (const bool large : {true, false}) {
        Flash flash;
        const Bytes settings(224, 0x5A);
        flash.store(0, settings);
        SessionPlan empty = stream_of({});
        empty.recorded_count = 0;
        write_workouts(flash, {stream_of({{T::full, 2}}), empty}, {large, {5, 6, 9}});
        // The usage bitmap (224..255) and the directory's runs.
        text += test::bytes_text(flash.read(224, 37)) + "\n";
        EXPECT_EQ(flash.read(0, 224), settings);
        EXPECT_EQ(flash.read(261, 1280 - 261), Bytes(1280 - 261, 0xFF));
    }
    test::expect_golden("sim/workout_directory", text);
    EXPECT_TRUE(uses_large_reserve({0x01, 0x00, 0x00, 0x01}));
    EXPECT_FALSE(uses_large_reserve({0x01, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(uses_large_reserve({0x07, 0x08}));
}

TEST(RealisticContent, CoversWhatTheReaderMustHandle) {
    static constexpr std::size_t kRecordLength[] = {25, 21, 3, 8};
    Flash large, small;
    const auto sessions = generate_realistic_flash(large, true);
    ASSERT_EQ(generate_realistic_flash(small, false), sessions) << "not deterministic";
    // Only the reserved tail differs between the layouts.
    for (std::size_t i = 0; i < 4096; ++i)
        if (i < 252 || i > 254) {
            EXPECT_EQ(large.bytes()[i], small.bytes()[i]) << i;
        }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(large.read(96, 16).data())), "1.30.07_A12");
    const Bytes settings = large.read(0, 224);
    unsigned sum = 0;
    for (std::size_t i = 2; i < 224; ++i) sum += settings[i];
    EXPECT_EQ(Bytes(settings.begin(), settings.begin() + 2),
              (Bytes{static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(~sum)}));

    ASSERT_EQ(sessions.size(), 6u);
    std::set<std::uint8_t> types, sectors;
    std::size_t carried = 0, hour_rolls = 0, without_points = 0, shifted = 0, erased = 0;
    for (const auto& e : sessions) {
        for (const std::uint8_t s : e.sectors) {
            EXPECT_TRUE(s >= 1 && s <= 229) << int(s);
            EXPECT_TRUE(sectors.insert(s).second) << "sector " << int(s) << " used twice";
        }
        without_points += !e.has_track_points && e.points.empty() && e.laps.size() == 3;
        erased += e.stamp_a == Stamp{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        shifted +=
            e.stamp_a != e.stamp_b && !std::equal(e.header.begin() + 3, e.header.begin() + 9,
                                                  large.read(e.sectors[0] * 4096u + 3, 6).begin());
        // Records split across sectors: the reader keeps at least 26 bytes in view.
        for (std::size_t i = 0, position = 32; i < e.points.size(); ++i) {
            position += kRecordLength[e.points[i][0] & 0x0F];
            const std::size_t remaining = 4128 - position;
            if (remaining > 25) continue;
            if (i + 1 < e.points.size())
                carried += remaining > 0 && remaining < kRecordLength[e.points[i + 1][0] & 0x0F];
            position = 32 - remaining;
        }
        for (std::size_t i = 0; i < e.points.size(); ++i) {
            types.insert(e.points[i][0] & 0x0F);
            hour_rolls +=
                i > 0 && e.points[i][5] != e.points[i - 1][5] && (e.points[i][0] & 0x0F) != 0;
        }
    }
    expect_decoder_agrees(large, sessions);
    EXPECT_EQ(types, (std::set<std::uint8_t>{0, 1, 2, 3}));
    EXPECT_EQ(without_points, 1u);
    EXPECT_EQ(erased, 1u);
    EXPECT_GE(shifted, 3u);
    EXPECT_GE(carried, 20u) << "records split across sectors";
    EXPECT_GE(hour_rolls, 5u) << "deltas and time-only records crossing an hour";
    // The cold start: the first points have no position and start at the corrected start
    // (2026-03-04 17:13:55).
    const auto& ride = sessions[1].points[0];
    EXPECT_EQ(Bytes(ride.begin() + 2, ride.begin() + 12),
              (Bytes{26, 3, 4, 17, 13, 55, 0x00, 0x94, 0x35, 0x77}));
}

}  // namespace
}  // namespace stridelog::sim
