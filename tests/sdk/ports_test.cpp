// Cable port discovery as a host sees it: the sorted port list, the presence
// test, and the bytes of the port list block.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "diag/diagnostics.hpp"
#include "platform/registry.hpp"
#include "ports/cable_ports.hpp"
#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using platform::RegValue;

constexpr const char* kCable = "\\Device\\USB#VID_04FC&PID_0201#";

std::string cable(const std::string& tail) {
    return kCable + tail;
}
std::string bridge(int n) {
    return "\\Device\\Silabser" + std::to_string(n);
}

// The golden file holds each case's sorted list (as text: COM10 before COM2) and
// the port number the presence test finds (0: none).
TEST(CablePorts, ListsAndFindsTheCable) {
    using Entries = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* legend;
        Entries serial_comm;                                        // value name, port name
        std::vector<std::pair<std::string, RegValue>> values = {};  // raw SERIALCOMM values
        Entries usb_enum = {};                                      // subkey, PORTNAME
        int system_version = 6;
    };
    // "COM7" padded to `chars` characters: 2 * (chars + 1) bytes of REG_SZ data.
    const auto port_text = [](std::size_t chars) {
        return RegValue::text("COM7" + std::string(chars - 4, 'x'));
    };
    const auto raw_sz = [](std::size_t bytes) {
        std::vector<std::uint8_t> data(bytes, 0);
        for (std::size_t i = 0; i < 4; ++i) data[2 * i] = static_cast<std::uint8_t>("COM7"[i]);
        return RegValue{platform::RegType::sz, data};
    };
    const std::string head = cable("");
    const Case cases[] = {
        {"sorted as text (COM10 before COM2); presence takes the first in registry order",
         {{cable("0"), "COM3"}, {cable("1"), "COM10"}, {cable("2"), "COM2"}}},
        {"only Silabser1: listed, yet not present", {{bridge(1), "COM7"}}},
        {"Silabser0 is the bridge the presence test asks", {{bridge(0), "COM4"}}},
        {"bridges 0..31 are listed, 32 is not; sorted, not in bridge order",
         {{bridge(31), "COM31"}, {bridge(32), "COM32"}, {bridge(2), "COM9"}}},
        {"the whole pattern is compared, after upper-casing the device name",
         {{"\\Device\\USB#VID_04FC&PID_0202#1", "COM5"},
          {"\\Device\\USB#VID_04FC&PID_0201", "COM6"},
          {"\\Device\\usb#vid_04fc&pid_0201#7", "COM8"}}},
        {"same port through both ways is listed twice",
         {{cable("0"), "COM5"}, {bridge(0), "COM5"}}},
        {"the device name follows the second backslash, which must exist",
         {{"\\USB#VID_04FC&PID_0201#0", "COM5"},
          {"Device\\USB#VID_04FC&PID_0201#0", "COM6"},
          {"\\Device\\Other\\USB#VID_04FC&PID_0201#0", "COM7"}}},
        {"names that are no positive COM%d are listed; presence skips them and goes on",
         {{cable("0"), "XYZ"},
          {cable("1"), "com4"},
          {cable("2"), "COM-3"},
          {cable("3"), "COM0"},
          {cable("4"), "COM9"}}},
        {"COM%d reads the leading number: COM3x is 3",
         {{cable("0"), "COM3x"}, {bridge(0), "COM 5"}}},
        // Alone, so nothing found earlier in registry order hides the reading.
        {"white space after COM is skipped: COM 5 is 5", {{bridge(0), "COM 5"}}},
        {"tab and sign after COM: COM\t+6 is 6", {{cable("0"), "COM\t+6"}}},
        {"a negative number names no port and the walk goes on to COM8",
         {{cable("0"), "COM -2"}, {cable("1"), "COM8"}}},
        {"nothing registered", {}},
        {"version 5 already uses the device map",
         {{cable("0"), "COM6"}},
         {},
         {{"0000USB&VID_04FC&PID_0201&1", "COM7"}},
         5},
        {"older system: enumeration subkeys by whole prefix; device map and bridges unused",
         {{cable("0"), "COM6"}, {bridge(0), "COM8"}},
         {},
         {{"0000USB&VID_04FC&PID_0201&0001", "COM12"},
          {"0000USB&VID_04FC&PID_0202&0001", "COM13"},
          {"0000USB&VID_04FC&PID_020", "COM14"},
          {"0001USB&VID_04FC&PID_0201", "COM15"},
          {"0000USB&VID_04FC&PID_0201", "COM11"}},
         4},
        // The registry is read through fixed buffers: data of 256 bytes, names of
        // 255 characters plus the terminator. Each limit met exactly, and passed by one.
        {"127 characters with the terminator fill 256 bytes: read",
         {},
         {{cable("0"), port_text(127)}}},
        {"128 characters need 258 bytes: skipped", {}, {{cable("0"), port_text(128)}}},
        {"256 bytes of raw text data: read", {}, {{cable("0"), raw_sz(256)}}},
        {"257 bytes of raw text data: skipped", {}, {{cable("0"), raw_sz(257)}}},
        {"a 255-character name fits with its terminator",
         {},
         {{head + std::string(255 - head.size(), 'n'), RegValue::text("COM7")}}},
        {"a 256-character name does not",
         {},
         {{head + std::string(256 - head.size(), 'n'), RegValue::text("COM7")}}},
        {"values that cannot be read are skipped with a diagnostic",
         {{cable("long"), std::string(200, 'C')},
          {cable(std::string(240, 'x')), "COM20"},
          {bridge(1), "COM6"}},
         {{cable("0"), RegValue::dword(3)},
          {bridge(0), RegValue{platform::RegType::binary, {'C', 0, 'O', 0}}}}},
    };
    std::string text;
    for (const auto& c : cases) {
        test::TestEnvironment env;
        env.set_switch("DebugView", "1");
        env.set_switch("DebugViewExtra", "2");
        test::DebugCapture capture;
        platform::set_system_major_version(c.system_version);
        for (const auto& [name, value] : c.values) platform::inject_serial_comm_value(name, value);
        for (const auto& [name, port] : c.serial_comm)
            platform::inject_serial_comm(name, port, "/dev/null");
        for (const auto& [subkey, port] : c.usb_enum) platform::inject_usb_enum(subkey, port);
        std::vector<std::string> list = {"stale entry"};
        ports::ListCablePorts(list);
        text += std::string("== ") + c.legend + "\nlisted:";
        for (const auto& port : list) text += " [" + port + "]";
        text += "\nfound: " + std::to_string(ports::FindCablePort()) + "\n" + capture.text();
    }
    // The port list block: a 32-bit little-endian count, then each name in
    // UTF-16 code units with its terminator.
    for (const auto& list : {std::vector<std::string>{}, std::vector<std::string>{"\xC3\x96"},
                             std::vector<std::string>{""}, std::vector<std::string>(300, "COM1")}) {
        const auto block = ports::build_port_list_block(list);
        text += "block of " + std::to_string(list.size()) + " names, " +
                std::to_string(block.size()) + " bytes: " +
                test::bytes_text(std::span(block).first(std::min<std::size_t>(block.size(), 8))) +
                "\n";
    }
    test::expect_golden("sdk/cable_ports", text);
}

TEST(CablePorts, ACablePluggedInBetweenTwoCallsIsFoundByTheSecond) {
    test::TestEnvironment env;
    EXPECT_EQ(ports::FindCablePort(), 0);
    platform::inject_serial_comm(cable("0"), "COM3", "/dev/null");
    EXPECT_EQ(ports::FindCablePort(), 3);
    platform::clear_injected();
    EXPECT_EQ(ports::FindCablePort(), 0);
}

}  // namespace
}  // namespace stridelog
