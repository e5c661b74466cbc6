// The views record both ways over arbitrary bytes: the watch's directory image
// to the host's 145-byte record, and a host record into the image. The view
// bytes travel unchanged, names stay in their ten-byte fields, and nothing
// else in the image is touched.
#include "fuzz_target.hpp"
#include "watchdata/views_format.hpp"

using namespace stridelog::watchdata;
using stridelog::fuzz::check;

FUZZ_TARGET(input) {
    if (input.size() < kViewsRecordSize) return;
    const auto host = input.first<kViewsRecordSize>();
    const auto rest = input.subspan(kViewsRecordSize);
    stridelog::fuzz::Bytes image(4096, 0xFF);
    for (std::size_t i = 0; !rest.empty() && i < image.size(); ++i)
        image[i] = rest[i % rest.size()];
    const auto views = [](const auto& bytes) {
        return std::span(bytes).subspan(kViewRecordsOffset, kViewRecordsSize);
    };
    const auto from_watch = build_views_record(image);
    check(std::ranges::equal(std::span(from_watch).first(kViewRecordsSize), views(image)));

    const auto before = image;
    apply_views_record(image, host);
    const std::size_t names_end = kViewNamesOffset + kViewCount * kViewNameBytes;
    for (std::size_t i = 0; i < image.size(); ++i) {
        const bool written =
            (i >= kViewRecordsOffset && i < kViewRecordsOffset + kViewRecordsSize) ||
            (i >= kViewNamesOffset && i < names_end);
        check(written || image[i] == before[i]);
    }
    const auto back = build_views_record(image);
    check(
        std::ranges::equal(std::span(back).first(kViewRecordsSize), host.first(kViewRecordsSize)));

    // A short image is left alone.
    stridelog::fuzz::Bytes short_image(rest.begin(),
                                       rest.begin() + std::min<std::size_t>(rest.size(), 2000));
    const auto copy = short_image;
    apply_views_record(short_image, host);
    check(short_image == copy);
}
