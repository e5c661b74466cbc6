#include "watchdata/workout_directory.hpp"

#include <algorithm>

#include "watchdata/directory_image.hpp"

namespace stridelog::watchdata {
namespace {

constexpr int kLastWorkoutSector = 243;
constexpr int kLastWorkoutSectorLargeReserve = 229;

}  // namespace

WorkoutDirectory read_workout_directory(std::span<const std::uint8_t> image) {
    WorkoutDirectory directory;
    if (image.size() >= kUsageBitmapOffset + kUsageBitmapSize) {
        for (std::size_t sector = 0; sector < directory.in_use.size(); ++sector) {
            const std::uint8_t byte = image[kUsageBitmapOffset + sector / 8];
            directory.in_use[sector] = (byte & (1u << (sector % 8))) == 0;
        }
    }
    std::vector<std::uint8_t> run;
    const std::size_t end = std::min(image.size(), kSectorSize);
    for (std::size_t at = kWorkoutDirectoryOffset; at < end; ++at) {
        const std::uint8_t value = image[at];
        if (value != kRunEnd) {
            run.push_back(value);
        } else if (!run.empty()) {
            directory.sessions.push_back(std::move(run));
            run.clear();
        } else {
            break;
        }
    }
    // A run still open at the sector's end has no closing 0xFF: not a session.
    return directory;
}

float used_space_percent(std::span<const std::uint8_t> image, int status_flag) {
    const int last = status_flag != 0 ? kLastWorkoutSectorLargeReserve : kLastWorkoutSector;
    const WorkoutDirectory directory = read_workout_directory(image);
    int used = 0;
    for (int sector = 1; sector <= last; ++sector)
        if (directory.in_use[static_cast<std::size_t>(sector)]) ++used;
    const float percent = static_cast<float>(used) * 100.0f / static_cast<float>(last);
    return std::clamp(percent, 0.0f, 100.0f);
}

void clear_workout_directory(std::span<std::uint8_t> image, int status_flag) {
    if (image.size() < kWorkoutDirectoryEnd) return;
    std::fill_n(image.begin() + kUsageBitmapOffset, kUsageBitmapSize, std::uint8_t{0xFF});
    image[kUsageBitmapOffset] = 0xFE;  // sector 0, the directory itself
    if (status_flag != 0) {
        image[252] = 0x3F;  // sectors 230..255
        image[253] = image[254] = image[255] = 0x00;
    } else {
        image[254] = 0x0F;  // sectors 244..255
        image[255] = 0x00;
    }
    std::fill(image.begin() + kWorkoutDirectoryOffset, image.begin() + kWorkoutDirectoryEnd,
              std::uint8_t{0xFF});
}

}  // namespace stridelog::watchdata
