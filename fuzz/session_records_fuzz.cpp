// A session's sectors from arbitrary bytes: the first 4096 as the header
// sector, the rest as track sectors read one after another, and the directory
// walk over the same bytes. Nothing may read outside the buffers or grow
// without bound, whatever the watch sent.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "watchdata/session_records.hpp"
#include "watchdata/workout_directory.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace stridelog::watchdata;
    const std::span<const std::uint8_t> input(data, size);
    const std::size_t header_size = std::min<std::size_t>(size, 4096);
    (void)read_workout_directory(input.first(header_size));
    const SessionRecord session = read_session_header(input.first(header_size));

    TrackDecoder decoder;
    decoder.begin_session();
    std::array<std::uint8_t, kDecodeBufferSize> buffer{};
    std::vector<std::string> log;
    for (std::size_t at = header_size; at < size; at += 4096) {
        std::fill(buffer.begin() + kCarryAreaSize, buffer.end(), std::uint8_t{0xFF});
        const std::size_t n = std::min<std::size_t>(4096, size - at);
        std::copy_n(data + at, n, buffer.begin() + kCarryAreaSize);
        if (decoder.decode_sector(buffer, 1, log) == TrackDecoder::Outcome::stream_ended) break;
    }
    fix_up_leading_points(decoder.points(), session.start_stamp());
    const auto block = build_session_block(session, decoder.points());
    if (block.size() != 64 + 16 * session.laps.size() + 25 * decoder.points().size())
        __builtin_trap();
    return 0;
}
