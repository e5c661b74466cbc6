// The firmware file ("*.fw2"): a 256-byte header, then the body that goes to
// the watch's flash. Here are the checks a file must pass before anything is
// written (size, header text, file checksum), the loading of the body, the
// two 16-bit sums the watch keeps beside it, and which body bytes go to which
// flash sectors. The flashing operation calls these; only the loaders touch
// the file system.
//
// Threads: pure functions, any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace stridelog::update {

inline constexpr std::size_t kFirmwareHeaderSize = 256;
inline constexpr std::size_t kChecksumOffset = 108;   // 4 bytes, little-endian
inline constexpr std::size_t kHeaderTextBytes = 108;  // UTF-16LE text ending in NUL
inline constexpr std::uint32_t kChecksumStart = 0x5AA53968;

// The two accepted file sizes and the body each carries.
inline constexpr std::size_t kProgramOnlyFileSize = 0x20100;  // 131,328
inline constexpr std::size_t kFullFileSize = 0x25100;         // 151,808
inline constexpr std::size_t kProgramOnlyBodyLength = 0x20000;
inline constexpr std::size_t kFullBodyLength = 0x25000;

// Body layout.
inline constexpr std::size_t kSectorBytes = 4096;
inline constexpr std::size_t kBootBlockLength = 0x2000;  // body 0 .. 0x1FFF
inline constexpr std::size_t kProgramStart = 0x2000;     // body 0x2000 .. 0x1FFFF
inline constexpr std::size_t kProgramEnd = 0x20000;
inline constexpr std::size_t kLanguageStart = 0x20000;  // body 0x20000 .. 0x24FFF
inline constexpr std::size_t kLanguageEnd = 0x25000;
inline constexpr std::uint32_t kBootBlockSector = 34;  // and 35
inline constexpr std::uint32_t kBootSumSector = 36;
inline constexpr std::uint32_t kLanguageSector = 244;  // .. 248
inline constexpr std::uint32_t kProgramSumAddress = 0x20000;

// Minor number of the header version: "<<Watch Firmware Header v1.<minor>".
enum class HeaderVersion : std::uint8_t { k1_0 = 0, k1_1 = 1, k1_2 = 2, k1_3 = 3 };

// 0 for version 1.0 (program image only), 1 for 1.1 .. 1.3 (with the language block).
std::uint8_t header_flag(HeaderVersion version);
// 0x20000 for flag 0, 0x25000 otherwise.
std::size_t body_length_for(std::uint8_t header_flag);

// The header text (first 108 bytes, up to the NUL) matched without regard to
// case; nullopt when it is none of the four.
std::optional<HeaderVersion> header_version(std::span<const std::uint8_t> header);

// V = 0x5AA53968, then V = rotl(V, 8) ^ byte for every byte of the file in
// order, skipping the stored checksum at bytes 108 .. 111.
std::uint32_t firmware_file_checksum(std::span<const std::uint8_t> file);

enum class ImageFault {
    none,
    bad_size,           // neither 131,328 nor 151,808 bytes
    bad_header,         // not one of the four header texts
    no_language_block,  // a 1.1 .. 1.3 header on a file too short for its language block
    bad_checksum,       // stored and computed checksums differ
    unreadable,         // the file cannot be opened, or reads short
};

struct ImageCheck {
    ImageFault fault = ImageFault::none;
    HeaderVersion version = HeaderVersion::k1_0;
    std::uint8_t header_flag = 0;
    std::size_t body_length = 0;  // what is written to the watch
};

// All checks over the whole file's bytes. A 151,808-byte file with a 1.0
// header passes and uses only its first 0x20000 body bytes.
ImageCheck check_firmware_file(std::span<const std::uint8_t> file);

// The body bytes to write: `body_length` bytes from file offset 256. nullopt
// when the file cannot be opened or holds fewer bytes than that.
std::optional<std::vector<std::uint8_t>> load_firmware_body(const std::filesystem::path& file,
                                                            std::size_t body_length);

// A checked and loaded firmware file: on success `body` holds body_length bytes.
struct LoadedFirmware {
    ImageCheck check;
    std::vector<std::uint8_t> body;
};
// Reads the file (refusing one larger than the larger accepted size without
// reading it all), runs every check and loads the body.
LoadedFirmware load_firmware_file(const std::filesystem::path& file);

// The plain sum of the bytes, modulo 65536, as the watch keeps it.
std::uint16_t byte_sum16(std::span<const std::uint8_t> bytes);
// Over body bytes 0 .. 0x1FFF.
std::uint16_t boot_block_sum(std::span<const std::uint8_t> body);
// Over body bytes 0x2000 .. 0x1FFFF.
std::uint16_t program_sum(std::span<const std::uint8_t> body);
// Sector 36: the boot block sum, low byte first, then 0xFF to the end.
std::array<std::uint8_t, kSectorBytes> boot_sum_sector(std::span<const std::uint8_t> body);

// One flash sector's worth of body bytes.
struct SectorPlacement {
    std::uint32_t sector;     // flash sector (address sector * 4096)
    std::size_t body_offset;  // first body byte written there
};
// Where the body goes, in the order it is written: the boot block to 34 and
// 35, the language block (full body only) to 244 .. 248, the program sectors
// to 2 .. 31 (each body byte at the flash address equal to its offset).
std::vector<SectorPlacement> firmware_sector_map(std::size_t body_length);

}  // namespace stridelog::update
