// The small blocks read from bytes laid out here: version texts, the port
// list, progress, phase progress, the A-GPS expiry date and the sector, and
// the dispatch by notification code. Blocks cut short or grown by a byte are
// tried on every block the simulated watch makes the SDK post.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <tuple>

#include "stridelog/hostkit/records.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"

namespace stridelog::hostkit {
namespace {

using Buffer = std::vector<std::uint8_t>;

Buffer text(const std::string& text) {
    return Buffer(text.begin(), text.end());
}

Buffer float_block(float value, Buffer prefix = {}) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) prefix.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    return prefix;
}

TEST(VersionBlocks, TextsAndWhatTheyName) {
    const auto sdk = parse_sdk_version_block(text("SDK73688,2.0.11.260"));
    ASSERT_TRUE(sdk) << sdk.error();
    EXPECT_EQ(sdk->product, "SDK73688");
    EXPECT_EQ(sdk->version, "2.0.11.260");

    // Each text, what it names: golden/hostkit/version-texts.txt.
    std::string lines;
    for (const char* t : {"Ver1.30", "Ver1.2", "1.21", "0.0", "Ver1.30 beta", "VER1.30", "1.21x",
                          "Version", "xVer1.30"}) {
        const auto read = parse_watch_version_block(text(t));
        ASSERT_TRUE(read) << t << ": " << read.error();
        EXPECT_EQ(read->text, t);
        lines += "watch " + read->text + ": " +
                 (read->number ? testing::PrintToString(*read->number) : "no number") + "\n";
    }
    for (const char* t :
         {"1.31.02_VUNA0_00", "1.30.07_A12", "2.5_X", "1.x9.3_", "<FF>", "1.31.02"}) {
        const auto read = parse_long_version_block(text(t));
        ASSERT_TRUE(read) << t << ": " << read.error();
        lines += std::string("long ") + t + ": " + (read->erased ? "erased " : "");
        if (const auto& f = read->firmware)
            lines += std::to_string(f->major) + " " + std::to_string(f->minor) + " " +
                     std::to_string(f->patch) + " \"" + f->code + "\"";
        lines += "\n";
    }
    EXPECT_TRUE(parse_watch_version_block(Buffer(199, 'x'))) << "the longest reply";
    EXPECT_TRUE(parse_long_version_block(text("1.31.02_VUNA0_00")));
    test::expect_golden("hostkit/version-texts", lines);
}

// Names as UTF-16LE, each with its zero unit, after a count.
Buffer port_list(std::uint32_t count, const std::vector<std::u16string>& names) {
    Buffer b;
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
    for (const auto& name : names) {
        for (const char16_t u : name) {
            b.push_back(static_cast<std::uint8_t>(u));
            b.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        b.push_back(0);
        b.push_back(0);
    }
    return b;
}

TEST(PortListBlocks, NamesInOrderAndEveryLengthChecked) {
    using Names = std::vector<std::string>;
    for (const Names& names : {Names{"COM10", "COM2", "COM2"}, Names{}, Names{""}}) {
        std::vector<std::u16string> wide;
        for (const auto& n : names) wide.emplace_back(n.begin(), n.end());
        const auto read =
            parse_port_list_block(port_list(static_cast<std::uint32_t>(names.size()), wide));
        ASSERT_TRUE(read) << read.error();
        EXPECT_EQ(read->names, names);
    }
}

TEST(ProgressBlocks, PercentagesAndPhases) {
    const auto full = parse_progress_block(float_block(100.0f));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->percent, 100.0f);
    const auto half = parse_phase_progress_block(float_block(50.0f, {2, 0, 0, 0}));
    ASSERT_TRUE(half);
    EXPECT_EQ(half->phase, kPhaseAgpsTransfer);
    EXPECT_EQ(half->percent, 50.0f);
    EXPECT_TRUE(parse_phase_progress_block(float_block(0.0f, {4, 0, 0, 0}))) << "firmware transfer";
}

