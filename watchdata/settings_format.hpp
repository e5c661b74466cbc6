// The settings block at the start of the directory sector, and the 96-byte
// settings record the host reads and writes. Pure functions over bytes: no
// window, link or clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace stridelog::watchdata {

inline constexpr std::size_t kSettingsBlockSize = 224;
inline constexpr std::size_t kShortChecksumLength = 84;
inline constexpr std::size_t kSettingsRecordSize = 96;
inline constexpr std::uint32_t kIdentityAddress = 0xFF010;
inline constexpr std::size_t kIdentityTextLength = 12;

using SettingsRecord = std::array<std::uint8_t, kSettingsRecordSize>;

// Bytes covered by the checksum: the whole block from firmware 1.19 on,
// the first 84 bytes before.
std::size_t settings_checksum_length(float firmware_version);

// Bytes 0 and 1 of `block` (at least kSettingsBlockSize bytes): the 8-bit sum
// of bytes 2 .. length - 1, and 255 minus that sum.
void write_settings_checksum(std::span<std::uint8_t> block, std::size_t length);

// Whether the record's first byte carries the two-bit field of byte 94 (newer
// firmware of the 1.3x line, and two older codes) rather than bit 3 of byte 12.
// The long version text in the block, when present, overrides the number.
bool uses_extended_settings(float firmware_version, std::span<const std::uint8_t> block);

// "%02d%02d%02d%02d%s" over the 128 identity bytes, cut to 12 characters.
std::string identity_text(std::span<const std::uint8_t> identity);

// The record the host is given. `block` is the directory image (at least
// kSettingsBlockSize bytes); `identity` the 128 bytes read at kIdentityAddress.
SettingsRecord build_settings_record(std::span<const std::uint8_t> block,
                                     std::span<const std::uint8_t> identity,
                                     float used_space_percent, bool extended);

// Applies the host's record to the settings block in place (fields the host
// may not change are kept) and recomputes its checksum.
void apply_settings_record(std::span<std::uint8_t> block, std::span<const std::uint8_t, 96> record,
                           bool extended, std::size_t checksum_length);

}  // namespace stridelog::watchdata
