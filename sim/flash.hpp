// The watch's serial NOR flash: 256 sectors of 4096 bytes, erased to 0xFF.
// A program operation can only clear bits (new = old AND data), so writing a
// region that was not erased first leaves the AND of both and shows the fault.
//
// Threads: not synchronised; the owner (Watch) serialises access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace stridelog::sim {

class Flash {
  public:
    static constexpr std::size_t kSectorSize = 4096;
    static constexpr std::size_t kSectorCount = 256;
    static constexpr std::size_t kSize = kSectorSize * kSectorCount;
    static constexpr std::uint8_t kErased = 0xFF;

    Flash();

    // Erases the sector holding `address`; false when the address is outside the flash.
    bool erase_sector(std::uint32_t address);
    // ANDs `data` into the flash at `address`; false (nothing written) when the
    // range does not fit.
    bool program(std::uint32_t address, std::span<const std::uint8_t> data);
    // Copies out.size() bytes from `address`; false when the range does not fit.
    bool read(std::uint32_t address, std::span<std::uint8_t> out) const;
    std::vector<std::uint8_t> read(std::uint32_t address, std::size_t count) const;
    // Sets bytes as a factory programmer would (no erase needed); used to prepare
    // content. False when the range does not fit.
    bool store(std::uint32_t address, std::span<const std::uint8_t> data);

    std::span<const std::uint8_t> bytes() const { return bytes_; }

    // Program operations that asked to set a bit that was already cleared: each
    // one is a write without its erase.
    std::size_t conflicting_programs() const { return conflicting_programs_; }

    // Loads a plain image file. A shorter file is padded with 0xFF; a longer one is
    // rejected. On failure the flash is unchanged and `error` says why.
    bool load(const std::string& path, std::string& error);
    // Writes all 1 MiB to `path` (through a temporary file and a rename).
    bool save(const std::string& path, std::string& error) const;

  private:
    static bool fits(std::uint32_t address, std::size_t count) {
        return address <= kSize && count <= kSize - address;
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t conflicting_programs_ = 0;
};

}  // namespace stridelog::sim
