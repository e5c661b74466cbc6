#include "watchdata/settings_format.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "watchdata/directory_image.hpp"

namespace stridelog::watchdata {
namespace {

// Bytes of the settings block the record maps.
enum SettingsByte : std::size_t {
    flag_f2 = 2,
    byte_b3 = 3,
    flag_f5 = 5,
    byte_b6 = 6,
    word_w10 = 10,
    flags12 = 12,
    byte_b17 = 17,
    bytes_b18 = 18,
    byte_b93 = 93,
    field94 = 94,
    short_text = 96,
    long_text = 104,
    expiry_day = 112,
    expiry_month = 113,
    expiry_year = 114,
};

// Offsets in the host's record.
enum RecordOffset : std::size_t {
    rec_switch = 0,
    rec_f12d = 1,
    rec_f2 = 2,
    rec_w10 = 6,
    rec_f5 = 8,
    rec_b6 = 12,
    rec_long_text = 15,
    rec_short_text = 33,
    rec_expiry = 51,
    rec_used_space = 54,
    rec_identity = 58,
    rec_b93 = 84,
    rec_b3 = 85,
    rec_f12a = 86,
    rec_b17 = 87,
    rec_b18 = 88,
};

constexpr std::uint8_t kF12aBit = 0x01;
constexpr std::uint8_t kF12dBit = 0x08;
constexpr std::uint8_t kF94Mask = 0x03;
constexpr std::uint8_t kF5Set = 0x10;
constexpr std::uint8_t kNoField = 0xFF;

struct VersionParts {
    int major = 0;
    int minor = 0;
    std::string code;
};

// The firmware number as the watch's tools print it: two decimals.
VersionParts from_number(float version) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(version));
    VersionParts parts;
    if (std::sscanf(text, "%d.%d", &parts.major, &parts.minor) != 2) parts = {};
    return parts;
}

// Leading digits count, anything else gives 0 (what the version files expect).
int leading_int(std::string_view piece) {
    std::size_t i = 0;
    while (i < piece.size() && (piece[i] == ' ' || piece[i] == '\t')) ++i;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '-' || piece[i] == '+')) negative = piece[i++] == '-';
    long value = 0;
    for (; i < piece.size() && std::isdigit(static_cast<unsigned char>(piece[i])); ++i)
        value = std::min<long>(value * 10 + (piece[i] - '0'), 1'000'000);
    return static_cast<int>(negative ? -value : value);
}

// "1.31.02_VUNA0_00": the numbers before the first underscore, the rest as code.
bool parse_long_version(std::string_view text, VersionParts& parts) {
    const std::size_t underscore = text.find('_');
    if (text.empty() || underscore == std::string_view::npos) return false;
    const std::string_view numbers = text.substr(0, underscore);
    const std::size_t dot = numbers.find('.');
    parts.major = leading_int(numbers.substr(0, dot));
    parts.minor = 0;
    if (dot != std::string_view::npos) {
        const std::string_view rest = numbers.substr(dot + 1);
        parts.minor = leading_int(rest.substr(0, rest.find('.')));
    }
    parts.code = std::string(text.substr(underscore + 1));
    return true;
}

void put_u32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Each byte widened to one UTF-16LE unit, zeros and all: the record's text
// fields mirror their flash bytes one for one.
void put_wide(std::span<std::uint8_t> out, std::size_t at, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) out[at + 2 * i] = bytes[i];
}

}  // namespace

std::size_t settings_checksum_length(float firmware_version) {
    const VersionParts v = from_number(firmware_version);
    const bool newer = v.major > 1 || (v.major == 1 && v.minor >= 19);
    return newer ? kSettingsBlockSize : kShortChecksumLength;
}

void write_settings_checksum(std::span<std::uint8_t> block, std::size_t length) {
    if (block.size() < kSettingsBlockSize) return;
    length = std::min(length, kSettingsBlockSize);
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < length; ++i) sum = static_cast<std::uint8_t>(sum + block[i]);
    block[0] = sum;
    block[1] = static_cast<std::uint8_t>(0xFF - sum);
}

bool uses_extended_settings(float firmware_version, std::span<const std::uint8_t> block) {
    VersionParts v = from_number(firmware_version);
    if (block.size() >= kLongVersionOffset + kLongVersionSize &&
        block[kLongVersionOffset] != kErasedByte) {
        const auto field = block.subspan(kLongVersionOffset, kLongVersionSize);
        const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
        const std::string text(field.begin(), end);
        VersionParts parsed;
        // An unreadable text leaves the firmware's own number in charge.
        if (parse_long_version(text, parsed)) v = parsed;
    }
    if (v.major != 1) return false;
    if (v.minor >= 30 && v.minor <= 39) return true;
    if (v.minor < 30) return v.code.starts_with("QOVA0") || v.code.starts_with("PEXO0");
    return false;
}

