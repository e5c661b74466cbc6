// The firmware command's own logic: the offer read from the question, the
// restart seen in the notification timing, the error texts and statuses, and
// the [firmware] section of the config file.
#include "firmware_report.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "user_config.hpp"

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

TEST(FirmwareConfig, ItsOwnSectionWithTheFifthText) {
    const uid_t me = ::geteuid();
    ConfigFile config;
    config.path = "/home/me/.config/stridelog/config.ini";
    config.exists = true;
    config.mode = 0600;
    config.owner = me;
    config.values = {{"agps.server", "agps.example.org"},
                     {"agps.folder", "epo"},
                     {"firmware.server", "fw.example.org:21"},
                     {"firmware.folder", "fw"},
                     {"firmware.fifth", "WEX0"},
                     {"firmware.mode", "active"},
                     {"firmware.limit", "600"},
                     {"firmware.password", "s3cret"}};
    struct Case {
        const char* legend;
        std::string section;
        FtpCommandLine given;
        bool ok;
        std::string server, folder, fifth, password;
        bool passive;
        std::uint32_t limit_s;
    };
    const Case cases[] = {
        {"firmware from its section",
         "firmware",
         {},
         true,
         "fw.example.org:21",
         "fw",
         "WEX0",
         "s3cret",
         false,
         600},
        {"the command line over it",
         "firmware",
         {.folder = "other", .fifth = "", .passive = true},
         true,
         "fw.example.org:21",
         "other",
         "",
         "s3cret",
         true,
         600},
        {"agps keeps its own values and no fifth text",
         "agps",
         {},
         true,
         "agps.example.org",
         "epo",
         "",
         "",
         true,
         kDefaultDownloadLimitS},
    };
    for (const Case& c : cases) {
        FtpAccount account;
        std::string error;
        ASSERT_EQ(resolve_ftp_account(c.given, config, c.section, me, account, error), c.ok)
            << c.legend << ": " << error;
        EXPECT_EQ(account.server, c.server) << c.legend;
        EXPECT_EQ(account.folder, c.folder) << c.legend;
        EXPECT_EQ(account.fifth, c.fifth) << c.legend;
        EXPECT_EQ(account.password, c.password) << c.legend;
        EXPECT_EQ(account.passive, c.passive) << c.legend;
        EXPECT_EQ(account.limit_s, c.limit_s) << c.legend;
    }
    // A fifth text belongs to the firmware section only.
    config.values["agps.fifth"] = "WEX0";
    FtpAccount account;
    std::string error;
    EXPECT_FALSE(resolve_ftp_account({}, config, "agps", me, account, error));
    EXPECT_NE(error.find("unknown key fifth in [agps]"), std::string::npos) << error;
}

TEST(FirmwareConfig, ValuesCheckedLikeTheAgpsOnes) {
    struct Case {
        const char* key;
        const char* value;
        bool ok;
    };
    const Case cases[] = {
        {"firmware.server", "ftp.example.org:2121", true},
        {"firmware.server", "ftp.example.org:0", false},
        {"firmware.mode", "passive", true},
        {"firmware.mode", "fast", false},
        {"firmware.limit", "0", false},
        {"firmware.limit", "900", true},
        {"firmware.fifth", "WEX0", true},
        {"firmware.fifth", "a ;b", false},
        {"firmware.password_file", "", false},
        {"firmware.colour", "red", false},
    };
    for (const Case& c : cases) {
        std::string stored, error;
        EXPECT_EQ(check_config_value(c.key, c.value, "/home/me", stored, error), c.ok)
            << c.key << " " << c.value << ": " << error;
    }
    EXPECT_TRUE(is_secret_key("firmware.password"));
    EXPECT_FALSE(is_secret_key("firmware.password_file"));
}

}  // namespace
}  // namespace stridelog_tool
