// Cable port discovery as a host sees it: the sorted port list, the presence
// test, and the bytes of the port list block.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/registry.hpp"
#include "sdk/diag/diagnostics.hpp"
#include "sdk/ports/cable_ports.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using platform::RegValue;

constexpr const char* kCable = "\\Device\\USB#VID_04FC&PID_0201#";

struct DiscoveryCase {
    const char* legend;
    int system_version;
    std::vector<std::pair<std::string, std::string>> serial_comm;  // value name, port name
    std::vector<std::pair<std::string, std::string>> usb_enum;     // subkey, PORTNAME
    std::vector<std::string> expected_list;
    int expected_port;
};

std::string Cable(const std::string& tail) {
    return kCable + tail;
}

const DiscoveryCase kDiscoveryCases[] = {
    {"sorted as text: COM10 before COM2; presence takes the first in registry order",
     6,
     {{Cable("0"), "COM10"}, {Cable("1"), "COM3"}, {Cable("2"), "COM2"}},
     {},
     {"COM10", "COM2", "COM3"},
     10},
    {"presence follows registry order, not sorted order",
     6,
     {{Cable("a"), "COM4"}, {Cable("b"), "COM3"}},
     {},
     {"COM3", "COM4"},
     4},
    {"only Silabser1: listed, yet not present",
     6,
     {{"\\Device\\Silabser1", "COM7"}},
     {},
     {"COM7"},
     0},
    {"Silabser0 is the bridge the presence test asks",
     6,
     {{"\\Device\\Silabser0", "COM4"}},
     {},
     {"COM4"},
     4},
    {"bridges 0..31 are listed, 32 is not",
     6,
     {{"\\Device\\Silabser31", "COM31"}, {"\\Device\\Silabser32", "COM32"}},
     {},
     {"COM31"},
     0},
    {"bridge order in the list comes from the sort, not the bridge number",
     6,
     {{"\\Device\\Silabser2", "COM1"}, {"\\Device\\Silabser1", "COM9"}},
     {},
     {"COM1", "COM9"},
     0},
    {"whole pattern compared: PID_0202 misses; device name upper-cased before comparing",
     6,
     {{"\\Device\\USB#VID_04FC&PID_0202#1", "COM5"}, {"\\Device\\usb#vid_04fc&pid_0201#7", "COM8"}},
     {},
     {"COM8"},
     8},
    {"pattern without its closing # does not match",
     6,
     {{"\\Device\\USB#VID_04FC&PID_0201", "COM5"}},
     {},
     {},
     0},
    {"same port through both ways is listed twice",
     6,
     {{Cable("0"), "COM5"}, {"\\Device\\Silabser0", "COM5"}},
     {},
     {"COM5", "COM5"},
     5},
    {"value name without a second backslash is ignored",
     6,
     {{"\\USB#VID_04FC&PID_0201#0", "COM5"}, {"Device\\USB#VID_04FC&PID_0201#0", "COM6"}},
     {},
     {},
     0},
    {"device name is what follows the second backslash only",
     6,
     {{"\\Device\\Other\\USB#VID_04FC&PID_0201#0", "COM5"}},
     {},
     {},
     0},
    {"non-COM names are listed; presence skips them and goes on",
     6,
     {{Cable("0"), "XYZ"}, {Cable("1"), "com4"}, {Cable("2"), "COM9"}},
     {},
     {"com4", "COM9", "XYZ"},
     9},
    {"COM%d reads the leading number: COM3x is 3, COM 5 is 5",
     6,
     {{Cable("0"), "COM3x"}, {"\\Device\\Silabser0", "COM 5"}},
     {},
     {"COM 5", "COM3x"},
     3},
    {"a port number must be positive",
     6,
     {{Cable("0"), "COM-3"}, {Cable("1"), "COM0"}},
     {},
     {"COM-3", "COM0"},
     0},
    {"nothing registered", 6, {}, {}, {}, 0},
    {"version 5 already uses the device map",
     5,
     {{Cable("0"), "COM6"}},
     {{"0000USB&VID_04FC&PID_0201&1", "COM7"}},
     {"COM6"},
     6},
    {"older system: enumeration subkeys by whole prefix; device map and bridges unused",
     4,
     {{Cable("0"), "COM6"}, {"\\Device\\Silabser0", "COM8"}},
     {{"0000USB&VID_04FC&PID_0201&0001", "COM12"},
      {"0000USB&VID_04FC&PID_0202&0001", "COM13"},
      {"0000USB&VID_04FC&PID_020", "COM14"},
      {"0001USB&VID_04FC&PID_0201", "COM15"},
      {"0000USB&VID_04FC&PID_0201", "COM11"}},
     {"COM11", "COM12"},
     12},
};

