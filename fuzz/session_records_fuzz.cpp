// A session's sectors from arbitrary bytes: the first 4096 as the header
// sector, the rest as track sectors read one after another, and the directory
// walk over the same bytes. Nothing may read outside the buffers or grow
// without bound, whatever the watch sent.
#include <array>
#include <string>

#include "fuzz_target.hpp"
#include "watchdata/session_records.hpp"
#include "watchdata/workout_directory.hpp"

using namespace stridelog::watchdata;

FUZZ_TARGET(input) {
    const auto header = input.first(std::min<std::size_t>(input.size(), 4096));
    (void)read_workout_directory(header);
    const SessionRecord session = read_session_header(header);
    TrackDecoder decoder;
    decoder.begin_session();
    std::array<std::uint8_t, kDecodeBufferSize> buffer{};
    std::vector<std::string> log;
    for (auto rest = input.subspan(header.size()); !rest.empty();) {
        const auto sector = rest.first(std::min<std::size_t>(4096, rest.size()));
        rest = rest.subspan(sector.size());
        std::fill(buffer.begin() + kCarryAreaSize, buffer.end(), std::uint8_t{0xFF});
        std::copy(sector.begin(), sector.end(), buffer.begin() + kCarryAreaSize);
        if (decoder.decode_sector(buffer, 1, log) == TrackDecoder::Outcome::stream_ended) break;
    }
    fix_up_leading_points(decoder.points(), session.start_stamp());
    const auto block = build_session_block(session, decoder.points());
    stridelog::fuzz::check(block.size() ==
                           64 + 16 * session.laps.size() + 25 * decoder.points().size());
}
