// The watch as the host sees it: the reply bytes to each command, its flash
// after writes and its faults on the wire.
#include "sim/watch.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/sim/watch_bench.hpp"
#include "tests/support/golden.hpp"
#include "wire/frame.hpp"

namespace stridelog::sim {
namespace {

// Each command with the reply it gets, or none. The replies the SDK's tasks
// rely on are pinned end to end; these are the configured variants and the edges.
TEST(WatchReplies, EachCommandAnswersWithItsReplyOrNothing) {
    WatchConfig text110, numeric121, two_status;
    text110.version_text = "Ver1.10";
    numeric121.numeric_version = NumericVersion{1, 21};
    two_status.status_bytes = {7, 8};
    two_status.fixed_status_bytes = true;
    const std::tuple<const char*, WatchConfig, Bytes> rows[] = {
        {"version, configured text", text110, {0x10}},
        {"version, numeric 1.21", numeric121, {0x10}},
        {"status: no A-GPS data, flag 1", {}, {0x2C}},
        {"status: two fixed bytes", two_status, {0x2C}},
        {"read the last byte of the flash", {}, at(0x12, 0xFFFFF, {1})},
        {"version with a stray byte", {}, {0x10, 0x00}},
        {"read of zero bytes", {}, at(0x12, 0, {0})},
        {"read starting past the flash", {}, at(0x12, 0x100000, {1})},
        {"read running past the flash", {}, at(0x12, 0xFFFF0, {17})},
        {"read missing its count", {}, at(0x12, 0)},
        {"erase past the flash", {}, at(0x14, 0x100000)},
        {"write count != data size", {}, at(0x16, 0x3000, {4, 1, 2, 3})},
        {"write of no data", {}, at(0x16, 0x3000, {0})},
        {"write running past the flash", {}, write_cmd(0xFFFFE, {1, 2, 3})},
        {"expiry on 30 February: acknowledged, not taken", {}, {0x2E, 13, 2, 30}},
        {"clock at hour 24", {}, {0x39, 12, 3, 4, 24, 0, 0}},
        {"clock in month 13", {}, {0x39, 12, 13, 4, 5, 6, 7}},
        {"unknown command", {}, {0x42}},
    };
    std::string text;
    for (const auto& [legend, config, command] : rows) {
        Bench bench(config);
        text += std::string(legend) + ":";
        for (const Bytes& reply : bench.ask(command)) text += " " + test::bytes_text(reply);
        text += bench.writes.empty() ? " nothing\n" : "\n";
        // Every valid frame is in the log, answered or not.
        EXPECT_EQ(bench.watch.received(), std::vector<Bytes>{command}) << legend;
    }
    test::expect_golden("sim/replies", text);
}

TEST(WatchFlash, WritesLandAndAWriteWithoutEraseShowsTheDamage) {
    Bench bench;
    Bytes chunk(128);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7);
    bench.ask(at(0x14, 0x5123));  // any address inside sector 5
    bench.ask(write_cmd(0x5080, chunk));
    Bytes expected = chunk;
    expected.insert(expected.begin(), 0x13);
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

// What each fault makes of the erase reply (0x15): every write with its delay
// after the command, the line going away, and the next erase answered plainly.
TEST(WatchFaults, EachFaultKindAsSeenOnTheWire) {
    const std::tuple<const char*, FaultKind, int> cases[] = {
        {"silence", FaultKind::silence, 0},
        {"delay of 40 ms", FaultKind::delay, 0},
        {"bad checksum", FaultKind::bad_checksum, 0},
        {"one byte more", FaultKind::wrong_length, 1},
        {"one byte fewer", FaultKind::wrong_length, -1},
        {"garbage before the frame", FaultKind::garbage_before, 0},
        {"split after three bytes, 40 ms apart", FaultKind::split, 0},
        {"duplicated", FaultKind::duplicate, 0},
        {"disconnection", FaultKind::disconnect, 0}};
    std::string text;
    for (const auto& [legend, kind, length_delta] : cases) {
        Fault fault = Fault::on_command(kind, 0x14);
        fault.delay_ms = 40;
        fault.length_delta = length_delta;
        fault.split_at = 3;
        Bench bench;
        bench.watch.add_fault(fault);
        const std::uint64_t start = bench.clock->now_ms();
        bench.watch.feed(wire::encode_frame(at(0x14, 0x1000)));
        bench.clock->advance_to(start + 10'000);
        text += std::string("== ") + legend + "\n";
        for (const auto& [time, bytes] : bench.writes)
            text += std::to_string(time - start) + " ms: " + test::bytes_text(bytes) + "\n";
        if (bench.disconnects > 0)
            text += "line gone " + std::to_string(bench.disconnects) + "\n";
        else
            for (const Bytes& reply : bench.ask(at(0x14, 0x1000)))
                text += "next: " + test::bytes_text(reply) + "\n";
    }
    test::expect_golden("sim/fault_kinds", text);
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