std::string identity_text(std::span<const std::uint8_t> identity) {
    if (identity.size() < 4) return {};
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d%02d%02d%02d", identity[0], identity[1], identity[2],
                  identity[3]);
    std::string text = digits;
    for (std::size_t i = 4; i < identity.size() && identity[i] != 0; ++i)
        text.push_back(static_cast<char>(identity[i]));
    if (text.size() > kIdentityTextLength) text.resize(kIdentityTextLength);
    return text;
}

SettingsRecord build_settings_record(std::span<const std::uint8_t> block,
                                     std::span<const std::uint8_t> identity,
                                     float used_space_percent, bool extended) {
    SettingsRecord r{};
    if (block.size() < kSettingsBlockSize) return r;
    const std::uint8_t f12d = (block[flags12] & kF12dBit) ? 1 : 0;
    const std::uint8_t f94 = block[field94] & kF94Mask;
    r[rec_switch] = extended ? f94 : f12d;
    r[rec_f12d] = f12d;
    put_u32(r, rec_f2, block[flag_f2] & 1u);
    r[rec_w10] = block[word_w10];
    r[rec_w10 + 1] = block[word_w10 + 1];
    put_u32(r, rec_f5, (block[flag_f5] & kF5Set) ? 1u : 0u);
    std::copy_n(block.begin() + byte_b6, 3, r.begin() + rec_b6);
    put_wide(r, rec_long_text, block.subspan(long_text, 8));
    put_wide(r, rec_short_text, block.subspan(short_text, 7));
    r[rec_expiry] = block[expiry_year];
    r[rec_expiry + 1] = block[expiry_month];
    r[rec_expiry + 2] = block[expiry_day];
    std::uint32_t bits = 0;
    static_assert(sizeof bits == sizeof used_space_percent);
    std::memcpy(&bits, &used_space_percent, sizeof bits);
    put_u32(r, rec_used_space, bits);
    const std::string id = identity_text(identity);
    put_wide(r, rec_identity,
             std::span(reinterpret_cast<const std::uint8_t*>(id.data()), id.size()));
    r[rec_b93] = block[byte_b93];
    r[rec_b3] = block[byte_b3];
    r[rec_f12a] = block[flags12] & kF12aBit;
    r[rec_b17] = block[byte_b17];
    std::copy_n(block.begin() + bytes_b18, 8, r.begin() + rec_b18);
    return r;
}

void apply_settings_record(std::span<std::uint8_t> block, std::span<const std::uint8_t, 96> record,
                           bool extended, std::size_t checksum_length) {
    if (block.size() < kSettingsBlockSize) return;
    const bool has_f94 = block[field94] != kNoField;
    block[flags12] &= static_cast<std::uint8_t>(~kF12dBit);
    if (extended) {
        // Only the field's own bits: a wider host value would spill into its neighbours.
        // An extended watch always has the field, even when its byte still reads erased.
        block[field94] = static_cast<std::uint8_t>((block[field94] & ~kF94Mask) |
                                                   (record[rec_switch] & kF94Mask));
        if (record[rec_f12d] & 1) block[flags12] |= kF12dBit;
    } else {
        const bool on = record[rec_switch] != 0;
        if (on) block[flags12] |= kF12dBit;
        if (has_f94)
            block[field94] = static_cast<std::uint8_t>((block[field94] & ~kF94Mask) | (on ? 1 : 0));
    }
    block[flag_f2] = static_cast<std::uint8_t>((block[flag_f2] & ~1u) | (record[rec_f2] & 1u));
    block[word_w10] = record[rec_w10];
    block[word_w10 + 1] = record[rec_w10 + 1];
    const bool f5 = record[rec_f5] | record[rec_f5 + 1] | record[rec_f5 + 2] | record[rec_f5 + 3];
    block[flag_f5] = f5 ? kF5Set : 0x00;
    std::copy_n(record.begin() + rec_b6, 3, block.begin() + byte_b6);
    block[byte_b93] = record[rec_b93];
    block[byte_b3] = record[rec_b3];
    block[flags12] =
        static_cast<std::uint8_t>((block[flags12] & ~kF12aBit) | (record[rec_f12a] & kF12aBit));
    block[byte_b17] = record[rec_b17];
    std::copy_n(record.begin() + rec_b18, 8, block.begin() + bytes_b18);
    write_settings_checksum(block, checksum_length);
}

}  // namespace stridelog::watchdata
