// The workout directory kept in the directory sector: the sector usage bitmap
// and the sessions' sector runs. Pure functions over the 4096-byte image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stridelog::watchdata {

// Bitmap: bytes 224..255, bit b of byte k for sector 8k + b; a clear bit is a sector in use.
inline constexpr std::size_t kUsageBitmapOffset = 224;
inline constexpr std::size_t kUsageBitmapSize = 32;
// Sessions: runs of sector numbers, each closed by 0xFF; a second 0xFF ends the list.
inline constexpr std::size_t kWorkoutDirectoryOffset = 256;
inline constexpr std::size_t kWorkoutDirectoryEnd = 1280;
inline constexpr std::uint8_t kRunEnd = 0xFF;

struct WorkoutDirectory {
    std::array<bool, 256> in_use{};
    // Each session's sectors: the header sector first, then its track point sectors.
    std::vector<std::vector<std::uint8_t>> sessions;
};

// Reads the bitmap and the session runs; never reads past the image.
WorkoutDirectory read_workout_directory(std::span<const std::uint8_t> image);

// Share of the workout sectors in use, 0..100: sectors 1..243, or 1..229 when
// the watch reports the large reserved tail (a non-zero status flag).
float used_space_percent(std::span<const std::uint8_t> image, int status_flag);

// Empties the directory in place: every sector free but sector 0 and the
// reserved tail, no session runs. Settings, path counts and names stay.
void clear_workout_directory(std::span<std::uint8_t> image, int status_flag);

}  // namespace stridelog::watchdata
