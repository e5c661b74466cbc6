// The entry points seen from the host: what each posts, and that nothing is
// left behind (no task window, no block), with and without a cable.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
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
    test::TestEnvironment env_;
    HostRecorder host_;
    std::size_t blocks_before_ = 0;
};

using AsyncCall = std::pair<const char*, std::function<void(HWND)>>;

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

// The golden file holds what each call posts and whether anything is left:
// without a cable every watch call posts exactly "no port"; with a cable that
// cannot be opened, "port open" (shown or hidden); refused parameters post
// nothing and start nothing; a first listed name that is no COM<n> is no port.
TEST_F(EntryPointsTest, WhatEachCallPosts) {
    std::string text;
    const auto run = [&](const std::string& legend, const std::function<void(HWND)>& call) {
        host_.clear();
        call(host_.hwnd());
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd())) << legend;
        drain();
        text += "== " + legend + ", windows left " +
                std::to_string(platform::window_count_on_this_thread() - 1) + "\n" +
                test::transcript(host_);
    };
    for (const auto& [legend, call] : async_calls()) run(legend, call);
    run("GetSDKVersion", [](HWND h) { GetSDKVersion(h); });
    platform::fail_next_global_allocs(1);
    run("GetSDKVersion, its block not allocated", [](HWND h) { GetSDKVersion(h); });
    run("GetSDKVersion, GetClip_COM_Port_List, GetWatch_Version to a destroyed window", [](HWND) {
        HWND stale = platform::create_window([](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
        platform::destroy_window(stale);
        GetSDKVersion(stale);
        GetClip_COM_Port_List(stale);
        GetWatch_Version(stale, TRUE);
    });

    // The downloads log their site, and the A-GPS one its failed connect check.
    env_.set_switch("DebugView", "1");
    test::DebugCapture capture;
    for (const auto& [legend, call] : async_calls())
        if (legend[0] == 'A' || legend[0] == 'F') run(legend, call);
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#0", "COM7", "/nonexistent/tty");
    run("GetWatch_Version hidden, cable unopenable", [](HWND h) { GetWatch_Version(h, FALSE); });
    run("GetWatch_Version shown, cable unopenable", [](HWND h) { GetWatch_Version(h, TRUE); });
    const std::vector<BYTE> short_block(34309), long_block(34311);
    run("SetPaths_Ex one byte short",
        [&](HWND h) { SetPaths_Ex(h, short_block.data(), 34309, 1); });
    run("SetPaths_Ex one byte long", [&](HWND h) { SetPaths_Ex(h, long_block.data(), 34311, 1); });
    run("SetPaths_Ex null block", [](HWND h) { SetPaths_Ex(h, nullptr, 34310, TRUE); });
    run("SetSetting null record", [](HWND h) { SetSetting(h, nullptr, TRUE); });
    run("SetViews null record", [](HWND h) { SetViews(h, nullptr, TRUE); });
    run("WriteFlashSector writes nothing", [](HWND h) { WriteFlashSector(h, kSettings, 1); });
    text += capture.text();

    // Listed as text: COM10 before COM3; each name in UTF-16 with its terminator.
    platform::clear_injected();
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#a", "COM3", "/nonexistent");
    platform::inject_serial_comm("\\Device\\Silabser0", "COM10", "/nonexistent");
    run("GetClip_COM_Port_List", [](HWND h) { GetClip_COM_Port_List(h); });
    platform::clear_injected();
    platform::inject_serial_comm("\\Device\\Silabser0", "COM1", "/nonexistent");
    platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#0", "ACM0", "/nonexistent");
    run("GetWatch_Version, the cable named ACM0", [](HWND h) { GetWatch_Version(h, FALSE); });
    test::expect_golden("sdk/entry_points", text);
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

}  // namespace
}  // namespace stridelog
