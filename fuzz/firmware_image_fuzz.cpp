// The firmware file checks over arbitrary files: a file that passes has an
// accepted size, a known header and a body that fits it, and the sums and the
// sector map never reach outside that body.
#include "fuzz_target.hpp"
#include "update/firmware_image.hpp"

using namespace stridelog::update;
using stridelog::fuzz::check;

FUZZ_TARGET(input) {
    if (input.empty()) return;
    // Small inputs reach the header and checksum checks at the two accepted
    // sizes: the first byte picks a size, the rest is repeated to fill it.
    stridelog::fuzz::Bytes file(input.begin(), input.end());
    if (input[0] < 0x40 && input.size() > 1) {
        file.resize(input[0] & 1 ? kFullFileSize : kProgramOnlyFileSize);
        for (std::size_t i = 0; i < file.size(); ++i) file[i] = input[1 + i % (input.size() - 1)];
        // A stored checksum that matches, now and then, so the later checks run too.
        if (input[0] & 2) {
            const std::uint32_t sum = firmware_file_checksum(file);
            for (int b = 0; b < 4; ++b)
                file[kChecksumOffset + b] = static_cast<std::uint8_t>(sum >> (8 * b));
        }
    }
    const auto check_result = check_firmware_file(file);
    (void)header_version(std::span(file).first(std::min(file.size(), kFirmwareHeaderSize)));
    if (check_result.fault != ImageFault::none) return;
    const std::size_t length = check_result.body_length;
    check(file.size() == kFullFileSize || file.size() == kProgramOnlyFileSize);
    check(length == body_length_for(check_result.header_flag));
    check(kFirmwareHeaderSize + length <= file.size());
    const auto body = std::span(file).subspan(kFirmwareHeaderSize, length);
    (void)program_sum(body);
    check(boot_sum_sector(body)[0] == (boot_block_sum(body) & 0xFF));
    for (const auto& place : firmware_sector_map(length))
        check(place.body_offset + kSectorBytes <= length);
}
