// CWatchLink end to end over a pseudo-terminal whose master side plays the
// watch: the frames each sender puts on the wire, and the messages the owner
// window receives for the replies that come back.
#include "link/watch_link.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <string>

#include "platform/registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "tests/link/link_fixtures.hpp"
#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"
#include "wire/frame.hpp"

namespace stridelog::test {
namespace {

link::DCB line() {
    link::DCB dcb;
    dcb.BaudRate = 115200;
    dcb.fRtsControl = link::RTS_CONTROL_ENABLE;   // the link forces it off
    dcb.fDtrControl = link::DTR_CONTROL_DISABLE;  // and DTR on
    return dcb;
}

class WatchLinkOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        platform::inject_serial_comm("\\Device\\Serial7", "COM7", pty.path());
    }
    bool open(link::CWatchLink& l) { return l.OpenPort(7, line()); }
    TestEnvironment environment;  // no real ports, no real registry file
    PtyPair pty;
    OwnerWindow owner;
    link::CWatchLink link{owner.hwnd()};
};

// What the SDK sends is pinned by the end-to-end tests, where the watch must
// understand it; these are the edges no task reaches. Each call, whether it
// was sent and the bytes on the wire are a line of the golden file.
TEST_F(WatchLinkOnPty, CommandsOnTheWireByteForByteAndInvalidOnesNotSent) {
    ASSERT_TRUE(open(link));
    ASSERT_TRUE(open(link)) << "the old port is closed first, so it opens again";
    std::uint8_t area[256];
    const std::uint8_t three[] = {1, 2, 3};
    const std::pair<const char*, std::function<bool()>> calls[] = {
        {"GetVersion()", [&] { return link.GetVersion(); }},
        {"ReadMemory(0xFFF000, 199)", [&] { return link.ReadMemory(0xFFF000, 199, area); }},
        {"WriteMemory(0x1000, 3)", [&] { return link.WriteMemory(0x001000, 3, three); }},
        {"ReadMemory(0, 200)", [&] { return link.ReadMemory(0, 200, area); }},
        {"ReadMemory(0, 0)", [&] { return link.ReadMemory(0, 0, area); }},
        {"ReadMemory(0, 128, nullptr)", [&] { return link.ReadMemory(0, 128, nullptr); }},
        {"WriteMemory(0, 251)", [&] { return link.WriteMemory(0, 251, Bytes(251, 0xAA).data()); }},
        {"WriteMemory(0, 4, nullptr)", [&] { return link.WriteMemory(0, 4, nullptr); }},
        {"SetExpiryDate(1999, 12, 31)", [&] { return link.SetExpiryDate(1999, 12, 31); }},
        {"SetExpiryDate(2256, 1, 1)", [&] { return link.SetExpiryDate(2256, 1, 1); }},
        {"SendFrame(area, 0)", [&] { return link.SendFrame(area, 0); }},
        {"SendFrame(nullptr, 3)", [&] { return link.SendFrame(nullptr, 3); }},
    };
    std::string text;
    for (const auto& [call, send] : calls) {
        const bool sent = send();
        text += std::string(call) + (sent ? " sent: " : " refused: ") +
                bytes_text(pty.receive(sent ? 300 : 1, sent ? 200 : 50)) + "\n";
    }
    expect_golden("link/commands", text);
    EXPECT_FALSE(link.OpenPort(99, line()));
    EXPECT_FALSE(link.is_open()) << "a failed open leaves no port";
    EXPECT_FALSE(link.GetVersion());
}

