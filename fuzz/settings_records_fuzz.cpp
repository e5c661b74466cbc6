// The settings and views records from arbitrary bytes: the first 4096 as the
// directory image, the next 128 as the identity block, and the rest as the
// host's records applied to the image. Nothing may read or write outside the
// buffers, whatever the watch or the host sent.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "watchdata/settings_format.hpp"
#include "watchdata/views_format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace stridelog::watchdata;
    const std::span<const std::uint8_t> input(data, size);
    // Images shorter than a sector are exercised too, as they are.
    std::vector<std::uint8_t> image(input.begin(),
                                    input.begin() + std::min<std::size_t>(size, 4096));
    const auto rest = input.subspan(image.size());
    const auto identity = rest.first(std::min<std::size_t>(rest.size(), 128));
    const float version = size > 0 ? 1.0f + static_cast<float>(data[0]) / 100.0f : 1.3f;
    const bool extended = uses_extended_settings(version, image);
    (void)build_settings_record(image, identity, 12.5f, extended);
    (void)build_views_record(image);
    const auto records = rest.subspan(identity.size());
    if (records.size() >= kSettingsRecordSize) {
        apply_settings_record(image, records.first<kSettingsRecordSize>(), extended,
                              settings_checksum_length(version));
    }
    if (records.size() >= kViewsRecordSize) {
        apply_views_record(image, records.first<kViewsRecordSize>());
        write_settings_checksum(image, kSettingsBlockSize);
    }
    return 0;
}
