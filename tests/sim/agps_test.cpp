// The watch's A-GPS state as the host sees it: the first two status bytes
// before and after a SetExpiryDate, the packet check in sectors 230..243, the
// expiry running out on the watch's clock, and the date kept in a flash image.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "sim/agps_model.hpp"
#include "tests/sim/watch_bench.hpp"
#include "tests/support/golden.hpp"
#include "update/epo_packets.hpp"

namespace stridelog::sim {
namespace {

namespace fs = std::filesystem;

// An orbit file whose bytes differ from packet to packet, so a packet copied to
// the wrong place or a byte lost shows.
Bytes orbit_file() {
    Bytes orbit(kEpoOrbitFileSize);
    for (std::size_t i = 0; i < orbit.size(); ++i)
        orbit[i] = static_cast<std::uint8_t>((i * 7 + i / 180) & 0xFF);
    return orbit;
}

Bytes good_stream() {
    return make_epo_stream(orbit_file());
}

std::size_t packet(std::size_t n) {
    return n * kEpoPacketSize;
}

// Each writes a damaged stream variant in place.
using Damage = std::function<void(Bytes&)>;

std::string replies_text(const std::vector<Bytes>& replies) {
    std::string text;
    for (const Bytes& reply : replies) text += test::bytes_text(reply) + "\n";
    return text.empty() ? "no reply\n" : text;
}

WatchConfig on_date(int year, int month, int day) {
    WatchConfig config;
    config.start_time = WatchTime{year, month, day, 12, 0, 0};
    return config;
}

TEST(AgpsPackets, TheStreamOfAnOrbitFileIsWellFormedAndDamageIsNamed) {
    // The host's packets (pinned byte by byte in its own tests) are what the watch checks.
    ASSERT_EQ(good_stream(), update::convert_orbit_file(orbit_file()));

    const std::vector<std::pair<const char*, Damage>> rows = {
        {"as made", [](Bytes&) {}},
        {"followed by the 44 spare bytes of sector 243, erased",
         [](Bytes& s) { s.resize(kEpoAreaSize, 0xFF); }},
        {"packets 5 and 6 swapped",
         [](Bytes& s) {
             std::swap_ranges(s.begin() + packet(5), s.begin() + packet(6), s.begin() + packet(6));
         }},
        {"end packet missing (erased)",
         [](Bytes& s) { std::fill(s.begin() + packet(299), s.end(), 0xFF); }},
        {"end packet numbered 299",
         [](Bytes& s) {
             s[packet(299) + 6] = 299 & 0xFF;
             s[packet(299) + 7] = 299 >> 8;
         }},
        {"packet 298 padded with data",
         [](Bytes& s) {
             s[packet(298) + 8 + 130] = 0x55;
             s[packet(298) + 188] ^= 0x55;  // checksum kept right
         }},
        {"a packet without its line end", [](Bytes& s) { s[packet(42) + 190] = 0x00; }},
        {"stream cut short", [](Bytes& s) { s.resize(kEpoStreamSize - 1); }}};
    std::string text;
    for (const auto& [legend, damage] : rows) {
        Bytes area = good_stream();
        damage(area);
        std::string why;
        const bool ok = is_well_formed_epo_stream(area, &why);
        text += std::string(legend) + ": " + (ok ? "well-formed" : why) + "\n";
    }
    test::expect_golden("sim/epo_streams", text);
}

// watch's last note.
TEST(AgpsState, StatusBytesBeforeAndAfterSetExpiryDate) {
    struct Row {
        const char* legend;
        WatchConfig config;
        Damage damage;  // applied to a good stream before it is stored
        Bytes expiry;   // SetExpiryDate payload after the id
    };
    const Damage none = [](Bytes&) {};
    WatchConfig refusing = on_date(2012, 12, 31);
    refusing.agps_refuse = true;
    WatchConfig flag_zero = on_date(2012, 12, 31);
    flag_zero.status_bytes = {0, 0, 0, 0};
    WatchConfig fixed = on_date(2012, 12, 31);
    fixed.status_bytes = {0x01, 0x00, 0x00, 0x01};
    fixed.fixed_status_bytes = true;
    const WatchConfig dec31 = on_date(2012, 12, 31);
    WatchConfig two_bytes = dec31;
    two_bytes.status_bytes = {0, 0};
    const Damage bad_end_checksum = [](Bytes& s) { s[packet(299) + 188] = 0x6E; };
    const std::vector<Row> rows = {
        {"a week ahead", dec31, none, {13, 1, 7}},
        {"far ahead: days left stop at 255", dec31, none, {14, 6, 1}},
        {"two status bytes configured", two_bytes, none, {13, 1, 7}},
        {"flag 0 stays 0", flag_zero, none, {13, 1, 7}},
        {"no date (FF FF FF)", dec31, none, {0xFF, 0xFF, 0xFF}},
        {"one bad checksum", dec31, bad_end_checksum, {13, 1, 7}},
        {"refusing, good stream", refusing, none, {13, 1, 7}},
        {"fixed status bytes ignore the state", fixed, none, {13, 1, 7}},
    };
    std::string text;
    for (const Row& row : rows) {
        Bench bench(row.config);
        text += std::string("== ") + row.legend + "\n" + replies_text(bench.ask({0x2C}));
        Bytes stream = good_stream();
        row.damage(stream);
        bench.watch.with_flash([&](Flash& f) { f.store(kEpoAddress, stream); });
        Bytes command{0x2E};
        command.insert(command.end(), row.expiry.begin(), row.expiry.end());
        text += replies_text(bench.ask(command));
        text += replies_text(bench.ask({0x2C}));
        text += bench.watch.log().back() + "\n";
    }
    test::expect_golden("sim/agps_expiry_date", text);
}

// Each case starts from an expiry two days on (status 2d 01 02 00 01).
TEST(AgpsState, ExpiryRunsOutOnTheWatchClock) {
    const std::pair<const char*, std::function<void(Bench&)>> rows[] = {
        {"the next morning", [](Bench& b) { b.clock->sleep_ms(20 * 3600 * 1000); }},
        {"two days on", [](Bench& b) { b.clock->sleep_ms(2 * 24 * 3600 * 1000); }},
        {"clock set, then 16 h on: the expiry day",
         [](Bench& b) {
             b.ask({0x39, 13, 1, 1, 8, 0, 0});
             b.clock->sleep_ms(16 * 3600 * 1000);
         }},
        {"clock set back a year",
         [](Bench& b) {
             b.ask({0x39, 11, 12, 31, 8, 0, 0});
         }},
        {"a second date on broken data drops the first",
         [](Bench& b) {
             b.watch.with_flash([](Flash& f) { f.erase_sector(kEpoAddress); });
             b.ask({0x2E, 13, 1, 9});
         }},
    };
    std::string text;
    for (const auto& [legend, then] : rows) {
        Bench bench(on_date(2012, 12, 31));
        bench.watch.with_flash([](Flash& f) { f.store(kEpoAddress, good_stream()); });
        bench.ask({0x2E, 13, 1, 2});
        text += std::string("== ") + legend + "\n" + replies_text(bench.ask({0x2C}));
        then(bench);
        text += replies_text(bench.ask({0x2C}));
    }
    test::expect_golden("sim/agps_expiry_runs_out", text);
}

// Each case: the expiry the watch starts with, its status and its notes at start.
TEST(AgpsState, AnImageKeepsTheDateWhenItsPacketsAreSound) {
    enum Packets { none, good, broken };
    const std::tuple<const char*, Bytes, Packets, bool> rows[] = {
        // legend, directory bytes 112.. (day, month, year - 2000), packets, refusing
        {"date and packets", {7, 1, 13}, good, false},
        {"erased bytes", {0xFF, 0xFF, 0xFF}, good, false},
        {"date, packets never loaded", {7, 1, 13}, none, false},
        {"date over broken packets", {7, 1, 13}, broken, false},
        {"refusing watch", {7, 1, 13}, good, true},
    };
    const fs::path image =
        fs::temp_directory_path() / ("agps_image_" + std::to_string(::getpid()) + ".bin");
    std::string text;
    for (const auto& [legend, directory, packets, refuse] : rows) {
        {
            Flash flash;
            flash.store(112, directory);
            Bytes stream = good_stream();
            if (packets == broken) stream[packet(3) + 188] ^= 0x01;
            if (packets != none) flash.store(kEpoAddress, stream);
            std::string error;
            ASSERT_TRUE(flash.save(image.string(), error)) << error;
        }
        WatchConfig config = on_date(2012, 12, 31);
        config.flash_image_path = image.string();
        config.agps_refuse = refuse;
        Bench bench(config);
        const auto expiry = bench.watch.agps_expiry();
        text += std::string("== ") + legend + "\nexpiry " +
                (expiry ? std::to_string(expiry->year) + "-" + std::to_string(expiry->month) + "-" +
                              std::to_string(expiry->day)
                        : "none") +
                "\n" + replies_text(bench.ask({0x2C}));
        for (const std::string& note : bench.watch.log()) text += note + "\n";
    }
    fs::remove(image);
    test::expect_golden("sim/agps_image", text);
}

TEST(AgpsState, ClockBeforeAnySetClockIsTheHostsUtcDate) {
    Bench bench;
    const auto before = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    const WatchTime now = bench.watch.clock_now();
    const auto after = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    const std::chrono::sys_days watch_day{std::chrono::year_month_day{
        std::chrono::year{now.year}, std::chrono::month{static_cast<unsigned>(now.month)},
        std::chrono::day{static_cast<unsigned>(now.day)}}};
    EXPECT_TRUE(watch_day == before || watch_day == after);
}

}  // namespace
}  // namespace stridelog::sim
