// Device-map lines and port names as the registry, the simulator and the host
// tool read and write them.
#include "cable/cable_identity.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "tests/support/golden.hpp"

namespace stridelog::cable {
namespace {

using Kind = DeviceMapLine::Kind;

bool operator==(const DeviceMapEntry& a, const DeviceMapEntry& b) {
    return a.value_name == b.value_name && a.port_name == b.port_name &&
           a.device_path == b.device_path;
}

std::string describe(const DeviceMapLine& line) {
    switch (line.kind) {
        case Kind::blank:
            return "blank";
        case Kind::malformed:
            return "malformed: " + line.problem;
        case Kind::entry:
            return "entry [" + line.entry.value_name + "] [" + line.entry.port_name + "] [" +
                   line.entry.device_path + "]";
    }
    return "?";
}

// Each line and how it reads (blank, malformed and why, or the three fields)
// are in the golden file, one line each.
TEST(DeviceMapLine, Parse) {
    const std::string cable = "\\Device\\USB#VID_04FC&PID_0201#";
    const std::string lines[] = {
        "",
        " \t\r\v\f ",
        "# the watch cable",
        "\\Device\\A COM3 /dev/ttyUSB0",
        "\t\\Device\\A \t COM3\t\t/dev/a\r",      // tabs, runs of blanks, a CR line end
        cable + "0 COM7 /dev/pts/3#1",            // a '#' inside a field belongs to it
        "\\Device\\A COM3 /dev/a #on the hub x",  // a field starting with '#' ends the line
        "\\Device\\A",
        "\\Device\\A COM3",
        "\\Device\\A COM3 /dev/a extra",
        "\\Device\\A COM3 #/dev/a",  // a comment cuts the fields short
        "\\Device\\A COM0 /dev/a",   // every name that is not COM<n>: PortNames
    };
    std::string text;
    for (const auto& line : lines) {
        const DeviceMapLine parsed = parse_device_map_line(line);
        EXPECT_EQ(parsed.problem.empty(), parsed.kind != Kind::malformed) << line;
        text += '"';
        for (unsigned char c : line) {  // control characters as \xNN
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, c < 0x20 ? "\\x%02x" : "%c", c);
            text += escaped;
        }
        text += "\" -> " + describe(parsed) + "\n";
    }
    test::expect_golden("cable/device_map_lines", text);
}

TEST(DeviceMapLine, PortNames) {
    const std::string names[] = {"COM1", "COM12",      "COM999999", "COM0",  "COM",   "com3",
                                 "Com3", "COM1234567", "COM01",     "COM3x", " COM3", "COM3 ",
                                 "",     "COMx",       "LPT1",      "COM+1", "XCOM1", "COM 1"};
    std::string text;
    for (const auto& name : names) {
        EXPECT_EQ(is_com_port_name(name), com_port_number(name) != 0) << name;
        text += "\"" + name + "\": " + std::to_string(com_port_number(name)) + "\n";
    }
    test::expect_golden("cable/port_names", text);
}

TEST(DeviceMapLine, WrittenLinesReadBack) {
    struct Case {
        const char* legend;
        DeviceMapEntry entry;
        bool reads_back;  // false: the line must not read back as some other entry
    };
    const Case cases[] = {
        {"a simulated cable", {usb_identity("sim4242"), "COM7", "/dev/pts/3"}, true},
        {"a bridge with the largest port",
         {"\\Device\\Silabser0", "COM999999", "/dev/ttyUSB0"},
         true},
        {"'#' inside fields", {"\\Device\\A#1", "COM2", "/dev/a#b"}, true},
        {"a blank in the value name", {"\\Device\\A B", "COM2", "/dev/a"}, false},
        {"a blank in the device path", {"\\Device\\A", "COM2", "/dev/my tty"}, false},
        {"a value name that starts a comment", {"#A", "COM2", "/dev/a"}, false},
        {"a port name that is not COM<n>", {"\\Device\\A", "COM0", "/dev/a"}, false},
        {"an empty field", {"", "COM2", "/dev/a"}, false},
    };
    for (const auto& c : cases) {
        const std::string line = format_device_map_line(c.entry);
        const DeviceMapLine parsed = parse_device_map_line(line);
        if (c.reads_back) {
            EXPECT_EQ(parsed.kind, Kind::entry) << c.legend << ": " << line;
            EXPECT_TRUE(parsed.entry == c.entry) << c.legend << ": " << describe(parsed);
        } else {
            EXPECT_NE(parsed.kind, Kind::entry) << c.legend << ": " << describe(parsed);
        }
        EXPECT_EQ(line.find('\n'), std::string::npos) << c.legend << ": one line, no line end";
    }
    EXPECT_EQ(usb_identity("ttyUSB0"), "\\Device\\USB#VID_04FC&PID_0201#ttyUSB0");
}

}  // namespace
}  // namespace stridelog::cable
