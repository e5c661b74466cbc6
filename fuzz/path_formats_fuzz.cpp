// The path formats over arbitrary bytes from the watch (a directory image and
// waypoint area): nothing may read past its input, and what is posted keeps
// its bounds. The host's side is set_paths_block_fuzz.
#include "fuzz_target.hpp"
#include "watchdata/path_formats.hpp"

using namespace stridelog::watchdata;

FUZZ_TARGET(input) {
    if (input.empty()) return;
    // The first byte picks the name width; the rest splits into directory and area.
    const std::size_t width = (input[0] & 1) ? 32 : 10;
    const auto directory = input.subspan(1).first(std::min<std::size_t>(input.size() - 1, 4096));
    const auto paths = read_stored_paths(directory, input.subspan(1 + directory.size()), width);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const auto& path = paths[i];
        stridelog::fuzz::check(path.waypoints.size() <= kMaxWaypoints && path.name.size() <= width);
        stridelog::fuzz::check(path_block(static_cast<std::uint8_t>(i), path).size() ==
                               3 + 2 * path.name.size() + 34 * path.waypoints.size());
    }
}
