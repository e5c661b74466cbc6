// Entry points over a real pseudo-terminal: the SDK opens the simulator's pty
// as its serial port, found through the registry like a real cable. Among
// them the workouts round trip: the simulator's own encoder writes realistic
// sessions into the watch's flash, the SDK downloads them, and every 0x2007 /
// 0x2008 block and the 0x2009 summary must hold, field by field, what the
// encoder says the watch meant.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "sim/pty_server.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/task_window_access.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void expect_session_block(const test::Notification& n, const sim::ExpectedSession& e) {
    const Bytes& b = n.block;
    const std::size_t laps_end = 60 + 16 * e.laps.size();
    ASSERT_EQ(n.code, e.has_track_points ? UINT{SDK_MSG_SESSION_TRACK} : UINT{SDK_MSG_SESSION});
    ASSERT_GE(b.size(), laps_end);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), Bytes(e.stamp_a.begin(), e.stamp_a.end()))
        << "stamp A";
    EXPECT_EQ(Bytes(b.begin() + 6, b.begin() + 12), Bytes(e.stamp_b.begin(), e.stamp_b.end()))
        << "stamp B";
    EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 60), Bytes(e.header.begin(), e.header.end()))
        << "header (corrected start at 3..8)";
    for (std::size_t i = 0; i < e.laps.size(); ++i)
        EXPECT_EQ(Bytes(b.begin() + 60 + 16 * i, b.begin() + 76 + 16 * i),
                  Bytes(e.laps[i].begin(), e.laps[i].end()))
            << "lap " << i;
    if (!e.has_track_points) {
        EXPECT_EQ(b.size(), laps_end);
        return;
    }
    ASSERT_GE(b.size(), laps_end + 4);
    ASSERT_EQ(le32(b, laps_end), e.points.size()) << "point count";
    ASSERT_EQ(b.size(), laps_end + 4 + 25 * e.points.size());
    for (std::size_t j = 0; j < e.points.size(); ++j) {
        const auto at = b.begin() + static_cast<std::ptrdiff_t>(laps_end + 4 + 25 * j);
        ASSERT_EQ(Bytes(at, at + 25), Bytes(e.points[j].begin(), e.points[j].end()))
            << "point " << j << " (record type " << (e.points[j][0] & 0x0F) << ")";
    }
}

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

TEST_F(PtyTest, SecondTaskFailsWhileTheFirstHoldsThePort) {
    GetWatch_Version(host_.hwnd(), FALSE);
    GetWatch_Version(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(20'000));
    EXPECT_EQ(host_.codes(),
              (std::vector<UINT>{SDK_ERR_PORT_OPEN, SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
        << host_.describe();
    // Once the first task has released the port, the next call opens it again.
    host_.clear();
    watch_.clear_received();
    GetWatch_Version(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(20'000));
    ASSERT_EQ(host_.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
        << host_.describe();
    EXPECT_EQ(host_.notifications()[0].text(), "Ver1.30");
    EXPECT_EQ(host_.notifications()[1].progress(), 100.0f);
    EXPECT_EQ(watch_.received_ids(), Bytes{0x10});
}

TEST_F(PtyTest, ReadFlashSectorAndLongVersionEndToEnd) {
    Bytes sector(4096);
    for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>(i * 31);
    const std::string long_version = "1.30.07_A7";
    watch_.with_flash([&](sim::Flash& flash) {
        flash.store(200 * 4096, sector);
        flash.store(96, Bytes(long_version.begin(), long_version.end()));
        flash.store(96 + long_version.size(), Bytes{0});
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
    WriteSector(task::TaskHost& host, Bytes data) : Operation(host), data_(std::move(data)) {}
    task::OperationCode code() const override { return task::OperationCode::set_views; }
    void start() override { host().transfer().write_sector(kAddress, data_, 1009); }
    void on_write_complete(int) override {
        host().post_result(SDK_MSG_VIEWS_WRITTEN);
        host().end_task();
    }
    static constexpr std::uint32_t kAddress = 17 * 4096;

  private:
    Bytes data_;
};

TEST_F(PtyTest, SectorWriteCompletesOverTheSerialLine) {
    // The prepare, erase and write acknowledgements each reach the task that
    // waits for them: the sector is in flash and the task ends with success.
    Bytes data(4096);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    watch_.with_flash(
        [](sim::Flash& flash) { flash.store(WriteSector::kAddress, Bytes(4096, 0x00)); });
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

TEST_F(PtyTest, WorkoutsRoundTripWithTheDefaultReserve) {
    sim::WatchConfig config = watch_.config();
    config.status_bytes = {0x01, 0x00, 0x00, 0x00};
    watch_.set_config(config);
    std::vector<sim::ExpectedSession> expected;
    watch_.with_flash([&](sim::Flash& flash) {
        expected =
            sim::generate_realistic_flash(flash, sim::uses_large_reserve(config.status_bytes));
    });
    GetAllWorkout(host_.hwnd(), FALSE, FALSE);
    ASSERT_TRUE(test::run_until_task_ends(120'000)) << "download did not end";
    std::vector<const test::Notification*> sessions;
    for (const auto& n : host_.notifications()) {
        ASSERT_FALSE(n.error) << host_.describe();
        if (n.code == SDK_MSG_SESSION || n.code == SDK_MSG_SESSION_TRACK) sessions.push_back(&n);
    }
    ASSERT_EQ(host_.codes().back(), UINT{SDK_MSG_WORKOUTS_DONE}) << host_.describe();
    ASSERT_EQ(sessions.size(), expected.size()) << host_.describe();
    for (std::size_t k = 0; k < expected.size(); ++k) {
        SCOPED_TRACE("session " + std::to_string(k));
        expect_session_block(*sessions[k], expected[k]);
    }

    host_.clear();
    GetWorkoutSummary(host_.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(120'000)) << "summary did not end";
    const auto summary = host_.blocks(SDK_MSG_SUMMARY);
    ASSERT_EQ(summary.size(), 1u) << host_.describe();
    const Bytes& s = summary[0];
    ASSERT_EQ(s.size(), 4 + 48 * expected.size());
    EXPECT_EQ(le32(s, 0), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(Bytes(s.begin() + 4 + 48 * k, s.begin() + 52 + 48 * k),
                  Bytes(expected[k].header.begin(), expected[k].header.end()))
            << "summary header " << k;
}

}  // namespace
}  // namespace stridelog