class CablePortsTest : public ::testing::TestWithParam<DiscoveryCase> {
  protected:
    test::TestEnvironment env_;
};

TEST_P(CablePortsTest, ListsAndFindsTheCable) {
    const DiscoveryCase& c = GetParam();
    platform::set_system_major_version(c.system_version);
    for (const auto& [name, port] : c.serial_comm)
        platform::inject_serial_comm(name, port, "/dev/null");
    for (const auto& [subkey, port] : c.usb_enum) platform::inject_usb_enum(subkey, port);

    std::vector<std::string> list = {"stale entry"};
    ports::ListCablePorts(list);
    EXPECT_EQ(list, c.expected_list) << c.legend;
    EXPECT_EQ(ports::FindCablePort(), c.expected_port) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(Discovery, CablePortsTest, ::testing::ValuesIn(kDiscoveryCases));

TEST(CablePorts, ValuesThatCannotBeReadAreSkippedWithADiagnostic) {
    test::TestEnvironment env;
    env.set_switch("DebugView", "1");
    env.set_switch("DebugViewExtra", "2");
    test::DebugCapture capture;
    platform::inject_serial_comm_value(Cable("0"), RegValue::dword(3));
    platform::inject_serial_comm_value("\\Device\\Silabser0",
                                       RegValue{platform::RegType::binary, {'C', 0, 'O', 0}});
    platform::inject_serial_comm(Cable("long"), std::string(200, 'C'), "/dev/null");  // 402 bytes
    platform::inject_serial_comm(Cable(std::string(240, 'x')), "COM20",
                                 "/dev/null");  // name too long
    platform::inject_serial_comm("\\Device\\Silabser1", "COM6", "/dev/null");

    std::vector<std::string> list;
    ports::ListCablePorts(list);
    EXPECT_EQ(list, std::vector<std::string>{"COM6"});
    EXPECT_EQ(ports::FindCablePort(), 0);
    EXPECT_NE(capture.text().find("\\Device\\Silabser0 is not text"), std::string::npos)
        << capture.text();
}

TEST(CablePorts, ACablePluggedInBetweenTwoCallsIsFoundByTheSecond) {
    test::TestEnvironment env;
    EXPECT_EQ(ports::FindCablePort(), 0);
    platform::inject_serial_comm(Cable("0"), "COM3", "/dev/null");
    EXPECT_EQ(ports::FindCablePort(), 3);
    platform::clear_injected();
    EXPECT_EQ(ports::FindCablePort(), 0);
}

TEST(CablePorts, PortListBlockBytes) {
    struct Case {
        const char* legend;
        std::vector<std::string> list;
        std::vector<std::uint8_t> block;
    };
    const Case cases[] = {
        {"empty list: four bytes of zero", {}, {0, 0, 0, 0}},
        {"names in order, each UTF-16LE plus a 16-bit zero",
         {"COM10", "COM2"},
         {2, 0, 0, 0,   'C', 0,   'O', 0,   'M', 0,   '1', 0, '0',
          0, 0, 0, 'C', 0,   'O', 0,   'M', 0,   '2', 0,   0, 0}},
        {"non-ASCII names keep their UTF-16 code units", {"\xC3\x96"}, {1, 0, 0, 0, 0xD6, 0, 0, 0}},
        {"an empty name is just its terminator", {""}, {1, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(ports::BuildPortListBlock(c.list), c.block) << c.legend;
}

TEST(CablePorts, BlockCountIsLittleEndian) {
    std::vector<std::string> list(300, "COM1");
    const auto block = ports::BuildPortListBlock(list);
    ASSERT_EQ(block.size(), 4u + 300u * 10u);
    EXPECT_EQ(block[0], 300 & 0xFF);
    EXPECT_EQ(block[1], 300 >> 8);
    EXPECT_EQ(block[2], 0);
}

}  // namespace
}  // namespace stridelog
