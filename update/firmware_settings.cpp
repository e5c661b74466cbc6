#include "update/firmware_settings.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "update/firmware_check.hpp"
#include "update/profile_file.hpp"

namespace stridelog::update {
namespace {

// Byte 0 of sector 255: a fixed high bit, then one bit per format.
constexpr std::uint8_t kFormatBase = 0x80;
constexpr std::uint8_t kUnitFormatBit = 0x02;
constexpr std::uint8_t kTimeFormatBit = 0x01;

// Pairing values the watch keeps in the directory sector, and where sector 255 takes them.
struct CopiedBytes {
    std::size_t from_directory;
    std::size_t to_sector;
    std::size_t length;
};
constexpr CopiedBytes kPairingBytes[] = {
    {76, 4, 8},   // pairing identifier and compass offset
    {72, 12, 3},  // sensor bytes
};

constexpr std::size_t kSettingsSectorBytes = 4096;

}  // namespace

int read_firmware_settings(const std::filesystem::path& file, CustomerSettings* settings) {
    if (settings == nullptr) return 0;
    *settings = CustomerSettings{};
    const std::optional<ProfileFile> profile =
        file_exists(file) ? ProfileFile::load(file) : std::nullopt;
    if (!profile) return 1;
    auto read = [&](std::string_view key, std::int32_t& field) {
        if (const std::optional<std::string> value = profile->value(kSettingsSection, key)) {
            field = leading_int(*value);
        }
    };
    read("TimeFormat", settings->time_format);
    read("UnitFormat", settings->unit_format);
    read("Language", settings->language);
    read("Timezone", settings->timezone);
    return 1;
}

void build_customer_settings_sector(const CustomerSettings& settings,
                                    std::span<const std::uint8_t> directory,
                                    std::span<std::uint8_t> sector) {
    if (sector.size() < kSettingsSectorBytes) return;
    for (const CopiedBytes& copy : kPairingBytes) {
        if (directory.size() < copy.from_directory + copy.length) continue;
        std::ranges::copy(directory.subspan(copy.from_directory, copy.length),
                          sector.begin() + static_cast<std::ptrdiff_t>(copy.to_sector));
    }
    sector[0] =
        static_cast<std::uint8_t>(kFormatBase | (settings.unit_format != 0 ? kUnitFormatBit : 0) |
                                  (settings.time_format != 0 ? kTimeFormatBit : 0));
    // A negative language would reach the watch as 0xFF and the like: no
    // language it has. It is treated like any other out-of-range value.
    const std::int32_t language =
        (settings.language < 0 || settings.language > kLargestLanguage) ? 0 : settings.language;
    const std::int32_t timezone = (settings.timezone < 0 || settings.timezone > kLargestTimezone)
                                      ? kDefaultTimezone
                                      : settings.timezone;
    sector[1] = static_cast<std::uint8_t>(language);
    sector[2] = static_cast<std::uint8_t>(timezone);
}

void restore_directory(std::span<const std::uint8_t> backup, std::span<std::uint8_t> directory) {
    for (const ByteRange& region : kRestoredDirectoryRegions) {
        if (backup.size() < region.first + region.length ||
            directory.size() < region.first + region.length) {
            continue;
        }
        std::ranges::copy(backup.subspan(region.first, region.length),
                          directory.begin() + static_cast<std::ptrdiff_t>(region.first));
    }
}

}  // namespace stridelog::update
