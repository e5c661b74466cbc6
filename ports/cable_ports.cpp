#include "ports/cable_ports.hpp"

#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>

#include "diag/diagnostics.hpp"
#include "platform/registry.hpp"
#include "platform/text_encoding.hpp"

namespace stridelog::ports {
namespace {

using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

constexpr std::string_view kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr std::string_view kUsbEnumKey = "Enum\\USB\\SPCP825A";
constexpr std::string_view kPortNameValue = "PORTNAME";
// The cable's USB identity, 04FC:0201, as it appears in a device name (newer
// systems) and at the start of an enumeration subkey (older systems).
constexpr std::string_view kDeviceNamePattern = "USB#VID_04FC&PID_0201#";
constexpr std::string_view kEnumSubkeyPattern = "0000USB&VID_04FC&PID_0201";
constexpr int kBridgeCount = 32;  // \Device\Silabser0..31
// Registry names and data are read into fixed buffers: names of 256 UTF-16
// characters (terminator included), data of 256 bytes.
constexpr std::size_t kNameBufferChars = 256;
constexpr std::size_t kDataBufferBytes = 256;
// First version with the serial device map search.
constexpr int kDeviceMapSystemVersion = 5;

std::string bridge_value_name(int index) {
    return "\\Device\\Silabser" + std::to_string(index);
}

bool name_fits(std::string_view name) {
    return platform::utf8_to_utf16(name).size() < kNameBufferChars;
}

std::string upper_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// The port name held by a value, or nullopt when the value cannot serve as one.
std::optional<std::string> port_name_of(std::string_view value_name, const RegValue& value) {
    if (value.data.size() > kDataBufferBytes) return std::nullopt;
    if (value.type != RegType::sz) {
        std::string line = "Port value ";
        line.append(value_name);
        line += " is not text; skipped\r\n";
        diag::DebugPrint(line, diag::kDiagClassConnection);
        return std::nullopt;
    }
    return value.as_text();
}

}  // namespace

// Reads "COM%d": the literal COM, optional white space and sign, digits. Only a
// positive number names a port; anything else counts as no port.
int parse_port_number(std::string_view name) {
    if (name.substr(0, 3) != "COM") return 0;
    std::size_t i = 3;
    while (i < name.size() && (name[i] == ' ' || (name[i] >= '\t' && name[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < name.size() && (name[i] == '+' || name[i] == '-')) negative = name[i++] == '-';
    if (i >= name.size() || name[i] < '0' || name[i] > '9') return 0;
    long long value = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
        value = value * 10 + (name[i] - '0');
        if (value > 0x7FFFFFFF) return 0;
    }
    return negative ? 0 : static_cast<int>(value);
}

namespace {

// Calls take(port name) for each port of the cable's USB identity, in registry
// order, until take returns true.
void search_usb_identity(const std::function<bool(const std::string&)>& take) {
    if (platform::system_major_version() >= kDeviceMapSystemVersion) {
        auto key = platform::reg_open(RegRoot::local_machine, kSerialCommKey);
        if (!key) return;
        std::string name;
        RegValue value;
        for (std::size_t index = 0; key->enum_value(index, name, value); ++index) {
            if (!name_fits(name)) continue;
            // The device name is what follows the second backslash: \Device\<name>.
            const std::size_t first = name.find('\\');
            if (first == std::string::npos) continue;
            const std::size_t second = name.find('\\', first + 1);
            if (second == std::string::npos) continue;
            if (upper_ascii(name.substr(second + 1)).rfind(kDeviceNamePattern, 0) != 0) continue;
            if (auto port = port_name_of(name, value); port && take(*port)) return;
        }
        return;
    }
    auto key = platform::reg_open(RegRoot::local_machine, kUsbEnumKey);
    if (!key) return;
    std::string subkey;
    for (std::size_t index = 0; key->enum_subkey(index, subkey); ++index) {
        if (!name_fits(subkey) || subkey.rfind(kEnumSubkeyPattern, 0) != 0) continue;
        std::string path(kUsbEnumKey);
        path += '\\';
        path += subkey;
        auto device = platform::reg_open(RegRoot::local_machine, path);
        RegValue value;
        if (!device || !device->query(kPortNameValue, value)) continue;
        if (auto port = port_name_of(path, value); port && take(*port)) return;
    }
}

std::optional<std::string> query_bridge(const platform::RegKey& key, int index) {
    const std::string name = bridge_value_name(index);
    RegValue value;
    if (!key.query(name, value)) return std::nullopt;
    return port_name_of(name, value);
}

}  // namespace

int FindCablePort() {
    int number = 0;
    search_usb_identity([&](const std::string& port) {
        number = parse_port_number(port);
        return number != 0;
    });
    if (number != 0 || platform::system_major_version() < kDeviceMapSystemVersion) return number;
    // The presence test asks the first bridge only.
    if (auto key = platform::reg_open(RegRoot::local_machine, kSerialCommKey))
        if (auto port = query_bridge(*key, 0)) number = parse_port_number(*port);
    return number;
}

void ListCablePorts(std::vector<std::string>& list) {
    list.clear();
    search_usb_identity([&](const std::string& port) {
        list.push_back(port);
        return false;
    });
    if (platform::system_major_version() >= kDeviceMapSystemVersion) {
        if (auto key = platform::reg_open(RegRoot::local_machine, kSerialCommKey)) {
            for (int index = 0; index < kBridgeCount; ++index)
                if (auto port = query_bridge(*key, index)) list.push_back(*port);
        }
    }
    // Exchange sort on upper-case copies, compared as UTF-16 code units.
    std::vector<std::u16string> keys;
    for (const auto& name : list) keys.push_back(platform::utf8_to_utf16(upper_ascii(name)));
    for (std::size_t i = 0; i < list.size(); ++i) {
        for (std::size_t j = i + 1; j < list.size(); ++j) {
            if (keys[i] > keys[j]) {
                std::swap(keys[i], keys[j]);
                std::swap(list[i], list[j]);
            }
        }
    }
}

std::vector<std::uint8_t> build_port_list_block(const std::vector<std::string>& list) {
    std::vector<std::uint8_t> block;
    const auto count = static_cast<std::uint32_t>(list.size());
    for (int shift = 0; shift < 32; shift += 8)
        block.push_back(static_cast<std::uint8_t>(count >> shift));
    for (const auto& name : list) {
        for (char16_t c : platform::utf8_to_utf16(name)) {
            block.push_back(static_cast<std::uint8_t>(c & 0xFF));
            block.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        block.push_back(0);
        block.push_back(0);
    }
    return block;
}

}  // namespace stridelog::ports
