// The task window's timer table, task end, status reply and read progress,
// observed through what the host receives, on the virtual clock.
#include "sdk/task_window.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/window_system.hpp"
#include "ui/task_display.hpp"
#include "sdk/task_registry.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

class TaskWindowTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_FALSE(sdk::TaskActiveOnThisThread());
        EXPECT_EQ(platform::live_global_blocks(), 0u);
    }

    test::TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    test::HostRecorder host_;
};

TEST_F(TaskWindowTest, TimerTable) {
    struct Case {
        const char* legend;
        UINT_PTR id;
        int operation;
        std::vector<UINT> codes;  // what the host receives, in order
        bool ends;
        bool timer_survives;  // (when the task goes on)
    };
    const Case cases[] = {
        {"1001 read time-out: error, then full",
         TIMER_READ,
         OP_NONE,
         {SDK_ERR_TRANSFER, SDK_MSG_PROGRESS},
         true,
         false},
        {"1001 during the firmware reconnect: nothing, keeps firing",
         TIMER_READ,
         OP_FIRMWARE_RECONNECT,
         {},
         false,
         true},
        {"1002 no paths: full, then 0x2003",
         TIMER_PATHS_NONE,
         OP_NONE,
         {SDK_MSG_PROGRESS, SDK_MSG_NO_PATHS},
         true,
         false},
        {"1003 paths read: full only", TIMER_PATHS_READ, OP_NONE, {SDK_MSG_PROGRESS}, true, false},
        {"1004 write time-out: full, then error",
         TIMER_WRITE,
         OP_NONE,
         {SDK_MSG_PROGRESS, SDK_ERR_TRANSFER},
         true,
         false},
        {"1005 paths written: full, then 0x2004",
         TIMER_PATHS_WRITTEN,
         OP_NONE,
         {SDK_MSG_PROGRESS, SDK_MSG_PATHS_WRITTEN},
         true,
         false},
        {"1006 workouts done: full, then 0x2006",
         TIMER_WORKOUTS_DONE,
         OP_NONE,
         {SDK_MSG_PROGRESS, SDK_MSG_WORKOUTS_DONE},
         true,
         false},
        {"1007 rate display: nothing posted, periodic", TIMER_RATE, OP_NONE, {}, false, true},
        {"1008 download limit: full, then 0x1014",
         TIMER_DOWNLOAD_LIMIT,
         OP_NONE,
         {SDK_MSG_PROGRESS, SDK_ERR_DOWNLOAD_TIMEOUT},
         true,
         false},
        {"1010 reconnect wait: killed, 1011 started",
         TIMER_RECONNECT_WAIT,
         OP_NONE,
         {},
         false,
         false},
        {"1012 clock time-out: full, then 0x1015",
         TIMER_CLOCK,
         OP_NONE,
         {SDK_MSG_PROGRESS, SDK_ERR_CLOCK_TIMEOUT},
         true,
         false},
        {"an unknown id: nothing", 1234, OP_NONE, {}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        host_.clear();
        auto* dlg = new CSdkTaskDlg(CSdkTaskDlg::Storage::heap);
        dlg->Attach(host_.hwnd());
        dlg->m_operationCode = c.operation;
        HWND window = dlg->m_hWnd;
        ASSERT_TRUE(platform::set_timer(window, c.id, 10));
        test::RunUntil([&] { return !sdk::TaskActiveOnThisThread(); }, 1000);
        test::DeliverPosted();
        EXPECT_EQ(host_.codes(), c.codes) << host_.describe();
        for (const auto& n : host_.notifications()) {
            if (n.code == SDK_MSG_PROGRESS) {
                EXPECT_EQ(n.progress(), 100.0f);
            }
        }
        EXPECT_EQ(!sdk::TaskActiveOnThisThread(), c.ends);
        if (!c.ends) {
            EXPECT_EQ(platform::has_timer(window, c.id), c.timer_survives);
            if (c.id == TIMER_RECONNECT_WAIT) {
                EXPECT_TRUE(platform::has_timer(window, TIMER_RECONNECT_PROBE));
            }
            dlg->EndTask();
        }
        EXPECT_FALSE(platform::is_window(window));
    }
}

TEST_F(TaskWindowTest, TaskEndKillsExactlyItsTimers) {
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.Attach(host_.hwnd());
    const UINT_PTR all[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006,
                            1007, 1008, 1009, 1010, 1011, 1012, 4006};
    for (UINT_PTR id : all) platform::set_timer(dlg.m_hWnd, id, 1'000'000);
    dlg.EndTask();
    for (UINT_PTR id : all) {
        const bool killed_by_end = id == 1000 || id == 1001 || id == 1004 || id == 1007 ||
                                   id == 1009 || id == 1010 || id == 1011 || id == 1012;
        EXPECT_EQ(platform::has_timer(dlg.m_hWnd, id), !killed_by_end) << "timer " << id;
    }
    EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    EXPECT_NE(dlg.Display().LogText().find("dll exit()\r\n"), std::string::npos);
    dlg.Dismiss();
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
        CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
        dlg.Attach(host_.hwnd());
        auto* block = new std::uint8_t[c.bytes.size()];
        std::copy(c.bytes.begin(), c.bytes.end(), block);
        dlg.m_statusPending = true;  // as after the status query
        dlg.OnStatusReply(block, c.bytes.size());
        EXPECT_EQ(dlg.m_statusFlag, c.flag);
        EXPECT_EQ(dlg.m_statusBytes[0], c.bytes[0]);
        EXPECT_EQ(dlg.m_statusBytes[1], c.bytes[1]);
        dlg.Dismiss();
    }
}

TEST_F(TaskWindowTest, ReadProgressStepsAtChunk32ThenEvery33) {
    ResetReadChunkProgress();
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.Attach(host_.hwnd());
    dlg.Display().SetRange(0, 256);
    dlg.Display().SetPos(0);
    dlg.Display().SetStep(1);
    dlg.m_runLength = 1'000'000;  // a long run: every chunk asks for the next
    std::vector<int> stepped_at;
    for (int chunk = 1; chunk <= 100; ++chunk) {
        dlg.m_runReceived += kReadChunkSize;
        const std::size_t before = host_.notifications().size();
        dlg.OnReadChunkStored();
        test::DeliverPosted();
        if (host_.notifications().size() > before) stepped_at.push_back(chunk);
    }
    EXPECT_EQ(stepped_at, (std::vector<int>{32, 65, 98}));
    ASSERT_EQ(host_.notifications().size(), 3u);
    EXPECT_FLOAT_EQ(host_.notifications()[0].progress(), 100.0f / 256.0f);
    EXPECT_FLOAT_EQ(host_.notifications()[2].progress(), 300.0f / 256.0f);
    platform::kill_timer(dlg.m_hWnd, TIMER_READ);
    dlg.Dismiss();
}

}  // namespace
}  // namespace stridelog
