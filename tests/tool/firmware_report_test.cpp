// The firmware command's own logic: the offer read from the question, the
// restart seen in the notification timing, the error texts and statuses.
#include "firmware_report.hpp"

#include <gtest/gtest.h>

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

TEST(FirmwareErrors, TextAndStatusPerCode) {
    struct Case {
        UINT code;
        int status;
        const char* text;
    };
    const Case cases[] = {
        {SDK_ERR_NO_PORT, 10, "error 0x1000 SDK_ERR_NO_PORT: no watch cable found"},
        {SDK_ERR_TRANSFER, 14, "error 0x1004 SDK_ERR_TRANSFER: the watch stopped answering"},
        {SDK_ERR_DOWNLOAD, 18, "error 0x1008 SDK_ERR_DOWNLOAD: the download from the FTP"},
        {SDK_ERR_FIRMWARE_INFO, 22, "error 0x1012 SDK_ERR_FIRMWARE_INFO: the server's update"},
        {SDK_ERR_FIRMWARE_IMAGE, 23, "error 0x1013 SDK_ERR_FIRMWARE_IMAGE: the downloaded"},
        {SDK_ERR_DOWNLOAD_TIMEOUT, 24,
         "error 0x1014 SDK_ERR_DOWNLOAD_TIMEOUT: a download did "
         "not finish within 45 s"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(firmware_exit_status(c.code), c.status) << std::hex << c.code;
        EXPECT_EQ(firmware_error_text(c.code, 45).rfind(c.text, 0), 0u)
            << firmware_error_text(c.code, 45);
    }
    // Neither a broken image nor a missing entry has touched the watch.
    EXPECT_NE(firmware_error_text(SDK_ERR_FIRMWARE_IMAGE, 1).find("nothing was written"),
              std::string::npos);
    EXPECT_NE(firmware_error_text(SDK_ERR_FIRMWARE_INFO, 1).find("nothing was written"),
              std::string::npos);
}

}  // namespace
}  // namespace stridelog_tool
