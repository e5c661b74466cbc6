#include "cable/cable_identity.hpp"

#include <algorithm>
#include <vector>

namespace stridelog::cable {
namespace {

constexpr std::string_view kComPrefix = "COM";
constexpr std::size_t kMaxComDigits = 6;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

}  // namespace

std::string usb_identity(std::string_view instance) {
    std::string name(kUsbIdentityPrefix);
    name += instance;
    return name;
}

bool is_com_port_name(std::string_view name) {
    if (name.size() <= kComPrefix.size() || name.size() > kComPrefix.size() + kMaxComDigits ||
        name.substr(0, kComPrefix.size()) != kComPrefix || name[kComPrefix.size()] == '0')
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kComPrefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

int com_port_number(std::string_view name) {
    if (!is_com_port_name(name)) return 0;
    int n = 0;
    for (char c : name.substr(kComPrefix.size())) n = n * 10 + (c - '0');
    return n;
}

DeviceMapLine parse_device_map_line(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i >= line.size() || line[i] == '#') break;
        const std::size_t start = i;
        while (i < line.size() && !is_blank(line[i])) ++i;
        fields.push_back(line.substr(start, i - start));
    }
    DeviceMapLine result;
    if (fields.empty()) return result;
    result.kind = DeviceMapLine::Kind::malformed;
    if (fields.size() != 3) {
        result.problem = "expected <value name> <port name> <device path>";
        return result;
    }
    if (!is_com_port_name(fields[1])) {
        result.problem = "port name \"" + std::string(fields[1]) + "\" is not COM<n>";
        return result;
    }
    result.kind = DeviceMapLine::Kind::entry;
    result.entry = {std::string(fields[0]), std::string(fields[1]), std::string(fields[2])};
    return result;
}

std::string format_device_map_line(const DeviceMapEntry& entry) {
    return entry.value_name + " " + entry.port_name + " " + entry.device_path;
}

}  // namespace stridelog::cable
