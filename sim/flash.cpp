#include "sim/flash.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace stridelog::sim {

Flash::Flash() : bytes_(kSize, kErased) {}

bool Flash::erase_sector(std::uint32_t address) {
    if (address >= kSize) return false;
    const std::size_t sector = address / kSectorSize;
    auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize);
    std::fill(first, first + kSectorSize, kErased);
    return true;
}

bool Flash::program(std::uint32_t address, std::span<const std::uint8_t> data) {
    if (!fits(address, data.size())) return false;
    bool conflict = false;
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::uint8_t& cell = bytes_[address + i];
        if ((data[i] & ~cell) != 0) conflict = true;
        cell &= data[i];
    }
    if (conflict) ++conflicting_programs_;
    return true;
}

bool Flash::read(std::uint32_t address, std::span<std::uint8_t> out) const {
    if (!fits(address, out.size())) return false;
    std::copy_n(bytes_.begin() + address, out.size(), out.begin());
    return true;
}

std::vector<std::uint8_t> Flash::read(std::uint32_t address, std::size_t count) const {
    std::vector<std::uint8_t> out(count);
    if (!read(address, out)) out.clear();
    return out;
}

bool Flash::store(std::uint32_t address, std::span<const std::uint8_t> data) {
    if (!fits(address, data.size())) return false;
    std::copy(data.begin(), data.end(), bytes_.begin() + address);
    return true;
}

bool Flash::load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> image(kSize, kErased);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(kSize));
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    // Anything past 1 MiB means the file is not an image of this flash.
    if (in.gcount() == static_cast<std::streamsize>(kSize) &&
        in.peek() != std::ifstream::traits_type::eof()) {
        error = path + " is larger than the flash (1 MiB)";
        return false;
    }
    bytes_ = std::move(image);
    return true;
}

bool Flash::save(const std::string& path, std::string& error) const {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot create " + temporary + ": " + std::strerror(errno);
            return false;
        }
        out.write(reinterpret_cast<const char*>(bytes_.data()),
                  static_cast<std::streamsize>(kSize));
        out.flush();
        if (!out) {
            error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace stridelog::sim
