// The five data views: their 9-byte records in the settings block and their
// names further down the directory sector, exchanged with the host as one
// 145-byte record with UTF-16LE names. Pure functions over bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace stridelog::watchdata {

inline constexpr std::size_t kViewCount = 5;
inline constexpr std::size_t kViewRecordsOffset = 27;
inline constexpr std::size_t kViewRecordsSize = 45;
inline constexpr std::size_t kViewNamesOffset = 2304;
inline constexpr std::size_t kViewNameBytes = 10;
inline constexpr std::size_t kViewsRecordSize = 145;

using ViewsRecord = std::array<std::uint8_t, kViewsRecordSize>;

// The watch's 8-bit character set: ASCII, and 22 accented letters at
// 0xA0 .. 0xB5. Other characters become '|' toward the watch and a space from it.
std::uint8_t to_watch_char(char16_t c);
char16_t from_watch_char(std::uint8_t b);

// `directory` is the whole directory image (4096 bytes).
ViewsRecord build_views_record(std::span<const std::uint8_t> directory);

// Stores the record's view bytes and names in the image; the caller
// recomputes the settings checksum.
void apply_views_record(std::span<std::uint8_t> directory,
                        std::span<const std::uint8_t, kViewsRecordSize> record);

}  // namespace stridelog::watchdata
