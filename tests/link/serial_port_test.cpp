// CSerialPort against a real pseudo-terminal, found through the serial device
// map as a cable's port would be.
#include "link/serial_port.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <functional>
#include <future>

#include "platform/registry.hpp"
#include "tests/link/link_fixtures.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::test {
namespace {

const Bytes kFrame = hex("A0A2 0001 10 0010 B0B3");

link::DCB line(DWORD baud = 115200) {
    link::DCB dcb;
    dcb.BaudRate = baud;
    dcb.fRtsControl = link::RTS_CONTROL_DISABLE;
    return dcb;
}

class SerialPortOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        platform::inject_serial_comm("\\Device\\Serial12", "COM12", pty.path());
    }
    // Writes kFrame and checks it arrives unchanged.
    void expect_frame_passes(link::CSerialPort& port) {
        std::size_t written = 99;
        ASSERT_TRUE(port.Write(kFrame.data(), kFrame.size(), written, 1000));
        EXPECT_EQ(written, kFrame.size());
        EXPECT_EQ(pty.receive(kFrame.size()), kFrame);
    }
    TestEnvironment environment;  // no real ports, no real registry file
    PtyPair pty;
};

TEST_F(SerialPortOnPty, BytesFlowBothWaysUnchangedThroughCom12) {
    link::CSerialPort port;
    ASSERT_TRUE(port.Open(12, line())) << "errno " << port.last_error();
    EXPECT_TRUE(port.is_open());
    const std::uint8_t byte = 0x10;
    std::size_t written = 7;
    EXPECT_FALSE(port.Write(&byte, 0, written, 100)) << "zero bytes";
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(port.Write(nullptr, 4, written, 100)) << "no buffer";
    expect_frame_passes(port);  // and nothing before it
    EXPECT_EQ(port.GetBytesWritten(), kFrame.size());

    const Bytes in = hex("0D 0A 11 00 FF 03 1A 7F");  // raw mode: no CR/LF or control mapping
    ASSERT_TRUE(pty.send(in));
    std::uint8_t buf[64];
    Bytes got;
    while (got.size() < in.size()) {
        const long n = port.read_burst(buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, in);
}

TEST_F(SerialPortOnPty, RefusedOpensAndCallsWhileClosedLeaveBothObjectsUsable) {
    link::CSerialPort other, holder;
    std::size_t written = 7;
    EXPECT_FALSE(other.Write(kFrame.data(), kFrame.size(), written, 100)) << "closed";
    EXPECT_EQ(written, 0u);
    std::uint8_t buf[8];
    EXPECT_EQ(other.read_burst(buf, sizeof buf), -1) << "closed";
    EXPECT_FALSE(other.Close()) << "nothing to close";
    // Port 0, a negative one, one not in the device map, an unsupported baud
    // rate, and last a port another object holds.
    const std::array<int, 3> cases[] = {{0, 115200, EINVAL},
                                        {-3, 115200, EINVAL},
                                        {13, 115200, ENOENT},
                                        {12, 12345, EINVAL},
                                        {12, 115200, EBUSY}};
    for (const auto& [port, baud, error] : cases) {
        SCOPED_TRACE(port);
        ASSERT_TRUE(error != EBUSY || holder.Open(12, line()));
        EXPECT_FALSE(other.Open(port, line(static_cast<DWORD>(baud))));
        EXPECT_EQ(other.last_error(), error);
        EXPECT_FALSE(other.is_open());
    }
    EXPECT_FALSE(holder.Open(12, line())) << "already open";
    expect_frame_passes(holder);  // untouched by every refusal
    EXPECT_TRUE(holder.Close());
    EXPECT_FALSE(holder.Close()) << "second close";
    EXPECT_TRUE(other.Open(12, line())) << "free again once closed";
}

TEST_F(SerialPortOnPty, WriteTimesOutWhenTheLineIsStuckThenRecovers) {
    link::CSerialPort port;
    ASSERT_TRUE(port.Open(12, line()));
    // The master never reads: the line's buffers fill and a write must give up.
    const Bytes block(4096, 0x55);
    std::size_t written = 0, total = 0;
    bool timed_out = false;
    for (int i = 0; i < 256 && !timed_out; ++i) {
        timed_out = !port.Write(block.data(), block.size(), written, 50);
        total += written;
    }
    ASSERT_TRUE(timed_out) << "the pty never filled after " << total << " bytes";
    EXPECT_EQ(port.last_error(), ETIMEDOUT);
    EXPECT_LT(written, block.size());
    EXPECT_EQ(pty.receive(total + 1, 200).size(), total) << "written counts what went out";
    expect_frame_passes(port);
}

TEST_F(SerialPortOnPty, PendingReadEndsWhenInterruptedClosedOrLineGone) {
    // Interrupted, closed, and last the master hanging up: the line is gone.
    const std::function<void(link::CSerialPort&)> ends[] = {
        [](link::CSerialPort& p) { p.interrupt_read(); }, [](link::CSerialPort& p) { p.Close(); },
        [this](link::CSerialPort&) { pty.close_master(); }};
    for (const auto& end : ends) {
        link::CSerialPort port;
        ASSERT_TRUE(port.Open(12, line()));
        auto reader = std::async(std::launch::async, [&] {
            std::uint8_t buf[16];
            return port.read_burst(buf, sizeof buf);
        });
        EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
            << "a read with nothing to read waits";
        end(port);
        ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(reader.get(), -1);
    }
}

}  // namespace
}  // namespace stridelog::test
