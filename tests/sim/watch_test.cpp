// The watch as the host sees it: the reply bytes to each command, its flash
// after writes, its faults on the wire, its reboot and clock.
#include "sim/watch.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "link/frame.hpp"
#include "platform/clock.hpp"

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A watch with its output captured as (virtual time, bytes) writes.
struct Bench {
    explicit Bench(WatchConfig config = {}) : watch(std::move(config)) {
        watch.set_output([this](std::span<const std::uint8_t> b) {
            writes.push_back({clock->now_ms(), Bytes(b.begin(), b.end())});
        });
        watch.set_disconnect_handler([this] { ++disconnects; });
    }
    // Sends one command frame; returns the reply payloads decoded from what came out.
    std::vector<Bytes> ask(const Bytes& payload) {
        writes.clear();
        watch.feed(wire::encode_frame(payload));
        return payloads();
    }
    std::vector<Bytes> payloads() const {
        std::vector<Bytes> out;
        wire::FrameAssembler assembler;
        for (const auto& w : writes)
            assembler.feed(w.second, [&](std::span<const std::uint8_t> p) {
                out.emplace_back(p.begin(), p.end());
            });
        return out;
    }
    Bytes wire() const {
        Bytes all;
        for (const auto& w : writes) all.insert(all.end(), w.second.begin(), w.second.end());
        return all;
    }

    platform::ScopedVirtualClock clock;
    Watch watch;
    std::vector<std::pair<std::uint64_t, Bytes>> writes;
    int disconnects = 0;
};

Bytes read_cmd(std::uint32_t address, std::uint8_t count) {
    return {0x12, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16), count};
}
Bytes write_cmd(std::uint32_t address, const Bytes& data) {
    Bytes p{0x16, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(data.size())};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}
Bytes erase_cmd(std::uint32_t address) {
    return {0x14, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16)};
}

