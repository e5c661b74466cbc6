// Device-map lines and port names as the registry, the simulator and the host
// tool read and write them.
#include "cable/cable_identity.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/golden.hpp"

namespace stridelog::cable {
namespace {

using Kind = DeviceMapLine::Kind;

std::string describe(const DeviceMapLine& line) {
    if (line.kind == Kind::blank) return "blank";
    if (line.kind == Kind::malformed) return "malformed: " + line.problem;
    return "entry [" + line.entry.value_name + "] [" + line.entry.port_name + "] [" +
           line.entry.device_path + "]";
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

// Each entry, the one line written for it and how that line reads back (the
// same entry, or never some other one) are a line of the golden file.
TEST(DeviceMapLine, WrittenLinesReadBack) {
    const DeviceMapEntry entries[] = {
        {usb_identity("sim4242"), "COM7", "/dev/pts/3"},
        {"\\Device\\Silabser0", "COM999999", "/dev/ttyUSB0"},
        {"\\Device\\A#1", "COM2", "/dev/a#b"},
        {"\\Device\\A B", "COM2", "/dev/a"},
        {"\\Device\\A", "COM2", "/dev/my tty"},
        {"#A", "COM2", "/dev/a"},
        {"\\Device\\A", "COM0", "/dev/a"},
        {"", "COM2", "/dev/a"},
    };
    std::string text;
    for (const auto& entry : entries) {
        const std::string line = format_device_map_line(entry);
        const DeviceMapLine parsed = parse_device_map_line(line);
        text += "[" + entry.value_name + "] [" + entry.port_name + "] [" + entry.device_path +
                "] -> \"" + line + "\" -> " + describe(parsed) +
                (parsed.kind == Kind::entry && format_device_map_line(parsed.entry) == line
                     ? ", the same\n"
                     : "\n");
        EXPECT_EQ(line.find('\n'), std::string::npos) << "one line, no line end";
    }
    test::expect_golden("cable/written_lines", text);
}

}  // namespace
}  // namespace stridelog::cable
