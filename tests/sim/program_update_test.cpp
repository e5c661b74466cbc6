// A program update as the watch takes it from a host: the commands a host
// sends in their order, the program area erased at once in update mode, the
// reboot after the program sum with its silence, the sums it checks and the
// version it comes back with.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim/firmware_image.hpp"
#include "tests/sim/watch_bench.hpp"
#include "update/firmware_image.hpp"

namespace stridelog::sim {
namespace {

constexpr std::uint32_t kSector = 4096;
constexpr std::size_t kChunk = 128;

// How the host's flashing goes wrong, if it does.
struct HostFlaw {
    int program_sum_delta = 0;  // sends a wrong program sum
    int boot_sum_delta = 0;     // stages a wrong boot sum
};

// Counts replies that are not the acknowledgement expected.
struct Host {
    Bench& bench;
    int bad_replies = 0;

    void expect(const Bytes& command, std::uint8_t reply) {
        if (bench.ask(command) != std::vector<Bytes>{{reply}}) ++bad_replies;
    }
    void write_chunks(std::uint32_t address, std::span<const std::uint8_t> data) {
        for (std::size_t at = 0; at < data.size(); at += kChunk) {
            const auto chunk = data.subspan(at, std::min(kChunk, data.size() - at));
            expect(write_cmd(address + static_cast<std::uint32_t>(at),
                             Bytes(chunk.begin(), chunk.end())),
                   0x17);
        }
    }
    // Prepare, erase, 32 writes of 128 bytes.
    void write_sector(std::uint32_t address, std::span<const std::uint8_t> data) {
        expect({0x24}, 0x25);
        expect(at(0x14, address), 0x15);
        write_chunks(address, data);
    }
};

// Everything a host sends for one update of `body` with its language block,
// from the boot block to the program sum.
void flash_like_a_host(Bench& bench, const Bytes& body, const HostFlaw& flaw, int* bad_replies) {
    Host host{bench};
    const std::span<const std::uint8_t> b(body);
    host.write_sector(kBootBlockAddress, b.subspan(0, kSector));
    host.write_sector(kBootBlockAddress + kSector, b.subspan(kSector, kSector));
    Bytes sum_sector(kSector, 0xFF);
    const auto boot_sum =
        static_cast<std::uint16_t>(update::boot_block_sum(body) + flaw.boot_sum_delta);
    sum_sector[0] = static_cast<std::uint8_t>(boot_sum & 0xFF);
    sum_sector[1] = static_cast<std::uint8_t>(boot_sum >> 8);
    host.write_sector(kBootSumAddress, sum_sector);
    for (std::uint32_t s = 0; s < 5; ++s)
        host.write_sector(kLanguageAddress + s * kSector,
                          b.subspan(kShortBodySize + s * kSector, kSector));
    host.expect({0x28}, 0x29);
    host.expect({0x24}, 0x25);
    host.expect(at(0x14, 0x1000), 0x15);
    host.write_sector(kProgramAddress, b.subspan(kProgramAddress, kSector));
    for (std::uint32_t address = kProgramAddress + kSector; address < kProgramEnd;
         address += kSector)
        host.write_chunks(address, b.subspan(address, kSector));
    const auto sum = static_cast<std::uint16_t>(update::program_sum(body) + flaw.program_sum_delta);
    host.expect(write_cmd(kProgramSumAddress, {static_cast<std::uint8_t>(sum & 0xFF),
                                               static_cast<std::uint8_t>(sum >> 8)}),
                0x17);
    *bad_replies = host.bad_replies;
}

// The sound update is run end to end by the firmware task's and the tool's
// tests (the version after the restart, the saved image); here what the watch
// makes of a host's mistakes. The watch runs 1.30 with an older program, so a
// write without its erase shows.
TEST(ProgramUpdate, TheWatchChecksTheSumsBeforeItTakesTheImage) {
    struct Row {
        const char* legend;
        HostFlaw flaw;
        bool untagged;  // no version record in the image
        bool boot_ok, program_ok;
        const char* version_found;
        Bytes version_after;  // the version reply once it is back
        const char* note;
    };
    const char* v132 = "1.32.01_VUNA0_00";
    const Bytes ver130{0x11, 'V', 'e', 'r', '1', '.', '3', '0'};
    // clang-format off
    const std::vector<Row> rows = {
        {"sound", {}, false, true, true, v132, {0x11, 'V', 'e', 'r', '1', '.', '3', '2'},
         "back as 1.32.01_VUNA0_00 after 5000 ms"},
        {"wrong program sum", {.program_sum_delta = 1}, false, true, false, v132, ver130,
         "the old firmware stays"},
        {"wrong boot sum", {.boot_sum_delta = -1}, false, false, true, v132, ver130,
         "(MISMATCH); program sum"},
        {"image without its version", {}, true, true, true, "", ver130,
         "no version text in the program image"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        WatchConfig config;
        config.version_text = "Ver1.30";
        Bench bench(config);
        const Bytes old = make_firmware_body("1.30.07_VUNA0_00", 99);
        bench.watch.with_flash([&](Flash& f) {
            f.store(kProgramAddress,
                    std::span(old).subspan(kProgramAddress, kProgramEnd - kProgramAddress));
        });
        Bytes body = make_firmware_body(v132, 5);
        if (row.untagged) body[kVersionRecordAddress] = 'X';
        int bad_replies = -1;
        const std::uint64_t start = bench.clock->now_ms();
        flash_like_a_host(bench, body, row.flaw, &bad_replies);
        EXPECT_EQ(bad_replies, 0) << "every command acknowledged";
        EXPECT_FALSE(bench.watch.in_update_mode());
        EXPECT_EQ(bench.watch.reboots(), 1u);
        std::size_t conflicts = 1;
        bench.watch.with_flash([&](Flash& f) { conflicts = f.conflicting_programs(); });
        EXPECT_EQ(conflicts, 0u) << "the update-mode erase cleared the old program";
        const auto result = bench.watch.last_update();
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->boot_sum_ok(), row.boot_ok);
        EXPECT_EQ(result->program_sum_ok(), row.program_ok);
        EXPECT_EQ(result->program_sum_computed, update::program_sum(body));
        EXPECT_EQ(result->boot_sum_computed, update::boot_block_sum(body));
        EXPECT_EQ(result->version, row.version_found);
        const auto log = bench.watch.log();
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
            return line.find(row.note) != std::string::npos;
        })) << log.back();
        EXPECT_EQ(bench.watch.read_flash(kProgramAddress, kProgramEnd - kProgramAddress),
                  Bytes(body.begin() + kProgramAddress, body.begin() + kProgramEnd));
        EXPECT_EQ(bench.watch.read_flash(kLanguageAddress, 1)[0], body[kShortBodySize]);
        EXPECT_TRUE(bench.ask({0x10}).empty()) << "silent while it restarts";
        bench.clock->advance_to(start + 5000 + 1000);
        EXPECT_EQ(bench.ask({0x10}), std::vector<Bytes>{row.version_after});
    }
}

