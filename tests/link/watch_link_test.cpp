// CWatchLink end to end over a pseudo-terminal whose master side plays the
// watch: the frames each sender puts on the wire, and the messages the owner
// window receives for the replies that come back.
#include "link/watch_link.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>

#include "link/frame.hpp"
#include "platform/debug_output.hpp"
#include "platform/registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "tests/link/link_fixtures.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::test {
namespace {

constexpr int kPort = 7;

Bytes frame_of(const Bytes& payload) {
    return wire::encode_frame(payload);
}

class WatchLinkOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        platform::inject_serial_comm("\\Device\\Serial7", "COM7", pty.path());
    }

    bool open(CWatchLink& link) {
        DCB dcb;
        dcb.BaudRate = 115200;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;   // the link forces it off
        dcb.fDtrControl = DTR_CONTROL_DISABLE;  // and DTR on
        return link.OpenPort(kPort, dcb);
    }

    TestEnvironment environment;  // no real ports, no real registry file
    PtyPair pty;
    OwnerWindow owner;
};

TEST_F(WatchLinkOnPty, CommandsOnTheWireByteForByte) {
    CWatchLink link(owner.hwnd());
    ASSERT_TRUE(open(link));
    EXPECT_TRUE(link.IsOpen());
    std::uint8_t area[200];
    const Bytes chunk(128, 0xAA);
    const std::uint8_t three[] = {1, 2, 3};
    Bytes write_chunk = hex("16 000000 80");
    write_chunk.insert(write_chunk.end(), chunk.begin(), chunk.end());

    struct Case {
        const char* legend;
        std::function<bool()> send;
        Bytes wire;
    };
    const Case cases[] = {
        {"GetVersion", [&] { return link.GetVersion(); }, hex("A0A2 0001 10 0010 B0B3")},
        {"ReadMemory 0x1D000, 128: address low byte first",
         [&] { return link.ReadMemory(0x1D000, 128, area); },
         hex("A0A2 0005 12 00D001 80 0163 B0B3")},
        {"ReadMemory of the largest count", [&] { return link.ReadMemory(0xFFF000, 199, area); },
         hex("A0A2 0005 12 00F0FF C7 02C8 B0B3")},
        {"EraseSector", [&] { return link.EraseSector(0x0FF123); },
         hex("A0A2 0004 14 23F10F 0137 B0B3")},
        {"WriteMemory of three bytes", [&] { return link.WriteMemory(0x001000, 3, three); },
         hex("A0A2 0008 16 001000 03 010203 002F B0B3")},
        {"WriteMemory of a 128-byte chunk", [&] { return link.WriteMemory(0, 128, chunk.data()); },
         frame_of(write_chunk)},
        {"PrepareWrite", [&] { return link.PrepareWrite(); }, hex("A0A2 0001 24 0024 B0B3")},
        {"ProgramUpdate", [&] { return link.ProgramUpdate(); }, hex("A0A2 0001 28 0028 B0B3")},
        {"GetStatus", [&] { return link.GetStatus(); }, hex("A0A2 0001 2C 002C B0B3")},
        {"SetExpiryDate 2012-03-04 sends year - 2000",
         [&] { return link.SetExpiryDate(2012, 3, 4); }, hex("A0A2 0004 2E 0C0304 0041 B0B3")},
        {"SetClock 2012-03-04 05:06:07", [&] { return link.SetClock(12, 3, 4, 5, 6, 7); },
         hex("A0A2 0007 39 0C0304050607 005E B0B3")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_TRUE(c.send());
        EXPECT_EQ(pty.receive(c.wire.size()), c.wire);
    }
    EXPECT_EQ(write_chunk.size() + wire::kOverhead, 141u);
}

TEST_F(WatchLinkOnPty, CommandsThatCannotBeValidAreNotSent) {
    CWatchLink link(owner.hwnd());
    ASSERT_TRUE(open(link));
    std::uint8_t area[256];
    const Bytes data(251, 0);
    struct Case {
        const char* legend;
        std::function<bool()> send;
    };
    const Case cases[] = {
        {"read of 200: its reply would exceed what is accepted",
         [&] { return link.ReadMemory(0, 200, area); }},
        {"read of 0", [&] { return link.ReadMemory(0, 0, area); }},
        {"read with nowhere to put the data", [&] { return link.ReadMemory(0, 128, nullptr); }},
        {"write of 251: the frame length is one byte",
         [&] { return link.WriteMemory(0, 251, data.data()); }},
        {"write with no data", [&] { return link.WriteMemory(0, 4, nullptr); }},
        {"expiry year before 2000", [&] { return link.SetExpiryDate(1999, 12, 31); }},
        {"expiry year past one byte", [&] { return link.SetExpiryDate(2256, 1, 1); }},
        {"empty frame", [&] { return link.SendFrame(area, 0); }},
        {"no payload", [&] { return link.SendFrame(nullptr, 3); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_FALSE(c.send());
    }
    EXPECT_EQ(pty.receive(1, 50), Bytes{});
}

TEST_F(WatchLinkOnPty, RepliesReachTheOwnerInOrder) {
    CWatchLink link(owner.hwnd());
    ASSERT_TRUE(open(link));
    std::uint8_t area[128] = {};
    ASSERT_TRUE(link.ReadMemory(0x2000, 128, area));
    ASSERT_EQ(pty.receive(13).size(), 13u);

    Bytes data_reply{0x13};
    for (int i = 0; i < 128; ++i) data_reply.push_back(static_cast<std::uint8_t>(255 - i));
    const Bytes version = frame_of(hex("11 56 65 72 31 2E 33 30"));  // "Ver1.30"
    // Garbage, then a version reply split over two writes, then three frames in
    // one write (one with a bad checksum in the middle).
    Bytes first = hex("00 13 A0 FF");
    first.insert(first.end(), version.begin(), version.begin() + 6);
    pty.send(first);
    ASSERT_FALSE(owner.wait_for(1, 30)) << "half a frame is not a frame";
    Bytes rest(version.begin() + 6, version.end());
    for (const auto& f :
         {frame_of(hex("2D 00 01 00 FF")), hex("A0A2 0001 15 0016 B0B3"), frame_of(data_reply)})
        rest.insert(rest.end(), f.begin(), f.end());
    pty.send(rest);

    ASSERT_TRUE(owner.wait_for(4));
    owner.pump();
    const std::vector<LinkMessage> expected = {
        {WM_LINK_VERSION, 0, 0, "Ver1.30", {}},
        {owner.low_level(), WM_LINK_VERSION, 0, {}, {}},
        {WM_LINK_STATUS, 0, 4, {}, hex("00 01 00 FF")},
        {WM_LINK_READ_DATA, reinterpret_cast<WPARAM>(area), 128, {}, {}},
    };
    EXPECT_EQ(owner.messages(), expected);
    EXPECT_EQ(Bytes(area, area + 128), Bytes(data_reply.begin() + 1, data_reply.end()));
}

TEST_F(WatchLinkOnPty, StoppingWhileIdleEndsTheThreadAndReceivingCanRestart) {
    CWatchLink link(owner.hwnd());
    ASSERT_TRUE(open(link));
    auto stopped = std::async(std::launch::async, [&] { link.StopReceiving(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "an idle receive thread did not end";

    pty.send(frame_of(hex("2F")));
    EXPECT_FALSE(owner.wait_for(1, 50)) << "nothing is parsed while stopped";
    link.StartReceiving();
    ASSERT_TRUE(owner.wait_for(1));
    EXPECT_EQ(owner.messages().front().message, WM_LINK_EXPIRY_ACK);
}

TEST_F(WatchLinkOnPty, ReopeningReplacesThePortAndAFailedOpenLeavesNone) {
    CWatchLink link(owner.hwnd());
    ASSERT_TRUE(open(link));
    ASSERT_TRUE(open(link)) << "the old port is closed first, so the same port opens again";
    EXPECT_TRUE(link.GetVersion());
    EXPECT_EQ(pty.receive(9), hex("A0A2 0001 10 0010 B0B3"));

    DCB dcb;
    dcb.BaudRate = 115200;
    EXPECT_FALSE(link.OpenPort(99, dcb));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.GetVersion());
}

TEST_F(WatchLinkOnPty, FrameTraceWhenSwitchedOn) {
    std::mutex mutex;
    std::vector<std::string> lines;
    platform::set_debug_sink([&](std::string_view text) {
        std::lock_guard lock(mutex);
        lines.emplace_back(text);
    });
    {
        ::setenv("STRIDELOG_TRACE_FRAMES", "1", 1);
        CWatchLink link(owner.hwnd());
        ::unsetenv("STRIDELOG_TRACE_FRAMES");  // read once, when the link was made
        ASSERT_TRUE(open(link));
        ASSERT_TRUE(link.GetVersion());
        pty.receive(9);
        pty.send(hex("A0A2 0001 15 0015 B0B3"));
        ASSERT_TRUE(owner.wait_for(1));
    }
    {
        CWatchLink quiet(owner.hwnd());
        ASSERT_TRUE(open(quiet));
        ASSERT_TRUE(quiet.GetVersion());
    }
    platform::set_debug_sink({});
    const std::vector<std::string> expected = {"Link TX A0 A2 00 01 10 00 10 B0 B3\n",
                                               "Link RX A0 A2 00 01 15 00 15 B0 B3\n"};
    EXPECT_EQ(lines, expected);
}

// The same link on the simulator's in-process line, as the virtual-clock tests
// of the task window use it: a late reply arrives after its virtual delay.
TEST(WatchLinkInProcess, RepliesArriveOnTheVirtualClock) {
    TestEnvironment environment;
    platform::ScopedVirtualClock clock;
    sim::Watch watch;
    sim::InProcessLine line(watch, "link-test");
    sim::register_as_cable(line, "COM9");
    watch.add_fault([] {
        auto f = sim::Fault::on_command(sim::FaultKind::delay, 0x2C);
        f.delay_ms = 2500;
        return f;
    }());
    OwnerWindow owner;
    {
        CWatchLink link(owner.hwnd());
        DCB dcb;
        dcb.BaudRate = 115200;
        ASSERT_TRUE(link.OpenPort(9, dcb));
        EXPECT_TRUE(line.settings().dtr);
        EXPECT_FALSE(line.settings().rts);
        const auto start = clock->now_ms();
        ASSERT_TRUE(link.GetVersion());
        ASSERT_TRUE(owner.wait_for(2));  // version text and its low-level announcement
        EXPECT_EQ(owner.messages()[0].text, "Ver1.30");
        ASSERT_TRUE(link.GetStatus());
        ASSERT_TRUE(owner.wait_for(3, 10'000));
        EXPECT_EQ(owner.messages()[2], (LinkMessage{WM_LINK_STATUS, 0, 4, {}, hex("01000001")}));
        EXPECT_GE(clock->now_ms() - start, 2500u);
    }
    EXPECT_FALSE(line.is_open());
}

}  // namespace
}  // namespace stridelog::test
