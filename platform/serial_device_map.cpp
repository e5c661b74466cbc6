#include "platform/serial_device_map.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "cable/cable_identity.hpp"
#include "platform/registry_tree.hpp"

namespace stridelog::platform::registry_detail {
namespace {

namespace fs = std::filesystem;

constexpr int kTtyKindCount = 32;  // ttys per kind that get a COM number

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Splits a tty name into its prefix and trailing number (-1 when there is none).
std::pair<std::string, long> split_tty_name(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    if (digits == name.size() || name.size() - digits > 6) return {name, -1};
    return {name.substr(0, digits), std::stol(name.substr(digits))};
}

// ttyUSB10 after ttyUSB9, the order in which the kernel numbered them.
bool tty_name_less(const std::string& a, const std::string& b) {
    auto [pa, na] = split_tty_name(a);
    auto [pb, nb] = split_tty_name(b);
    if (pa != pb) return pa < pb;
    if (na != nb) return na < nb;
    return a < b;
}

int com_number_for_tty(const std::string& name) {
    auto [prefix, k] = split_tty_name(name);
    if (k < 0 || k >= kTtyKindCount) return 0;
    if (prefix == "ttyUSB") return static_cast<int>(k) + 1;
    if (prefix == "ttyACM") return static_cast<int>(k) + 1 + kTtyKindCount;
    return 0;
}

std::string read_first_line(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

void scan_sysfs(std::vector<MapEntry>& map, Notes& notes) {
    std::string root = env("STRIDELOG_SYSFS_ROOT");
    if (root.empty()) root = "/sys";
    const fs::path sysfs(root);
    std::error_code ec;
    std::vector<std::string> ttys;
    for (fs::directory_iterator it(sysfs / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec))
        ttys.push_back(it->path().filename().string());
    std::sort(ttys.begin(), ttys.end(), tty_name_less);

    const fs::path canonical_root = fs::weakly_canonical(sysfs, ec);
    int bridge_index = 0;
    for (const auto& tty : ttys) {
        const fs::path device = fs::canonical(sysfs / "class" / "tty" / tty / "device", ec);
        if (ec) continue;  // virtual terminals have no device
        bool is_cable = false;
        for (fs::path dir = device; !dir.empty() && dir != canonical_root && dir != dir.root_path();
             dir = dir.parent_path()) {
            if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) {
                is_cable = iequals(read_first_line(dir / "idVendor"), cable::kUsbVendorId) &&
                           iequals(read_first_line(dir / "idProduct"), cable::kUsbProductId);
                break;
            }
        }
        const fs::path driver = fs::canonical(device / "driver", ec);
        const bool is_bridge = !ec && driver.filename() == cable::kBridgeDriver;
        if (!is_cable && !is_bridge) continue;
        std::string value_name =
            is_cable ? cable::usb_identity(tty)
                     : std::string(cable::kBridgeIdentityPrefix) + std::to_string(bridge_index);
        if (is_bridge && !is_cable) ++bridge_index;
        const int com = com_number_for_tty(tty);
        if (com == 0) {
            notes.push_back("registry: serial device " + tty +
                            " has no COM number (only ttyUSB0..31 and ttyACM0..31 do); left out");
            continue;
        }
        add_map_entry(map, {std::move(value_name), RegValue::text("COM" + std::to_string(com)),
                            "/dev/" + tty});
    }
}

void read_device_map_file(std::vector<MapEntry>& map, Notes& notes) {
    const std::string path = env("STRIDELOG_DEVICE_MAP");
    if (path.empty()) return;
    std::ifstream in(path);
    if (!in) {
        notes.push_back("registry: device map " + path + " cannot be read");
        return;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const cable::DeviceMapLine parsed = cable::parse_device_map_line(line);
        if (parsed.kind == cable::DeviceMapLine::Kind::blank) continue;
        if (parsed.kind == cable::DeviceMapLine::Kind::malformed) {
            notes.push_back("registry: device map " + path + ":" + std::to_string(number) + ": " +
                            parsed.problem + "; line skipped");
            continue;
        }
        add_map_entry(map, {parsed.entry.value_name, RegValue::text(parsed.entry.port_name),
                            parsed.entry.device_path});
    }
}

}  // namespace

void add_map_entry(std::vector<MapEntry>& map, MapEntry entry) {
    for (auto& existing : map) {
        if (iequals(existing.value_name, entry.value_name)) {
            existing = std::move(entry);
            return;
        }
    }
    map.push_back(std::move(entry));
}

std::vector<MapEntry> build_device_map(bool scan, std::vector<MapEntry> injected, Notes& notes) {
    std::vector<MapEntry> map;
    if (scan) scan_sysfs(map, notes);
    read_device_map_file(map, notes);
    for (auto& entry : injected) add_map_entry(map, std::move(entry));
    return map;
}

}  // namespace stridelog::platform::registry_detail
