// The task window's reading of the status reply: the flag that picks the
// reserved tail, and the two bytes kept. What the task window's timers post
// and its end are in the end-to-end transcripts.
#include "sdk/task_window.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "sdk/task_registry.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/task_window_access.hpp"
#include "tests/support/test_environment.hpp"

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