TEST(WatchReplies, EachCommandAnswersWithItsReplyOrNothing) {
    struct Row {
        const char* legend;
        Bytes command;
        std::optional<Bytes> reply;  // nullopt: the watch stays silent
    };
    const Bytes text_version{0x11, 'V', 'e', 'r', '1', '.', '3', '0'};
    const std::vector<Row> rows = {
        {"version, text form by default", {0x10}, text_version},
        {"read 4 bytes of erased flash", read_cmd(0x1D000, 4), Bytes{0x13, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"read the last byte of the flash", read_cmd(0xFFFFF, 1), Bytes{0x13, 0xFF}},
        {"erase acknowledges with its id alone", erase_cmd(0x3000), Bytes{0x15}},
        {"write acknowledges with its id alone", write_cmd(0x3000, {1, 2, 3}), Bytes{0x17}},
        {"prepare write", {0x24}, Bytes{0x25}},
        {"status: the configured four bytes", {0x2C}, Bytes{0x2D, 0x01, 0x00, 0x00, 0x01}},
        {"A-GPS expiry 2013-02-28", {0x2E, 13, 2, 28}, Bytes{0x2F}},
        {"set clock 2012-03-04 05:06:07", {0x39, 12, 3, 4, 5, 6, 7}, Bytes{0x3A, 0x00}},
        {"version with a stray byte", {0x10, 0x00}, std::nullopt},
        {"read of zero bytes", read_cmd(0, 0), std::nullopt},
        {"read starting past the flash", read_cmd(0x100000, 1), std::nullopt},
        {"read running past the flash", read_cmd(0xFFFF0, 17), std::nullopt},
        {"read missing its count", {0x12, 0, 0, 0}, std::nullopt},
        {"erase past the flash", erase_cmd(0x100000), std::nullopt},
        {"write whose count disagrees with its data", {0x16, 0, 0x30, 0, 4, 1, 2, 3}, std::nullopt},
        {"write of no data", {0x16, 0, 0x30, 0, 0}, std::nullopt},
        {"write running past the flash", write_cmd(0xFFFFE, {1, 2, 3}), std::nullopt},
        {"expiry on 30 February", {0x2E, 13, 2, 30}, std::nullopt},
        {"clock at hour 24", {0x39, 12, 3, 4, 24, 0, 0}, std::nullopt},
        {"clock in month 13", {0x39, 12, 13, 4, 5, 6, 7}, std::nullopt},
        {"unknown command", {0x42}, std::nullopt},
    };
    for (const Row& row : rows) {
        Bench bench;
        const auto replies = bench.ask(row.command);
        if (row.reply) {
            ASSERT_EQ(replies.size(), 1u) << row.legend;
            EXPECT_EQ(replies[0], *row.reply) << row.legend;
        } else {
            EXPECT_TRUE(bench.writes.empty()) << row.legend;
        }
        // Every valid frame is in the log, answered or not.
        EXPECT_EQ(bench.watch.received(), std::vector<Bytes>{row.command}) << row.legend;
    }
}

TEST(WatchReplies, ConfiguredVersionAndStatusForms) {
    struct Row {
        const char* legend;
        WatchConfig config;
        Bytes command;
        Bytes wire;  // the whole reply frame
    };
    WatchConfig numeric;
    numeric.numeric_version = NumericVersion{1, 21};
    WatchConfig two_status;
    two_status.status_bytes = {0x07, 0x08};
    WatchConfig old_text;
    old_text.version_text = "Ver1.10";
    const std::vector<Row> rows = {
        {"numeric version 1.21",
         numeric,
         {0x10},
         {0xA0, 0xA2, 0x00, 0x05, 0x11, 0x01, 0x00, 0x15, 0x00, 0x00, 0x27, 0xB0, 0xB3}},
        {"two status bytes",
         two_status,
         {0x2C},
         {0xA0, 0xA2, 0x00, 0x03, 0x2D, 0x07, 0x08, 0x00, 0x3C, 0xB0, 0xB3}},
        {"text version Ver1.10",
         old_text,
         {0x10},
         {0xA0, 0xA2, 0x00, 0x08, 0x11, 'V', 'e', 'r', '1', '.', '1', '0', 0x01, 0xFE, 0xB0, 0xB3}},
    };
    for (const Row& row : rows) {
        Bench bench(row.config);
        bench.ask(row.command);
        EXPECT_EQ(bench.wire(), row.wire) << row.legend;
    }
}

TEST(WatchFlash, WritesLandAndAWriteWithoutEraseShowsTheDamage) {
    Bench bench;
    Bytes chunk(128);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7);
    bench.ask({0x24});
    bench.ask(erase_cmd(0x5123));  // any address inside sector 5
    bench.ask(write_cmd(0x5080, chunk));
    EXPECT_EQ(bench.ask(read_cmd(0x5080, 128)), std::vector<Bytes>{[&] {
                  Bytes r{0x13};
                  r.insert(r.end(), chunk.begin(), chunk.end());
                  return r;
              }()});
    EXPECT_EQ(bench.watch.read_flash(0x5000, 0x80), Bytes(0x80, 0xFF));

    // Second write over the same bytes without an erase: old AND new.
    bench.ask(write_cmd(0x5080, Bytes(128, 0x0F)));
    const Bytes now = bench.watch.read_flash(0x5080, 128);
    for (std::size_t i = 0; i < 128; ++i) ASSERT_EQ(now[i], chunk[i] & 0x0F) << i;
    std::size_t conflicts = 0;
    bench.watch.with_flash([&](Flash& f) { conflicts = f.conflicting_programs(); });
    EXPECT_EQ(conflicts, 1u);

    bench.ask(erase_cmd(0x5FFF));
    EXPECT_EQ(bench.watch.read_flash(0x5000, Flash::kSectorSize), Bytes(Flash::kSectorSize, 0xFF));
    EXPECT_EQ(bench.watch.read_flash(0x4FFF, 1), Bytes{0xFF});
}

