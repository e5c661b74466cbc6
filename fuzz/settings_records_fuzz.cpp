// The settings and views records from arbitrary bytes: the first 4096 as the
// directory image, the next 128 as the identity block, and the rest as the
// host's records applied to the image. Nothing may read or write outside the
// buffers, whatever the watch or the host sent.
#include "fuzz_target.hpp"
#include "watchdata/settings_format.hpp"
#include "watchdata/views_format.hpp"

using namespace stridelog::watchdata;

FUZZ_TARGET(input) {
    // Images shorter than a sector are exercised too, as they are.
    const auto head = input.first(std::min<std::size_t>(input.size(), 4096));
    stridelog::fuzz::Bytes image(head.begin(), head.end());
    const auto rest = input.subspan(image.size());
    const auto identity = rest.first(std::min<std::size_t>(rest.size(), 128));
    const float version = input.empty() ? 1.3f : 1.0f + static_cast<float>(input[0]) / 100.0f;
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
}