TEST(ProgramUpdate, OnlyTheUpdateModeEraseClearsTheWholeProgramArea) {
    struct Row {
        const char* legend;
        Bytes before;  // commands first
        std::uint32_t erase_at;
        std::vector<std::uint32_t> erased;  // sectors found erased among 1..33
    };
    std::vector<std::uint32_t> two_to_32;  // the program and its sum
    for (std::uint32_t s = 2; s <= 32; ++s) two_to_32.push_back(s);
    const std::vector<Row> rows = {
        {"normal mode: one sector", {}, 0x2000, {2}},
        {"update mode, sector 1: one sector", {0x28}, 0x1000, {1}},
        {"update mode, sector 2: sectors 2..32", {0x28}, 0x2000, two_to_32},
        {"update mode, an address inside sector 2", {0x28}, 0x2FFF, two_to_32},
        {"update mode, sector 3: one sector", {0x28}, 0x3000, {3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Bench bench;
        bench.watch.with_flash([](Flash& f) {
            f.store(0x1000, Bytes(33 * kSector - 0x1000, 0x00));  // sectors 1..32 written
        });
        if (!row.before.empty()) bench.ask(row.before);
        EXPECT_EQ(bench.ask(at(0x14, row.erase_at)), std::vector<Bytes>{{0x15}});
        std::vector<std::uint32_t> erased;
        for (std::uint32_t s = 1; s <= 33; ++s) {
            const Bytes sector = bench.watch.read_flash(s * kSector, kSector);
            if (std::all_of(sector.begin(), sector.end(), [](std::uint8_t b) { return b == 0xFF; }))
                erased.push_back(s);
        }
        // Sector 33 never held anything: erased from the start.
        std::vector<std::uint32_t> expected = row.erased;
        expected.push_back(33);
        EXPECT_EQ(erased, expected);
    }
}

}  // namespace
}  // namespace stridelog::sim
