// The small blocks: version texts (0x2000, 0x2001, 0x2016), the port list
// (0x2015), a flash sector (0x2021), progress (0x2022, 0x2023) and the A-GPS
// expiry date (0x2018).
#include <bit>
#include <charconv>
#include <cmath>

#include "byte_order.hpp"
#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog::hostkit {
namespace {

using detail::le32;

// Longest texts: the SDK's own is 19 characters; the watch's version text
// comes in one reply frame of at most 200 payload bytes, the id among them;
// the long version text is 16 flash bytes.
constexpr std::size_t kMaxSdkVersionText = 64;
constexpr std::size_t kMaxWatchVersionText = 199;
constexpr std::size_t kMaxLongVersionText = 16;
constexpr const char* kErasedLongVersion = "<FF>";
constexpr const char* kVersionPrefix = "Ver";

constexpr std::size_t kCountSize = 4;  // the port list's name count
constexpr std::size_t kPercentSize = 4;
constexpr std::size_t kPhaseProgressSize = 8;
constexpr std::size_t kAgpsExpirySize = 3;

std::string size_text(std::size_t size) {
    return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

// A text block: ASCII without a terminating (or any) NUL, 1 .. max bytes.
Result<std::string> read_text(const char* what, Bytes block, std::size_t max) {
    if (block.empty()) return Error{std::string(what) + " block is empty"};
    if (block.size() > max)
        return Error{std::string(what) + " block of " + size_text(block.size()) + ", more than " +
                     std::to_string(max)};
    for (std::size_t i = 0; i < block.size(); ++i)
        if (block[i] == 0)
            return Error{std::string(what) + " block holds a NUL at byte " + std::to_string(i)};
    return std::string(block.begin(), block.end());
}

// A percentage as the SDK posts it: a float from 0 to 100.
Result<float> read_percent(const char* what, Bytes bytes) {
    const float percent = std::bit_cast<float>(le32(bytes, 0));
    if (!std::isfinite(percent) || percent < 0.0f || percent > 100.0f)
        return Error{std::string(what) + " of " + std::to_string(percent) + " %, outside 0 .. 100"};
    return percent;
}

// Leading decimal digits, as the firmware's own version parser reads them:
// anything else counts as 0.
int leading_number(std::string_view text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value < 0 ? 0 : value;
}

}  // namespace

Result<SdkVersion> parse_sdk_version_block(Bytes block) {
    auto text = read_text("SDK version", block, kMaxSdkVersionText);
    if (!text) return Error{text.error()};
    const std::size_t comma = text->find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == text->size() ||
        text->find(',', comma + 1) != std::string::npos)
        return Error{"SDK version \"" + *text + "\" is not <product>,<version>"};
    return SdkVersion{*text, text->substr(0, comma), text->substr(comma + 1)};
}

Result<WatchVersion> parse_watch_version_block(Bytes block) {
    auto text = read_text("watch version", block, kMaxWatchVersionText);
    if (!text) return Error{text.error()};
    WatchVersion version{*text, std::nullopt};
    std::string_view digits = version.text;
    const bool prefixed = digits.starts_with(kVersionPrefix);
    if (prefixed) digits.remove_prefix(std::char_traits<char>::length(kVersionPrefix));
    double number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number,
                                           std::chars_format::fixed);
    // "Ver1.30 beta" names 1.30; a bare text must be the number and nothing else.
    if (ec == std::errc() && (prefixed || end == digits.data() + digits.size()))
        version.number = number;
    return version;
}

Result<LongVersion> parse_long_version_block(Bytes block) {
    auto text = read_text("long version", block, kMaxLongVersionText);
    if (!text) return Error{text.error()};
    LongVersion version;
    version.text = *text;
    version.erased = version.text == kErasedLongVersion;
    const std::size_t underscore = version.text.find('_');
    if (version.erased || underscore == std::string::npos) return version;
    FirmwareVersion firmware;
    firmware.code = version.text.substr(underscore + 1);
    int* const parts[] = {&firmware.major, &firmware.minor, &firmware.patch};
    std::string_view numbers = std::string_view(version.text).substr(0, underscore);
    for (int* part : parts) {
        const std::size_t dot = numbers.find('.');
        *part = leading_number(numbers.substr(0, dot));
        if (dot == std::string_view::npos) break;
        numbers.remove_prefix(dot + 1);
    }
    version.firmware = firmware;
    return version;
}

Result<PortList> parse_port_list_block(Bytes block) {
    if (block.size() < kCountSize)
        return Error{"port list of " + size_text(block.size()) + " has no count"};
    const std::uint32_t count = le32(block, 0);
    // Each name takes at least its terminating zero unit.
    if (count > (block.size() - kCountSize) / 2)
        return Error{"port list of " + size_text(block.size()) + " cannot hold its " +
                     std::to_string(count) + " names"};
    PortList list;
    std::size_t at = kCountSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t end = at;
        while (end + 1 < block.size() && (block[end] != 0 || block[end + 1] != 0)) end += 2;
        if (end + 1 >= block.size())
            return Error{"port list name " + std::to_string(i) + " runs past the block's end"};
        list.names.push_back(utf16le_to_utf8(block.subspan(at, end - at)));
        at = end + 2;
    }
    if (at != block.size())
        return Error{"port list of " + size_text(block.size()) + " has " +
                     size_text(block.size() - at) + " after its " + std::to_string(count) +
                     " names"};
    return list;
}

Result<FlashSector> parse_sector_block(Bytes block) {
    if (block.size() != kSectorSize)
        return Error{"sector block of " + size_text(block.size()) + ", not " +
                     std::to_string(kSectorSize)};
    FlashSector sector;
    std::copy(block.begin(), block.end(), sector.bytes.begin());
    return sector;
}

Result<Progress> parse_progress_block(Bytes block) {
    if (block.size() != kPercentSize)
        return Error{"progress block of " + size_text(block.size()) + ", not " +
                     std::to_string(kPercentSize)};
    const auto percent = read_percent("progress", block);
    if (!percent) return Error{percent.error()};
    return Progress{*percent};
}

Result<PhaseProgress> parse_phase_progress_block(Bytes block) {
    if (block.size() != kPhaseProgressSize)
        return Error{"phase progress block of " + size_text(block.size()) + ", not " +
                     std::to_string(kPhaseProgressSize)};
    const std::uint32_t phase = le32(block, 0);
    if (phase > kPhaseFirmwareTransfer)
        return Error{"phase progress of phase " + std::to_string(phase) + ", not 0 .. 4"};
    const auto percent = read_percent("phase progress", block.subspan(kPercentSize));
    if (!percent) return Error{percent.error()};
    return PhaseProgress{phase, *percent};
}

Result<AgpsExpiry> parse_agps_loaded_block(Bytes block) {
    if (block.size() != kAgpsExpirySize)
        return Error{"A-GPS expiry block of " + size_text(block.size()) + ", not " +
                     std::to_string(kAgpsExpirySize)};
    AgpsExpiry expiry;
    expiry.bytes = detail::array_at<kAgpsExpirySize>(block, 0);
    if (!expiry.unknown() && !expiry.date())
        return Error{"A-GPS expiry bytes " + detail::hex(block) +
                     " are neither a date nor unknown (ffffff)"};
    return expiry;
}

}  // namespace stridelog::hostkit
