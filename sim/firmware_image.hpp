// Firmware update files as an update server offers them, made from the file
// format alone: the fw2 image (256-byte header, then the body), its settings
// file, the update description and the release-note history. Tests fill a
// loopback FTP folder with them, sound or broken on purpose, and compare the
// watch's flash after an update with the body they were given.
//
// Where the body goes on the watch: bytes 0..0x1FFF (boot block) to sectors
// 34..35, bytes 0x2000..0x1FFFF to the same flash addresses (sectors 2..31),
// bytes 0x20000..0x24FFF (language block, long images only) to sectors
// 244..248. The program image carries its own long version text at flash
// address kVersionRecordAddress, which the watch reads when it boots.
//
// Threads: pure functions and file writes; call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stridelog::sim {

inline constexpr std::size_t kFirmwareHeaderSize = 256;
inline constexpr std::size_t kFirmwareChecksumOffset = 108;  // LE32, not summed itself
inline constexpr std::uint32_t kFirmwareChecksumStart = 0x5AA53968;
inline constexpr std::size_t kShortBodySize = 0x20000;  // boot block and program sectors
inline constexpr std::size_t kLongBodySize = 0x25000;   // and the language block
inline constexpr std::size_t kShortFirmwareFileSize = kFirmwareHeaderSize + kShortBodySize;
inline constexpr std::size_t kLongFirmwareFileSize = kFirmwareHeaderSize + kLongBodySize;

inline constexpr std::size_t kBootBlockSize = 0x2000;
inline constexpr std::uint32_t kBootBlockAddress = 0x22000;   // sectors 34, 35
inline constexpr std::uint32_t kBootSumAddress = 0x24000;     // sector 36
inline constexpr std::uint32_t kProgramAddress = 0x2000;      // sectors 2..31
inline constexpr std::uint32_t kProgramEnd = 0x20000;         // exclusive
inline constexpr std::uint32_t kProgramSumAddress = 0x20000;  // sector 32
inline constexpr std::uint32_t kLanguageAddress = 0xF4000;    // sectors 244..248
inline constexpr std::size_t kLanguageBlockSize = 5 * 4096;

// The program image's own version: a tag, then the long version text
// (1.32.01_VUNA0_00 form), NUL-padded to 16 bytes.
inline constexpr std::uint32_t kVersionRecordAddress = 0x2100;
inline constexpr char kVersionTag[8] = {'S', 'L', 'F', 'W', 'V', 'E', 'R', '1'};
inline constexpr std::size_t kVersionTextSize = 16;

enum class FirmwareHeader { v1_0, v1_1, v1_2, v1_3 };

// What can be wrong with a firmware file. Each broken kind fails exactly one
// check: the others are kept right (the checksum is recomputed after a size or
// header change).
enum class FirmwareDamage {
    none,
    wrong_size,      // one byte appended (131,329 or 151,809 bytes)
    wrong_header,    // header text "<<Watch Firmware Header v1.4"
    wrong_checksum,  // stored checksum off by one
    short_file,      // cut off in the middle of the body
    body_byte,       // one body byte changed after the checksum was taken
};

struct FirmwareOptions {
    std::string version = "1.32.01_VUNA0_00";  // long version text, at most 16 characters
    FirmwareHeader header = FirmwareHeader::v1_1;
    // File size; unset: 131,328 for a v1.0 header, 151,808 otherwise.
    std::optional<std::size_t> file_size;
    // Header text in upper case (still accepted: the text is compared without case).
    bool upper_case_header = false;
    FirmwareDamage damage = FirmwareDamage::none;
    std::uint32_t seed = 1;  // body content
};

// The checksum of a whole firmware file: V = 0x5AA53968, then for every byte
// outside offsets 108..111, V = rotl(V, 8) ^ byte.
std::uint32_t firmware_file_checksum(std::span<const std::uint8_t> file);

// The full body (kLongBodySize bytes, whatever the header: a v1.0 file uses the
// first kShortBodySize) with the version record in place.
std::vector<std::uint8_t> make_firmware_body(const std::string& version, std::uint32_t seed);

// The fw2 file of `options`.
std::vector<std::uint8_t> make_firmware_file(const FirmwareOptions& options);

// Sum of bytes modulo 65536: over the boot block, over the program sectors.
std::uint16_t boot_block_sum(std::span<const std::uint8_t> body);
std::uint16_t program_sum(std::span<const std::uint8_t> body);

// The model number an update server files a version under: 73688 for 1.3x,
// 73521 otherwise.
std::string model_for_version(const std::string& version);

struct CustomerSettings {
    int time_format = 1;
    int unit_format = 0;
    int language = 2;
    int timezone = 45;
};

struct HistoryEntry {
    std::string version;  // dotted, such as 1.32.01
    std::vector<std::string> notes;
};

// One update folder: description, history, settings file and firmware file.
struct FirmwareFolder {
    FirmwareOptions firmware;
    std::string model;  // empty: model_for_version(firmware.version)
    bool with_history = true;
    std::vector<HistoryEntry> history;  // empty: one older entry and the offered one
    bool with_settings = true;
    CustomerSettings settings;
    // Write the firmware file under a name with this extension instead of fw2.
    std::string extension = "fw2";
};

// Names of what was written, and the body the image carries.
struct WrittenFirmwareFolder {
    std::string description;  // such as 73688_VUNA0_00.txt
    std::string history;      // empty when not written
    std::string settings;     // empty when not written
    std::string firmware;     // such as 1.32.01_VUNA0_00.fw2
    std::size_t firmware_size = 0;
    std::vector<std::uint8_t> body;
};

// Writes the files of `folder` into the existing directory `dir`.
bool write_firmware_folder(const std::string& dir, const FirmwareFolder& folder,
                           WrittenFirmwareFolder* written, std::string* error);

}  // namespace stridelog::sim
