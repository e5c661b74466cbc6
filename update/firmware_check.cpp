#include "update/firmware_check.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <tuple>

namespace stridelog::update {
namespace {

// What an erased version field stands for: the first firmware.
const FirmwareVersion kErasedVersion{1, 0, 0, "VUNA0_00"};

constexpr std::string_view kModelBefore13 = "73521";
constexpr std::string_view kModel13 = "73688";
constexpr std::string_view kModelFrom14 = "73521";

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    });
}

auto numbers(const FirmwareVersion& v) {
    return std::tie(v.major, v.minor, v.patch);
}

}  // namespace

std::int32_t firmware_family(std::int32_t major, std::int32_t minor) {
    if (major != 1) return 2;
    if (minor < 30) return 0;
    if (minor < 40) return 1;
    return 2;
}

std::int32_t leading_int(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(value * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, kLimit - 1));
}

FirmwareVersion parse_dotted_number(std::string_view text) {
    FirmwareVersion version;
    std::int32_t* const fields[] = {&version.major, &version.minor, &version.patch};
    for (std::int32_t* field : fields) {
        const std::size_t dot = text.find('.');
        *field = leading_int(text.substr(0, dot));
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    return version;
}

std::optional<FirmwareVersion> parse_firmware_version(std::string_view text) {
    const std::size_t underscore = text.find('_');
    if (text.empty() || underscore == std::string_view::npos) return std::nullopt;
    FirmwareVersion version = parse_dotted_number(text.substr(0, underscore));
    version.code = std::string(text.substr(underscore + 1));
    return version;
}

CurrentFirmware read_current_firmware(std::span<const std::uint8_t> directory) {
    CurrentFirmware current;
    if (directory.size() <= kVersionTextOffset) return current;
    const auto field = directory.subspan(
        kVersionTextOffset, std::min(kVersionTextLength, directory.size() - kVersionTextOffset));
    if (field[0] == kErasedByte) {
        current.text = "<FF>";
        current.version = kErasedVersion;
        return current;
    }
    const auto end = std::ranges::find(field, std::uint8_t{0});
    current.text.assign(field.begin(), end);
    current.version = parse_firmware_version(current.text);
    return current;
}

std::string model_number(const FirmwareVersion& current) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%d.%d", current.major, current.minor);
    // Read as a double: a 32-bit float would put "1.3" just below 1.3 and
    // "1.4" just below 1.4, sending 1.30 to the wrong description.
    double value = 0.0;
    std::from_chars(text, text + length, value);
    if (value < 1.3) return std::string(kModelBefore13);
    if (value < 1.4) return std::string(kModel13);
    return std::string(kModelFrom14);
}

std::string description_file_name(const FirmwareVersion& current) {
    return model_number(current) + "_" + current.code + ".txt";
}

std::string folder_for_update(std::string_view folder, std::string_view fifth_text,
                              std::string_view code) {
    std::string result(folder);
    if (!equal_ignoring_case(fifth_text, kFolderRuleText)) return result;
    if (std::ranges::count(code, '_') != 1) return result;
    const std::string_view first = code.substr(0, code.find('_'));
    if (result.find(first) != std::string::npos) return result;
    if (!result.ends_with('/')) result += '/';
    result += first;
    return result;
}

bool is_newer_firmware(const std::optional<FirmwareVersion>& current,
                       const FirmwareVersion& offered) {
    if (!current) return false;
    const FirmwareVersion& c = *current;
    if (c.major != 1 || offered.major != 1) return false;
    const std::int32_t family = firmware_family(c.major, c.minor);
    if (family > 1 || firmware_family(offered.major, offered.minor) != family) return false;
    return offered.minor > c.minor || (offered.minor == c.minor && offered.patch > c.patch);
}

std::vector<std::string> release_notes(const ProfileFile& history, const FirmwareVersion& current) {
    std::vector<std::string> notes;
    for (const std::string& name : history.section_names()) {
        if (numbers(parse_dotted_number(name)) <= numbers(current)) continue;
        notes.push_back(name);
        history.append_numbered_lines(name, notes);
        notes.emplace_back();
    }
    return notes;
}

std::string confirmation_message(const FirmwareVersion& offered) {
    char version[48];
    std::snprintf(version, sizeof version, "%d.%d.%d", offered.major, offered.minor, offered.patch);
    return std::string("A new watch firmware (") + version +
           ") is  available !\r\n\r\nNote :\r\nThe firmware update will ERASE ALL workout and "
           "paths in your watch. \r\n\r\nDo you want to proceed ?";
}

std::optional<OfferedFile> split_offered_value(std::string_view value) {
    const std::size_t comma = value.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    std::string_view name = value.substr(0, comma);
    std::string_view size = value.substr(comma + 1);
    size = size.substr(0, size.find(','));
    const std::size_t first = name.find_first_not_of(" \t");
    name = first == std::string_view::npos
               ? std::string_view{}
               : name.substr(first, name.find_last_not_of(" \t") - first + 1);
    return OfferedFile{std::string(name), leading_int(size)};
}

bool has_firmware_extension(std::string_view file_name) {
    const std::size_t dot = file_name.rfind('.');
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view{} : file_name.substr(dot + 1);
    return extension == kFirmwareExtension;
}

std::string settings_file_name(std::string_view firmware_file_name) {
    return std::string(firmware_file_name.substr(0, firmware_file_name.rfind('.'))) +
           std::string(kSettingsExtension);
}

}  // namespace stridelog::update
