// A program update as the watch takes it from a host: the commands a host
// sends in their order, the program area erased at once in update mode, the
// reboot after the program sum with its silence, the sums it checks and the
// version it comes back with.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim/firmware_image.hpp"
#include "tests/sim/watch_bench.hpp"
#include "tests/support/golden.hpp"
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
    const std::tuple<const char*, HostFlaw, bool> rows[] = {
        // legend, flaw, no version record in the image
        {"sound", {}, false},
        {"wrong program sum", {.program_sum_delta = 1}, false},
        {"wrong boot sum", {.boot_sum_delta = -1}, false},
        {"image without its version", {}, true},
    };
    std::string text;
    for (const auto& [legend, flaw, untagged] : rows) {
        SCOPED_TRACE(legend);
        WatchConfig config;
        config.version_text = "Ver1.30";
        Bench bench(config);
        const Bytes old = make_firmware_body("1.30.07_VUNA0_00", 99);
        bench.watch.with_flash([&](Flash& f) {
            f.store(kProgramAddress,
                    std::span(old).subspan(kProgramAddress, kProgramEnd - kProgramAddress));
        });
        Bytes body = make_firmware_body("1.32.01_VUNA0_00", 5);
        if (untagged) body[kVersionRecordAddress] = 'X';
        int bad_replies = -1;
        const std::uint64_t start = bench.clock->now_ms();
        flash_like_a_host(bench, body, flaw, &bad_replies);
        EXPECT_EQ(bad_replies, 0) << "every command acknowledged";
        EXPECT_FALSE(bench.watch.in_update_mode());
        EXPECT_EQ(bench.watch.reboots(), 1u);
        std::size_t conflicts = 1;
        bench.watch.with_flash([&](Flash& f) { conflicts = f.conflicting_programs(); });
        EXPECT_EQ(conflicts, 0u) << "the update-mode erase cleared the old program";
        const auto result = bench.watch.last_update();
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->program_sum_computed, update::program_sum(body));
        EXPECT_EQ(result->boot_sum_computed, update::boot_block_sum(body));
        EXPECT_EQ(bench.watch.read_flash(kProgramAddress, kProgramEnd - kProgramAddress),
                  Bytes(body.begin() + kProgramAddress, body.begin() + kProgramEnd));
        EXPECT_EQ(bench.watch.read_flash(kLanguageAddress, 1)[0], body[kShortBodySize]);
        EXPECT_TRUE(bench.ask({0x10}).empty()) << "silent while it restarts";
        bench.clock->advance_to(start + 5000 + 1000);
        text += std::string("== ") + legend + "\nversion found: " + result->version + "\n";
        for (const std::string& line : bench.watch.log()) text += line + "\n";
        for (const Bytes& reply : bench.ask({0x10})) text += test::bytes_text(reply) + "\n";
    }
    test::expect_golden("sim/program_update", text);
}

// Each case: the sectors among 1..33 found erased afterwards (33 never held anything).
TEST(ProgramUpdate, OnlyTheUpdateModeEraseClearsTheWholeProgramArea) {
    const std::tuple<const char*, bool, std::uint32_t> rows[] = {
        // legend, in update mode, erase address
        {"normal mode, sector 2", false, 0x2000},
        {"update mode, sector 1", true, 0x1000},
        {"update mode, sector 2", true, 0x2000},
        {"update mode, an address inside sector 2", true, 0x2FFF},
        {"update mode, sector 3", true, 0x3000},
    };
    std::string text;
    for (const auto& [legend, update_mode, erase_at] : rows) {
        Bench bench;
        bench.watch.with_flash([](Flash& f) {
            f.store(0x1000, Bytes(33 * kSector - 0x1000, 0x00));  // sectors 1..32 written
        });
        if (update_mode) bench.ask({0x28});
        EXPECT_EQ(bench.ask(at(0x14, erase_at)), std::vector<Bytes>{{0x15}});
        text += std::string(legend) + ":";
        for (std::uint32_t s = 1; s <= 33; ++s) {
            const Bytes sector = bench.watch.read_flash(s * kSector, kSector);
            if (std::all_of(sector.begin(), sector.end(), [](std::uint8_t b) { return b == 0xFF; }))
                text += " " + std::to_string(s);
        }
        text += "\n";
    }
    test::expect_golden("sim/update_mode_erase", text);
}

}  // namespace
}  // namespace stridelog::sim
