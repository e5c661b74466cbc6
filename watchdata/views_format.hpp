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

// `directory` is the whole directory image (4096 bytes).
ViewsRecord build_views_record(std::span<const std::uint8_t> directory);

// Stores the record's view bytes and names in the image; the caller
// recomputes the settings checksum.
void apply_views_record(std::span<std::uint8_t> directory,
                        std::span<const std::uint8_t, kViewsRecordSize> record);

}  // namespace stridelog::watchdata
