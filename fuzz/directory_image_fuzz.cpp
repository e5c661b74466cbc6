// The directory formats over arbitrary sector bytes: nothing may read past the
// image, whatever its size or content.
#include "fuzz_target.hpp"
#include "watchdata/directory_image.hpp"

FUZZ_TARGET(input) {
    using namespace stridelog::watchdata;
    stridelog::fuzz::check(long_version_text(input).size() <= kLongVersionSize);
}
