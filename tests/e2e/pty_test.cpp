// Entry points over a real pseudo-terminal: the SDK opens the simulator's pty
// as its serial port, found through the registry like a real cable.
#include <gtest/gtest.h>

#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "sim/pty_server.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

class PtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        blocks_before_ = platform::live_global_blocks();
        ASSERT_TRUE(server_.start(watch_, 0)) << "cannot start the pty simulator";
        platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#pty", "COM9",
                                     server_.slave_path());
    }
    void TearDown() override {
        server_.stop();
        EXPECT_FALSE(sdk::TaskActiveOnThisThread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_);
    }

    test::TestEnvironment env_;
    sim::Watch watch_;
    sim::PtyServer server_;
    test::HostRecorder host_;
    std::size_t blocks_before_ = 0;
};

TEST_F(PtyTest, WatchVersionEndToEnd) {
    GetWatch_Version(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::RunUntilTaskEnds(20'000));
    ASSERT_EQ(host_.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
        << host_.describe();
    EXPECT_EQ(host_.notifications()[0].text(), "Ver1.30");
    EXPECT_EQ(host_.notifications()[1].progress(), 100.0f);
    EXPECT_EQ(watch_.received_ids(), std::vector<std::uint8_t>{0x10});
}

TEST_F(PtyTest, SecondTaskFailsWhileTheFirstHoldsThePort) {
    GetWatch_Version(host_.hwnd(), FALSE);
    GetWatch_Version(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::RunUntilTaskEnds(20'000));
    EXPECT_EQ(host_.codes(),
              (std::vector<UINT>{SDK_ERR_PORT_OPEN, SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
        << host_.describe();
    // Once the first task has released the port, the next call opens it again.
    host_.clear();
    GetWatch_Version(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::RunUntilTaskEnds(20'000));
    EXPECT_EQ(host_.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
        << host_.describe();
}

}  // namespace
}  // namespace stridelog
