// The firmware file checks over arbitrary files: a file that passes has an
// accepted size, a known header and a body that fits it, and the sums and the
// sector map never reach outside that body.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "update/firmware_image.hpp"

namespace up = stridelog::update;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // Small inputs reach the header and checksum checks at the two accepted
    // sizes: the first byte picks a size, the rest is repeated to fill it.
    std::vector<std::uint8_t> file;
    if (data[0] < 0x40 && size > 1) {
        const std::size_t target = data[0] & 1 ? up::kFullFileSize : up::kProgramOnlyFileSize;
        file.resize(target);
        for (std::size_t i = 0; i < target; ++i) file[i] = data[1 + i % (size - 1)];
        // A stored checksum that matches, now and then, so the later checks run too.
        if (data[0] & 2) {
            const std::uint32_t sum = up::firmware_file_checksum(file);
            for (int b = 0; b < 4; ++b)
                file[up::kChecksumOffset + b] = static_cast<std::uint8_t>(sum >> (8 * b));
        }
    } else {
        file.assign(data, data + size);
    }
    const auto check = up::check_firmware_file(file);
    (void)up::header_version(std::span(file).first(std::min(file.size(), up::kFirmwareHeaderSize)));
    if (check.fault != up::ImageFault::none) return 0;
    if (file.size() != up::kFullFileSize && file.size() != up::kProgramOnlyFileSize)
        __builtin_trap();
    if (check.body_length != up::body_length_for(check.header_flag)) __builtin_trap();
    if (up::kFirmwareHeaderSize + check.body_length > file.size()) __builtin_trap();
    const auto body = std::span(file).subspan(up::kFirmwareHeaderSize, check.body_length);
    (void)up::boot_block_sum(body);
    (void)up::program_sum(body);
    const auto sum_sector = up::boot_sum_sector(body);
    if (sum_sector[0] != (up::boot_block_sum(body) & 0xFF)) __builtin_trap();
    for (const auto& place : up::firmware_sector_map(check.body_length))
        if (place.body_offset + up::kSectorBytes > check.body_length) __builtin_trap();
    return 0;
}
