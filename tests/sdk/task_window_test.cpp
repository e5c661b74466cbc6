// The task window's own timers at task end and its status reply, on the
// virtual clock. What a reply timer posts is in the end-to-end transcripts.
#include "sdk/task_window.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/task_window_access.hpp"
#include "tests/support/test_environment.hpp"
#include "ui/task_display.hpp"

namespace stridelog {
namespace {

class TaskWindowTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), 0u);
    }

    test::TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    test::HostRecorder host_;
};

TEST_F(TaskWindowTest, TaskEndKillsExactlyItsTimers) {
    sdk::CSdkTaskDlg dlg(sdk::CSdkTaskDlg::Storage::local);
    dlg.attach(host_.hwnd());
    const UINT_PTR all[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006,
                            1007, 1008, 1009, 1010, 1011, 1012, 4006};
    for (UINT_PTR id : all) platform::set_timer(dlg.window(), id, 1'000'000);
    dlg.EndTask();
    for (UINT_PTR id : all) {
        const bool killed_by_end = id == 1000 || id == 1001 || id == 1004 || id == 1007 ||
                                   id == 1009 || id == 1010 || id == 1011 || id == 1012;
        EXPECT_EQ(platform::has_timer(dlg.window(), id), !killed_by_end) << "timer " << id;
    }
    EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    EXPECT_NE(dlg.display().log_text().find("dll exit()\r\n"), std::string::npos);
    dlg.dismiss();
}

TEST_F(TaskWindowTest, StatusFlagFromTheStatusReply) {
    struct Case {
        const char* legend;
        std::vector<std::uint8_t> bytes;
        int flag;
    };
    const Case cases[] = {
        {"two status bytes: 1", {0x01, 0x02}, 1},
        {"three status bytes: no fourth to read, counts as an answer", {0x01, 0x02, 0x03}, 1},
        {"four, the fourth 0xFF: -1", {0x01, 0x02, 0x03, 0xFF}, -1},
        {"five, the fourth 5: 5", {0x01, 0x02, 0x03, 0x05, 0x09}, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        sdk::CSdkTaskDlg dlg(sdk::CSdkTaskDlg::Storage::local);
        dlg.attach(host_.hwnd());
        TaskWindowTestAccess::deliver_status(dlg, c.bytes);
        const auto& facts = TaskWindowTestAccess::facts(dlg);
        EXPECT_EQ(facts.status_flag, c.flag);
        EXPECT_EQ(facts.status_bytes[0], c.bytes[0]);
        EXPECT_EQ(facts.status_bytes[1], c.bytes[1]);
        dlg.dismiss();
    }
}

}  // namespace
}  // namespace stridelog
