// The path formats over arbitrary bytes from the host (a SetPaths_Ex block) and
// from the watch (a directory image and waypoint area): nothing may read past
// its input, and what is posted or stored keeps its bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "watchdata/path_formats.hpp"
#include "watchdata/watch_charset.hpp"

namespace wd = stridelog::watchdata;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    if (size == 0) return 0;
    // The first byte picks the name width; the rest splits into directory and area.
    const std::size_t width = (data[0] & 1) ? 32 : 10;
    const auto rest = input.subspan(1);
    const auto directory = rest.first(std::min<std::size_t>(rest.size(), 4096));
    const auto area = rest.subspan(directory.size());
    const auto paths = wd::read_stored_paths(directory, area, width);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (paths[i].waypoints.size() > wd::kMaxWaypoints || paths[i].name.size() > width)
            __builtin_trap();
        const auto block = wd::path_block(static_cast<std::uint8_t>(i), paths[i]);
        if (block.size() != 3 + 2 * paths[i].name.size() + 34 * paths[i].waypoints.size())
            __builtin_trap();
    }

    // A host block: pad or cut the input to the one accepted size.
    std::vector<std::uint8_t> block(input.begin(), input.end());
    block.resize(wd::kPathsBlockSize, 0);
    const auto unpacked = wd::unpack_paths_block(block);
    if (!unpacked) __builtin_trap();
    std::vector<std::uint8_t> image(4096, 0xFF);
    wd::store_path_directory(image, *unpacked, width);
    const auto stored = wd::waypoint_area(*unpacked);
    const auto back = wd::read_stored_paths(image, stored, width);
    for (std::size_t i = 0; i < back.size(); ++i)
        if (back[i].waypoints.size() != (*unpacked)[i].waypoints.size()) __builtin_trap();
    if (wd::unpack_paths_block(input.first(std::min(size, wd::kPathsBlockSize - 1))))
        __builtin_trap();
    return 0;
}