TEST(WatchFlash, ImageFilesLoadPaddedAndRejectOversize) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("sim_flash_" + std::to_string(::getpid()) + ".bin"))
                                 .string();
    struct Row {
        const char* legend;
        std::size_t file_size;  // of zero bytes
        bool loads;
        Bytes head;  // the first four bytes afterwards
    };
    const Bytes before{0x11, 0x22, 0x33, 0x44};
    for (const Row& row : {Row{"empty file: all erased", 0, true, {0xFF, 0xFF, 0xFF, 0xFF}},
                           Row{"short file: the rest erased", 3, true, {0, 0, 0, 0xFF}},
                           Row{"exactly 1 MiB", Flash::kSize, true, {0, 0, 0, 0}},
                           Row{"one byte too long: refused", Flash::kSize + 1, false, before}}) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            const Bytes data(row.file_size, 0x00);
            out.write(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::streamsize>(data.size()));
        }
        Flash flash;
        flash.store(0, before);
        std::string error;
        EXPECT_EQ(flash.load(path, error), row.loads) << row.legend;
        EXPECT_EQ(flash.read(0, 4), row.head) << row.legend;
        EXPECT_EQ(error.empty(), row.loads) << row.legend;
    }
    std::filesystem::remove(path);
}

TEST(WatchFaults, EachFaultKindAsSeenOnTheWire) {
    const Bytes erase_reply_frame = wire::encode_frame(Bytes{0x15});
    struct Row {
        const char* legend;
        Fault fault;
        // (delay after the command, bytes) of every write the watch makes
        std::vector<std::pair<std::uint64_t, Bytes>> writes;
        int disconnects;
    };
    auto with = [](FaultKind kind, auto tweak) {
        Fault f = Fault::on_command(kind, 0x14);
        tweak(f);
        return f;
    };
    auto none = [](Fault&) {};
    Bytes bad_sum = erase_reply_frame;
    bad_sum[bad_sum.size() - 3] ^= 0x01;
    Bytes garbage{0x00, 0xFF, 0xB0, 0xB3, 0x55};
    garbage.insert(garbage.end(), erase_reply_frame.begin(), erase_reply_frame.end());
    const Bytes first_half(erase_reply_frame.begin(), erase_reply_frame.begin() + 4);
    const Bytes second_half(erase_reply_frame.begin() + 4, erase_reply_frame.end());
    const std::vector<Row> rows = {
        {"silence", with(FaultKind::silence, none), {}, 0},
        {"delay of 1500 ms",
         with(FaultKind::delay, [](Fault& f) { f.delay_ms = 1500; }),
         {{1500, erase_reply_frame}},
         0},
        {"bad checksum", with(FaultKind::bad_checksum, none), {{0, bad_sum}}, 0},
        {"one byte more",
         with(FaultKind::wrong_length, none),
         {{0, wire::encode_frame(Bytes{0x15, 0x00})}},
         0},
        {"one byte fewer",
         with(FaultKind::wrong_length, [](Fault& f) { f.length_delta = -1; }),
         {{0, wire::encode_frame(Bytes{})}},
         0},
        {"garbage before the frame", with(FaultKind::garbage_before, none), {{0, garbage}}, 0},
        {"split after the header, 40 ms apart",
         with(FaultKind::split,
              [](Fault& f) {
                  f.split_at = 4;
                  f.delay_ms = 40;
              }),
         {{0, first_half}, {40, second_half}},
         0},
        {"duplicated",
         with(FaultKind::duplicate, none),
         {{0, erase_reply_frame}, {0, erase_reply_frame}},
         0},
        {"disconnection", with(FaultKind::disconnect, none), {}, 1},
    };
    for (const Row& row : rows) {
        Bench bench;
        bench.watch.add_fault(row.fault);
        const std::uint64_t start = bench.clock->now_ms();
        bench.watch.feed(wire::encode_frame(erase_cmd(0x1000)));
        bench.clock->advance_to(start + 10'000);
        std::vector<std::pair<std::uint64_t, Bytes>> seen;
        for (const auto& w : bench.writes) seen.push_back({w.first - start, w.second});
        EXPECT_EQ(seen, row.writes) << row.legend;
        EXPECT_EQ(bench.disconnects, row.disconnects) << row.legend;
        // The fault is spent: the next erase is answered plainly (unless the line is gone).
        if (row.disconnects == 0) {
            EXPECT_EQ(bench.ask(erase_cmd(0x1000)), std::vector<Bytes>{{0x15}}) << row.legend;
        }
    }
}

TEST(WatchFaults, SelectionByCommandByFrameNumberAndRepeat) {
    struct Row {
        const char* legend;
        Fault fault;
        std::vector<bool> answered;  // for five version requests in a row
    };
    const std::vector<Row> rows = {
        {"frames 2 and 3 silent", Fault::on_frame(FaultKind::silence, 2, 2), {1, 0, 0, 1, 1}},
        {"first two versions silent",
         Fault::on_command(FaultKind::silence, 0x10, 2),
         {0, 0, 1, 1, 1}},
        {"every version silent", Fault::on_command(FaultKind::silence, 0x10, -1), {0, 0, 0, 0, 0}},
        {"from frame 4 on", Fault::on_frame(FaultKind::silence, 4, -1), {1, 1, 1, 0, 0}},
        {"other command untouched",
         Fault::on_command(FaultKind::silence, 0x2C, -1),
         {1, 1, 1, 1, 1}},
    };
    for (const Row& row : rows) {
        Bench bench;
        bench.watch.add_fault(row.fault);
        std::vector<bool> answered;
        for (int i = 0; i < 5; ++i) answered.push_back(!bench.ask({0x10}).empty());
        EXPECT_EQ(answered, row.answered) << row.legend;
    }
}

TEST(WatchState, ProgramUpdateRebootsSilently) {
    WatchConfig config;
    config.reboot_ms = 4000;
    Bench bench(config);
    const std::uint64_t start = bench.clock->now_ms();
    EXPECT_EQ(bench.ask({0x28}), std::vector<Bytes>{{0x29}});
    EXPECT_TRUE(bench.watch.rebooting());
    bench.clock->advance_to(start + 3999);
    EXPECT_TRUE(bench.ask({0x10}).empty());
    bench.clock->advance_to(start + 4000);
    EXPECT_FALSE(bench.watch.rebooting());
    EXPECT_EQ(bench.ask({0x10}).size(), 1u);
    EXPECT_EQ(bench.watch.reboots(), 1u);
    // A deaf watch did not see the request made while it rebooted.
    EXPECT_EQ(bench.watch.received_ids(), (Bytes{0x28, 0x10}));
}

TEST(WatchState, ClockRunsFromTheSetTimeAndExpiryIsKept) {
    struct Row {
        const char* legend;
        Bytes command;
        std::uint64_t elapsed_ms;
        WatchTime expected;
    };
    const std::vector<Row> rows = {
        {"just set", {0x39, 12, 3, 4, 5, 6, 7}, 0, {2012, 3, 4, 5, 6, 7}},
        {"an hour, a minute and a second later",
         {0x39, 12, 3, 4, 5, 6, 7},
         3'661'999,
         {2012, 3, 4, 6, 7, 8}},
        {"leap day rolls into March", {0x39, 12, 2, 29, 23, 59, 59}, 1000, {2012, 3, 1, 0, 0, 0}},
        {"new year", {0x39, 13, 12, 31, 23, 59, 30}, 45'000, {2014, 1, 1, 0, 0, 15}},
    };
    for (const Row& row : rows) {
        Bench bench;
        EXPECT_FALSE(bench.watch.time().has_value());
        bench.ask(row.command);
        bench.clock->sleep_ms(static_cast<std::uint32_t>(row.elapsed_ms));
        EXPECT_EQ(bench.watch.time(), row.expected) << row.legend;
    }
    Bench bench;
    bench.ask({0x2E, 14, 1, 31});
    EXPECT_EQ(bench.watch.agps_expiry(), (WatchDate{2014, 1, 31}));
}

}  // namespace
}  // namespace stridelog::sim
