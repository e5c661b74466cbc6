#include "sim/firmware_image.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace stridelog::sim {
namespace {

constexpr const char* kHeaderTexts[] = {
    "<<Watch Firmware Header v1.0",
    "<<Watch Firmware Header v1.1",
    "<<Watch Firmware Header v1.2",
    "<<Watch Firmware Header v1.3",
};
constexpr const char* kBadHeaderText = "<<Watch Firmware Header v1.4";
constexpr std::size_t kChecksumSize = 4;
constexpr const char* kSettingsSection = "Stride Log 73521";
constexpr const char* kDescriptionSection = "Method1";
constexpr const char* kLineEnd = "\r\n";

std::uint32_t next_random(std::uint32_t& state) {
    // xorshift32: cheap, repeatable content that is nowhere near all 0xFF.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void put_le32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_le32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

void put_header_text(std::vector<std::uint8_t>& file, const std::string& text) {
    std::fill(file.begin(), file.begin() + kFirmwareChecksumOffset, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        file[2 * i] = static_cast<std::uint8_t>(text[i]);  // UTF-16LE of ASCII
        file[2 * i + 1] = 0;
    }
}

void store_checksum(std::vector<std::uint8_t>& file) {
    if (file.size() >= kFirmwareChecksumOffset + kChecksumSize)
        put_le32(file, kFirmwareChecksumOffset, firmware_file_checksum(file));
}

std::uint16_t sum16(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

// The dotted part of a long version text: 1.32.01 of 1.32.01_VUNA0_00.
std::string dotted(const std::string& version) {
    return version.substr(0, version.find('_'));
}

// The code part: VUNA0_00 of 1.32.01_VUNA0_00.
std::string code(const std::string& version) {
    const auto at = version.find('_');
    return at == std::string::npos ? std::string{} : version.substr(at + 1);
}

std::vector<int> numbers(const std::string& dotted_text) {
    std::vector<int> out;
    std::size_t from = 0;
    while (from <= dotted_text.size()) {
        const auto dot = dotted_text.find('.', from);
        out.push_back(std::atoi(dotted_text.substr(from, dot - from).c_str()));
        if (dot == std::string::npos) break;
        from = dot + 1;
    }
    while (out.size() < 3) out.push_back(0);
    return out;
}

std::vector<HistoryEntry> default_history(const std::string& version) {
    const std::vector<int> n = numbers(dotted(version));
    char older[32];
    if (n[2] > 0) {
        std::snprintf(older, sizeof older, "%d.%02d.00", n[0], n[1]);
    } else {
        std::snprintf(older, sizeof older, "%d.%02d.00", n[0], std::max(0, n[1] - 1));
    }
    return {
        {older, {"Longer battery life in GPS mode"}},
        {dotted(version), {"Faster first fix with A-GPS data", "Lap times shown for 10 s"}},
    };
}

bool write_text(const std::filesystem::path& path, const std::string& text, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (out.good()) return true;
    if (error != nullptr) *error = "cannot write " + path.string();
    return false;
}

}  // namespace

std::uint32_t firmware_file_checksum(std::span<const std::uint8_t> file) {
    std::uint32_t v = kFirmwareChecksumStart;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (i >= kFirmwareChecksumOffset && i < kFirmwareChecksumOffset + kChecksumSize) continue;
        v = ((v << 8) | (v >> 24)) ^ file[i];
    }
    return v;
}

std::vector<std::uint8_t> make_firmware_body(const std::string& version, std::uint32_t seed) {
    std::vector<std::uint8_t> body(kLongBodySize);
    std::uint32_t state = seed == 0 ? 0x9E3779B9u : seed;
    for (auto& b : body) b = static_cast<std::uint8_t>(next_random(state) >> 24);
    auto record = body.begin() + kVersionRecordAddress;
    record = std::copy(std::begin(kVersionTag), std::end(kVersionTag), record);
    std::fill_n(record, kVersionTextSize, 0);
    std::copy_n(version.begin(), std::min(version.size(), kVersionTextSize), record);
    return body;
}

std::vector<std::uint8_t> make_firmware_file(const FirmwareOptions& options) {
    const auto header = static_cast<std::size_t>(options.header);
    const std::size_t natural =
        options.header == FirmwareHeader::v1_0 ? kShortFirmwareFileSize : kLongFirmwareFileSize;
    const std::size_t size = options.file_size.value_or(natural);

    std::vector<std::uint8_t> file(kFirmwareHeaderSize, 0);
    const std::vector<std::uint8_t> body = make_firmware_body(options.version, options.seed);
    file.insert(file.end(), body.begin(), body.end());
    // One byte too many is the body's next byte where it has one.
    const std::size_t extra = options.damage == FirmwareDamage::wrong_size ? 1 : 0;
    file.resize(std::max(size, kFirmwareHeaderSize) + extra, 0xFF);

    std::string text =
        options.damage == FirmwareDamage::wrong_header ? kBadHeaderText : kHeaderTexts[header];
    if (options.upper_case_header)
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    put_header_text(file, text);

    switch (options.damage) {
        case FirmwareDamage::wrong_size:
            store_checksum(file);
            break;
        case FirmwareDamage::wrong_checksum:
            store_checksum(file);
            put_le32(file, kFirmwareChecksumOffset, get_le32(file, kFirmwareChecksumOffset) + 1);
            break;
        case FirmwareDamage::short_file:
            store_checksum(file);  // of the whole file, as the server meant it
            file.resize(kFirmwareHeaderSize + kShortBodySize / 2);
            break;
        case FirmwareDamage::body_byte:
            store_checksum(file);
            file[kFirmwareHeaderSize + 0x3000] ^= 0x40;
            break;
        case FirmwareDamage::none:
        case FirmwareDamage::wrong_header:
            store_checksum(file);
            break;
    }
    return file;
}

std::uint16_t boot_block_sum(std::span<const std::uint8_t> body) {
    return sum16(body.first(kBootBlockSize));
}

std::uint16_t program_sum(std::span<const std::uint8_t> body) {
    return sum16(body.subspan(kProgramAddress, kProgramEnd - kProgramAddress));
}

std::string model_for_version(const std::string& version) {
    const std::vector<int> n = numbers(dotted(version));
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d", n[0], n[1]);
    const double value = std::strtod(text, nullptr);
    return value >= 1.3 && value < 1.4 ? "73688" : "73521";
}

bool write_firmware_folder(const std::string& dir, const FirmwareFolder& folder,
                           WrittenFirmwareFolder* written, std::string* error) {
    namespace fs = std::filesystem;
    const fs::path root(dir);
    const std::string& version = folder.firmware.version;
    const std::string model = folder.model.empty() ? model_for_version(version) : folder.model;
    WrittenFirmwareFolder out;
    out.description = model + "_" + code(version) + ".txt";
    out.firmware = version + "." + folder.extension;

    const std::vector<std::uint8_t> file = make_firmware_file(folder.firmware);
    out.firmware_size = file.size();
    out.body = make_firmware_body(version, folder.firmware.seed);
    {
        std::ofstream image(root / out.firmware, std::ios::binary | std::ios::trunc);
        image.write(reinterpret_cast<const char*>(file.data()),
                    static_cast<std::streamsize>(file.size()));
        if (!image.good()) {
            if (error != nullptr) *error = "cannot write " + (root / out.firmware).string();
            return false;
        }
    }

    std::string description = std::string("[") + kDescriptionSection + "]" + kLineEnd +
                              "0=" + out.firmware + "," + std::to_string(out.firmware_size) +
                              kLineEnd;
    if (folder.with_history) {
        out.history = model + "_" + code(version) + "_history.txt";
        description += "History=" + out.history + kLineEnd;
        std::string history;
        const auto entries = folder.history.empty() ? default_history(version) : folder.history;
        for (const HistoryEntry& entry : entries) {
            history += "[" + entry.version + "]" + kLineEnd;
            for (std::size_t i = 0; i < entry.notes.size(); ++i)
                history += std::to_string(i) + "=" + entry.notes[i] + kLineEnd;
            history += kLineEnd;
        }
        if (!write_text(root / out.history, history, error)) return false;
    }
    if (!write_text(root / out.description, description, error)) return false;

    if (folder.with_settings) {
        out.settings = out.firmware.substr(0, out.firmware.rfind('.')) + ".ini";
        const CustomerSettings& s = folder.settings;
        const std::string settings = std::string("[") + kSettingsSection + "]" + kLineEnd +
                                     "TimeFormat=" + std::to_string(s.time_format) + kLineEnd +
                                     "UnitFormat=" + std::to_string(s.unit_format) + kLineEnd +
                                     "Language=" + std::to_string(s.language) + kLineEnd +
                                     "Timezone=" + std::to_string(s.timezone) + kLineEnd;
        if (!write_text(root / out.settings, settings, error)) return false;
    }
    if (written != nullptr) *written = std::move(out);
    return true;
}

}  // namespace stridelog::sim
