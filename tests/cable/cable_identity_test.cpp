// Device-map lines and port names as the registry, the simulator and the host
// tool read and write them.
#include "cable/cable_identity.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

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

TEST(DeviceMapLine, Parse) {
    struct Case {
        const char* legend;
        std::string line;
        Kind kind;
        DeviceMapEntry entry;  // for Kind::entry
        std::string problem;   // for Kind::malformed: a piece of the reason
    };
    const std::string cable = "\\Device\\USB#VID_04FC&PID_0201#";
    const Case cases[] = {
        {"empty", "", Kind::blank, {}, ""},
        {"blanks of every kind", " \t\r\v\f ", Kind::blank, {}, ""},
        {"comment", "# the watch cable", Kind::blank, {}, ""},
        {"three fields",
         "\\Device\\A COM3 /dev/ttyUSB0",
         Kind::entry,
         {"\\Device\\A", "COM3", "/dev/ttyUSB0"},
         ""},
        {"tabs, runs of blanks and a CR line end",
         "\t\\Device\\A \t COM3\t\t/dev/a\r",
         Kind::entry,
         {"\\Device\\A", "COM3", "/dev/a"},
         ""},
        {"a '#' inside a field belongs to it",
         cable + "0 COM7 /dev/pts/3#1",
         Kind::entry,
         {cable + "0", "COM7", "/dev/pts/3#1"},
         ""},
        {"a field that starts with '#' ends the line",
         "\\Device\\A COM3 /dev/a #on the hub x",
         Kind::entry,
         {"\\Device\\A", "COM3", "/dev/a"},
         ""},
        {"one field", "\\Device\\A", Kind::malformed, {}, "expected <value name>"},
        {"two fields", "\\Device\\A COM3", Kind::malformed, {}, "expected <value name>"},
        {"four fields",
         "\\Device\\A COM3 /dev/a extra",
         Kind::malformed,
         {},
         "expected <value name>"},
        {"a comment cuts the fields short",
         "\\Device\\A COM3 #/dev/a",
         Kind::malformed,
         {},
         "expected <value name>"},
        {"a port name that is not COM<n> (every such name: PortNames)",
         "\\Device\\A COM0 /dev/a",
         Kind::malformed,
         {},
         "\"COM0\" is not COM<n>"},
    };
    for (const auto& c : cases) {
        const DeviceMapLine parsed = parse_device_map_line(c.line);
        EXPECT_EQ(parsed.kind, c.kind) << c.legend << ": " << describe(parsed);
        if (parsed.kind != c.kind) continue;
        if (c.kind == Kind::entry) {
            EXPECT_TRUE(parsed.entry == c.entry) << c.legend << ": " << describe(parsed);
        }
        if (c.kind == Kind::malformed) {
            EXPECT_NE(parsed.problem.find(c.problem), std::string::npos)
                << c.legend << ": " << parsed.problem;
        } else {
            EXPECT_EQ(parsed.problem, "") << c.legend;
        }
    }
}

TEST(DeviceMapLine, PortNames) {
    struct Case {
        std::string name;
        int number;  // 0: not a port name
    };
    const Case cases[] = {
        {"COM1", 1},  {"COM12", 12}, {"COM999999", 999999}, {"COM0", 0},
        {"COM", 0},   {"com3", 0},   {"Com3", 0},           {"COM1234567", 0},
        {"COM01", 0}, {"COM3x", 0},  {" COM3", 0},          {"COM3 ", 0},
        {"", 0},      {"COMx", 0},   {"LPT1", 0},           {"COM+1", 0},
        {"XCOM1", 0}, {"COM 1", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(com_port_number(c.name), c.number) << "\"" << c.name << "\"";
        EXPECT_EQ(is_com_port_name(c.name), c.number != 0) << "\"" << c.name << "\"";
    }
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
