// The firmware command's own logic: the offer read from the question, the
// restart seen in the notification timing, the error texts and statuses.
#include "firmware_report.hpp"

#include <gtest/gtest.h>

#include <set>

#include "agps_report.hpp"
#include "tool_golden.hpp"

namespace stridelog_tool {
namespace {

constexpr const char* kQuestion =
    "A new watch firmware (1.32.1) is  available !\r\n\r\nNote :\r\nThe firmware update will "
    "ERASE ALL workout and paths in your watch. \r\n\r\nDo you want to proceed ?";

TEST(FirmwareOffer, VersionFromTheQuestion) {
    struct Case {
        std::string message;
        std::optional<std::string> version;
    };
    const Case cases[] = {
        {kQuestion, "1.32.1"},
        {"A new watch firmware (1.5.0) is  available !", "1.5.0"},
        {"A new watch firmware () is  available !", std::nullopt},
        {"A new watch firmware (soon) is  available !", std::nullopt},
        {"A new watch firmware (1.32.1 is available", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(offered_version(c.message), c.version) << c.message;
}

TEST(FirmwareOffer, QuestionAndNotesOnTheTerminal) {
    EXPECT_EQ(terminal_text(kQuestion),
              "A new watch firmware (1.32.1) is  available !\n\nNote :\nThe firmware update will "
              "ERASE ALL workout and paths in your watch. \n\nDo you want to proceed ?");
    EXPECT_EQ(terminal_text("a\rb\r\n\r\n"), "a\nb");

    struct Case {
        const char* legend;
        std::vector<std::string> notes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"two versions: the blank line between kept, the last dropped",
         {"1.31.03", "- Faster fix", "", "1.32.00", "- New views", "- Fixes", ""},
         {"  1.31.03", "  - Faster fix", "", "  1.32.00", "  - New views", "  - Fixes"}},
        {"no history", {}, {}},
        {"only blank lines", {"", ""}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(note_lines(c.notes, "  "), c.lines) << c.legend;
}

// Phase 4 progress arrives about every half second while the firmware is
// written; then the watch restarts and stays silent for 30 s or more.
TEST(FirmwareRestart, SilenceInTheWritingPhaseIsTheRestart) {
    using Event = RestartWatch::Event;
    struct Step {
        bool note;  // a phase progress notification, else a tick of the wait
        std::uint32_t phase;
        double at;
        Event want;
    };
    struct Case {
        const char* legend;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"download pauses are no restart",
         {{true, 3, 0.0, Event::none}, {false, 0, 10.0, Event::none}}},
        {"writing, a short gap, then the restart and the return",
         {{true, 4, 1.0, Event::none},
          {false, 0, 3.0, Event::none},
          {true, 4, 3.4, Event::none},
          {false, 0, 6.8, Event::none},
          {false, 0, 7.0, Event::restarting},
          {false, 0, 20.0, Event::none},  // told once
          {true, 4, 36.0, Event::back},
          {false, 0, 36.5, Event::none},
          {true, 4, 37.0, Event::none}}},
        {"no progress at all yet", {{false, 0, 100.0, Event::none}}},
    };
    for (const Case& c : cases) {
        RestartWatch watch;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            const Event got = s.note ? watch.take(s.phase, s.at) : watch.tick(s.at);
            EXPECT_EQ(got, s.want) << c.legend << ", step " << i;
        }
    }
    RestartWatch watch;
    watch.take(4, 2.0);
    watch.tick(40.0);
    EXPECT_DOUBLE_EQ(watch.silent_for(42.5), 40.5);
}

// Each error code the SDK posts: the status and the line each command ends with.
TEST(ErrorReports, TextAndStatusPerCode) {
    std::set<int> agps = {0, 1, 2, 130, 143}, firmware = agps;  // success, others, usage, signals
    std::string lines;
    for (UINT code = 0x1000; code <= 0x1016; ++code) {
        if ((code & 0xF) > 9) continue;  // never posted
        EXPECT_TRUE(agps.insert(agps_exit_status(code)).second) << std::hex << code;
        EXPECT_TRUE(firmware.insert(firmware_exit_status(code)).second) << std::hex << code;
        lines += "agps " + std::to_string(agps_exit_status(code)) + ": " +
                 agps_error_text(code, 90) + "\nfirmware " +
                 std::to_string(firmware_exit_status(code)) + ": " + firmware_error_text(code, 45) +
                 "\n";
    }
    EXPECT_EQ(agps_exit_status(0x100A), 1);
    EXPECT_EQ(agps_exit_status(0x2017), 1);
    expect_golden("tool/error-reports", lines);
}

}  // namespace
}  // namespace stridelog_tool
