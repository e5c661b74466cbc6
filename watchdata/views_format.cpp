#include "watchdata/views_format.hpp"

#include <algorithm>

#include "watchdata/watch_charset.hpp"

namespace stridelog::watchdata {
namespace {

constexpr std::size_t kNameUnits = 10;
constexpr std::size_t kRecordNamesOffset = kViewRecordsSize;
constexpr std::size_t kRecordNameBytes = 2 * kNameUnits;

}  // namespace

ViewsRecord build_views_record(std::span<const std::uint8_t> directory) {
    ViewsRecord r{};
    if (directory.size() < kViewNamesOffset + kViewCount * kViewNameBytes) return r;
    std::copy_n(directory.begin() + kViewRecordsOffset, kViewRecordsSize, r.begin());
    for (std::size_t v = 0; v < kViewCount; ++v) {
        const auto name = directory.subspan(kViewNamesOffset + kViewNameBytes * v, kViewNameBytes);
        for (std::size_t i = 0; i < name.size() && name[i] != 0; ++i) {
            const char16_t c = from_watch_byte(name[i]);
            const std::size_t at = kRecordNamesOffset + kRecordNameBytes * v + 2 * i;
            r[at] = static_cast<std::uint8_t>(c & 0xFF);
            r[at + 1] = static_cast<std::uint8_t>(c >> 8);
        }
    }
    return r;
}

void apply_views_record(std::span<std::uint8_t> directory,
                        std::span<const std::uint8_t, kViewsRecordSize> record) {
    if (directory.size() < kViewNamesOffset + kViewCount * kViewNameBytes) return;
    std::copy_n(record.begin(), kViewRecordsSize, directory.begin() + kViewRecordsOffset);
    for (std::size_t v = 0; v < kViewCount; ++v) {
        const auto name = directory.subspan(kViewNamesOffset + kViewNameBytes * v, kViewNameBytes);
        std::fill(name.begin(), name.end(), std::uint8_t{0});
        for (std::size_t i = 0; i < kNameUnits; ++i) {
            const std::size_t at = kRecordNamesOffset + kRecordNameBytes * v + 2 * i;
            const char16_t c = static_cast<char16_t>(record[at] | record[at + 1] << 8);
            if (c == 0) break;
            name[i] = to_watch_char(c);
        }
    }
}

}  // namespace stridelog::watchdata
