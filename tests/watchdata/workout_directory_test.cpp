// The session runs and the usage bitmap read from directory images.
#include "watchdata/workout_directory.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace stridelog::watchdata {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes image_bytes(const Bytes& runs) {
    Bytes image(4096, 0xFF);
    std::copy(runs.begin(), runs.end(), image.begin() + 256);
    return image;
}

TEST(WorkoutDirectory, SessionRuns) {
    struct Case {
        const char* legend;
        Bytes image;
        std::vector<Bytes> sessions;
    };
    Bytes to_the_end(4096, 0x07);  // a run never closed, up to the sector's end
    const Case cases[] = {
        {"05 06 FF 09 FF FF: two sessions",
         image_bytes({5, 6, 0xFF, 9, 0xFF, 0xFF}),
         {{5, 6}, {9}}},
        {"a leading FF: none", image_bytes({0xFF, 5, 0xFF}), {}},
        {"sector 0 in a run is a sector like any other", image_bytes({0, 0xFF}), {{0}}},
        {"a run never closed is no session", to_the_end, {}},
        {"a run closed by the sector's last byte",
         [] {
             Bytes image(4096, 0x03);
             image[4095] = 0xFF;
             return image;
         }(),
         {Bytes(4096 - 256 - 1, 0x03)}},
        {"an image shorter than the directory", Bytes(300, 0x05), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(read_workout_directory(c.image).sessions, c.sessions);
    }
}

TEST(WorkoutDirectory, UsedSpace) {
    auto with_used = [](int first, int last) {
        Bytes image(4096, 0xFF);
        for (int s = first; s <= last; ++s)
            image[224 + s / 8] &= static_cast<std::uint8_t>(~(1u << (s % 8)));
        return image;
    };
    // What the reserve and sector 0 count is pinned through the SDK (tests/e2e/settings_test.cpp).
    EXPECT_FLOAT_EQ(used_space_percent(with_used(0, 255), -1), 100.0f) << "never above 100";
    EXPECT_FLOAT_EQ(used_space_percent(with_used(1, 81), 0), 81.0f * 100.0f / 243.0f);
}

}  // namespace
}  // namespace stridelog::watchdata
