// The entry points seen from the host: what each posts, and that nothing is
// left behind (no task window, no block), with and without a cable.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/debug_output.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using test::HostRecorder;

class EntryPointsTest : public ::testing::Test {
  protected:
    void SetUp() override { blocks_before_ = platform::live_global_blocks(); }
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }
    // Delivers everything the call posted.
    void drain() { test::run_until_task_ends(10'000); }
    // A cable port whose device does not exist: present for the connect check,
    // impossible to open.
    void plug_unopenable_cable(const char* port = "COM7") {
        platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#0", port,
                                     "/nonexistent/stridelog-tty");
    }

    test::TestEnvironment env_;
    HostRecorder host_;
    std::size_t blocks_before_ = 0;
};

struct AsyncCall {
    const char* legend;
    std::function<void(HWND)> call;
};

const BYTE kSettings[STRIDELOG_SETTINGS_SIZE] = {};
const BYTE kViews[STRIDELOG_VIEWS_SIZE] = {};
const BYTE kSessions[2] = {0, 1};
const std::vector<BYTE> kPathBlock(STRIDELOG_PATH_BLOCK_SIZE);
const char16_t kServer[] = u"ftp.example.test";

std::vector<AsyncCall> async_calls() {
    return {
        {"GetWatch_Version", [](HWND h) { GetWatch_Version(h, TRUE); }},
        {"GetWatch_LongVer", [](HWND h) { GetWatch_LongVer(h, FALSE); }},
        {"GetAllWorkout", [](HWND h) { GetAllWorkout(h, TRUE, TRUE); }},
        {"ClearWorkout", [](HWND h) { ClearWorkout(h, FALSE); }},
        {"GetWorkoutSummary", [](HWND h) { GetWorkoutSummary(h, FALSE); }},
        {"GetSelectedWorkout", [](HWND h) { GetSelectedWorkout(h, nullptr, FALSE, FALSE); }},
        {"GetSelectedWorkout_Ex", [](HWND h) { GetSelectedWorkout_Ex(h, kSessions, 2, 0, 0); }},
        {"GetPaths", [](HWND h) { GetPaths(h, TRUE); }},
        {"SetPaths", [](HWND h) { SetPaths(h, nullptr, nullptr, FALSE); }},
        {"SetPaths_Ex", [](HWND h) { SetPaths_Ex(h, kPathBlock.data(), 34310, FALSE); }},
        {"GetViews", [](HWND h) { GetViews(h, FALSE); }},
        {"SetViews", [](HWND h) { SetViews(h, kViews, FALSE); }},
        {"GetSetting", [](HWND h) { GetSetting(h, FALSE); }},
        {"SetSetting", [](HWND h) { SetSetting(h, kSettings, FALSE); }},
        {"SetDateTime", [](HWND h) { SetDateTime(h, 12, 3, 4, 5, 6, 7, FALSE); }},
        {"AGPSDataUpdate",
         [](HWND h) { AGPSDataUpdate(h, kServer, u"u", u"p", u"/", TRUE, 1000, TRUE); }},
        {"FirmwareUpdate",
         [](HWND h) { FirmwareUpdate(h, kServer, u"u", u"p", u"/", u"x", TRUE, 1000, 0); }},
        {"ReadFlashSector", [](HWND h) { ReadFlashSector(h, 3); }},
        {"WriteFlashSector", [](HWND h) { WriteFlashSector(h, kSettings, 3); }},
    };
}

TEST_F(EntryPointsTest, WithoutCableEveryWatchCallPostsExactlyNoPort) {
    for (const auto& c : async_calls()) {
        SCOPED_TRACE(c.legend);
        host_.clear();
        c.call(host_.hwnd());
        drain();
        ASSERT_EQ(host_.notifications().size(), 1u) << host_.describe();
        const auto& n = host_.notifications()[0];
        EXPECT_TRUE(n.error);
        EXPECT_EQ(n.code, SDK_ERR_NO_PORT);
        EXPECT_FALSE(n.has_block);
        EXPECT_EQ(platform::window_count_on_this_thread(), 1u) << "only the host window remains";
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    }
}

TEST_F(EntryPointsTest, DownloadCallsLogTheirSiteAndTheFailedConnectCheck) {
    env_.set_switch("DebugView", "1");
    test::DebugCapture capture;
    AGPSDataUpdate(host_.hwnd(), kServer, u"u", u"p", u"/", TRUE, 1000, TRUE);
    FirmwareUpdate(host_.hwnd(), kServer, u"u", u"p", u"/", u"x", TRUE, 1000, 0);
    drain();
    const std::string log = capture.text();
    const std::string agps = log.substr(0, log.find("FirmwareUpdate()"));
    const std::string firmware = log.substr(agps.size());
    EXPECT_EQ(agps.find("AGPSDataUpdate()\r\nHandler = "), 0u) << log;
    EXPECT_NE(agps.find("\r\nSite : ftp.example.test\r\nAll_Init() -> ERR\r\n"), std::string::npos);
    EXPECT_NE(firmware.find("Site : ftp.example.test\r\n"), std::string::npos);
    EXPECT_EQ(firmware.find("All_Init()"), std::string::npos) << "only the A-GPS call logs it";
    EXPECT_EQ(host_.codes(), (std::vector<UINT>{SDK_ERR_NO_PORT, SDK_ERR_NO_PORT}));
}

