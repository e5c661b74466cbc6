#include "update/firmware_image.hpp"

#include <algorithm>
#include <bit>
#include <fstream>
#include <numeric>
#include <string_view>
#include <system_error>

namespace stridelog::update {
namespace {

constexpr std::u16string_view kHeaderTexts[] = {
    u"<<Watch Firmware Header v1.0",
    u"<<Watch Firmware Header v1.1",
    u"<<Watch Firmware Header v1.2",
    u"<<Watch Firmware Header v1.3",
};

constexpr std::uint32_t kProgramFirstSector = 2;
constexpr std::size_t kBootBlockSectors = kBootBlockLength / kSectorBytes;
constexpr std::size_t kLanguageSectors = (kLanguageEnd - kLanguageStart) / kSectorBytes;

char16_t fold(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

std::uint32_t read_le32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
           std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

bool is_accepted_size(std::size_t size) {
    return size == kProgramOnlyFileSize || size == kFullFileSize;
}

}  // namespace

std::uint8_t header_flag(HeaderVersion version) {
    return version == HeaderVersion::k1_0 ? 0 : 1;
}

std::size_t body_length_for(std::uint8_t flag) {
    return flag == 0 ? kProgramOnlyBodyLength : kFullBodyLength;
}

std::optional<HeaderVersion> header_version(std::span<const std::uint8_t> header) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < std::min(header.size(), kHeaderTextBytes); i += 2) {
        const auto c = static_cast<char16_t>(header[i] | header[i + 1] << 8);
        if (c == u'\0') break;
        text.push_back(fold(c));
    }
    for (std::size_t minor = 0; minor < std::size(kHeaderTexts); ++minor) {
        if (std::ranges::equal(text, kHeaderTexts[minor], {}, {}, fold)) {
            return static_cast<HeaderVersion>(minor);
        }
    }
    return std::nullopt;
}

std::uint32_t firmware_file_checksum(std::span<const std::uint8_t> file) {
    std::uint32_t value = kChecksumStart;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (i >= kChecksumOffset && i < kChecksumOffset + 4) continue;
        value = std::rotl(value, 8) ^ file[i];
    }
    return value;
}

ImageCheck check_firmware_file(std::span<const std::uint8_t> file) {
    ImageCheck check;
    if (!is_accepted_size(file.size())) {
        check.fault = ImageFault::bad_size;
        return check;
    }
    const std::optional<HeaderVersion> version = header_version(file.first(kFirmwareHeaderSize));
    if (!version) {
        check.fault = ImageFault::bad_header;
        return check;
    }
    check.version = *version;
    check.header_flag = header_flag(*version);
    check.body_length = body_length_for(check.header_flag);
    // The language block would have to come from past the end of the file.
    if (kFirmwareHeaderSize + check.body_length > file.size()) {
        check.fault = ImageFault::no_language_block;
        return check;
    }
    if (firmware_file_checksum(file) != read_le32(file, kChecksumOffset)) {
        check.fault = ImageFault::bad_checksum;
    }
    return check;
}

std::optional<std::vector<std::uint8_t>> load_firmware_body(const std::filesystem::path& file,
                                                            std::size_t body_length) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    in.seekg(static_cast<std::streamoff>(kFirmwareHeaderSize));
    std::vector<std::uint8_t> body(body_length);
    in.read(reinterpret_cast<char*>(body.data()), static_cast<std::streamsize>(body_length));
    if (static_cast<std::size_t>(in.gcount()) != body_length) return std::nullopt;
    return body;
}

LoadedFirmware load_firmware_file(const std::filesystem::path& file) {
    LoadedFirmware loaded;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error) {
        loaded.check.fault = ImageFault::unreadable;
        return loaded;
    }
    if (size > kFullFileSize) {
        loaded.check.fault = ImageFault::bad_size;
        return loaded;
    }
    // One read feeds both the checksum and the body, so the bytes written are
    // the bytes checked even if the file changes meanwhile.
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!in) {
        loaded.check.fault = ImageFault::unreadable;
        return loaded;
    }
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::size_t>(in.gcount()) != bytes.size()) {
        loaded.check.fault = ImageFault::unreadable;
        return loaded;
    }
    loaded.check = check_firmware_file(bytes);
    if (loaded.check.fault != ImageFault::none) return loaded;
    const auto body_begin = bytes.begin() + static_cast<std::ptrdiff_t>(kFirmwareHeaderSize);
    loaded.body.assign(body_begin,
                       body_begin + static_cast<std::ptrdiff_t>(loaded.check.body_length));
    return loaded;
}

std::uint16_t byte_sum16(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint16_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

std::uint16_t boot_block_sum(std::span<const std::uint8_t> body) {
    return byte_sum16(body.first(kBootBlockLength));
}

std::uint16_t program_sum(std::span<const std::uint8_t> body) {
    return byte_sum16(body.subspan(kProgramStart, kProgramEnd - kProgramStart));
}

std::array<std::uint8_t, kSectorBytes> boot_sum_sector(std::span<const std::uint8_t> body) {
    std::array<std::uint8_t, kSectorBytes> sector;
    sector.fill(0xFF);
    const std::uint16_t sum = boot_block_sum(body);
    sector[0] = static_cast<std::uint8_t>(sum & 0xFF);
    sector[1] = static_cast<std::uint8_t>(sum >> 8);
    return sector;
}

std::vector<SectorPlacement> firmware_sector_map(std::size_t body_length) {
    std::vector<SectorPlacement> map;
    for (std::size_t i = 0; i < kBootBlockSectors; ++i) {
        map.push_back({kBootBlockSector + static_cast<std::uint32_t>(i), i * kSectorBytes});
    }
    if (body_length >= kLanguageEnd) {
        for (std::size_t i = 0; i < kLanguageSectors; ++i) {
            map.push_back({kLanguageSector + static_cast<std::uint32_t>(i),
                           kLanguageStart + i * kSectorBytes});
        }
    }
    for (std::size_t offset = kProgramStart; offset < kProgramEnd; offset += kSectorBytes) {
        map.push_back({static_cast<std::uint32_t>(offset / kSectorBytes), offset});
    }
    static_assert(kProgramStart / kSectorBytes == kProgramFirstSector);
    return map;
}

}  // namespace stridelog::update
