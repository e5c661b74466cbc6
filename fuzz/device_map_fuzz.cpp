// The device-map file, line by line, over arbitrary text: every line is an
// entry, a blank or a malformed line with a reason, and an entry written back
// out reads back the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cable/cable_identity.hpp"

namespace cable = stridelog::cable;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const auto parsed = cable::parse_device_map_line(line);
        switch (parsed.kind) {
            case cable::DeviceMapLine::Kind::blank:
                break;
            case cable::DeviceMapLine::Kind::malformed:
                if (parsed.problem.empty()) __builtin_trap();
                break;
            case cable::DeviceMapLine::Kind::entry: {
                const auto& e = parsed.entry;
                if (e.value_name.empty() || e.port_name.empty() || e.device_path.empty())
                    __builtin_trap();
                const auto again = cable::parse_device_map_line(cable::format_device_map_line(e));
                if (again.kind != cable::DeviceMapLine::Kind::entry ||
                    again.entry.value_name != e.value_name ||
                    again.entry.port_name != e.port_name ||
                    again.entry.device_path != e.device_path)
                    __builtin_trap();
                (void)cable::com_port_number(e.port_name);
                break;
            }
        }
    }
    return 0;
}
