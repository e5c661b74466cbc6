// The in-process line as the SDK's serial seam sees it.
#include "sim/inprocess_line.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/clock.hpp"
#include "platform/serial_device.hpp"
#include "wire/frame.hpp"

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool send(platform::SerialDevice& device, const Bytes& payload) {
    const Bytes frame = wire::encode_frame(payload);
    std::size_t written = 0;
    return device.write(frame, 1000, written) && written == frame.size();
}

TEST(InProcessLine, OpensExclusivelyThroughTheSerialSeam) {
    Watch watch;
    InProcessLine line(watch, "exclusive");
    int error = 0;
    auto first = platform::open_serial_device("sim:exclusive", error);
    ASSERT_TRUE(first);
    EXPECT_FALSE(platform::open_serial_device("sim:exclusive", error));
    EXPECT_EQ(error, EBUSY);
    first.reset();
    EXPECT_TRUE(platform::open_serial_device("sim:exclusive", error));
    EXPECT_FALSE(platform::open_serial_device("sim:nobody", error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_THROW(InProcessLine(watch, "exclusive"), std::invalid_argument);
}

// The virtual clock must not jump while a reply is on its way to the SDK.
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

}  // namespace
}  // namespace stridelog::sim
