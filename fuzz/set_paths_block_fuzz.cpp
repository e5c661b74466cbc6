// The SetPaths_Ex block from the host, over arbitrary bytes laid into a block
// of the accepted size: ten paths come out, none with more than 99 waypoints
// or a name past 32 characters, and what is stored from them reads back the
// same waypoints in the same places.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "watchdata/path_formats.hpp"

namespace wd = stridelog::watchdata;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The input is repeated over the block so short inputs fill every record.
    std::vector<std::uint8_t> block(wd::kPathsBlockSize);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = data[i % size];
    const auto paths = wd::unpack_paths_block(block);
    if (!paths || paths->size() != wd::kPathCount) __builtin_trap();
    for (std::size_t p = 0; p < paths->size(); ++p) {
        const auto& path = (*paths)[p];
        if (path.waypoints.size() > wd::kMaxWaypoints || path.name.size() > 32) __builtin_trap();
        const std::size_t count = std::min<std::size_t>(block[p * wd::kPathRecordSize + 64], 99);
        if (path.waypoints.size() != count) __builtin_trap();
    }
    std::vector<std::uint8_t> directory(4096, 0xFF);
    wd::store_path_directory(directory, *paths, 32);
    const auto area = wd::waypoint_area(*paths);
    if (area.size() != wd::kWaypointAreaSize) __builtin_trap();
    const auto back = wd::read_stored_paths(directory, area, 32);
    if (back.size() != wd::kPathCount) __builtin_trap();
    for (std::size_t p = 0; p < back.size(); ++p) {
        if (back[p].waypoints.size() != (*paths)[p].waypoints.size()) __builtin_trap();
        for (std::size_t k = 0; k < back[p].waypoints.size(); ++k) {
            // Coordinates and attributes travel unchanged; names go through the watch set.
            if (!std::equal(back[p].waypoints[k].begin(), back[p].waypoints[k].begin() + 14,
                            (*paths)[p].waypoints[k].begin()))
                __builtin_trap();
        }
    }
    // Any other size is refused.
    const std::size_t other = size % 2 ? wd::kPathsBlockSize - 1 : wd::kPathsBlockSize + 1;
    std::vector<std::uint8_t> wrong(other, data[0]);
    if (wd::unpack_paths_block(wrong)) __builtin_trap();
    return 0;
}
