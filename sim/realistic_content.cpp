#include "sim/realistic_content.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "sim/watch_setup_content.hpp"

namespace stridelog::sim {
namespace {

// A small generator of our own: the same sequence on every platform and
// standard library.
class Rng {
  public:
    explicit Rng(std::uint32_t seed) : state_(seed ? seed : 1) {}
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform in [low, high].
    int between(int low, int high) {
        return low + static_cast<int>(next() % static_cast<std::uint32_t>(high - low + 1));
    }

  private:
    std::uint32_t state_;
};

// 1e-7 degree steps per metre; longitude steps widen with the latitude.
constexpr double kLatitudeUnitsPerMetre = 1e7 / 111'195.0;

struct Activity {
    std::uint32_t seed = 1;
    WatchTime start;
    std::optional<WatchTime> stamp_a, stamp_b;
    int interval_s = 2;
    int points = 100;
    double speed_mps = 3.0;
    double lap_metres = 1000.0;
    std::int32_t latitude = 473'769'000;  // where the session starts
    std::int32_t longitude = 85'417'000;
    std::int16_t altitude = 408;
    int heart_rate = 140;
    int cadence = 85;
    int full_every = 60;     // the watch re-bases its deltas now and then
    int leading_no_fix = 0;  // points recorded before the first fix
    int stop_every = 0;      // standing still for stop_length points now and then
    int stop_length = 0;
    int pause_at = -1;                // the recording is paused before this point ...
    int pause_s = 0;                  // ... for this long
    std::uint8_t pause_flags = 0x80;  // header nibble of the first point after a pause
};

LapRecord lap_record(int index, int seconds, int metres, int heart_rate) {
    LapRecord lap{};
    auto put = [&](std::size_t at, std::uint32_t v, int width) {
        for (int i = 0; i < width; ++i) lap[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(0, static_cast<std::uint32_t>(seconds * 10), 4);  // tenths of a second
    put(4, static_cast<std::uint32_t>(metres), 4);
    put(8, static_cast<std::uint32_t>(heart_rate), 2);
    put(10, static_cast<std::uint32_t>(heart_rate + 12), 2);
    put(12, static_cast<std::uint32_t>(index + 1), 2);
    return lap;
}

SessionPlan record(const Activity& a) {
    Rng rng(a.seed);
    SessionPlan plan;
    plan.start = a.start;
    plan.stamp_a = a.stamp_a;
    plan.stamp_b = a.stamp_b;

    const double longitude_units_per_metre =
        kLatitudeUnitsPerMetre / std::cos(a.latitude * 1e-7 * 3.14159265358979 / 180.0);
    double lat = a.latitude, lon = a.longitude, heading = rng.between(0, 359) * 0.01745;
    int altitude = a.altitude;
    double distance = 0, lap_start_distance = 0;
    std::int64_t clock = to_seconds(a.start);
    std::int64_t lap_start_clock = clock;
    int heart_rate = a.heart_rate - 30;
    bool fixed = false;
    bool was_stopped = false;

    for (int i = 0; i < a.points; ++i) {
        if (i > 0) clock += a.interval_s;
        const bool after_pause = i == a.pause_at;
        if (after_pause) clock += a.pause_s;
        const bool stopped = a.stop_every > 0 && i > a.leading_no_fix && i % a.stop_every >= 1 &&
                             i % a.stop_every <= a.stop_length;

        PlannedPoint p;
        p.time = from_seconds(clock);
        if (i < a.leading_no_fix) {
            // No fix yet: the watch stores full records without a position.
            p.type = RecordType::full;
            p.m3 = static_cast<std::uint16_t>(heart_rate);
            plan.points.push_back(p);
            if (i == a.leading_no_fix / 2) {
                PlannedPoint searching;
                searching.type = RecordType::marker;
                searching.time = p.time;
                searching.m4 = 0xA0;
                plan.points.push_back(searching);
            }
            continue;
        }
        if (!stopped) {
            heading += rng.between(-15, 15) * 0.01;
            const double metres = a.speed_mps * (0.8 + rng.between(0, 40) * 0.01) * a.interval_s;
            lat += metres * std::cos(heading) * kLatitudeUnitsPerMetre;
            lon += metres * std::sin(heading) * longitude_units_per_metre;
            altitude += rng.between(-2, 2);
            distance += metres;
        }
        heart_rate += rng.between(-2, 3);
        heart_rate = std::min(std::max(heart_rate, a.heart_rate - 25), a.heart_rate + 30);

        if (!fixed || after_pause || i % a.full_every == 0)
            p.type = RecordType::full;
        else if (stopped)
            p.type = RecordType::time_only;
        else
            p.type = RecordType::delta;
        if (after_pause) p.header_flags = a.pause_flags;
        fixed = true;
        p.byte1 = static_cast<std::uint8_t>(stopped ? 0 : 1 + rng.between(0, 2));
        p.longitude = static_cast<std::int32_t>(std::lround(lon));
        p.latitude = static_cast<std::int32_t>(std::lround(lat));
        p.altitude = static_cast<std::int16_t>(altitude);
        p.m1 = static_cast<std::uint16_t>(stopped ? 0 : a.speed_mps * 100 + rng.between(-40, 40));
        p.m2 = static_cast<std::uint16_t>(distance / 10);
        p.m3 = static_cast<std::uint16_t>(heart_rate);
        p.m4 = static_cast<std::uint8_t>(stopped ? 0 : a.cadence + rng.between(-4, 4));
        plan.points.push_back(p);

        // Standing still: the runner marks the rest once, just after stopping.
        if (stopped && !was_stopped && p.type == RecordType::time_only) {
            PlannedPoint rest;
            rest.type = RecordType::marker;
            rest.time = p.time;
            rest.m4 = 0xB0;
            plan.points.push_back(rest);
        }
        was_stopped = stopped;

        if (distance - lap_start_distance >= a.lap_metres) {
            const int lap = static_cast<int>(plan.laps.size());
            plan.laps.push_back(lap_record(lap, static_cast<int>(clock - lap_start_clock),
                                           static_cast<int>(distance - lap_start_distance),
                                           heart_rate));
            PlannedPoint marker;
            marker.type = RecordType::marker;
            marker.time = p.time;
            marker.m4 = static_cast<std::uint8_t>(lap + 1);
            plan.points.push_back(marker);
            // Every fifth lap the watch also notes the split, right behind.
            if (lap % 5 == 4) {
                marker.m4 = 0xC0;
                plan.points.push_back(marker);
            }
            lap_start_distance = distance;
            lap_start_clock = clock;
        }
    }

    // Totals in the header's own fields: duration, distance, laps' heart rate.
    const auto duration = static_cast<std::uint32_t>(clock - to_seconds(a.start));
    const auto metres = static_cast<std::uint32_t>(distance);
    for (int i = 0; i < 4; ++i) {
        plan.header_values[i] = static_cast<std::uint8_t>(duration >> (8 * i));
        plan.header_values[4 + i] = static_cast<std::uint8_t>(metres >> (8 * i));
    }
    plan.header_values[8] = static_cast<std::uint8_t>(a.heart_rate);
    plan.header_values[9] = static_cast<std::uint8_t>(a.heart_rate + 30);
    plan.header_values[10] = static_cast<std::uint8_t>(a.seed);
    return plan;
}

WatchTime at(int year, int month, int day, int hour, int minute, int second) {
    return {year, month, day, hour, minute, second};
}

}  // namespace

std::vector<SessionPlan> realistic_sessions() {
    std::vector<SessionPlan> sessions;

    Activity morning;  // clock 20 s behind when the session started
    morning.seed = 11;
    morning.start = at(2026, 3, 2, 6, 40, 12);
    morning.stamp_a = at(2026, 3, 2, 6, 38, 0);
    morning.stamp_b = at(2026, 3, 2, 6, 38, 20);
    morning.interval_s = 2;
    morning.points = 1950;
    morning.stop_every = 400;
    morning.stop_length = 12;
    sessions.push_back(record(morning));

    Activity ride;  // cold start: no fix for the first points; clock 65 s ahead
    ride.seed = 23;
    ride.start = at(2026, 3, 4, 17, 15, 0);
    ride.stamp_a = at(2026, 3, 4, 17, 10, 5);
    ride.stamp_b = at(2026, 3, 4, 17, 9, 0);
    ride.interval_s = 4;
    ride.points = 2700;
    ride.speed_mps = 7.5;
    ride.lap_metres = 5000;
    ride.heart_rate = 128;
    ride.cadence = 90;
    ride.leading_no_fix = 6;
    ride.latitude = 474'012'300;
    ride.longitude = 86'210'000;
    ride.altitude = 512;
    sessions.push_back(record(ride));

    Activity intervals;  // across midnight; stamps never written
    intervals.seed = 37;
    intervals.start = at(2026, 3, 7, 23, 30, 5);
    intervals.interval_s = 1;
    intervals.points = 3000;
    intervals.speed_mps = 4.2;
    intervals.lap_metres = 400;
    intervals.heart_rate = 160;
    intervals.stop_every = 150;
    intervals.stop_length = 40;
    intervals.full_every = 120;
    sessions.push_back(record(intervals));

    // Indoors: laps pressed by hand, nothing recorded on the track.
    SessionPlan treadmill;
    treadmill.start = at(2026, 3, 10, 19, 2, 44);
    treadmill.stamp_a = at(2026, 3, 10, 19, 0, 0);
    treadmill.stamp_b = at(2026, 3, 10, 19, 0, 0);
    treadmill.recorded_count = 0;
    treadmill.laps = {lap_record(0, 600, 1800, 150), lap_record(1, 605, 1800, 158),
                      lap_record(2, 598, 1800, 163)};
    treadmill.header_values[0] = 0x13;
    treadmill.header_values[1] = 0x07;
    sessions.push_back(treadmill);

    Activity long_run;  // the clock was set an hour forward after the start
    long_run.seed = 41;
    long_run.start = at(2026, 3, 14, 8, 5, 30);
    long_run.stamp_a = at(2026, 3, 14, 7, 59, 58);
    long_run.stamp_b = at(2026, 3, 14, 8, 59, 58);
    long_run.interval_s = 3;
    long_run.points = 3000;
    long_run.speed_mps = 3.3;
    long_run.pause_at = 1700;
    long_run.pause_s = 7 * 60 + 13;
    long_run.latitude = 472'950'000;
    long_run.longitude = 85'000'000;
    sessions.push_back(record(long_run));

    Activity recovery;  // slow, with many stops
    recovery.seed = 53;
    recovery.start = at(2026, 3, 15, 18, 0, 0);
    recovery.stamp_a = at(2026, 3, 15, 17, 58, 30);
    recovery.stamp_b = at(2026, 3, 15, 17, 58, 33);
    recovery.interval_s = 5;
    recovery.points = 480;
    recovery.speed_mps = 2.4;
    recovery.stop_every = 60;
    recovery.stop_length = 15;
    recovery.full_every = 100;
    sessions.push_back(record(recovery));
    return sessions;
}

std::vector<std::uint8_t> realistic_sector_order() {
    std::vector<std::uint8_t> order;
    for (unsigned s = 185; s <= 229; ++s) order.push_back(static_cast<std::uint8_t>(s));
    for (unsigned s = 1; s < 185; ++s) order.push_back(static_cast<std::uint8_t>(s));
    return order;
}

std::vector<ExpectedSession> generate_realistic_flash(Flash& flash, bool large_reserve) {
    write_long_version(flash, kRealisticLongVersion);
    auto sessions =
        write_workouts(flash, realistic_sessions(), {large_reserve, realistic_sector_order()});
    // Last: the settings checksum covers the long version text.
    write_watch_setup(flash, realistic_setup());
    return sessions;
}

}  // namespace stridelog::sim
