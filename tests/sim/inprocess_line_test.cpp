// The in-process line as the SDK's serial seam sees it, on the virtual clock.
#include "sim/inprocess_line.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "link/frame.hpp"
#include "platform/clock.hpp"
#include "platform/registry.hpp"
#include "platform/serial_device.hpp"
#include "platform/window_system.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool send(platform::SerialDevice& device, const Bytes& payload) {
    const Bytes frame = wire::encode_frame(payload);
    std::size_t written = 0;
    return device.write(frame, 1000, written) && written == frame.size();
}

// A reader thread like the SDK's: reads bursts, cuts frames, posts each payload
// to a window of the test's thread.
class Reader {
  public:
    static constexpr UINT kPayload = platform::kWmUser + 1;

    explicit Reader(platform::SerialDevice& device) : device_(device) {
        window_ =
            platform::create_window([this](HWND, UINT message, WPARAM wparam, LPARAM) -> LRESULT {
                if (message == kPayload) {
                    std::unique_ptr<Bytes> payload(reinterpret_cast<Bytes*>(wparam));
                    payloads.push_back(*payload);
                }
                return 0;
            });
        thread_ = std::thread([this] {
            wire::FrameAssembler assembler;
            std::uint8_t buffer[200];
            for (;;) {
                const long n = device_.read_burst(buffer);
                if (n < 0) break;
                assembler.feed(
                    std::span(buffer, static_cast<std::size_t>(n)),
                    [&](std::span<const std::uint8_t> p) {
                        platform::post_message(
                            window_, kPayload,
                            reinterpret_cast<WPARAM>(new Bytes(p.begin(), p.end())), 0,
                            [](UINT, WPARAM w, LPARAM) { delete reinterpret_cast<Bytes*>(w); });
                    });
            }
            ended = true;
        });
    }
    ~Reader() {
        device_.interrupt();
        thread_.join();
        platform::destroy_window(window_);
    }
    bool wait_for(std::size_t count, std::uint64_t timeout_ms) {
        return platform::run_loop_until([&] { return payloads.size() >= count; },
                                        platform::clock().now_ms() + timeout_ms);
    }

    std::vector<Bytes> payloads;
    std::atomic<bool> ended{false};

  private:
    platform::SerialDevice& device_;
    HWND window_ = nullptr;
    std::thread thread_;
};