TEST_F(EntryPointsTest, SdkVersionIsNineteenBytesWithoutNul) {
    GetSDKVersion(host_.hwnd());
    drain();
    ASSERT_EQ(host_.notifications().size(), 1u);
    const auto& n = host_.notifications()[0];
    EXPECT_FALSE(n.error);
    EXPECT_EQ(n.code, SDK_MSG_SDK_VERSION);
    EXPECT_EQ(n.text(), "SDK73688,2.0.11.260");
    EXPECT_EQ(n.block.size(), 19u);
    EXPECT_EQ(platform::window_count_on_this_thread(), 1u);
}

// The list's order and the block's bytes are the port tests'; here the block
// reaches the host whole: count, then each name in UTF-16 with its terminator.
TEST_F(EntryPointsTest, PortListBlockLayout) {
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#a", "COM3", "/nonexistent");
    platform::inject_serial_comm("\\Device\\Silabser0", "COM10", "/nonexistent");
    GetClip_COM_Port_List(host_.hwnd());
    drain();
    ASSERT_EQ(host_.notifications().size(), 1u);
    EXPECT_EQ(host_.notifications()[0].code, SDK_MSG_PORT_LIST);
    EXPECT_EQ(host_.notifications()[0].block,
              (std::vector<std::uint8_t>{2, 0, 0, 0,   'C', 0,   'O', 0,   'M', 0,   '1', 0, '0',
                                         0, 0, 0, 'C', 0,   'O', 0,   'M', 0,   '3', 0,   0, 0}));
}

TEST_F(EntryPointsTest, NullHostTurnsNotificationsIntoThreadMessages) {
    std::vector<UINT> codes;
    platform::set_thread_message_handler([&](const platform::Message& m) {
        codes.push_back(static_cast<UINT>(m.wparam));
        platform::global_free(reinterpret_cast<void*>(m.lparam));
    });
    GetSDKVersion(nullptr);
    GetWatch_Version(nullptr, TRUE);
    drain();
    platform::set_thread_message_handler(nullptr);
    EXPECT_EQ(codes, (std::vector<UINT>{SDK_MSG_SDK_VERSION, SDK_ERR_NO_PORT}));
}

TEST_F(EntryPointsTest, HostThatIsNotAWindowLosesNothingAndCrashesNothing) {
    HWND stale = platform::create_window([](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
    platform::destroy_window(stale);
    GetSDKVersion(stale);
    GetClip_COM_Port_List(stale);
    GetWatch_Version(stale, TRUE);
    drain();
    EXPECT_TRUE(host_.notifications().empty());
    // TearDown checks that the two undeliverable blocks were freed.
}

TEST_F(EntryPointsTest, BlockThatCannotBeAllocatedIsNotPosted) {
    platform::fail_next_global_allocs(1);
    GetSDKVersion(host_.hwnd());
    drain();
    EXPECT_TRUE(host_.notifications().empty());
}

TEST_F(EntryPointsTest, RefusedParametersPostNothingAndStartNothing) {
    plug_unopenable_cable();
    std::vector<std::string> diagnostics;
    platform::set_debug_sink([&](std::string_view s) { diagnostics.emplace_back(s); });
    auto key = platform::reg_create(platform::RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(key);
    key->set("DebugView", platform::RegValue::text("1"));

    const std::vector<BYTE> short_block(34309), long_block(34311);
    const AsyncCall refused[] = {
        {"SetPaths_Ex one byte short",
         [&](HWND h) { SetPaths_Ex(h, short_block.data(), 34309, 1); }},
        {"SetPaths_Ex one byte long", [&](HWND h) { SetPaths_Ex(h, long_block.data(), 34311, 1); }},
        {"SetPaths_Ex null block", [](HWND h) { SetPaths_Ex(h, nullptr, 34310, TRUE); }},
        {"SetSetting null record", [](HWND h) { SetSetting(h, nullptr, TRUE); }},
        {"SetViews null record", [](HWND h) { SetViews(h, nullptr, TRUE); }},
        {"WriteFlashSector writes nothing", [](HWND h) { WriteFlashSector(h, kSettings, 1); }},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.legend);
        host_.clear();
        c.call(host_.hwnd());
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        drain();
        EXPECT_TRUE(host_.notifications().empty()) << host_.describe();
        EXPECT_EQ(platform::window_count_on_this_thread(), 1u);
    }
    platform::set_debug_sink(nullptr);
    int size_lines = 0;
    for (const auto& d : diagnostics)
        if (d == "SetPaths_Ex : Invalid size ! should be 34310\r\n") ++size_lines;
    EXPECT_EQ(size_lines, 2);
}

TEST_F(EntryPointsTest, UnopenablePortEndsWithPortOpenAndReenablesHost) {
    plug_unopenable_cable();
    for (BOOL show : {FALSE, TRUE}) {
        SCOPED_TRACE(show ? "shown" : "hidden");
        host_.clear();
        GetWatch_Version(host_.hwnd(), show);
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd())) << "re-enabled by the task end";
        drain();
        EXPECT_EQ(host_.codes(), (std::vector<UINT>{SDK_ERR_PORT_OPEN})) << host_.describe();
        EXPECT_EQ(platform::window_count_on_this_thread(), 1u);
    }
}

TEST_F(EntryPointsTest, PortNameThatIsNotComEndsWithNoPort) {
    // Present through the bridge, but the first listed name yields no port number.
    platform::inject_serial_comm("\\Device\\Silabser0", "COM1", "/nonexistent");
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#0", "ACM0", "/nonexistent");
    GetWatch_Version(host_.hwnd(), FALSE);
    drain();
    EXPECT_EQ(host_.codes(), (std::vector<UINT>{SDK_ERR_NO_PORT})) << host_.describe();
}

}  // namespace
}  // namespace stridelog
