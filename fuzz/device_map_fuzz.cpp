// The device-map file, line by line, over arbitrary text: every line is an
// entry, a blank or a malformed line with a reason, and an entry written back
// out reads back the same.
#include <string_view>

#include "cable/cable_identity.hpp"
#include "fuzz_target.hpp"

using namespace stridelog::cable;
using stridelog::fuzz::check;

FUZZ_TARGET(input) {
    std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const auto parsed = parse_device_map_line(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (parsed.kind == DeviceMapLine::Kind::malformed) check(!parsed.problem.empty());
        if (parsed.kind != DeviceMapLine::Kind::entry) continue;
        const auto& e = parsed.entry;
        check(!e.value_name.empty() && !e.port_name.empty() && !e.device_path.empty());
        const auto again = parse_device_map_line(format_device_map_line(e));
        check(again.kind == DeviceMapLine::Kind::entry && again.entry.value_name == e.value_name &&
              again.entry.port_name == e.port_name && again.entry.device_path == e.device_path);
        (void)com_port_number(e.port_name);
    }
}
