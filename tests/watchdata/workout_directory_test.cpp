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
    struct Case {
        const char* legend;
        Bytes image;
        int status_flag;
        float percent;
    };
    const Case cases[] = {
        {"1..243 in use", with_used(1, 243), 0, 100.0f},
        {"1..229 in use, large reserve", with_used(1, 229), 1, 100.0f},
        {"everything in use, large reserve: still 100", with_used(0, 255), -1, 100.0f},
        {"none", with_used(1, 0), 0, 0.0f},
        {"sector 0 and the tail do not count", with_used(230, 255), 1, 0.0f},
        {"81 of 243", with_used(1, 81), 0, 81.0f * 100.0f / 243.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_FLOAT_EQ(used_space_percent(c.image, c.status_flag), c.percent);
    }
    EXPECT_TRUE(read_workout_directory(with_used(3, 3)).in_use[3]);
    EXPECT_FALSE(read_workout_directory(with_used(3, 3)).in_use[4]);
}

}  // namespace
}  // namespace stridelog::watchdata
