// What a firmware update carries across and sets anew: the customer settings
// from the firmware's settings file, the customer-settings sector (255) built
// from them and from pairing values kept in the directory sector, and the
// regions of the directory sector restored from the copy taken before the
// update. Pure functions over bytes, apart from reading the settings file.
//
// Threads: any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace stridelog::update {

inline constexpr std::string_view kSettingsSection = "Stride Log 73521";
inline constexpr std::uint32_t kCustomerSettingsSector = 255;
inline constexpr std::int32_t kDefaultTimezone = 40;
inline constexpr std::int32_t kLargestLanguage = 4;
inline constexpr std::int32_t kLargestTimezone = 49;

struct CustomerSettings {
    std::int32_t time_format = 0;
    std::int32_t unit_format = 0;
    std::int32_t language = 0;
    std::int32_t timezone = kDefaultTimezone;

    bool operator==(const CustomerSettings&) const = default;
};

// Fills `settings` from section "Stride Log 73521" of the file: keys
// "TimeFormat", "UnitFormat", "Language", "Timezone", each converted like
// _wtoi, a missing or empty key (or a missing file) giving its default.
// Returns 1, or 0 when `settings` is null.
int read_firmware_settings(const std::filesystem::path& file, CustomerSettings* settings);

// Edits the 4096-byte image of sector 255 read from the watch: byte 0 the
// format flags, byte 1 the language (0 when out of 0 .. 4), byte 2 the
// timezone (40 when out of 0 .. 49), bytes 4 .. 11 and 12 .. 14 the directory
// sector's bytes 76 .. 83 and 72 .. 74. Every other byte is kept.
void build_customer_settings_sector(const CustomerSettings& settings,
                                    std::span<const std::uint8_t> directory,
                                    std::span<std::uint8_t> sector);

// The directory bytes a firmware update restores from its backup: the start
// of the settings block, the path waypoint counts, the path names, the view names.
struct ByteRange {
    std::size_t first;
    std::size_t length;
};
inline constexpr std::array<ByteRange, 4> kRestoredDirectoryRegions{{
    {0, 96},
    {1280, 10},
    {1536, 320},
    {2304, 50},
}};

// Copies the restored regions of `backup` over `directory` (both 4096 bytes);
// the caller recomputes the settings checksum afterwards.
void restore_directory(std::span<const std::uint8_t> backup, std::span<std::uint8_t> directory);

}  // namespace stridelog::update