// Blocks the SDK never posts, each refused with its reason: golden/hostkit/refused-blocks.txt.
TEST(ResultBlocks, RefusedWithTheirReason) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // clang-format off
    const std::tuple<const char*, UINT, Buffer> cases[] = {
        {"SDK version without a comma", SDK_MSG_SDK_VERSION, text("SDK73688")},
        {"SDK version with two commas", SDK_MSG_SDK_VERSION, text("SDK73688,2.0,1")},
        {"SDK version with a NUL", SDK_MSG_SDK_VERSION, Buffer{'S', ',', '2', 0}},
        {"watch version with a terminating NUL", SDK_MSG_WATCH_VERSION, Buffer{'V', 'e', 'r', '1', 0}},
        {"watch version longer than a reply frame", SDK_MSG_WATCH_VERSION, Buffer(200, 'x')},
        {"long version of 17 characters", SDK_MSG_LONG_VERSION, text("1.31.02_VUNA0_001")},
        {"a port count of two, one name", SDK_MSG_PORT_LIST, port_list(2, {u"COM3"})},
        {"a port count of 2^32 - 1 on an empty list", SDK_MSG_PORT_LIST, port_list(0xFFFFFFFF, {})},
        {"a port name more than counted", SDK_MSG_PORT_LIST, port_list(1, {u"COM3", u"COM4"})},
        {"progress above 100", SDK_MSG_PROGRESS, float_block(100.5f)},
        {"negative progress", SDK_MSG_PROGRESS, float_block(-1.0f)},
        {"progress NaN", SDK_MSG_PROGRESS, float_block(nan)},
        {"phase 5", SDK_MSG_PHASE_PROGRESS, float_block(1.0f, {5, 0, 0, 0})},
        {"phase 2^24 + 1", SDK_MSG_PHASE_PROGRESS, float_block(1.0f, {1, 0, 0, 1})},
        {"phase progress cut short", SDK_MSG_PHASE_PROGRESS, Buffer(7, 0)},
        {"phase progress a byte long", SDK_MSG_PHASE_PROGRESS, Buffer(9, 0)},
        {"phase progress infinite", SDK_MSG_PHASE_PROGRESS, float_block(inf, {1, 0, 0, 0})},
    };
    // clang-format on
    std::string lines;
    for (const auto& [legend, code, block] : cases) {
        const auto read = parse_result_block(code, block);
        EXPECT_FALSE(read) << legend;
        lines += std::string(legend) + ": " + (read ? "read" : read.error()) + "\n";
    }
    test::expect_golden("hostkit/refused-blocks", lines);
}

TEST(AgpsExpiryBlocks, ADateOrUnknown) {
    // 2013-01-06, a leap day, none given, then no such month or day, and two sizes.
    const Buffer blocks[] = {{13, 1, 6},     {24, 2, 29}, {0xFF, 0xFF, 0xFF},
                             {26, 0xFF, 14}, {23, 2, 29}, {26, 13, 1},
                             {26, 1, 0},     {13, 1},     {13, 1, 6, 0}};
    std::string lines;
    for (const Buffer& block : blocks) {
        const auto read = parse_agps_loaded_block(block);
        const auto date = read ? read->date() : std::nullopt;
        lines += test::bytes_text(block) + ": " +
                 (!read  ? "refused"
                  : date ? std::to_string(date->year) + "-" + std::to_string(date->month) + "-" +
                               std::to_string(date->day)
                         : "unknown") +
                 "\n";
    }
    test::expect_golden("hostkit/agps-expiry-blocks", lines);
    // In the settings record the bytes are what the flash holds: no date is
    // no date, never an error.
    AgpsExpiry from_flash;
    from_flash.bytes = {23, 2, 29};
    EXPECT_FALSE(from_flash.date());
    EXPECT_FALSE(from_flash.unknown());
}

TEST(ResultBlocks, OnlyTheCodesThatCarryABlock) {
    const UINT with[] = {SDK_MSG_SDK_VERSION,  SDK_MSG_WATCH_VERSION, SDK_MSG_PATH,
                         SDK_MSG_SESSION,      SDK_MSG_SESSION_TRACK, SDK_MSG_SUMMARY,
                         SDK_MSG_VIEWS,        SDK_MSG_SETTINGS,      SDK_MSG_PORT_LIST,
                         SDK_MSG_LONG_VERSION, SDK_MSG_AGPS_LOADED,   SDK_MSG_SECTOR,
                         SDK_MSG_PROGRESS,     SDK_MSG_PHASE_PROGRESS};
    for (UINT code = 0x2000; code <= 0x2024; ++code) {
        const bool carries = std::find(std::begin(with), std::end(with), code) != std::end(with);
        EXPECT_EQ(carries_block(code), carries) << std::hex << code;
        if (!carries) {
            const auto read = parse_result_block(code, Buffer{1, 2, 3});
            EXPECT_FALSE(read) << std::hex << code;
        }
    }
    const auto sector = parse_result_block(SDK_MSG_SECTOR, Buffer(4096, 0xA5));
    ASSERT_TRUE(sector);
    ASSERT_TRUE(std::holds_alternative<FlashSector>(*sector));
    EXPECT_EQ(std::get<FlashSector>(*sector).bytes[4095], 0xA5);
    // The two session codes are not interchangeable.
    Buffer bare(60, 0);
    EXPECT_TRUE(parse_result_block(SDK_MSG_SESSION, bare));
    EXPECT_FALSE(parse_result_block(SDK_MSG_SESSION_TRACK, bare));
}

}  // namespace
}  // namespace stridelog::hostkit
