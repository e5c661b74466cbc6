// The SetPaths_Ex block from the host, over arbitrary bytes laid into a block
// of the accepted size: ten paths come out, none with more than 99 waypoints
// or a name past 32 characters, and what is stored from them (names 10 or 32
// wide) reads back the same waypoints in the same places.
#include "fuzz_target.hpp"
#include "watchdata/path_formats.hpp"

using namespace stridelog::watchdata;
using stridelog::fuzz::check;

FUZZ_TARGET(input) {
    if (input.empty()) return;
    // The input is repeated over the block so short inputs fill every record.
    stridelog::fuzz::Bytes block(kPathsBlockSize);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = input[i % input.size()];
    const auto paths = unpack_paths_block(block);
    check(paths && paths->size() == kPathCount);
    for (std::size_t p = 0; p < paths->size(); ++p) {
        const auto& path = (*paths)[p];
        check(path.waypoints.size() <= kMaxWaypoints && path.name.size() <= 32);
        check(path.waypoints.size() == std::min<std::size_t>(block[p * kPathRecordSize + 64], 99));
    }
    const std::size_t width = input.size() % 3 ? 32 : 10;
    stridelog::fuzz::Bytes directory(4096, 0xFF);
    store_path_directory(directory, *paths, width);
    const auto area = waypoint_area(*paths);
    check(area.size() == kWaypointAreaSize);
    const auto back = read_stored_paths(directory, area, width);
    check(back.size() == kPathCount);
    for (std::size_t p = 0; p < back.size(); ++p) {
        check(back[p].waypoints.size() == (*paths)[p].waypoints.size());
        // Coordinates and attributes travel unchanged; names go through the watch set.
        for (std::size_t k = 0; k < back[p].waypoints.size(); ++k)
            check(std::equal(back[p].waypoints[k].begin(), back[p].waypoints[k].begin() + 14,
                             (*paths)[p].waypoints[k].begin()));
    }
    // Any other size is refused.
    const std::size_t other = input.size() % 2 ? kPathsBlockSize - 1 : kPathsBlockSize + 1;
    check(!unpack_paths_block(stridelog::fuzz::Bytes(other, input[0])));
}
