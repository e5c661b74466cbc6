// The opening of every task against a simulated watch on an in-process line,
// on the virtual clock: port walk, retries, version texts, status query, and
// the link errors a misbehaving watch causes.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "sdk/task_window.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"
#include "wire/frame.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;

std::vector<UINT> codes(std::initializer_list<UINT> codes) {
    return codes;
}

// A watch on an in-process line, registered as a cable port.
struct SimulatedCable {
    SimulatedCable(const std::string& name, const std::string& port, sim::WatchConfig config = {})
        : watch(std::move(config)), line(watch, name) {
        sim::register_as_cable(line, port);
    }
    sim::Watch watch;
    sim::InProcessLine line;
};

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { blocks_before_ = platform::live_global_blocks(); }
    // An operation that ends at once after the status query without sending a
    // command of its own: a clock set to 30 February.
    void start_probe() { SetDateTime(host_.hwnd(), 24, 2, 30, 0, 0, 0, FALSE); }
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }
    std::uint64_t now() { return platform::clock().now_ms(); }
    // Runs the loop until the task ends; returns the virtual time it took.
    std::uint64_t run_task() {
        const std::uint64_t start = now();
        EXPECT_TRUE(test::run_until_task_ends(600'000)) << "task did not end";
        return now() - start;
    }
    SimulatedCable& plug(const std::string& port, sim::WatchConfig config = {}) {
        std::string name = "c";
        name += std::to_string(cables_.size());
        cables_.push_back(std::make_unique<SimulatedCable>(name, port, config));
        return *cables_.back();
    }

    test::TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    test::HostRecorder host_;
    std::vector<std::unique_ptr<SimulatedCable>> cables_;
    std::size_t blocks_before_ = 0;
};

TEST_F(ConnectionTest, WatchVersionHiddenPostsTextThenFullProgress) {
    auto& cable = plug("COM7");
    GetWatch_Version(host_.hwnd(), FALSE);
    const auto tasks = sdk::task_windows_on_this_thread();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_FALSE(platform::is_window_visible(tasks[0]));
    EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    run_task();
    ASSERT_EQ(host_.codes(), codes({SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS})) << host_.describe();
    EXPECT_EQ(host_.notifications()[0].text(), "Ver1.30");
    EXPECT_EQ(host_.notifications()[1].progress(), 100.0f);
    EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    EXPECT_EQ(cable.watch.received_ids(), std::vector<std::uint8_t>{0x10});
}

TEST_F(ConnectionTest, VersionTextDecidesWhetherTheOperationRuns) {
    struct Case {
        const char* legend;
        std::string text;  // text reply, unless numeric
        std::optional<sim::NumericVersion> numeric;
        bool refused;  // 0x1005 instead of the status query
    };
    const Case cases[] = {
        {"Ver1.30 passes", "Ver1.30", {}, false},
        {"Ver1.2 passes: 1.2 as a float lies above the double 1.2", "Ver1.2", {}, false},
        {"Ver1.10 is too old", "Ver1.10", {}, true},
        {"Ver1.16 is too old", "Ver1.16", {}, true},
        {"Ver1.15 is too old", "Ver1.15", {}, true},
        {"VER1.30 is not read: unknown version refused", "VER1.30", {}, true},
        {"0.0 is always too old", "0.0", {}, true},
        {"empty text refused", "", {}, true},
        {"numeric 1.21 passes", "", sim::NumericVersion{1, 21}, false},
        {"numeric 0.0 refused", "", sim::NumericVersion{0, 0}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        sim::WatchConfig config;
        config.version_text = c.text;
        config.numeric_version = c.numeric;
        platform::clear_injected();
        cables_.clear();
        auto& cable = plug("COM7", config);
        host_.clear();
        start_probe();
        run_task();
        if (c.refused) {
            EXPECT_EQ(host_.codes(), codes({SDK_MSG_WATCH_VERSION, SDK_ERR_OLD_FIRMWARE}))
                << host_.describe();
            EXPECT_EQ(cable.watch.received_ids(), std::vector<std::uint8_t>{0x10});
        } else {
            // The probe's operation ran: it refuses its date without a command.
            EXPECT_EQ(host_.codes(), codes({SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE}))
                << host_.describe();
            EXPECT_EQ(cable.watch.received_ids(), (std::vector<std::uint8_t>{0x10, 0x2C}));
        }
    }
}

TEST_F(ConnectionTest, SilentWatchGetsThreeRequestsThreeSecondsApart) {
    auto& cable = plug("COM7");
    cable.watch.add_fault(Fault::on_command(FaultKind::silence, 0x10, -1));
    const std::uint64_t start = now();
    GetWatch_Version(host_.hwnd(), FALSE);
    const std::uint64_t marks[] = {2999, 3000, 5999, 6000};
    const std::size_t expected[] = {1, 2, 2, 3};
    for (std::size_t i = 0; i < 4; ++i) {
        test::run_for(start + marks[i] - now());
        EXPECT_EQ(cable.watch.received_count(0x10), expected[i]) << "at " << marks[i] << " ms";
        EXPECT_TRUE(host_.notifications().empty());
    }
    test::run_until_task_ends(600'000);
    EXPECT_EQ(now() - start, 9000u);
    ASSERT_EQ(host_.codes(), codes({SDK_ERR_NO_ANSWER, SDK_MSG_PROGRESS})) << host_.describe();
    EXPECT_EQ(host_.notifications()[1].progress(), 100.0f);
}

TEST_F(ConnectionTest, PortWalkMovesToTheSecondPortAfterAPause) {
    auto& silent = plug("COM2");
    auto& answering = plug("COM3");
    silent.watch.add_fault(Fault::on_command(FaultKind::silence, 0x10, -1));
    GetWatch_Version(host_.hwnd(), FALSE);
    const std::uint64_t took = run_task();
    ASSERT_EQ(host_.codes(), codes({SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS})) << host_.describe();
    EXPECT_EQ(silent.watch.received_count(0x10), 3u);
    EXPECT_EQ(answering.watch.received_count(0x10), 1u);
    EXPECT_FALSE(silent.line.is_open()) << "the first link was released";
    // 9 s on the first port, 250 ms pause, the reply, the 500 ms closing pause.
    EXPECT_EQ(took, 9000u + 250u + 500u);
}

TEST_F(ConnectionTest, PortThatCannotBeOpenedMidWalkEndsWithPortOpen) {
    auto& silent = plug("COM2");
    silent.watch.add_fault(Fault::on_command(FaultKind::silence, 0x10, -1));
    platform::inject_serial_comm("\\Device\\Silabser3", "COM3", "/nonexistent/tty");
    GetWatch_Version(host_.hwnd(), FALSE);
    const std::uint64_t took = run_task();
    EXPECT_EQ(host_.codes(), codes({SDK_ERR_PORT_OPEN})) << host_.describe();
    EXPECT_EQ(took, 9250u);
}

TEST_F(ConnectionTest, SilentStatusQueryStartsTheOperationAfterThreeSeconds) {
    auto& cable = plug("COM7");
    cable.watch.add_fault(Fault::on_command(FaultKind::silence, 0x2C));
    start_probe();
    EXPECT_EQ(run_task(), 3000u);
    EXPECT_EQ(host_.codes(), codes({SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE}))
        << host_.describe();
}

TEST_F(ConnectionTest, MisbehavingWatch) {
    struct Case {
        const char* legend;
        Fault fault;
        std::vector<UINT> codes;
        std::uint64_t took;  // virtual ms
    };
    auto delayed = Fault::on_command(FaultKind::delay, 0x10);
    delayed.delay_ms = 2500;
    auto shortened = Fault::on_command(FaultKind::wrong_length, 0x2C);
    shortened.length_delta = -3;  // a status reply with fewer than two status bytes
    const Case cases[] = {
        {"bad checksum: the reply is dropped, the retry is answered",
         Fault::on_command(FaultKind::bad_checksum, 0x10),
         {SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE},
         3000},
        {"garbage before the reply is skipped",
         Fault::on_command(FaultKind::garbage_before, 0x10),
         {SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE},
         0},
        {"a reply split across writes is reassembled",
         Fault::on_command(FaultKind::split, 0x10),
         {SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE},
         0},
        {"a late reply within the time-out is taken",
         delayed,
         {SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE},
         2500},
        {"a duplicated reply is posted twice, the operation starts once",
         Fault::on_command(FaultKind::duplicate, 0x10),
         {SDK_MSG_WATCH_VERSION, SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE},
         0},
        {"a status reply of the wrong length ends with a transfer error",
         shortened,
         {SDK_MSG_WATCH_VERSION, SDK_ERR_TRANSFER},
         0},
        {"a watch that disconnects is never heard again",
         Fault::on_command(FaultKind::disconnect, 0x10),
         {SDK_ERR_NO_ANSWER, SDK_MSG_PROGRESS},
         9000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        platform::clear_injected();
        cables_.clear();
        auto& cable = plug("COM7");
        cable.watch.add_fault(c.fault);
        host_.clear();
        start_probe();
        EXPECT_EQ(run_task(), c.took);
        EXPECT_EQ(host_.codes(), c.codes) << host_.describe();
        if (c.codes.back() == SDK_ERR_CLOCK_VALUE) {
            EXPECT_EQ(cable.watch.received_count(0x2C), 1u);
        }
    }
}

TEST_F(ConnectionTest, ClosingTheShownWindowEndsSilentlyAndReenablesTheHost) {
    auto& cable = plug("COM7");
    cable.watch.add_fault(Fault::on_command(FaultKind::silence, 0x10, -1));
    GetWatch_Version(host_.hwnd(), TRUE);
    EXPECT_FALSE(platform::is_window_enabled(host_.hwnd()));
    test::run_until([&] { return cable.watch.received_count(0x10) == 1; }, 1000);
    const auto tasks = sdk::task_windows_on_this_thread();
    ASSERT_EQ(tasks.size(), 1u);
    HWND task = tasks[0];
    EXPECT_TRUE(platform::is_window_visible(task));
    platform::post_message(task, platform::kWmClose, 0, 0);
    run_task();
    EXPECT_TRUE(host_.notifications().empty()) << host_.describe();
    EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    EXPECT_FALSE(cable.line.is_open());
}

TEST_F(ConnectionTest, FramesNobodyAskedForChangeNothing) {
    struct Case {
        const char* legend;
        std::vector<std::uint8_t> stray;  // payload of a frame sent before the version reply
        std::string version;
        void (*call)(HWND);
        std::vector<UINT> codes;
    };
    const Case cases[] = {
        {"a write acknowledgement",
         {0x17},
         "Ver1.30",
         [](HWND h) { GetWatch_Version(h, 0); },
         {SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}},
        {"an erase acknowledgement",
         {0x15},
         "Ver1.30",
         [](HWND h) { GetWatch_Version(h, 0); },
         {SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}},
        {"a clock acknowledgement",
         {0x3A, 0x00},
         "Ver1.30",
         [](HWND h) { GetWatch_Version(h, 0); },
         {SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}},
        {"a status reply does not skip the firmware check",
         {0x2D, 0x01, 0x00, 0x00, 0x01},
         "Ver1.10",
         [](HWND h) { GetViews(h, 0); },
         {SDK_MSG_WATCH_VERSION, SDK_ERR_OLD_FIRMWARE}},
        {"a read reply with no read outstanding",
         {0x13, 0x01, 0x02},
         "Ver1.30",
         [](HWND h) { GetWatch_Version(h, 0); },
         {SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        platform::clear_injected();
        cables_.clear();
        sim::WatchConfig config;
        config.version_text = c.version;
        auto& cable = plug("COM7", config);
        auto fault = Fault::on_command(FaultKind::garbage_before, 0x10);
        fault.garbage = wire::encode_frame(c.stray);
        cable.watch.add_fault(fault);
        host_.clear();
        c.call(host_.hwnd());
        run_task();
        EXPECT_EQ(host_.codes(), c.codes) << host_.describe();
    }
}

TEST_F(ConnectionTest, FirmwareVersionIsReadTheSameInAnyLocale) {
    // A host whose locale writes 1,30 must still see Ver1.30 as 1.30.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        const std::string dir = env_.root().string() + "/locale";
        std::filesystem::create_directories(dir);
        const std::string make =
            "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
        if (std::system(make.c_str()) == 0) {
            env_.set_env("LOCPATH", dir);
        }
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
            GTEST_SKIP() << "no locale with a decimal comma on this machine";
    }
    plug("COM7");
    start_probe();
    run_task();
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(host_.codes(), codes({SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE}))
        << host_.describe();
}

TEST_F(ConnectionTest, ReadFlashSectorEndsItsTaskWhenTheLoopIsQuit) {
    plug("COM7");
    const UINT result = platform::register_window_message(STRIDELOG_RESULT_MESSAGE_NAME);
    HWND host = platform::create_window([&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == result) {
            if (w == SDK_MSG_WATCH_VERSION) platform::post_quit_message(0);
            platform::global_free(reinterpret_cast<void*>(l));
        }
        return 0;
    });
    ReadFlashSector(host, 3);
    EXPECT_TRUE(platform::is_window_enabled(host)) << "the host is enabled again";
    EXPECT_FALSE(sdk::task_active_on_this_thread());
    platform::Message msg;
    while (platform::peek_message(msg)) platform::dispatch_message(msg);  // the quit, consumed
    platform::destroy_window(host);
}

}  // namespace
}  // namespace stridelog
