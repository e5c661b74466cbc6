// A program update as the watch takes it from a host: the commands a host
// sends in their order, the program area erased at once in update mode, the
// reboot after the program sum with its silence, the sums it checks and the
// version it comes back with.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "sim/firmware_image.hpp"
#include "tests/sim/watch_bench.hpp"
#include "update/firmware_image.hpp"
#include "watchdata/settings_format.hpp"

namespace stridelog::sim {
namespace {

constexpr std::uint32_t kSector = 4096;
constexpr std::size_t kChunk = 128;

// How the host's flashing goes wrong, if it does.
struct HostFlaw {
    bool skip_program_update = false;  // writes the program without asking first
    int program_sum_delta = 0;         // sends a wrong program sum
    int boot_sum_delta = 0;            // stages a wrong boot sum
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

// Everything a host sends for one update of `body` (long: with the language
// block), from the boot block to the program sum.
void flash_like_a_host(Bench& bench, const Bytes& body, bool long_image, const HostFlaw& flaw,
                       int* bad_replies) {
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
    if (long_image)
        for (std::uint32_t s = 0; s < 5; ++s)
            host.write_sector(kLanguageAddress + s * kSector,
                              b.subspan(kShortBodySize + s * kSector, kSector));
    if (!flaw.skip_program_update) host.expect({0x28}, 0x29);
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

// A watch that runs 1.30 and holds an older program than the one sent, so
// writing over it without an erase shows.
WatchConfig running_1_30() {
    WatchConfig config;
    config.version_text = "Ver1.30";
    return config;
}
void install_old_program(Bench& bench) {
    const Bytes old = make_firmware_body("1.30.07_VUNA0_00", 99);
    bench.watch.with_flash([&](Flash& f) {
        f.store(kProgramAddress,
                std::span(old).subspan(kProgramAddress, kProgramEnd - kProgramAddress));
    });
}

// Each row also holds a settings block naming 1.30.07_A12 (sound unless the
// row says otherwise); an updated watch is restarted from its saved image.
TEST(ProgramUpdate, TheWatchTakesTheImageAndComesBackWithItsVersion) {
    struct Row {
        const char* legend;
        HostFlaw flaw;
        bool long_image;
        std::function<void(Bytes&)> change_body;  // before the host sends it
        int updates;                              // one after the other
        bool rebooted;
        bool boot_ok, program_ok;
        const char* version_found;
        Bytes version_after;  // the version reply once it is back
        bool program_exact;   // sectors 2..31 hold exactly the body's bytes
        const char* note;
        bool numeric_broken = false;  // numeric version replies; settings checksum broken
    };
    const auto same = [](Bytes&) {};
    const auto untagged = [](Bytes& b) { b[kVersionRecordAddress] = 'X'; };
    const char* v132 = "1.32.01_VUNA0_00";
    const Bytes ver132{0x11, 'V', 'e', 'r', '1', '.', '3', '2'};
    const Bytes ver130{0x11, 'V', 'e', 'r', '1', '.', '3', '0'};
    // clang-format off
    const std::vector<Row> rows = {
        {"sound long image", {}, true, same, 1,
         true, true, true, v132, ver132, true, "back as 1.32.01_VUNA0_00 after 5000 ms"},
        {"sound short image, numeric replies, broken settings kept broken", {}, false, same, 1,
         true, true, true, v132, {0x11, 1, 0, 32, 0}, true, "back as 1.32.01_VUNA0_00", true},
        {"a second update over the first", {}, true, same, 2,
         true, true, true, v132, ver132, true, "back as 1.32.01_VUNA0_00"},
        {"no program update asked: writes land on the old program",
         {.skip_program_update = true}, true, same, 1,
         false, false, false, "", ver130, false, ""},
        {"wrong program sum", {.program_sum_delta = 1}, true, same, 1,
         true, true, false, v132, ver130, true, "the old firmware stays"},
        {"wrong boot sum", {.boot_sum_delta = -1}, true, same, 1,
         true, false, true, v132, ver130, true, "(MISMATCH); program sum"},
        {"image without its version", {}, true, untagged, 1,
         true, true, true, "", ver130, true, "no version text in the program image"},
    };
    // clang-format on
    const std::string image = (std::filesystem::temp_directory_path() /
                               ("stridelog-fw-image-" + std::to_string(::getpid()) + ".bin"))
                                  .string();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        WatchConfig config = running_1_30();
        if (row.numeric_broken) config.numeric_version = NumericVersion{1, 30};
        Bench bench(config);
        install_old_program(bench);
        Bytes settings(224, 0x00);
        const std::string old_version = "1.30.07_A12";
        std::copy(old_version.begin(), old_version.end(), settings.begin() + 96);
        settings[50] = 0x77;
        watchdata::write_settings_checksum(settings, 224);  // as a host writes it
        if (row.numeric_broken) settings[1] ^= 0x01;
        bench.watch.with_flash([&](Flash& f) { f.store(0, settings); });
        Bytes body;
        std::uint64_t start = 0;
        for (int update = 0; update < row.updates; ++update) {
            // Each update brings other bytes, and another sum.
            body = make_firmware_body(v132, 5 + static_cast<std::uint32_t>(update));
            row.change_body(body);
            bench.clock->sleep_ms(6000);  // back from the update before
            int bad_replies = -1;
            start = bench.clock->now_ms();
            flash_like_a_host(bench, body, row.long_image, row.flaw, &bad_replies);
            EXPECT_EQ(bad_replies, 0) << "every command acknowledged";
        }
        EXPECT_FALSE(bench.watch.in_update_mode());
        EXPECT_EQ(bench.watch.reboots(), row.rebooted ? static_cast<std::size_t>(row.updates) : 0u);
        // A write without its erase shows as a conflict; an update needs none.
        std::size_t conflicts = 0;
        bench.watch.with_flash([&](Flash& f) { conflicts = f.conflicting_programs(); });
        EXPECT_EQ(conflicts == 0, row.program_exact);
        const auto result = bench.watch.last_update();
        ASSERT_EQ(result.has_value(), row.rebooted);
        if (result) {
            EXPECT_EQ(result->boot_sum_ok(), row.boot_ok);
            EXPECT_EQ(result->program_sum_ok(), row.program_ok);
            EXPECT_EQ(result->program_sum_computed, update::program_sum(body));
            EXPECT_EQ(result->boot_sum_computed, update::boot_block_sum(body));
            EXPECT_EQ(result->version, row.version_found);
            const auto log = bench.watch.log();
            EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
                return line.find(row.note) != std::string::npos;
            })) << log.back();
        }
        const Bytes program =
            bench.watch.read_flash(kProgramAddress, kProgramEnd - kProgramAddress);
        EXPECT_EQ(program == Bytes(body.begin() + kProgramAddress, body.begin() + kProgramEnd),
                  row.program_exact);
        EXPECT_EQ(bench.watch.read_flash(kBootBlockAddress, kBootBlockSize),
                  Bytes(body.begin(), body.begin() + kBootBlockSize));
        EXPECT_EQ(bench.watch.read_flash(kLanguageAddress, 1)[0],
                  row.long_image ? body[kShortBodySize] : 0xFF);
        bench.clock->advance_to(start + 5000 + 1000);
        EXPECT_EQ(bench.ask({0x10}), std::vector<Bytes>{row.version_after});
        // The directory names the version it came back with; the rest of the block is kept.
        const Bytes after = bench.watch.read_flash(0, 224);
        const bool updated = row.version_after != ver130;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&after[96])),
                  updated ? v132 : old_version);
        EXPECT_EQ(after[50], 0x77);
        Bytes resummed = after;
        watchdata::write_settings_checksum(resummed, 224);
        EXPECT_EQ(resummed == after, !row.numeric_broken);
        if (!updated) continue;
        // A watch started from the saved image runs the firmware it holds.
        std::string error;
        ASSERT_TRUE(bench.watch.save_image(image, error)) << error;
        config.flash_image_path = image;
        Bench restarted(config);
        EXPECT_EQ(restarted.ask({0x10}), std::vector<Bytes>{row.version_after});
    }
    std::filesystem::remove(image);
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
