// Entry points over a real pseudo-terminal on a busy machine: the SDK opens
// the simulator's pty as its serial port, found through the registry like a
// real cable, and the receive thread gets no processor until after the reply
// timer is due. A reply already on this machine is not a missing one, while a
// watch that really stays silent still fails at its timer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/serial_device.hpp"
#include "sdk/task_registry.hpp"
#include "sim/pty_server.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A tty whose reader, at one chosen burst, waits until the reply has arrived
// and then stays away for `late_ms` before taking it, as a receive thread
// that the scheduler leaves out would.
class LateReader final : public platform::SerialDevice {
  public:
    LateReader(std::unique_ptr<platform::SerialDevice> tty, int late_burst, std::uint32_t late_ms)
        : tty_(std::move(tty)), late_burst_(late_burst), late_ms_(late_ms) {}

    bool configure(const platform::LineSettings& settings, int& error) override {
        return tty_->configure(settings, error);
    }
    bool write(std::span<const std::uint8_t> bytes, std::uint32_t timeout_ms,
               std::size_t& written) override {
        return tty_->write(bytes, timeout_ms, written);
    }
    using SerialDevice::read_burst;
    long read_burst(std::span<std::uint8_t> buffer, std::uint64_t& discards) override {
        if (++bursts_ == late_burst_) {
            while (!tty_->input_pending() && !interrupted_)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(late_ms_));
        }
        return tty_->read_burst(buffer, discards);
    }
    void interrupt() override {
        interrupted_ = true;
        tty_->interrupt();
    }
    bool resume() override {
        interrupted_ = false;
        return tty_->resume();
    }
    std::uint64_t discard_input() override { return tty_->discard_input(); }
    bool input_pending() override { return tty_->input_pending(); }

  private:
    std::unique_ptr<platform::SerialDevice> tty_;
    const int late_burst_;
    const std::uint32_t late_ms_;
    int bursts_ = 0;
    std::atomic<bool> interrupted_{false};
};

// Bursts: 1 version, 2 status, 3 first chunk (3000 ms), 4.. later chunks
// (250 ms); short reply timers only guard the later chunks and the clock. The
// connection posts the version first.
TEST(PtyTest, OnABusyMachineAReplyOnThisMachineIsNotAMissingReply) {
    struct Case {
        const char* legend;
        int late_burst;
        bool watch_silent;  // the watch does not answer the command of that burst
        bool clock;         // SetDateTime (250 ms reply timer) instead of ReadFlashSector
        UINT ending;
    };
    const Case cases[] = {
        {"a later chunk", 5, false, false, SDK_MSG_SECTOR},
        {"the clock reply", 3, false, true, SDK_MSG_CLOCK_SET},
        {"a silent watch still fails", 5, true, false, SDK_ERR_TRANSFER},
        {"a silent clock still fails", 3, true, true, SDK_ERR_CLOCK_TIMEOUT},
    };
    Bytes sector(4096);
    for (std::size_t i = 0; i < sector.size(); ++i)
        sector[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        test::TestEnvironment env;
        const std::size_t blocks_before = platform::live_global_blocks();
        sim::Watch watch;
        watch.with_flash([&](sim::Flash& flash) { flash.store(40 * 4096, sector); });
        if (c.watch_silent)
            watch.add_fault(sim::Fault::on_frame(sim::FaultKind::silence,
                                                 static_cast<std::size_t>(c.late_burst)));
        sim::PtyServer server;
        ASSERT_TRUE(server.start(watch, 0)) << "cannot start the pty simulator";
        platform::register_serial_backend("late:", [&](const std::string& path, int& error) {
            std::unique_ptr<platform::SerialDevice> out;
            if (auto tty = platform::open_serial_device(path.substr(5), error))
                out = std::make_unique<LateReader>(std::move(tty), c.late_burst, 400);
            return out;
        });
        platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#late", "COM9",
                                     "late:" + server.slave_path());
        test::HostRecorder host;
        if (c.clock)
            SetDateTime(host.hwnd(), 24, 2, 29, 10, 0, 0, FALSE);
        else
            ReadFlashSector(host.hwnd(), 40);
        ASSERT_TRUE(test::run_until_task_ends(20'000)) << "task did not end";
        server.stop();
        EXPECT_EQ(host.outcome(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, c.ending}))
            << host.describe();
        EXPECT_EQ(host.blocks(SDK_MSG_SECTOR),
                  c.ending == SDK_MSG_SECTOR ? std::vector<Bytes>{sector} : std::vector<Bytes>{});
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before) << "a block leaked";
    }
}

}  // namespace
}  // namespace stridelog
