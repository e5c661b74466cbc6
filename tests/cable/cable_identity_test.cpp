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

std::string Describe(const DeviceMapLine& line) {
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
    const std::string cable = "\\Device\\USB#VID_04FC&PID_0201#";
    for (const std::string line : {"", " \t\r\v\f ", "# the watch cable"}) {
        const DeviceMapLine parsed = parse_device_map_line(line);
        EXPECT_EQ(parsed.kind, Kind::blank) << '"' << line << "\": " << Describe(parsed);
        EXPECT_EQ(parsed.problem, "");
    }
    struct Entry {
        const char* legend;
        std::string line;
        DeviceMapEntry entry;
    };
    const Entry entries[] = {
        {"three fields", "\\Device\\A COM3 /dev/ttyUSB0", {"\\Device\\A", "COM3", "/dev/ttyUSB0"}},
        {"tabs, runs of blanks and a CR line end",
         "\t\\Device\\A \t COM3\t\t/dev/a\r",
         {"\\Device\\A", "COM3", "/dev/a"}},
        {"a '#' inside a field belongs to it",
         cable + "0 COM7 /dev/pts/3#1",
         {cable + "0", "COM7", "/dev/pts/3#1"}},
        {"a field that starts with '#' ends the line",
         "\\Device\\A COM3 /dev/a #on the hub x",
         {"\\Device\\A", "COM3", "/dev/a"}},
    };
    for (const auto& c : entries) {
        const DeviceMapLine parsed = parse_device_map_line(c.line);
        EXPECT_EQ(parsed.kind, Kind::entry) << c.legend << ": " << Describe(parsed);
        EXPECT_TRUE(parsed.entry == c.entry) << c.legend << ": " << Describe(parsed);
        EXPECT_EQ(parsed.problem, "") << c.legend;
    }
    struct Malformed {
        const char* legend;
        std::string line;
        std::string problem;  // a piece of the reason
    };
    const Malformed malformed[] = {
        {"one field", "\\Device\\A", "expected <value name>"},
        {"two fields", "\\Device\\A COM3", "expected <value name>"},
        {"four fields", "\\Device\\A COM3 /dev/a extra", "expected <value name>"},
        {"a comment cuts the fields short", "\\Device\\A COM3 #/dev/a", "expected <value name>"},
        {"a port name that is not COM<n> (every such name: PortNames)", "\\Device\\A COM0 /dev/a",
         "\"COM0\" is not COM<n>"},
    };
    for (const auto& c : malformed) {
        const DeviceMapLine parsed = parse_device_map_line(c.line);
        EXPECT_EQ(parsed.kind, Kind::malformed) << c.legend << ": " << Describe(parsed);
        EXPECT_NE(parsed.problem.find(c.problem), std::string::npos)
            << c.legend << ": " << parsed.problem;
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
            EXPECT_TRUE(parsed.entry == c.entry) << c.legend << ": " << Describe(parsed);
        } else {
            EXPECT_NE(parsed.kind, Kind::entry) << c.legend << ": " << Describe(parsed);
        }
        EXPECT_EQ(line.find('\n'), std::string::npos) << c.legend << ": one line, no line end";
    }
    EXPECT_EQ(usb_identity("ttyUSB0"), "\\Device\\USB#VID_04FC&PID_0201#ttyUSB0");
}

}  // namespace
}  // namespace stridelog::cable
