// The serial device map (HARDWARE\\DEVICEMAP\\SERIALCOMM) as the machine
// shows it now: the cable's ttys found in sysfs, the lines of the file named by
// STRIDELOG_DEVICE_MAP, then the entries injected in-process, a later entry
// replacing an earlier one of the same value name.
//
// Port names for ttys found in sysfs follow one fixed rule so that a cable keeps
// its COM number across plug cycles:
//   ttyUSB<k> -> COM<k+1>   (k = 0..31, COM1..COM32)
//   ttyACM<k> -> COM<k+33>  (k = 0..31, COM33..COM64)
// Any other tty of the cable is left out of the map with a note.
// STRIDELOG_SYSFS_ROOT replaces "/sys" as the root of the scan (tests build a
// small fake tree there). Internal to the registry stand-in.
#pragma once

#include <string>
#include <vector>

#include "platform/registry.hpp"
#include "platform/registry_notes.hpp"

namespace stridelog::platform::registry_detail {

// One entry of the serial device map.
struct MapEntry {
    std::string value_name;
    RegValue value;
    std::string device_path;  // empty for entries injected without one
};

// Adds the entry, or replaces the one with the same value name in place.
void add_map_entry(std::vector<MapEntry>& map, MapEntry entry);

// The map from sysfs (when `scan_sysfs`), the device map file and `injected`.
std::vector<MapEntry> build_device_map(bool scan_sysfs, std::vector<MapEntry> injected,
                                       Notes& notes);

}  // namespace stridelog::platform::registry_detail
