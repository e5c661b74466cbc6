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
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/task_window_access.hpp"
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
        EXPECT_FALSE(sdk::task_active_on_this_thread());
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
    ASSERT_TRUE(test::run_until_task_ends(20'000));
    ASSERT_EQ(host_.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
        << host_.describe();
    EXPECT_EQ(host_.notifications()[0].text(), "Ver1.30");
    EXPECT_EQ(host_.notifications()[1].progress(), 100.0f);
    EXPECT_EQ(watch_.received_ids(), std::vector<std::uint8_t>{0x10});
}

TEST_F(PtyTest, SecondTaskFailsWhileTheFirstHoldsThePort) {
    GetWatch_Version(host_.hwnd(), FALSE);
    GetWatch_Version(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(20'000));
    EXPECT_EQ(host_.codes(),
              (std::vector<UINT>{SDK_ERR_PORT_OPEN, SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
        << host_.describe();
    // Once the first task has released the port, the next call opens it again.
    host_.clear();
    GetWatch_Version(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(20'000));
    EXPECT_EQ(host_.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
        << host_.describe();
}

TEST_F(PtyTest, ReadFlashSectorAndLongVersionEndToEnd) {
    std::vector<std::uint8_t> sector(4096);
    for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>(i * 31);
    const std::string long_version = "1.30.07_A7";
    watch_.with_flash([&](sim::Flash& flash) {
        flash.store(200 * 4096, sector);
        flash.store(96, std::vector<std::uint8_t>(long_version.begin(), long_version.end()));
        flash.store(96 + long_version.size(), std::vector<std::uint8_t>{0});
    });
    ReadFlashSector(host_.hwnd(), 200);
    test::deliver_posted();
    ASSERT_EQ(host_.codes().back(), static_cast<UINT>(SDK_MSG_SECTOR)) << host_.describe();
    EXPECT_EQ(host_.notifications().back().block, sector);

    host_.clear();
    GetWatch_LongVer(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(20'000));
    const auto codes = host_.codes();
    ASSERT_GE(codes.size(), 2u) << host_.describe();
    EXPECT_EQ(codes[codes.size() - 2], static_cast<UINT>(SDK_MSG_LONG_VERSION));
    EXPECT_EQ(host_.notifications()[codes.size() - 2].text(), long_version);
}

// A task of the test's own that writes one sector through the task window.
class WriteSector final : public task::Operation {
  public:
    WriteSector(task::TaskHost& host, std::vector<std::uint8_t> data)
        : Operation(host), data_(std::move(data)) {}
    task::OperationCode code() const override { return task::OperationCode::set_views; }
    void start() override { host().transfer().write_sector(kAddress, data_, 1009); }
    void on_write_complete(int) override {
        host().post_result(SDK_MSG_VIEWS_WRITTEN);
        host().end_task();
    }
    static constexpr std::uint32_t kAddress = 17 * 4096;

  private:
    std::vector<std::uint8_t> data_;
};

TEST_F(PtyTest, SectorWriteCompletesOverTheSerialLine) {
    // The prepare, erase and write acknowledgements each reach the task that
    // waits for them: the sector is in flash and the task ends with success.
    std::vector<std::uint8_t> data(4096);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    watch_.with_flash([](sim::Flash& flash) {
        flash.store(WriteSector::kAddress, std::vector<std::uint8_t>(4096, 0x00));
    });
    auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
    dlg->attach(host_.hwnd());
    TaskWindowTestAccess::start_with(
        *dlg, [&](task::TaskHost& host) { return std::make_unique<WriteSector>(host, data); });
    ASSERT_TRUE(test::run_until_task_ends(30'000));
    EXPECT_EQ(host_.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_VIEWS_WRITTEN}))
        << host_.describe();
    EXPECT_EQ(watch_.read_flash(WriteSector::kAddress, 4096), data);
    EXPECT_EQ(watch_.received_count(0x24), 1u);
    EXPECT_EQ(watch_.received_count(0x14), 1u);
    EXPECT_EQ(watch_.received_count(0x16), 32u);
}

}  // namespace
}  // namespace stridelog
