// The watch as the host sees it: the reply bytes to each command, its flash
// after writes and its faults on the wire.
#include "sim/watch.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/sim/watch_bench.hpp"
#include "wire/frame.hpp"

namespace stridelog::sim {
namespace {

TEST(WatchReplies, EachCommandAnswersWithItsReplyOrNothing) {
    struct Row {
        const char* legend;
        WatchConfig config;
        Bytes command;
        std::optional<Bytes> reply;  // nullopt: the watch stays silent
    };
    const Bytes ver110{0x11, 'V', 'e', 'r', '1', '.', '1', '0'};
    const Bytes numeric{0x11, 0x01, 0x00, 0x15, 0x00};
    WatchConfig text110, numeric121, two_status;
    text110.version_text = "Ver1.10";
    numeric121.numeric_version = NumericVersion{1, 21};
    two_status.status_bytes = {7, 8};
    two_status.fixed_status_bytes = true;
    // The replies the SDK's tasks rely on are pinned end to end; these are the
    // configured variants and the edges.
    const std::vector<Row> rows = {
        {"version, configured text", text110, {0x10}, ver110},
        {"version, numeric 1.21", numeric121, {0x10}, numeric},
        {"status: no A-GPS data, flag 1", {}, {0x2C}, Bytes{0x2D, 0x00, 0x00, 0x00, 0x01}},
        {"status: two fixed bytes", two_status, {0x2C}, Bytes{0x2D, 7, 8}},
        {"read the last byte of the flash", {}, at(0x12, 0xFFFFF, {1}), Bytes{0x13, 0xFF}},
        {"version with a stray byte", {}, {0x10, 0x00}, std::nullopt},
        {"read of zero bytes", {}, at(0x12, 0, {0}), std::nullopt},
        {"read starting past the flash", {}, at(0x12, 0x100000, {1}), std::nullopt},
        {"read running past the flash", {}, at(0x12, 0xFFFF0, {17}), std::nullopt},
        {"read missing its count", {}, at(0x12, 0), std::nullopt},
        {"erase past the flash", {}, at(0x14, 0x100000), std::nullopt},
        {"write count != data size", {}, at(0x16, 0x3000, {4, 1, 2, 3}), std::nullopt},
        {"write of no data", {}, at(0x16, 0x3000, {0}), std::nullopt},
        {"write running past the flash", {}, write_cmd(0xFFFFE, {1, 2, 3}), std::nullopt},
        {"expiry on 30 February: acknowledged, not taken", {}, {0x2E, 13, 2, 30}, Bytes{0x2F}},
        {"clock at hour 24", {}, {0x39, 12, 3, 4, 24, 0, 0}, std::nullopt},
        {"clock in month 13", {}, {0x39, 12, 13, 4, 5, 6, 7}, std::nullopt},
        {"unknown command", {}, {0x42}, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Bench bench(row.config);
        const auto replies = bench.ask(row.command);
        EXPECT_EQ(replies, row.reply ? std::vector<Bytes>{*row.reply} : std::vector<Bytes>{});
        EXPECT_EQ(bench.writes.empty(), !row.reply);
        // Every valid frame is in the log, answered or not.
        EXPECT_EQ(bench.watch.received(), std::vector<Bytes>{row.command});
    }
}

TEST(WatchFlash, WritesLandAndAWriteWithoutEraseShowsTheDamage) {
    Bench bench;
    Bytes chunk(128);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7);
    bench.ask(at(0x14, 0x5123));  // any address inside sector 5
    bench.ask(write_cmd(0x5080, chunk));
    Bytes expected{0x13};
    expected.insert(expected.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(bench.ask(at(0x12, 0x5080, {128})), std::vector<Bytes>{expected});
    EXPECT_EQ(bench.watch.read_flash(0x5000, 0x80), Bytes(0x80, 0xFF));

    // Second write over the same bytes without an erase: old AND new.
    bench.ask(write_cmd(0x5080, Bytes(128, 0x0F)));
    const Bytes now = bench.watch.read_flash(0x5080, 128);
    for (std::size_t i = 0; i < 128; ++i) ASSERT_EQ(now[i], chunk[i] & 0x0F) << i;
    std::size_t conflicts = 0;
    bench.watch.with_flash([&](Flash& f) { conflicts = f.conflicting_programs(); });
    EXPECT_EQ(conflicts, 1u);

    bench.ask(at(0x14, 0x5FFF));
    EXPECT_EQ(bench.watch.read_flash(0x5000, Flash::kSectorSize), Bytes(Flash::kSectorSize, 0xFF));
    EXPECT_EQ(bench.watch.read_flash(0x4FFF, 1), Bytes{0xFF});
}

TEST(WatchFlash, ImageFilesLoadPaddedAndRejectOversize) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("sim_flash_" + std::to_string(::getpid()) + ".bin");
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
        SCOPED_TRACE(row.legend);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(row.file_size, '\0');
        Flash flash;
        flash.store(0, before);
        std::string error;
        EXPECT_EQ(flash.load(path.string(), error), row.loads);
        EXPECT_EQ(flash.read(0, 4), row.head);
        EXPECT_EQ(error.empty(), row.loads);
    }
    std::filesystem::remove(path);
}

TEST(WatchFaults, EachFaultKindAsSeenOnTheWire) {
    const Bytes ack = wire::encode_frame(Bytes{0x15});  // the erase reply
    Bytes bad_sum = ack;
    bad_sum[bad_sum.size() - 3] ^= 0x01;
    Bytes garbage{0x00, 0xFF, 0xB0, 0xB3, 0x55};
    garbage.insert(garbage.end(), ack.begin(), ack.end());
    const Timed halves{{0, Bytes(ack.begin(), ack.begin() + 4)},
                       {40, Bytes(ack.begin() + 4, ack.end())}};
    auto fault = [](FaultKind kind, std::uint32_t delay_ms = 0, int length_delta = 1) {
        Fault f = Fault::on_command(kind, 0x14);
        f.delay_ms = delay_ms;
        f.length_delta = length_delta;
        f.split_at = 4;
        return f;
    };
    struct Row {
        const char* legend;
        Fault fault;
        Timed writes;  // (delay after the command, bytes) of every write the watch makes
        int disconnects;
    };
    const std::vector<Row> rows = {
        {"silence", fault(FaultKind::silence), {}, 0},
        {"delay of 1500 ms", fault(FaultKind::delay, 1500), {{1500, ack}}, 0},
        {"bad checksum", fault(FaultKind::bad_checksum), {{0, bad_sum}}, 0},
        {"one byte more",
         fault(FaultKind::wrong_length),
         {{0, wire::encode_frame(Bytes{0x15, 0})}},
         0},
        {"one byte fewer", fault(FaultKind::wrong_length, 0, -1), {{0, wire::encode_frame({})}}, 0},
        {"garbage before the frame", fault(FaultKind::garbage_before), {{0, garbage}}, 0},
        {"split after the header, 40 ms apart", fault(FaultKind::split, 40), halves, 0},
        {"duplicated", fault(FaultKind::duplicate), {{0, ack}, {0, ack}}, 0},
        {"disconnection", fault(FaultKind::disconnect), {}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Bench bench;
        bench.watch.add_fault(row.fault);
        const std::uint64_t start = bench.clock->now_ms();
        bench.watch.feed(wire::encode_frame(at(0x14, 0x1000)));
        bench.clock->advance_to(start + 10'000);
        Timed seen;
        for (const auto& w : bench.writes) seen.push_back({w.first - start, w.second});
        EXPECT_EQ(seen, row.writes);
        EXPECT_EQ(bench.disconnects, row.disconnects);
        // The fault is spent: the next erase is answered plainly (unless the line is gone).
        if (row.disconnects == 0) {
            EXPECT_EQ(bench.ask(at(0x14, 0x1000)), std::vector<Bytes>{{0x15}});
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
        {"versions 1-2 silent", Fault::on_command(FaultKind::silence, 0x10, 2), {0, 0, 1, 1, 1}},
        {"every version silent", Fault::on_command(FaultKind::silence, 0x10, -1), {0, 0, 0, 0, 0}},
        {"from frame 4 on", Fault::on_frame(FaultKind::silence, 4, -1), {1, 1, 1, 0, 0}},
        {"other id untouched", Fault::on_command(FaultKind::silence, 0x2C, -1), {1, 1, 1, 1, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Bench bench;
        bench.watch.add_fault(row.fault);
        std::vector<bool> answered;
        for (int i = 0; i < 5; ++i) answered.push_back(!bench.ask({0x10}).empty());
        EXPECT_EQ(answered, row.answered);
    }
}

}  // namespace
}  // namespace stridelog::sim
