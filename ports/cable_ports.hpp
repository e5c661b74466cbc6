// Finding the COM ports of the watch's cable in the registry.
//
// Two ways: the serial device map entries of the cable's own USB identity
// (04FC:0201; on older systems the USB enumeration key instead), and the
// entries of the cp210x-style bridges \Device\Silabser0..31. Nothing is cached:
// every call reads the registry again, so a cable plugged in between two calls
// is found by the second.
//
// Threads: any thread; reads the registry only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stridelog::ports {

// Port number of the cable (n of COMn), or 0 when there is none. The bridge is
// looked up only under \Device\Silabser0.
int FindCablePort();
// Empties the list and fills it with every port of the cable (both ways, the
// same port possibly twice), sorted as upper-case text (COM10 before COM2).
void ListCablePorts(std::vector<std::string>& list);
// n of a port name "COMn" when n is a positive number, else 0.
int parse_port_number(std::string_view name);
// The port list block: u32 LE count, then each name as UTF-16LE with a 16-bit zero.
std::vector<std::uint8_t> build_port_list_block(const std::vector<std::string>& list);

}  // namespace stridelog::ports
