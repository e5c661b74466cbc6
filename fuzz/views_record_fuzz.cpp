// The views record both ways over arbitrary bytes: the watch's directory image
// to the host's 145-byte record, and a host record into the image. The view
// bytes travel unchanged, names stay in their ten-byte fields, and nothing
// else in the image is touched.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "watchdata/views_format.hpp"

namespace wd = stridelog::watchdata;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < wd::kViewsRecordSize) return 0;
    const std::span<const std::uint8_t> input(data, size);
    const auto host = input.first<wd::kViewsRecordSize>();
    const auto rest = input.subspan(wd::kViewsRecordSize);
    std::vector<std::uint8_t> image(4096);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = rest.empty() ? 0xFF : rest[i % rest.size()];

    const auto from_watch = wd::build_views_record(image);
    if (!std::equal(from_watch.begin(), from_watch.begin() + wd::kViewRecordsSize,
                    image.begin() + wd::kViewRecordsOffset))
        __builtin_trap();

    const std::vector<std::uint8_t> before = image;
    wd::apply_views_record(image, host);
    const std::size_t names_end = wd::kViewNamesOffset + wd::kViewCount * wd::kViewNameBytes;
    for (std::size_t i = 0; i < image.size(); ++i) {
        const bool views = i >= wd::kViewRecordsOffset &&
                           i < wd::kViewRecordsOffset + wd::kViewRecordsSize;
        const bool names = i >= wd::kViewNamesOffset && i < names_end;
        if (!views && !names && image[i] != before[i]) __builtin_trap();
    }
    const auto back = wd::build_views_record(image);
    if (!std::equal(back.begin(), back.begin() + wd::kViewRecordsSize, host.begin()))
        __builtin_trap();

    // A short image is left alone.
    std::vector<std::uint8_t> short_image(rest.begin(), rest.begin() + std::min<std::size_t>(rest.size(), 2000));
    const auto copy = short_image;
    wd::apply_views_record(short_image, host);
    if (short_image != copy) __builtin_trap();
    return 0;
}
