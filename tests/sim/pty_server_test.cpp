// The watch served on a real pseudo-terminal, met by a plain termios client.
#include "sim/pty_server.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "tests/sim/pty_client.hpp"
#include "wire/frame.hpp"

namespace stridelog::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::PtyClient;

TEST(PtyServer, DelayedHalvesReachTheClientAndDisconnectionClosesTheLine) {
    Watch watch;
    Fault split = Fault::on_command(FaultKind::split, 0x2C);
    split.delay_ms = 50;
    watch.add_fault(split);
    watch.add_fault(Fault::on_command(FaultKind::disconnect, 0x14));
    PtyServer server;
    ASSERT_TRUE(server.start(watch, 0));
    PtyClient client(server.slave_path());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.send({0x2C}));
    ASSERT_EQ(client.receive(1).size(), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(client.raw, wire::encode_frame(Bytes{0x2D, 0x00, 0x00, 0x00, 0x01}));

    ASSERT_TRUE(client.send({0x14, 0x00, 0x10, 0x00}));
    EXPECT_TRUE(client.receive(1).empty());
    EXPECT_TRUE(client.gone);
    for (int i = 0; i < 200 && server.serving(); ++i) ::usleep(5000);
    EXPECT_FALSE(server.serving());
}

}  // namespace
}  // namespace stridelog::sim
