// CSerialPort against a real pseudo-terminal, found through the serial device
// map as a cable's port would be.
#include "link/serial_port.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <thread>

#include "platform/registry.hpp"
#include "tests/link/link_fixtures.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::test {
namespace {

DCB line_115200() {
    DCB dcb;
    dcb.BaudRate = 115200;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    return dcb;
}

class SerialPortOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        platform::inject_serial_comm("\\Device\\Serial12", "COM12", pty.path());
    }
    TestEnvironment environment;  // no real ports, no real registry file
    PtyPair pty;
};

TEST_F(SerialPortOnPty, BytesFlowBothWaysThroughCom12) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(12, line_115200())) << "errno " << port.LastError();
    EXPECT_TRUE(port.IsOpen());

    const Bytes out = hex("A0A2 0001 10 0010 B0B3");
    std::size_t written = 99;
    ASSERT_TRUE(port.Write(out.data(), out.size(), written, 1000));
    EXPECT_EQ(written, out.size());
    EXPECT_EQ(port.GetBytesWritten(), out.size());
    EXPECT_EQ(pty.receive(out.size()), out) << "raw mode: bytes unchanged (no CR/LF mapping)";

    const Bytes in = hex("0D 0A 11 00 FF 03 1A 7F");
    pty.send(in);
    std::uint8_t buf[64];
    Bytes got;
    while (got.size() < in.size()) {
        const long n = port.ReadBurst(buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, in);
}

TEST_F(SerialPortOnPty, RefusedOpens) {
    struct Case {
        const char* legend;
        int port;
        int error;
    };
    const Case cases[] = {
        {"port 0", 0, EINVAL},
        {"negative port", -3, EINVAL},
        {"port not in the device map", 13, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        CSerialPort port;
        EXPECT_FALSE(port.Open(c.port, line_115200()));
        EXPECT_EQ(port.LastError(), c.error);
        EXPECT_FALSE(port.IsOpen());
    }
    CSerialPort port;
    DCB odd = line_115200();
    odd.BaudRate = 12345;
    EXPECT_FALSE(port.Open(12, odd)) << "unsupported baud rate";
    EXPECT_EQ(port.LastError(), EINVAL);
    EXPECT_TRUE(port.Open(12, line_115200())) << "a failed open leaves the object reusable";
}

TEST_F(SerialPortOnPty, OpenIsExclusive) {
    CSerialPort first;
    ASSERT_TRUE(first.Open(12, line_115200()));
    EXPECT_FALSE(first.Open(12, line_115200())) << "already open";

    CSerialPort second;
    EXPECT_FALSE(second.Open(12, line_115200()));
    EXPECT_EQ(second.LastError(), EBUSY);

    // The first connection is untouched by both refusals.
    const Bytes out = hex("A0A2 0001 2C 002C B0B3");
    std::size_t written = 0;
    EXPECT_TRUE(first.Write(out.data(), out.size(), written, 1000));
    EXPECT_EQ(pty.receive(out.size()), out);

    EXPECT_TRUE(first.Close());
    EXPECT_TRUE(second.Open(12, line_115200())) << "free again once closed";
}

TEST_F(SerialPortOnPty, CallsOnAClosedOrEmptyRequestDoNothing) {
    CSerialPort port;
    std::size_t written = 7;
    const std::uint8_t byte = 0x10;
    EXPECT_FALSE(port.Write(&byte, 1, written, 100)) << "closed";
    EXPECT_EQ(written, 0u);
    std::uint8_t buf[8];
    EXPECT_EQ(port.ReadBurst(buf, sizeof buf), -1) << "closed";
    EXPECT_FALSE(port.Close()) << "nothing to close";

    ASSERT_TRUE(port.Open(12, line_115200()));
    written = 7;
    EXPECT_FALSE(port.Write(&byte, 0, written, 100)) << "zero bytes";
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(port.Write(nullptr, 4, written, 100)) << "no buffer";
    EXPECT_EQ(pty.receive(1, 50), Bytes{}) << "nothing reached the line";
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.Close()) << "second close";
}

TEST_F(SerialPortOnPty, WriteTimesOutWhenTheLineIsStuckThenRecovers) {
    CSerialPort port;
    ASSERT_TRUE(port.Open(12, line_115200()));
    // The master never reads: the line's buffers fill and a write must give up.
    const Bytes block(4096, 0x55);
    std::size_t written = 0;
    std::size_t total = 0;
    bool timed_out = false;
    for (int i = 0; i < 256 && !timed_out; ++i) {
        timed_out = !port.Write(block.data(), block.size(), written, 50);
        total += written;
    }
    ASSERT_TRUE(timed_out) << "the pty never filled after " << total << " bytes";
    EXPECT_EQ(port.LastError(), ETIMEDOUT);
    EXPECT_LT(written, block.size());

    EXPECT_EQ(pty.drain(), total);
    const Bytes out = hex("A0A2 0001 10 0010 B0B3");
    ASSERT_TRUE(port.Write(out.data(), out.size(), written, 1000));
    EXPECT_EQ(written, out.size());
    EXPECT_EQ(pty.receive(out.size()), out);
}

TEST_F(SerialPortOnPty, PendingReadEndsWhenInterruptedClosedOrLineGone) {
    struct Case {
        const char* legend;
        void (*end)(CSerialPort&, PtyPair&);
    };
    const Case cases[] = {
        {"InterruptRead", [](CSerialPort& p, PtyPair&) { p.InterruptRead(); }},
        {"Close", [](CSerialPort& p, PtyPair&) { p.Close(); }},
        {"master hangs up", [](CSerialPort&, PtyPair& pair) { pair.close_master(); }},
    };
    int number = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        PtyPair pair;
        ASSERT_TRUE(pair.ok());
        ++number;
        const std::string name = "COM" + std::to_string(number);
        platform::inject_serial_comm("\\Device\\Serial" + std::to_string(number), name,
                                     pair.path());
        CSerialPort port;
        ASSERT_TRUE(port.Open(number, line_115200()));
        auto reader = std::async(std::launch::async, [&] {
            std::uint8_t buf[16];
            return port.ReadBurst(buf, sizeof buf);
        });
        EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
            << "a read with nothing to read waits";
        c.end(port, pair);
        ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(reader.get(), -1);
    }
}

}  // namespace
}  // namespace stridelog::test
