// The cable's identity and the device-map file format. The registry uses them
// to recognise the cable among the system's serial devices and to read the
// device-map file; the simulator and the host tool use them to announce a
// simulated watch in that file. No I/O here: names and lines in, names and
// lines out.
#pragma once

#include <string>
#include <string_view>

namespace stridelog::cable {

// USB identity of the watch's cable (vendor and product id, as sysfs spells them).
inline constexpr std::string_view kUsbVendorId = "04fc";
inline constexpr std::string_view kUsbProductId = "0201";
// Serial device map value names: the cable's (followed by an instance name) and
// the plain bridge driver's (followed by an index).
inline constexpr std::string_view kUsbIdentityPrefix = "\\Device\\USB#VID_04FC&PID_0201#";
inline constexpr std::string_view kBridgeIdentityPrefix = "\\Device\\Silabser";
// Kernel driver of the USB-to-serial bridge inside the cable.
inline constexpr std::string_view kBridgeDriver = "cp210x";

// The device map value name of a cable whose instance is `instance` (a tty name,
// or "sim<pid>" for a simulator).
std::string usb_identity(std::string_view instance);
// True for "COM1" .. "COM999999": "COM" and a number without a leading zero.
bool is_com_port_name(std::string_view name);
// The n of "COMn", or 0 when the name is not a port name.
int com_port_number(std::string_view name);

// One line of the device-map file:
//   <value name> <port name> <device path>
// fields separated by blanks; a field that starts with '#' starts a comment.
struct DeviceMapEntry {
    std::string value_name;
    std::string port_name;
    std::string device_path;
};

struct DeviceMapLine {
    enum class Kind { entry, blank, malformed };
    Kind kind = Kind::blank;
    DeviceMapEntry entry;  // for Kind::entry
    std::string problem;   // for Kind::malformed: why the line was left out
};

DeviceMapLine parse_device_map_line(std::string_view line);
std::string format_device_map_line(const DeviceMapEntry& entry);

}  // namespace stridelog::cable