TEST_F(WatchLinkOnPty, RepliesReachTheOwnerInOrderWhileReceiving) {
    ASSERT_TRUE(open(link));
    std::uint8_t area[128] = {};
    ASSERT_TRUE(link.ReadMemory(0x2000, 128, area));
    ASSERT_EQ(pty.receive(13).size(), 13u);

    Bytes data_reply{0x13};
    for (int i = 0; i < 128; ++i) data_reply.push_back(static_cast<std::uint8_t>(255 - i));
    const Bytes version = wire::encode_frame(hex("11 56 65 72 31 2E 33 30"));  // "Ver1.30"
    // Garbage and half a version reply; then its rest and three frames in one
    // write, the middle one with a bad checksum.
    ASSERT_TRUE(pty.send(cat({hex("00 13 A0 FF"), Bytes(version.begin(), version.begin() + 6)})));
    ASSERT_FALSE(owner.wait_for(1, 30)) << "half a frame is not a frame";
    ASSERT_TRUE(pty.send(
        cat({Bytes(version.begin() + 6, version.end()), wire::encode_frame(hex("2D 00 01 00 FF")),
             hex("A0A2 0001 15 0016 B0B3"), wire::encode_frame(data_reply)})));

    ASSERT_TRUE(owner.wait_for(4));
    deliver_posted();
    const std::vector<LinkMessage> expected = {
        {link::WM_LINK_VERSION, 0, 0, "Ver1.30", {}},
        {owner.low_level(), link::WM_LINK_VERSION, 0, {}, {}},
        {link::WM_LINK_STATUS, 0, 4, {}, hex("00 01 00 FF")},
        {link::WM_LINK_READ_DATA, reinterpret_cast<WPARAM>(area), 128, {}, {}},
    };
    EXPECT_EQ(owner.messages(), expected);
    EXPECT_EQ(Bytes(area, area + 128), Bytes(data_reply.begin() + 1, data_reply.end()));

    // Stopping while idle ends the receive thread; nothing is parsed until it restarts.
    auto stopped = std::async(std::launch::async, [&] { link.StopReceiving(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    ASSERT_TRUE(pty.send(wire::encode_frame(hex("2F"))));
    EXPECT_FALSE(owner.wait_for(5, 50)) << "parsed while stopped";
    link.StartReceiving();
    ASSERT_TRUE(owner.wait_for(5));
    EXPECT_EQ(owner.messages().back().message, link::WM_LINK_EXPIRY_ACK);
}

TEST_F(WatchLinkOnPty, FrameTraceOnlyWhenSwitchedOnAtConstruction) {
    DebugCapture capture;
    {
        ::setenv("STRIDELOG_TRACE_FRAMES", "1", 1);
        link::CWatchLink traced(owner.hwnd());
        ::unsetenv("STRIDELOG_TRACE_FRAMES");  // read once, when the link is made
        ASSERT_TRUE(open(traced));
        ASSERT_TRUE(traced.GetVersion());
        pty.receive(9);
        ASSERT_TRUE(pty.send(hex("A0A2 0001 15 0015 B0B3")));
        ASSERT_TRUE(owner.wait_for(1));
    }
    ASSERT_TRUE(open(link));
    ASSERT_TRUE(link.GetVersion());
    pty.receive(9);
    EXPECT_EQ(capture.pieces(), (std::vector<std::string>{"Link TX A0 A2 00 01 10 00 10 B0 B3\n",
                                                          "Link RX A0 A2 00 01 15 00 15 B0 B3\n"}));
}

TEST(WatchLinkInProcess, RaisesDtrDropsRtsAndClosesWhenDestroyed) {
    TestEnvironment environment;
    platform::ScopedVirtualClock clock;
    sim::Watch watch;  // the only line whose modem lines can be seen
    sim::InProcessLine sim_line(watch, "link-test");
    sim::register_as_cable(sim_line, "COM9");
    OwnerWindow owner;
    {
        link::CWatchLink link(owner.hwnd());
        ASSERT_TRUE(link.OpenPort(9, line()));
        EXPECT_TRUE(sim_line.settings().dtr);
        EXPECT_FALSE(sim_line.settings().rts);
    }
    EXPECT_FALSE(sim_line.is_open()) << "the link closes its port when it goes";
}

}  // namespace
}  // namespace stridelog::test