TEST(InProcessLine, OpensExclusivelyThroughTheSerialSeam) {
    Watch watch;
    InProcessLine line(watch, "exclusive");
    EXPECT_EQ(line.device_path(), "sim:exclusive");
    int error = 0;
    auto first = platform::open_serial_device(line.device_path(), error);
    ASSERT_TRUE(first);
    EXPECT_TRUE(line.is_open());
    auto second = platform::open_serial_device(line.device_path(), error);
    EXPECT_FALSE(second);
    EXPECT_EQ(error, EBUSY);
    first.reset();
    EXPECT_TRUE(platform::open_serial_device(line.device_path(), error));
    EXPECT_FALSE(platform::open_serial_device("sim:nobody", error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_THROW(InProcessLine(watch, "exclusive"), std::invalid_argument);
}

TEST(InProcessLine, RepliesCountAsInFlightUntilTheReaderComesBack) {
    platform::ScopedVirtualClock clock;
    Watch watch;
    InProcessLine line(watch, "accounting");
    int error = 0;
    auto device = line.open(error);
    ASSERT_TRUE(device);
    ASSERT_TRUE(send(*device, {0x10}));
    ASSERT_TRUE(send(*device, {0x2C}));
    EXPECT_EQ(clock->in_flight(), 2);  // two replies buffered

    std::uint8_t buffer[256];
    const long n = device->read_burst(buffer);
    EXPECT_EQ(static_cast<std::size_t>(n), line.bytes_from_watch());  // both replies in one burst
    EXPECT_EQ(clock->in_flight(), 2);  // handed out, still being dealt with
    device->interrupt();
    EXPECT_EQ(clock->in_flight(), 0);
    EXPECT_EQ(device->read_burst(buffer), -1);
    EXPECT_EQ(device->read_burst(buffer), -1);  // stays interrupted

    // Resumed, the same open line reads again.
    ASSERT_TRUE(device->resume());
    ASSERT_TRUE(send(*device, {0x24}));
    EXPECT_EQ(device->read_burst(buffer), static_cast<long>(wire::kOverhead + 1));
    device->interrupt();
    EXPECT_EQ(clock->in_flight(), 0);

    // Bytes left unread when the SDK closes are released too.
    device.reset();
    device = line.open(error);
    ASSERT_TRUE(device);
    ASSERT_TRUE(send(*device, {0x10}));
    EXPECT_EQ(clock->in_flight(), 1);
    device.reset();
    EXPECT_EQ(clock->in_flight(), 0);
}

TEST(InProcessLine, DelayedReplyArrivesWhenTheClockJumps) {
    platform::ScopedVirtualClock clock;
    Watch watch;
    Fault slow = Fault::on_command(FaultKind::delay, 0x2C);
    slow.delay_ms = 2900;
    watch.add_fault(slow);
    InProcessLine line(watch, "delayed");
    int error = 0;
    auto device = line.open(error);
    ASSERT_TRUE(device);
    {
        Reader reader(*device);
        const std::uint64_t start = clock->now_ms();
        ASSERT_TRUE(send(*device, {0x2C}));
        ASSERT_TRUE(reader.wait_for(1, 60'000));
        EXPECT_EQ(clock->now_ms(), start + 2900);
        EXPECT_EQ(reader.payloads, (std::vector<Bytes>{{0x2D, 0x01, 0x00, 0x00, 0x01}}));

        // A split reply arrives whole after its gap.
        Fault split = Fault::on_command(FaultKind::split, 0x10);
        split.delay_ms = 700;
        watch.add_fault(split);
        const std::uint64_t again = clock->now_ms();
        ASSERT_TRUE(send(*device, {0x10}));
        ASSERT_TRUE(reader.wait_for(2, 60'000));
        EXPECT_EQ(clock->now_ms(), again + 700);
        EXPECT_EQ(reader.payloads.size(), 2u);
    }
    EXPECT_EQ(clock->in_flight(), 0);
}

TEST(InProcessLine, DisconnectionFailsReadsWritesAndOpens) {
    platform::ScopedVirtualClock clock;
    Watch watch;
    watch.add_fault(Fault::on_command(FaultKind::disconnect, 0x12));
    InProcessLine line(watch, "unplugged");
    int error = 0;
    auto device = line.open(error);
    ASSERT_TRUE(device);
    {
        Reader reader(*device);
        ASSERT_TRUE(send(*device, {0x10}));
        ASSERT_TRUE(reader.wait_for(1, 60'000));
        ASSERT_TRUE(send(*device, {0x12, 0, 0, 0, 128}));  // the request itself goes out
        // The reader's read fails: it ends (nothing is posted, so wait in real time).
        for (int i = 0; i < 1000 && !reader.ended; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(reader.ended);
        EXPECT_EQ(reader.payloads.size(), 1u);
    }
    EXPECT_FALSE(line.connected());
    EXPECT_FALSE(send(*device, {0x10}));
    device.reset();
    EXPECT_FALSE(line.open(error));
    EXPECT_EQ(error, ENODEV);
    line.reconnect();
    device = line.open(error);
    ASSERT_TRUE(device);
    EXPECT_TRUE(send(*device, {0x10}));
    EXPECT_EQ(clock->in_flight(), 1);
}

TEST(InProcessLine, DelayedReplyOnTheRealClockUsesTheLineTimer) {
    Watch watch;
    Fault slow = Fault::on_command(FaultKind::delay, 0x10);
    slow.delay_ms = 30;
    watch.add_fault(slow);
    InProcessLine line(watch, "realtime");
    int error = 0;
    auto device = line.open(error);
    ASSERT_TRUE(device);
    ASSERT_TRUE(send(*device, {0x10}));
    EXPECT_EQ(line.bytes_from_watch(), 0u);  // not yet: the writer is not held up
    std::uint8_t buffer[64];
    const long n = device->read_burst(buffer);  // blocks until the timer delivers
    EXPECT_EQ(static_cast<std::size_t>(n), wire::kOverhead + 8);
}

TEST(InProcessLine, RegisteredAsACableItsPortLeadsToTheLine) {
    test::TestEnvironment environment;
    Watch watch;
    InProcessLine first(watch, "cable");
    Watch other;
    InProcessLine second(other, "cable2");
    register_as_cable(first, "COM7");
    register_as_cable(second, "COM12");
    EXPECT_EQ(platform::serial_port_device_path("COM7"), "sim:cable");
    EXPECT_EQ(platform::serial_port_device_path("COM12"), "sim:cable2");
}

}  // namespace
}  // namespace stridelog::sim
