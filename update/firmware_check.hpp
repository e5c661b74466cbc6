// The decisions of the firmware update check, as pure functions: the watch's
// long version text and its parser, the model number and the update
// description's name, the folder rule of the "WEX0" servers, whether an offered
// firmware is newer and of the same family, the release notes, the question
// put to the user, and the offered file's name and size. The operation that
// fetches the files and talks to the watch calls these; nothing here does I/O.
//
// Threads: pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "update/profile_file.hpp"

namespace stridelog::update {

// Where the long version text lives in the directory sector, and its width.
inline constexpr std::size_t kVersionTextOffset = 96;
inline constexpr std::size_t kVersionTextLength = 16;
inline constexpr std::uint8_t kErasedByte = 0xFF;

// The files of the update check.
inline constexpr std::string_view kDescriptionSection = "Method1";
inline constexpr std::string_view kOfferedKey = "0";
inline constexpr std::string_view kHistoryKey = "History";
inline constexpr std::string_view kFirmwareExtension = "fw2";
inline constexpr std::string_view kSettingsExtension = ".ini";
inline constexpr std::string_view kFolderRuleText = "WEX0";

inline constexpr std::string_view kConfirmationCaption = "Message";

struct FirmwareVersion {
    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::int32_t patch = 0;
    std::string code;  // everything after the first underscore

    bool operator==(const FirmwareVersion&) const = default;
};

// 0: 1.00 .. 1.29; 1: 1.30 .. 1.39; 2: anything else. Updates stay inside one.
std::int32_t firmware_family(std::int32_t major, std::int32_t minor);

// Decimal conversion as the C runtime's _wtoi does it: leading blanks, a sign,
// the leading digits; anything else gives 0. Saturates instead of wrapping.
std::int32_t leading_int(std::string_view text);

// "1.31.02_VUNA0_00" -> 1, 31, 2, "VUNA0_00". nullopt when the text is empty
// or has no underscore. Missing numbers are 0, numbers past the third ignored.
std::optional<FirmwareVersion> parse_firmware_version(std::string_view text);
// The dotted number of a history section name, such as "1.32.01" (no code).
FirmwareVersion parse_dotted_number(std::string_view text);

// The watch's firmware as the directory sector records it.
struct CurrentFirmware {
    std::string text;  // as stored (up to the first NUL, 16 characters); "<FF>" when erased
    // nullopt: a text that is neither erased nor a version. Such a watch is
    // never offered an update.
    std::optional<FirmwareVersion> version;
};
// `directory` is the directory sector (at least 112 bytes). An erased field
// stands for 1.0.0 with code VUNA0_00.
CurrentFirmware read_current_firmware(std::span<const std::uint8_t> directory);

// "73521" or "73688", from major.minor read as a decimal number.
std::string model_number(const FirmwareVersion& current);
// Model number + "_" + code + ".txt", such as 73521_VUNA0_00.txt.
std::string description_file_name(const FirmwareVersion& current);

// The FTP folder to use from here on. With the fifth text "WEX0" (any case) and
// a code of exactly two "_" parts, the first part is added as a subfolder
// unless the folder already contains it.
std::string folder_for_update(std::string_view folder, std::string_view fifth_text,
                              std::string_view code);

// True only for the same major number 1, the same family (0 or 1), and a higher
// minor, or the same minor and a higher patch. An unknown current version is
// never updated.
bool is_newer_firmware(const std::optional<FirmwareVersion>& current,
                       const FirmwareVersion& offered);

// For every history section newer than `current` (major, minor, patch
// compared in order), in file order: the section name, "- " + each note line,
// an empty line.
std::vector<std::string> release_notes(const ProfileFile& history, const FirmwareVersion& current);

// The question asked before anything is written to the watch.
std::string confirmation_message(const FirmwareVersion& offered);

// Key "0" of the update description: "<file name>,<size>".
struct OfferedFile {
    std::string file_name;       // the first element without blanks and tabs around it
    std::int32_t file_size = 0;  // the second element, converted like _wtoi
};
// nullopt when the value has fewer than two comma-separated elements.
std::optional<OfferedFile> split_offered_value(std::string_view value);
// The text after the last "." is exactly "fw2" (case counts).
bool has_firmware_extension(std::string_view file_name);
// The firmware file's name with its extension replaced by ".ini".
std::string settings_file_name(std::string_view firmware_file_name);
}  // namespace stridelog::update
